#include "platform/standard_streams.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool IsClosed(int fd) { return fcntl(fd, F_GETFD) < 0 && errno == EBADF; }

void PutNullOn(int fd, int flags) {
  const int opened = open("/dev/null", flags | O_CLOEXEC);
  if (opened < 0) return;
  // Descriptors are handed out lowest first, so the number is usually fd itself.
  if (opened != fd) {
    dup2(opened, fd);
    close(opened);
  } else {
    fcntl(fd, F_SETFD, 0);
  }
}

}  // namespace

bool GuardStandardStreams() {
  const bool input_closed = IsClosed(0);
  if (input_closed) PutNullOn(0, O_RDONLY);
  if (IsClosed(1)) PutNullOn(1, O_WRONLY);
  if (IsClosed(2)) PutNullOn(2, O_WRONLY);
  signal(SIGPIPE, SIG_IGN);
  return input_closed;
}
