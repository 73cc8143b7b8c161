#pragma once
#include <istream>
#include <string>
#include <vector>

// The words of one command line; word 0 is the command.
using WordList = std::vector<std::string>;

// The longest line the engine takes. The longest legal command (set_strategy
// with 1326 numbers) is well under 100 KB; the cap only stops input without
// line ends (a device, a binary file) from growing a line without bound.
constexpr size_t kMaxLineLength = size_t{16} << 20;

enum class LineStatus {
  kLine,       // a line was read (possibly empty)
  kTooLong,    // the line passed kMaxLineLength; `line` is empty
  kEnd,        // end of input, nothing read
  kReadError,  // the input failed; `line` is empty
};

enum class LineBreaks {
  kAny,     // LF, CR and CR LF end a line (standard input)
  kLfOnly,  // LF ends a line; a CR right before it, or ending the input, is dropped
};

// Reads one line into `line` (emptied first). An unterminated last line is
// returned normally and the next call reports the end (end-of-file state set,
// nothing read). A line that passes the cap is reported as too long with the
// rest of it still unread (SkipLine passes over it). A read error sets the
// stream's bad state and is reported, with its reason in `error` when given.
LineStatus ReadLine(std::istream& in, std::string& line, LineBreaks breaks = LineBreaks::kAny,
                    std::string* error = nullptr);

// Consumes input up to and including the next line end (or to the end of
// input); kLine, kEnd or kReadError.
LineStatus SkipLine(std::istream& in, LineBreaks breaks = LineBreaks::kAny,
                    std::string* error = nullptr);

// Splits a line into words at blanks (0x20 only). A double quote starts quoted
// text that continues the current word and may hold blanks; the next double
// quote ends the word. Empty words are never produced.
WordList TokenizeLine(const std::string& line);

// The words from `first` up to (not including) the smaller of `end` and the
// word count, joined by single blanks.
std::string JoinWords(const WordList& words, size_t first, size_t end);

// The non-empty pieces of the text between delimiter characters.
WordList SplitString(const std::string& text, char delimiter);
