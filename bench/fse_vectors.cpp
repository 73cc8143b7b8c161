// Conformance of the FSE block coder with a file of reference vectors, one a
// line: input length, result code (0 raw, 1 run, else the block length), the
// block in hex ("-" for codes 0 and 1), the input in hex. Every line's input is
// encoded and its block decoded; a line matches when the encoding gives the
// code and block and the decoding gives the input back.
//
//   fse_vectors FILE
//
// Prints each mismatch, then "match N of M" as the last line; exit code 0 when
// every line matches.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compress/fse.h"

namespace {

bool ParseHex(const std::string& text, std::vector<uint8_t>& out) {
  out.clear();
  if (text.size() % 2) return false;
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = nibble(text[i]), low = nibble(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

// Empty when the line matches, else what went wrong.
std::string CheckLine(const std::string& line) {
  std::istringstream fields(line);
  uint64_t length = 0;
  int64_t code = 0;
  std::string block_text, input_text;
  if (!(fields >> length >> code >> block_text >> input_text)) return "unreadable line";
  std::vector<uint8_t> input, block;
  if (!ParseHex(input_text, input) || input.size() != length) return "bad input field";
  if (code > 1 && (!ParseHex(block_text, block) || block.size() != static_cast<uint64_t>(code)))
    return "bad block field";

  std::vector<uint8_t> encoded(FSE_compressBound(input.size()));
  const size_t result = FSE_compress(encoded.data(), encoded.size(), input.data(), input.size());
  if (FSE_isError(result)) return "encoder error " + std::to_string(FSE_getErrorCode(result));
  if (static_cast<int64_t>(result) != code)
    return "encoder code " + std::to_string(result) + ", expected " + std::to_string(code);
  if (code > 1 && !std::equal(block.begin(), block.end(), encoded.begin()))
    return "encoded block differs";

  // The decoding of what the block stands for: raw bytes, a run of the first
  // byte, or the coded block.
  std::vector<uint8_t> decoded(input.size());
  if (code == 0) {
    decoded = input;
  } else if (code == 1) {
    decoded.assign(input.size(), input.empty() ? 0 : input[0]);
  } else {
    const size_t n = FSE_decompress(decoded.data(), decoded.size(), block.data(), block.size());
    if (FSE_isError(n)) return "decoder error " + std::to_string(FSE_getErrorCode(n));
    if (n != input.size()) return "decoded " + std::to_string(n) + " bytes";
  }
  if (decoded != input) return "decoded bytes differ";
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fse_vectors FILE\n");
    return 2;
  }
  std::ifstream file(argv[1]);
  if (!file) {
    std::fprintf(stderr, "fse_vectors: can't open %s\n", argv[1]);
    return 2;
  }
  int matched = 0, total = 0;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty()) continue;
    ++total;
    const std::string problem = CheckLine(line);
    if (problem.empty())
      ++matched;
    else
      std::printf("line %d: %s\n", total, problem.c_str());
  }
  std::printf("match %d of %d\n", matched, total);
  return matched == total ? 0 : 1;
}
