// Runs one protocol transcript against the engine: transcript <engine> <file.tdx>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/transcript.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <engine> <transcript>\n", argv[0]);
    return 2;
  }
  std::ifstream file(argv[2], std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", argv[2]);
    return 2;
  }
  std::ostringstream text;
  text << file.rdbuf();
  std::string report;
  if (RunTranscript(argv[1], text.str(), &report)) return 0;
  std::printf("%s: %s", argv[2], report.c_str());
  return 1;
}
