#include "platform/system_error.h"

#include <cstring>

std::string SystemErrorText(int error_code) {
  if (error_code == 0) return std::string();
  char buffer[512];
  // GNU strerror_r returns the message, which may or may not be our buffer.
  const char* message = strerror_r(error_code, buffer, sizeof buffer);
  std::string text;
  for (const char* p = message; *p; ++p)
    if (*p != '\r' && *p != '\n') text.push_back(*p);
  return text;
}
