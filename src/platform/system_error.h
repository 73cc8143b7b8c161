#pragma once
#include <string>

// The system's message for an errno value, with carriage returns and line feeds
// removed; empty for 0.
std::string SystemErrorText(int error_code);
