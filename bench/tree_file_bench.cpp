// dump_tree and load_tree of the flop benchmark tree (flop_solve_bench's spot)
// at chosen compression levels: seconds, MB/s and file size of each, after a
// few solving iterations so that the stores hold real values. The load is
// checked by dumping once more and comparing the bytes.
//
//   tree_file_bench [--levels 0,3] [--steps n] [--dir path] [--threads n]
//
// The spot comes from `flop_solve_bench --script`, run from the same build.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/solve_driver.h"

namespace {

std::vector<std::string> SetupLines(const std::string& script) {
  std::vector<std::string> lines;
  std::ifstream in(script);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("go", 0) == 0) break;  // the solve itself is this driver's
    if (line.rfind("set_accuracy", 0) == 0) continue;
    lines.push_back(line);
  }
  return lines;
}

double FileMegabytes(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) / 1e6 : 0.0;
}

bool SameBytes(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  return std::equal(std::istreambuf_iterator<char>(fa), std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(fb), std::istreambuf_iterator<char>());
}

bool Expect(const std::string& reply, const std::string& command) {
  if (reply == command + " ok!\n") return true;
  std::fprintf(stderr, "%s failed: %s", command.c_str(), reply.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string levels = "0,3";
  std::string dir = "/tmp";
  int steps = 10;
  int threads = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--levels")) levels = argv[i + 1];
    else if (!std::strcmp(argv[i], "--steps")) steps = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--dir")) dir = argv[i + 1];
    else if (!std::strcmp(argv[i], "--threads")) threads = std::atoi(argv[i + 1]);
    else {
      std::fprintf(stderr, "usage: %s [--levels 0,3] [--steps n] [--dir path] [--threads n]\n", argv[0]);
      return 1;
    }
  }
  const std::string script = dir + "/tree_file_bench_spot.txt";
  const std::string make_script = std::string(TDX_FLOP_BENCH) + " --script " + script;
  if (std::system(make_script.c_str()) != 0) return 1;
  const std::vector<std::string> setup = SetupLines(script);

  InitEngineTables();
  std::printf("level  file MB  dump s  dump MB/s  load s  load MB/s  same bytes\n");
  for (const int level : ThreadList(levels.c_str())) {
    Run("free_tree");
    if (!Expect(Run("set_compression " + std::to_string(level)), "set_compression")) return 1;
    if (threads > 0) Run("set_threads " + std::to_string(threads));
    for (const std::string& line : setup) Run(line);
    if (!Expect(Run("go " + std::to_string(steps) + " steps"), "go")) return 1;
    Run("wait_for_solver");

    const std::string first = dir + "/tree_file_bench_" + std::to_string(level) + ".tree";
    const std::string second = first + ".again";
    auto t0 = std::chrono::steady_clock::now();
    if (!Expect(Run("dump_tree " + first), "dump_tree")) return 1;
    auto t1 = std::chrono::steady_clock::now();
    Run("free_tree");
    auto t2 = std::chrono::steady_clock::now();
    if (!Expect(Run("load_tree " + first), "load_tree")) return 1;
    auto t3 = std::chrono::steady_clock::now();
    if (!Expect(Run("dump_tree " + second), "dump_tree")) return 1;

    const double mb = FileMegabytes(first);
    const double dump_s = Seconds(t0, t1), load_s = Seconds(t2, t3);
    std::printf("%5d  %7.1f  %6.2f  %9.0f  %6.2f  %9.0f  %s\n", level, mb, dump_s, mb / dump_s, load_s,
                mb / load_s, SameBytes(first, second) ? "yes" : "NO");
    std::fflush(stdout);
    std::remove(first.c_str());
    std::remove(second.c_str());
  }
  std::remove(script.c_str());
  return 0;
}
