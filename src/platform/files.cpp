#include "platform/files.h"

#include <sys/stat.h>

bool FileExists(const std::string& utf8_name) {
  struct stat st {};
  if (stat(utf8_name.c_str(), &st) != 0) return false;
  return !S_ISDIR(st.st_mode);
}
