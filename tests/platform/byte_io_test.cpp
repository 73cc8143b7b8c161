#include "platform/byte_io.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
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
  EXPECT_EQ(IOError([&] { FileReader reader(dir.File("pipe")); }), "can't open file (not a regular file)");
  EXPECT_EQ(IOError([] { FileReader reader("/dev/zero"); }), "can't open file (not a regular file)");
  EXPECT_EQ(IOError([] { FileReader reader("/dev/null"); }), "can't open file (not a regular file)");
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

// The name given may be a link, a pipe or someone else's private file: only
// the regular file it comes to is replaced, keeping its mode and owner.
TEST(FileWriter, ReplacesOnlyRegularFilesThroughLinks) {
  ScratchDir dir;
  const auto dump = [](const std::string& path, const char* text) {
    FileWriter writer(path);
    writer.Write(text, std::strlen(text));
    writer.Commit();
  };
  const auto is_link = [](const std::string& path) {
    return std::filesystem::is_symlink(std::filesystem::symlink_status(path));
  };
  const std::vector<uint8_t> kNew = {'n', 'e', 'w'};

  // A chain of links is followed; a link to no file yet creates it where the
  // link points.
  WriteFileBytes(dir.File("real"), {'o'});
  ASSERT_EQ(symlink("real", dir.File("link1").c_str()), 0);
  ASSERT_EQ(symlink("link1", dir.File("link2").c_str()), 0);
  std::filesystem::create_directory(dir.File("sub"));
  ASSERT_EQ(symlink("sub/fresh", dir.File("dangling").c_str()), 0);
  dump(dir.File("link2"), "new");
  dump(dir.File("dangling"), "new");
  EXPECT_TRUE(is_link(dir.File("link1")) && is_link(dir.File("link2")) && is_link(dir.File("dangling")));
  EXPECT_EQ(ReadFileBytes(dir.File("real")), kNew);
  EXPECT_EQ(ReadFileBytes(dir.File("sub/fresh")), kNew);

  // A pipe is refused without being opened (which would wait) and stays.
  ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
  EXPECT_EQ(IOError([&] { dump(dir.File("pipe"), "new"); }), "can't open file (not a regular file)");
  EXPECT_TRUE(std::filesystem::is_fifo(dir.File("pipe")));

  // A private file stays private, and keeps its owner where the process may
  // give it.
  WriteFileBytes(dir.File("private"), {'o'});
  ASSERT_EQ(chmod(dir.File("private").c_str(), 0600), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(dir.File("private").c_str(), 4321, 4321), 0);
  }
  dump(dir.File("private"), "new");
  struct stat st {};
  ASSERT_EQ(stat(dir.File("private").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_TRUE(!root || (st.st_uid == 4321 && st.st_gid == 4321));

  // The longest name a folder takes.
  const std::string longest(255, 'n');
  dump(dir.File(longest), "new");
  EXPECT_EQ(ReadFileBytes(dir.File(longest)), kNew);

  // No temporary file stays: real, link1, link2, sub, dangling, pipe,
  // private and the long name.
  EXPECT_EQ(dir.EntryCount(), 8u);
}

// What could not take the bytes of a plain write is refused, named in words a
// user understands, and left as it was.
TEST(FileWriter, RefusesWhatItCouldNotWriteOver) {
  ScratchDir dir;
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, dir.File("socket").c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  close(sock);
  ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
  for (const std::string& path : {dir.File("pipe"), dir.File("socket"), std::string("/dev/null")})
    EXPECT_EQ(IOError([&] { FileWriter writer(path); }), "can't open file (not a regular file)") << path;
  std::filesystem::create_directory(dir.File("folder"));
  EXPECT_EQ(IOError([&] { FileWriter writer(dir.File("folder")); }), "can't open file (Is a directory)");
  EXPECT_EQ(dir.EntryCount(), 3u);

  // A read-only file of the user's own, in a folder of theirs that would let
  // it be replaced, stays; a new file there is written. Root may write any
  // file, so as root in a child that has become nobody; told by its status.
  const std::string folder = dir.File("mine");
  std::filesystem::create_directory(folder);
  const std::vector<uint8_t> kOld = {'o', 'l', 'd'};
  WriteFileBytes(folder + "/old", kOld);
  ASSERT_EQ(chmod((folder + "/old").c_str(), 0444), 0);
  const bool root = geteuid() == 0;
  constexpr uid_t kNobody = 65534;
  if (root) {
    ASSERT_EQ(chmod(dir.File("").c_str(), 0755), 0);
    ASSERT_EQ(chown(folder.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chown((folder + "/old").c_str(), kNobody, kNobody), 0);
  }
  constexpr int kCannotDrop = 2, kNewFileFailed = 3;
  const pid_t pid = fork();
  if (pid == 0) {
    if (root && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
      _exit(kCannotDrop);
    try {
      FileWriter fresh(folder + "/new");
      fresh.Commit();
    } catch (...) {
      _exit(kNewFileFailed);
    }
    _exit(IOError([&] { FileWriter writer(folder + "/old"); }) ==
                  "can't open file (Permission denied)" ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotDrop) GTEST_SKIP() << "can't become nobody";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadFileBytes(folder + "/old"), kOld);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++entries;
  EXPECT_EQ(entries, 2u);  // old and new, no temporary file
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
