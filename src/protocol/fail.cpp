#include "protocol/fail.h"

#include <unistd.h>

#include <cstdio>

void ExitImmediately(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(code);
}

void Fail(const char* message) {
  if (message)
    std::printf("fail (%s)\n", message);
  else
    std::printf("fail\n");
  ExitImmediately(1);
}
