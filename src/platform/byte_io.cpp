#include "platform/byte_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/file_signals.h"
#include "platform/system_error.h"
#include "platform/text_encoding.h"

namespace {

constexpr const char* kCantOpen = "can't open file";
constexpr const char* kCantRead = "can't read from file";
constexpr const char* kCantWrite = "can't write to file";
constexpr const char* kCantReplace = "can't replace file";
constexpr const char* kCantClose = "can't close file";

// Links followed on the way to a file before giving up, as the system does.
constexpr int kMaxLinkHops = 40;

// A target that is no file to read or replace: a directory, or something that
// is not a regular file (a pipe, a device or a socket, whose reads may wait
// forever and whose replacement would destroy it). Nothing when it is a file.
void RefuseNonFile(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) throw MakeIOException(kCantOpen, EISDIR);
  if (!S_ISREG(st.st_mode)) throw IOException(std::string(kCantOpen) + " (not a regular file)");
}

// A descriptor closed with its scope unless released.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// The process's file creation mask. Read, not swapped out and back: a swap
// would let another thread create a file without it. The swap is the last
// resort where the process's status cannot be read.
mode_t CreationMask() {
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status))
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(status);
    if (found) return static_cast<mode_t>(mask & 0777);
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

// The target of the link `name` in `folder`, to be read from that folder.
std::string LinkTarget(int folder, const std::string& name) {
  std::string target(PATH_MAX, '\0');
  const ssize_t n = ::readlinkat(folder, name.c_str(), target.data(), target.size());
  if (n < 0) throw MakeIOException(kCantOpen, errno);
  if (static_cast<size_t>(n) == target.size()) throw MakeIOException(kCantOpen, ENAMETOOLONG);
  target.resize(static_cast<size_t>(n));
  return target;
}

// One system read into dst; the bytes read, 0 at the end of the file.
size_t ReadSome(int fd, uint8_t* dst, size_t n) {
  for (;;) {
    const ssize_t got = ::read(fd, dst, n);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) throw MakeIOException(kCantRead, errno);
  }
}

void WriteAll(int fd, const uint8_t* data, size_t n) {
  if (fd < 0) throw MakeIOException(kCantWrite, EBADF);
  while (n > 0) {
    const ssize_t put = ::write(fd, data, n);
    if (put < 0) {
      if (errno == EINTR) continue;
      throw MakeIOException(kCantWrite, errno);
    }
    data += put;
    n -= static_cast<size_t>(put);
  }
}

}  // namespace

IOException MakeIOException(const char* action, int error_code) {
  return IOException(std::string(action) + " (" + SystemErrorText(error_code) + ")");
}

// ---------------------------------------------------------------------------
// FileReader

FileReader::FileReader(const std::string& path) {
  RequireUtf8FileName(path);
  // Without waiting: a pipe would block the open until a writer comes.
  FdGuard file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.Get() < 0) throw MakeIOException(kCantOpen, errno);
  // A directory, a pipe or a device opens for reading here; none is a file.
  struct stat st {};
  if (fstat(file.Get(), &st) != 0) throw MakeIOException(kCantOpen, errno);
  RefuseNonFile(st);
  fd_ = file.Release();
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  buffer_.assign(kFileBufferBytes, 0);
}

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

void FileReader::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;  // closed either way: Linux never leaves a failed close open
  if (::close(fd) != 0) throw MakeIOException(kCantClose, errno);
}

bool FileReader::AtEnd() {
  if (position_ < valid_) return false;
  if (fd_ < 0) throw MakeIOException(kCantRead, EBADF);
  const size_t got = ReadSome(fd_, buffer_.data(), kFileBufferBytes);
  position_ = 0;
  valid_ = got;
  return got == 0;
}

void FileReader::Read(void* dst, uint64_t n) {
  if (n == 0) return;
  if (fd_ < 0) throw MakeIOException(kCantRead, EBADF);
  auto* out = static_cast<uint8_t*>(dst);
  while (n > 0) {
    if (position_ >= valid_) {
      // A long read goes straight to its destination, in whole buffers.
      if (n >= kFileBufferBytes) {
        const size_t got = ReadSome(fd_, out, n - n % kFileBufferBytes);
        if (got == 0) throw MakeIOException(kCantRead, 0);
        out += got;
        n -= got;
        continue;
      }
      const size_t got = ReadSome(fd_, buffer_.data(), kFileBufferBytes);
      if (got == 0) throw MakeIOException(kCantRead, 0);
      position_ = 0;
      valid_ = got;
    }
    const size_t take = std::min<uint64_t>(valid_ - position_, n);
    std::memcpy(out, buffer_.data() + position_, take);
    position_ += take;
    out += take;
    n -= take;
  }
}

// ---------------------------------------------------------------------------
// FileWriter

FileWriter::FileWriter(const std::string& path) {
  RequireUtf8FileName(path);
  // Everything after this happens in the target's folder through a handle:
  // links in the last component lead to other folders, and a short temporary
  // name there fits whatever path leads to it.
  FdGuard folder(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (folder.Get() < 0) throw MakeIOException(kCantOpen, errno);
  std::string name = path;
  struct stat st {};
  bool exists = false;
  for (int hops = 0;; ++hops) {
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos) {
      // Relative to the folder of the link that gave the name.
      const std::string part = name.substr(0, slash + 1);
      folder.Reset(::openat(folder.Get(), part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (folder.Get() < 0) throw MakeIOException(kCantOpen, errno);
      name.erase(0, slash + 1);
    }
    // "folder/" names the folder itself; "" names nothing.
    if (name.empty()) throw MakeIOException(kCantOpen, slash == std::string::npos ? ENOENT : EISDIR);
    if (::fstatat(folder.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) throw MakeIOException(kCantOpen, errno);
      break;
    }
    if (!S_ISLNK(st.st_mode)) {
      exists = true;
      break;
    }
    if (hops == kMaxLinkHops) throw MakeIOException(kCantOpen, ELOOP);
    name = LinkTarget(folder.Get(), name);
  }
  // Decided from the name alone: opening a pipe would wait for a reader, and
  // replacing a pipe, a device or a socket would destroy it.
  if (exists) {
    RefuseNonFile(st);
    // Replaced, not written, yet only where a plain write could go: a
    // read-only file stays, with the reason an open for writing would give.
    if (::faccessat(folder.Get(), name.c_str(), W_OK, AT_EACCESS) != 0)
      throw MakeIOException(kCantOpen, errno);
    mode_ = st.st_mode & 07777;
    keeps_owner_ = true;
    owner_ = st.st_uid;
    group_ = st.st_gid;
  } else {
    mode_ = 0666 & ~CreationMask();
  }
  // Sized before the file exists: a constructor that throws after it would
  // leave the file behind.
  buffer_.resize(kFileBufferBytes);
  // Short enough beside any name the folder takes.
  for (;;) {
    const uint32_t serial = NextTemporarySerial();
    temporary_name_ = TemporaryFileName(serial);
    fd_ = ::openat(folder.Get(), temporary_name_.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      // A signal that ends the process from here on removes the file.
      record_slot_ = RecordTemporaryFile(folder.Get(), serial);
      break;
    }
    if (errno != EEXIST) throw MakeIOException(kCantOpen, errno);
  }
  name_ = std::move(name);
  folder_fd_ = folder.Release();
}

FileWriter::~FileWriter() {
  Abandon();
  if (folder_fd_ >= 0) ::close(folder_fd_);
}

void FileWriter::Abandon() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  RemoveTemporary();
}

void FileWriter::RemoveTemporary() {
  ::unlinkat(folder_fd_, temporary_name_.c_str(), 0);
  ForgetTemporary();
}

// After the file is renamed or removed, and while its folder is still open.
void FileWriter::ForgetTemporary() {
  DropTemporaryFile(record_slot_);
  record_slot_ = -1;
}

void FileWriter::Flush() {
  WriteAll(fd_, buffer_.data(), used_);
  used_ = 0;
}

void FileWriter::Write(const void* data, uint64_t n) {
  if (n == 0) return;
  if (fd_ < 0) throw MakeIOException(kCantWrite, EBADF);
  const auto* in = static_cast<const uint8_t*>(data);
  if (used_ + n > kFileBufferBytes) {
    Flush();
    if (n >= kFileBufferBytes) {
      WriteAll(fd_, in, n);
      return;
    }
  }
  std::memcpy(buffer_.data() + used_, in, n);
  used_ += n;
}

void FileWriter::Commit() {
  if (fd_ < 0) throw MakeIOException(kCantWrite, EBADF);
  try {
    Flush();
    // Only root may give a file away, any process a group of its own; what
    // cannot be given stays the process's.
    if (keeps_owner_)
      static_cast<void>(::fchown(fd_, owner_, group_) == 0 ||
                        ::fchown(fd_, static_cast<uid_t>(-1), group_) == 0);
    // After the owner, whose change clears the set-id bits.
    if (::fchmod(fd_, mode_) != 0) throw MakeIOException(kCantReplace, errno);
    if (::fsync(fd_) != 0) throw MakeIOException(kCantWrite, errno);
  } catch (...) {
    Abandon();
    throw;
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    const int error = errno;
    RemoveTemporary();
    throw MakeIOException(kCantClose, error);
  }
  if (::renameat(folder_fd_, temporary_name_.c_str(), folder_fd_, name_.c_str()) != 0) {
    const int error = errno;
    RemoveTemporary();
    throw MakeIOException(kCantReplace, error);
  }
  ForgetTemporary();
}

// ---------------------------------------------------------------------------
// In memory

void MemoryReader::Read(void* dst, uint64_t n) {
  if (n == 0) return;
  if (n > size_ - position_) throw MakeIOException(kCantRead, 0);
  std::memcpy(dst, data_ + position_, n);
  position_ += n;
}

void MemoryWriter::Write(const void* data, uint64_t n) {
  if (n == 0) return;
  const auto* p = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + n);
}
