#include "platform/byte_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/system_error.h"
#include "platform/text_encoding.h"

namespace {

constexpr const char* kCantOpen = "can't open file";
constexpr const char* kCantRead = "can't read from file";
constexpr const char* kCantWrite = "can't write to file";
constexpr const char* kCantReplace = "can't replace file";
constexpr const char* kCantClose = "can't close file";

// Temporary names of this process's writers: "<target>.<pid>-<n>.part".
std::atomic<uint32_t> g_temporary_serial{0};

// Why an open file is no file to read: a directory, or something that is not
// a regular file (a pipe or a device, whose reads may wait forever); 0 when
// it is one.
int NotAFileError(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  return S_ISREG(st.st_mode) ? 0 : EINVAL;
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
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) throw MakeIOException(kCantOpen, errno);
  // A directory, a pipe or a device opens for reading here; none is a file.
  if (const int error = NotAFileError(fd_)) {
    ::close(fd_);
    fd_ = -1;
    throw MakeIOException(kCantOpen, error);
  }
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

FileWriter::FileWriter(const std::string& path) : path_(path) {
  RequireUtf8FileName(path);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw MakeIOException(kCantOpen, EISDIR);
  const std::string stem = path + "." + std::to_string(::getpid()) + "-";
  for (;;) {
    temporary_path_ = stem + std::to_string(g_temporary_serial.fetch_add(1)) + ".part";
    fd_ = ::open(temporary_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) break;
    if (errno != EEXIST) throw MakeIOException(kCantOpen, errno);
  }
  buffer_.resize(kFileBufferBytes);
}

FileWriter::~FileWriter() { Abandon(); }

void FileWriter::Abandon() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  ::unlink(temporary_path_.c_str());
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
    if (::fsync(fd_) != 0) throw MakeIOException(kCantWrite, errno);
  } catch (...) {
    Abandon();
    throw;
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temporary_path_.c_str());
    throw MakeIOException(kCantClose, error);
  }
  if (::rename(temporary_path_.c_str(), path_.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary_path_.c_str());
    throw MakeIOException(kCantReplace, error);
  }
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
