#pragma once
#include <string>

// Standard output can be pointed at a file and back. The descriptor the process
// started with is kept, so "back" means the controlling program's pipe or
// terminal, whatever it was. Callers hold the console mutex and flush first.

// Keeps a duplicate of the starting standard output; called once at start-up.
void SaveOriginalStdout();

// Points standard output at the file (emptied, or appended to). On failure the
// current output stays and false is returned.
bool RedirectStdoutToFile(const std::string& path, bool append);

// Points standard output back at the one the process started with.
bool RestoreOriginalStdout();
