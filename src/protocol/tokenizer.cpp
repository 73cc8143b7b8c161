#include "protocol/tokenizer.h"

#include <sstream>

std::istream& ReadLine(std::istream& in, std::string& line) {
  line.clear();
  std::istream::sentry guard(in, true);
  if (!guard) return in;
  std::streambuf* buffer = in.rdbuf();
  for (;;) {
    const int c = buffer->sbumpc();
    if (c == '\n') return in;
    if (c == '\r') {
      // The LF of a CR LF only when it is already there: a client that ends
      // its lines with CR alone would otherwise wait for its reply until it
      // sends more. An LF that comes later reads as an empty line, which the
      // read loop passes over.
      if (buffer->in_avail() > 0 && buffer->sgetc() == '\n') buffer->sbumpc();
      return in;
    }
    if (c == std::char_traits<char>::eof()) {
      // A last line without a line end still counts; the next call ends the input.
      if (line.empty()) in.setstate(std::ios::eofbit | std::ios::failbit);
      return in;
    }
    line.push_back(static_cast<char>(c));
  }
}

WordList TokenizeLine(const std::string& line) {
  WordList words;
  std::string word;
  bool quoting = false;
  auto end_word = [&]() {
    if (!word.empty()) {
      words.push_back(word);
      word.clear();
    }
    quoting = false;
  };
  for (const char c : line) {
    if (quoting) {
      if (c == '"')
        end_word();
      else
        word.push_back(c);
    } else if (c == ' ') {
      end_word();
    } else if (c == '"') {
      quoting = true;
    } else {
      word.push_back(c);
    }
  }
  end_word();
  return words;
}

WordList SplitString(const std::string& text, char delimiter) {
  WordList pieces;
  std::istringstream in(text);
  std::string piece;
  while (std::getline(in, piece, delimiter))
    if (!piece.empty()) pieces.push_back(piece);
  return pieces;
}
