#pragma once

// Stop for internal impossibilities: prints "fail (%s)" with the message, or
// "fail", flushes standard output and ends the process at once with exit code 1.
// No destructors run and no thread is joined, so it is safe from any thread.
[[noreturn]] void Fail(const char* message = nullptr);

// Ends the process at once with the given code after flushing standard output.
[[noreturn]] void ExitImmediately(int code);
