#include "protocol/tokenizer.h"

#include <algorithm>
#include <ios>
#include <sstream>

namespace {

// One pass over the stream's characters up to a line end. `keep` is false for
// a skip. Reads the buffer directly: a formatted read per character costs a
// sentry each.
LineStatus ScanLine(std::istream& in, std::string* line, LineBreaks breaks, std::string* error) {
  std::istream::sentry guard(in, true);
  if (!guard) return in.bad() ? LineStatus::kReadError : LineStatus::kEnd;
  std::streambuf* buffer = in.rdbuf();
  bool any = false;
  try {
    for (;;) {
      const int c = buffer->sbumpc();
      if (c == '\n') {
        if (line && breaks == LineBreaks::kLfOnly && !line->empty() && line->back() == '\r')
          line->pop_back();
        return LineStatus::kLine;
      }
      if (c == '\r' && breaks == LineBreaks::kAny) {
        // The LF of a CR LF only when it is already there: a client that ends
        // its lines with CR alone would otherwise wait for its reply until it
        // sends more. An LF that comes later reads as an empty line, which the
        // read loop passes over.
        if (buffer->in_avail() > 0 && buffer->sgetc() == '\n') buffer->sbumpc();
        return LineStatus::kLine;
      }
      if (c == std::char_traits<char>::eof()) {
        // A last line without a line end still counts; the next call ends the input.
        if (!any) {
          in.setstate(std::ios::eofbit | std::ios::failbit);
          return LineStatus::kEnd;
        }
        if (line && breaks == LineBreaks::kLfOnly && !line->empty() && line->back() == '\r')
          line->pop_back();
        return LineStatus::kLine;
      }
      any = true;
      if (line) {
        if (line->size() >= kMaxLineLength) {
          line->clear();
          return LineStatus::kTooLong;
        }
        line->push_back(static_cast<char>(c));
      }
    }
  } catch (const std::ios_base::failure& failure) {
    // The file buffer throws on a failed read (a closed descriptor, a
    // directory): that is the end of this input, not of the engine.
    if (error) *error = failure.code() ? failure.code().message() : std::string(failure.what());
    if (line) line->clear();
    in.setstate(std::ios::badbit | std::ios::failbit);
    return LineStatus::kReadError;
  }
}

}  // namespace

LineStatus ReadLine(std::istream& in, std::string& line, LineBreaks breaks, std::string* error) {
  line.clear();
  return ScanLine(in, &line, breaks, error);
}

LineStatus SkipLine(std::istream& in, LineBreaks breaks, std::string* error) {
  return ScanLine(in, nullptr, breaks, error);
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

std::string JoinWords(const WordList& words, size_t first, size_t end) {
  const size_t bound = std::min(end, words.size());
  std::string text;
  for (size_t i = first; i < bound; ++i) {
    if (i > first) text.push_back(' ');
    text += words[i];
  }
  return text;
}

WordList SplitString(const std::string& text, char delimiter) {
  WordList pieces;
  std::istringstream in(text);
  std::string piece;
  while (std::getline(in, piece, delimiter))
    if (!piece.empty()) pieces.push_back(piece);
  return pieces;
}
