#pragma once

// The engine's start-up and read loop; the result is the process's exit code.
// Arguments are UTF-8.
int EngineMain(int argc, char** argv);

// The banner line printed at start-up.
const char* BannerText();

// Reads and runs command lines from standard input until its end; the exit
// code: 0 at the end of input, 1 when it could not be read (or was closed
// from the start, `input_closed`).
int RunCommandLoop(bool input_closed);
