#pragma once

// The engine's start-up and read loop; the result is the process's exit code.
// Arguments are UTF-8.
int EngineMain(int argc, char** argv);

// The banner line printed at start-up.
const char* BannerText();

// Reads and runs command lines from standard input until its end.
void RunCommandLoop();
