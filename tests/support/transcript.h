#pragma once
// Protocol transcripts: a script of command lines in, the exact reply out.
//
// A transcript file (*.tdx) is read line by line:
//   ## text          a comment
//   > text           a line of standard input (the text, then LF)
//   >raw text        standard input with C escapes (\r \n \t \xHH \\) and no LF added
//   = text           the next output line, exactly
//   ~ regex          the next output line, matching the ECMAScript regex in full
//   ...              any number of output lines, up to the next expectation that matches
//   @args w1 w2      command-line arguments, split at blanks
//   @arg text        one command-line argument, blanks kept
//   @exit N          the expected exit code (0 when not given)
//   @stderr regex    standard error must contain a match of the regex
//   @nobanner        the output does not begin with the start-up banner
//   @file NAME       creates NAME in the working directory from the "| text"
//                    lines that follow ("|raw text" with escapes and no LF)
//   @expect-file NAME  after the run, NAME must hold exactly the "| text" lines
//                    that follow
//   @timeout S       seconds before the engine is killed (default 300)
// Blank lines are ignored. $DIR in any text stands for the working directory,
// a fresh temporary directory per run. Unless @nobanner is given, the first
// output line must be the banner. After the last expectation no further output
// may follow.
#include <string>
#include <vector>

struct TranscriptFile {
  std::string name;
  std::string content;
  bool expected = false;  // checked after the run instead of written before it
};

struct Expectation {
  enum Kind { kExact, kRegex, kSkip } kind;
  std::string text;
  int source_line;
};

struct Transcript {
  std::vector<std::string> args;
  std::string input;
  std::vector<Expectation> expected;
  std::vector<TranscriptFile> files;
  std::vector<std::string> stderr_patterns;
  int exit_code = 0;
  bool banner = true;
  int timeout_seconds = 300;
};

// Parses a transcript; on a malformed line returns false with the reason.
bool ParseTranscript(const std::string& text, const std::string& dir, Transcript* out,
                     std::string* error);

// Runs the engine on the transcript; on a mismatch returns false with a report.
bool RunTranscript(const std::string& engine, const std::string& transcript_text,
                   std::string* report);

// C escapes of a >raw or |raw line.
std::string UnescapeText(const std::string& text);
