#pragma once
// Runs command lines inside the test process, without the binary: the reply
// text a line produces is returned instead of being written out.
#include <string>

// Tokenises and dispatches one line; returns the reply text it left.
std::string RunLine(const std::string& line);

// Runs several lines (separated by LF) and returns all their replies.
std::string RunLines(const std::string& lines);
