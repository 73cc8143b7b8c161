#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Byte input and output of tree files and of the stores' and blocks' serialised
// forms. Fields travel as the machine holds them: little-endian, no padding.

// A failure of the file layer. The message is "can't open file (", "can't read
// from file (", "can't write to file (", "can't replace file (" or "can't close
// file (", the system's text of the error (or "not a regular file"), and ")";
// it never names the file.
// A runtime error, so that one no caller expected still ends only its command.
class IOException : public std::runtime_error {
 public:
  explicit IOException(const std::string& message) : std::runtime_error(message) {}
};

// "<action> (" + the system's text of errno value `error_code` + ")".
IOException MakeIOException(const char* action, int error_code);

class ByteReader {
 public:
  // Destroying a reader closes its source.
  virtual ~ByteReader() = default;
  // Delivers exactly n bytes into dst or throws IOException; a source that ends
  // first is an error, never a wait. n = 0 touches nothing.
  virtual void Read(void* dst, uint64_t n) = 0;

  // The tree file's format version: -1 until its header has been read, then
  // what the later sections' readers choose their layout by.
  int32_t FormatVersion() const { return format_version_; }
  void SetFormatVersion(int32_t version) { format_version_ = version; }

 private:
  int32_t format_version_ = -1;
};

class ByteWriter {
 public:
  virtual ~ByteWriter() = default;
  // Takes n bytes or throws IOException.
  virtual void Write(const void* data, uint64_t n) = 0;
};

// One fixed-width field.
template <typename T>
T ReadField(ByteReader& in) {
  T value;
  in.Read(&value, sizeof value);
  return value;
}
template <typename T>
void WriteField(ByteWriter& out, T value) {
  out.Write(&value, sizeof value);
}

// The buffer of the file reader and writer: the system is asked only for whole
// buffers (and reads or writes of at least this size go straight through).
constexpr size_t kFileBufferBytes = 1 << 20;

// A file read from start to end. Every read is a copy from the buffer; the
// system sees one request per buffer, with the sequential-access hint.
class FileReader final : public ByteReader {
 public:
  // Opens a UTF-8 path ("bad conversion" when it is not UTF-8). A missing file,
  // a directory, a pipe or a device (never waited for), or one that cannot be
  // read: IOException "can't open file (...)".
  explicit FileReader(const std::string& path);
  // Closes the file when Close was not called, without a word: the bytes were
  // read, and an exception here could end the process while another unwinds.
  ~FileReader() override;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // A failing system read, or the end of the file before n bytes:
  // IOException "can't read from file (...)" (empty text at the end of file).
  void Read(void* dst, uint64_t n) override;
  // Whether every byte of the file has been read; asks the system for more
  // when the buffer is spent (IOException "can't read from file (...)" when
  // that fails).
  bool AtEnd();
  // Closes the file; IOException "can't close file (...)" when that fails.
  void Close();

 private:
  int fd_ = -1;
  std::vector<uint8_t> buffer_;
  size_t position_ = 0;  // next unread byte of the buffer
  size_t valid_ = 0;     // bytes the last fill placed in the buffer
};

// A file written from start to end under a temporary name in the target's
// folder; Commit flushes it to the disk and renames it over the target, so a
// write that fails, or a writer dropped without Commit, leaves whatever file
// was there untouched and removes the temporary one. A target that is a link
// is followed (the link stays), and a replaced file keeps its mode and, where
// the process may give it, its owner and group. Never written in place: other
// hard links to a replaced file keep the old contents. Once SetUpFileSignals
// has run, SIGTERM, SIGINT or SIGHUP during the write removes the temporary file.
class FileWriter final : public ByteWriter {
 public:
  // Opens the temporary file ("bad conversion" for a path that is not UTF-8),
  // private until Commit. A target that exists and is not a regular file (a
  // directory: "Is a directory"; a pipe, a device, a socket: "not a regular
  // file"; none is opened), one that the process could not open for writing
  // (read-only: the system's reason), or a folder that cannot take the file:
  // IOException "can't open file (...)".
  explicit FileWriter(const std::string& path);
  ~FileWriter() override;
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // IOException "can't write to file (...)" when the system refuses the bytes
  // (a full disk, a size limit), or after Commit.
  void Write(const void* data, uint64_t n) override;
  // Writes out the buffer, gives the file its final mode ("can't replace file
  // (...)"), syncs ("can't write to file (...)"), closes ("can't close file
  // (...)") and renames over the target ("can't replace file (...)"). After a
  // failure the target is as it was.
  void Commit();

 private:
  void Flush();
  void Abandon();
  void RemoveTemporary();
  void ForgetTemporary();

  int folder_fd_ = -1;          // the target's folder, links followed
  std::string name_;            // the target's name in it
  std::string temporary_name_;  // short, whatever the target's name
  int record_slot_ = -1;        // its record for removal on an ending signal
  mode_t mode_ = 0;             // the replaced file's, or what a new one gets
  bool keeps_owner_ = false;    // a file is replaced: give back its owner
  uid_t owner_ = 0;
  gid_t group_ = 0;
  int fd_ = -1;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
};

// Bytes in memory as a source, not owned: block and store round trips, tests.
// Reading past the end throws IOException "can't read from file ()", as the end
// of a file does.
class MemoryReader final : public ByteReader {
 public:
  MemoryReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit MemoryReader(const std::vector<uint8_t>& bytes)
      : MemoryReader(bytes.data(), bytes.size()) {}
  void Read(void* dst, uint64_t n) override;
  size_t Position() const { return position_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// Bytes appended to a vector.
class MemoryWriter final : public ByteWriter {
 public:
  void Write(const void* data, uint64_t n) override;
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};
