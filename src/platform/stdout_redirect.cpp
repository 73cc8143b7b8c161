#include "platform/stdout_redirect.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace {
int g_original_stdout_fd = -1;
}

void SaveOriginalStdout() {
  if (g_original_stdout_fd < 0) g_original_stdout_fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
}

bool RedirectStdoutToFile(const std::string& path, bool append) {
  std::fflush(stdout);
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
  const int fd = open(path.c_str(), flags, 0666);
  if (fd < 0) return false;
  const bool ok = dup2(fd, STDOUT_FILENO) >= 0;
  close(fd);
  return ok;
}

bool RestoreOriginalStdout() {
  std::fflush(stdout);
  if (g_original_stdout_fd < 0) return false;
  return dup2(g_original_stdout_fd, STDOUT_FILENO) >= 0;
}
