#include "platform/byte_io.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/file_bytes.h"

namespace {

// A directory of this test process's own, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    path_ = ::testing::TempDir() + "tdx_byte_io_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  size_t EntryCount() const {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(path_)) ++n;
    return n;
  }

 private:
  std::string path_;
};

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// The message of the IOException that `action` throws, or "" when none.
template <typename F>
std::string IOError(F action) {
  try {
    action();
  } catch (const IOException& e) {
    return e.what();
  }
  return "";
}

// Chunk sizes that cross the buffer's end at odd places, with fields of every
// width and reads longer than the buffer.
std::vector<size_t> ChunkSizes(size_t total) {
  const size_t pattern[] = {1, 2, 4, 8, 3, 1000, 65537, 1, kFileBufferBytes + 77,
                            8, 2 * kFileBufferBytes, 5, 999'999};
  std::vector<size_t> sizes;
  size_t done = 0;
  for (size_t k = 0; done < total; ++k) {
    const size_t n = std::min(pattern[k % std::size(pattern)], total - done);
    sizes.push_back(n);
    done += n;
  }
  return sizes;
}

TEST(FileReader, ReadsAFileInPiecesOfEverySize) {
  ScratchDir dir;
  const std::vector<uint8_t> bytes = RandomBytes(5 * kFileBufferBytes + 12345, 7);
  WriteFileBytes(dir.File("data"), bytes);
  FileReader reader(dir.File("data"));
  EXPECT_EQ(reader.FormatVersion(), -1);
  reader.SetFormatVersion(6);
  EXPECT_EQ(reader.FormatVersion(), 6);
  std::vector<uint8_t> back(bytes.size());
  size_t at = 0;
  for (size_t n : ChunkSizes(bytes.size())) {
    reader.Read(back.data() + at, n);
    at += n;
  }
  EXPECT_EQ(back, bytes);
  // The file ended exactly with the last field: nothing more, but a read of
  // nothing still succeeds.
  uint8_t spare = 0;
  reader.Read(&spare, 0);
  EXPECT_EQ(IOError([&] { reader.Read(&spare, 1); }), "can't read from file ()");
  reader.Close();
}

TEST(FileReader, FileErrorsCarryTheSystemTextAndNoName) {
  ScratchDir dir;
  EXPECT_EQ(IOError([&] { FileReader reader(dir.File("missing")); }),
            "can't open file (No such file or directory)");
  EXPECT_EQ(IOError([&] { FileReader reader(dir.File("")); }), "can't open file (Is a directory)");

  // A field that runs past the end fails; the fields before it were read.
  WriteFileBytes(dir.File("short"), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  FileReader reader(dir.File("short"));
  EXPECT_EQ(ReadField<uint64_t>(reader), 0x0807060504030201ull);
  EXPECT_EQ(IOError([&] { ReadField<uint32_t>(reader); }), "can't read from file ()");

  // A name that is not UTF-8 is the converter's error, not a file error.
  try {
    FileReader bad(dir.File("\xff"));
    ADD_FAILURE() << "opened";
  } catch (const IOException&) {
    ADD_FAILURE() << "a file error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "bad conversion");
  }
}

// Pipes and devices are no files: opening one neither waits for a writer nor
// reads without end.
TEST(FileReader, PipesAndDevicesAreRefusedWithoutWaiting) {
  ScratchDir dir;
  ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
  EXPECT_EQ(IOError([&] { FileReader reader(dir.File("pipe")); }), "can't open file (Invalid argument)");
  EXPECT_EQ(IOError([] { FileReader reader("/dev/zero"); }), "can't open file (Invalid argument)");
  EXPECT_EQ(IOError([] { FileReader reader("/dev/null"); }), "can't open file (Invalid argument)");
}

TEST(FileWriter, ReplacesTheTargetOnlyOnCommit) {
  ScratchDir dir;
  const std::string target = dir.File("tree");
  WriteFileBytes(target, {'o', 'l', 'd'});
  const std::vector<uint8_t> bytes = RandomBytes(4 * kFileBufferBytes + 999, 11);
  {
    FileWriter writer(target);
    size_t at = 0;
    for (size_t n : ChunkSizes(bytes.size())) {
      writer.Write(bytes.data() + at, n);
      at += n;
    }
    // Until the commit the old file stands, and the new one is beside it.
    EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(dir.EntryCount(), 2u);
    writer.Commit();
    EXPECT_EQ(IOError([&] { writer.Write("x", 1); }), "can't write to file (Bad file descriptor)");
  }
  EXPECT_EQ(ReadFileBytes(target), bytes);
  EXPECT_EQ(dir.EntryCount(), 1u);

  // A writer dropped without its commit (a dump that failed) leaves the old
  // file and no temporary one.
  {
    FileWriter writer(target);
    writer.Write("partial", 7);
  }
  EXPECT_EQ(ReadFileBytes(target), bytes);
  EXPECT_EQ(dir.EntryCount(), 1u);

  // The round trip of the engine's fields.
  {
    FileWriter writer(dir.File("fields"));
    WriteField<int32_t>(writer, -1);
    WriteField<double>(writer, 0.25);
    WriteField<uint8_t>(writer, 7);
    writer.Commit();
  }
  FileReader reader(dir.File("fields"));
  EXPECT_EQ(ReadField<int32_t>(reader), -1);
  EXPECT_EQ(ReadField<double>(reader), 0.25);
  EXPECT_EQ(ReadField<uint8_t>(reader), 7);
}

TEST(FileWriter, OpenAndWriteErrors) {
  ScratchDir dir;
  EXPECT_EQ(IOError([&] { FileWriter writer(dir.File("")); }), "can't open file (Is a directory)");
  EXPECT_EQ(IOError([&] { FileWriter writer(dir.File("no/such/dir")); }),
            "can't open file (No such file or directory)");
  EXPECT_EQ(dir.EntryCount(), 0u);

  // A file size limit refuses the bytes: the error is the writer's, and the
  // temporary file goes. In a child process, whose limit it is (the child runs
  // this test afresh, in a scratch directory of its own).
  EXPECT_EXIT(
      {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit;
        limit.rlim_cur = limit.rlim_max = 100'000;
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::vector<uint8_t> bytes(3 * kFileBufferBytes, 1);
        std::string message;
        try {
          FileWriter writer(dir.File("big"));
          writer.Write(bytes.data(), bytes.size());
          writer.Commit();
        } catch (const IOException& e) {
          message = e.what();
        }
        const bool ok = message == "can't write to file (File too large)" && dir.EntryCount() == 0;
        dir.~ScratchDir();
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(MemoryReader, ReadsItsBytesAndRefusesMore) {
  MemoryWriter writer;
  WriteField<int16_t>(writer, -2);
  WriteField<int64_t>(writer, 1ll << 40);
  writer.Write(nullptr, 0);
  ASSERT_EQ(writer.Bytes().size(), 10u);
  MemoryReader reader(writer.Bytes());
  EXPECT_EQ(ReadField<int16_t>(reader), -2);
  EXPECT_EQ(ReadField<int64_t>(reader), 1ll << 40);
  EXPECT_EQ(reader.Position(), 10u);
  uint8_t byte = 0;
  reader.Read(&byte, 0);
  EXPECT_EQ(IOError([&] { reader.Read(&byte, 1); }), "can't read from file ()");
}

}  // namespace
