#include "support/engine_harness.h"

#include <sstream>

#include "protocol/dispatcher.h"
#include "protocol/reply.h"
#include "protocol/tokenizer.h"

std::string RunLine(const std::string& line) {
  g_reply_buffer.clear();
  DispatchCommandLine(TokenizeLine(line));
  std::string reply;
  reply.swap(g_reply_buffer);
  return reply;
}

std::string RunLines(const std::string& lines) {
  std::istringstream in(lines);
  std::string line, all;
  while (std::getline(in, line)) all += RunLine(line);
  return all;
}
