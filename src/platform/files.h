#pragma once
#include <string>

// True when the name exists and is not a directory (what the engine asks before
// running a script or honouring skip_if_done).
bool FileExists(const std::string& utf8_name);
