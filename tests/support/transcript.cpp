#include "support/transcript.h"

#include <pthread.h>

#include <cctype>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "support/process_runner.h"

namespace {

std::string ReplaceDir(std::string text, const std::string& dir) {
  size_t pos = 0;
  while ((pos = text.find("$DIR", pos)) != std::string::npos) {
    text.replace(pos, 4, dir);
    pos += dir.size();
  }
  return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> SplitOutputLines(const std::string& out) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    if (end == std::string::npos) end = out.size();
    lines.push_back(out.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

// The standard library's regex matcher recurses once or more per character: a
// pattern like "[0-9.]+( [0-9.]+){1325}" over a reply of 1326 numbers goes
// deeper than a main thread's 8 MiB when frames are large (sanitizer builds),
// so whole-line matches run on a thread of their own with a 1 GiB stack
// (address space only; pages are taken as the recursion reaches them).
struct RegexJob {
  const std::string* line;
  const std::string* pattern;
  bool matched = false;
  bool failed = false;
};

void* RunRegexJob(void* arg) {
  auto* job = static_cast<RegexJob*>(arg);
  try {
    job->matched = std::regex_match(*job->line, std::regex(*job->pattern));
  } catch (...) {
    job->failed = true;
  }
  return nullptr;
}

bool RegexMatchOnLargeStack(const std::string& line, const std::string& pattern) {
  RegexJob job{&line, &pattern};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, size_t{1} << 30);
  pthread_t thread;
  const int started = pthread_create(&thread, &attr, RunRegexJob, &job);
  pthread_attr_destroy(&attr);
  if (started != 0) {
    RunRegexJob(&job);
  } else {
    pthread_join(thread, nullptr);
  }
  if (job.failed) throw std::runtime_error("bad pattern /" + pattern + "/");
  return job.matched;
}

bool Matches(const Expectation& e, const std::string& line) {
  if (e.kind == Expectation::kExact) return line == e.text;
  return RegexMatchOnLargeStack(line, e.text);
}

// Matches lines[i..] against expected[j..]; "..." is lazy with backtracking.
bool MatchFrom(const std::vector<Expectation>& expected, size_t j,
               const std::vector<std::string>& lines, size_t i, size_t* fail_j, size_t* fail_i) {
  while (j < expected.size()) {
    if (expected[j].kind == Expectation::kSkip) {
      for (size_t k = i; k <= lines.size(); ++k)
        if (MatchFrom(expected, j + 1, lines, k, fail_j, fail_i)) return true;
      return false;
    }
    if (i >= lines.size() || !Matches(expected[j], lines[i])) {
      if (j > *fail_j || (j == *fail_j && i > *fail_i)) {
        *fail_j = j;
        *fail_i = i;
      }
      return false;
    }
    ++i;
    ++j;
  }
  if (i != lines.size()) {
    if (j > *fail_j || (j == *fail_j && i > *fail_i)) {
      *fail_j = j;
      *fail_i = i;
    }
    return false;
  }
  return true;
}

}  // namespace

std::string UnescapeText(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    const char c = text[++i];
    switch (c) {
      case 'r': out.push_back('\r'); break;
      case 'n': out.push_back('\n'); break;
      case 't': out.push_back('\t'); break;
      case 'x':
        if (i + 2 < text.size() && isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            isxdigit(static_cast<unsigned char>(text[i + 2]))) {
          out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
          i += 2;
        } else {
          out.push_back(c);
        }
        break;
      default: out.push_back(c); break;
    }
  }
  return out;
}

bool ParseTranscript(const std::string& text, const std::string& dir, Transcript* out,
                     std::string* error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  TranscriptFile* file = nullptr;
  while (std::getline(in, line)) {
    ++number;
    const std::string where = "line " + std::to_string(number) + ": ";
    if (file && StartsWith(line, "|")) {
      if (StartsWith(line, "|raw "))
        file->content += UnescapeText(ReplaceDir(line.substr(5), dir));
      else if (line == "|")
        file->content += "\n";
      else if (StartsWith(line, "| "))
        file->content += ReplaceDir(line.substr(2), dir) + "\n";
      else {
        *error = where + "bad file line";
        return false;
      }
      continue;
    }
    file = nullptr;
    if (line.empty() || StartsWith(line, "##")) continue;
    if (StartsWith(line, ">raw ")) {
      out->input += UnescapeText(ReplaceDir(line.substr(5), dir));
    } else if (line == ">") {
      out->input += "\n";
    } else if (StartsWith(line, "> ")) {
      out->input += ReplaceDir(line.substr(2), dir) + "\n";
    } else if (line == "=") {
      out->expected.push_back({Expectation::kExact, "", number});
    } else if (StartsWith(line, "= ")) {
      out->expected.push_back({Expectation::kExact, ReplaceDir(line.substr(2), dir), number});
    } else if (StartsWith(line, "~ ")) {
      out->expected.push_back({Expectation::kRegex, ReplaceDir(line.substr(2), dir), number});
    } else if (line == "...") {
      out->expected.push_back({Expectation::kSkip, "", number});
    } else if (StartsWith(line, "@args ")) {
      std::istringstream words(ReplaceDir(line.substr(6), dir));
      std::string w;
      while (words >> w) out->args.push_back(w);
    } else if (StartsWith(line, "@arg ")) {
      out->args.push_back(ReplaceDir(line.substr(5), dir));
    } else if (StartsWith(line, "@exit ")) {
      out->exit_code = std::stoi(line.substr(6));
    } else if (StartsWith(line, "@timeout ")) {
      out->timeout_seconds = std::stoi(line.substr(9));
    } else if (StartsWith(line, "@stderr ")) {
      out->stderr_patterns.push_back(line.substr(8));
    } else if (line == "@nobanner") {
      out->banner = false;
    } else if (StartsWith(line, "@file ")) {
      out->files.push_back({line.substr(6), "", false});
      file = &out->files.back();
    } else if (StartsWith(line, "@expect-file ")) {
      out->files.push_back({line.substr(13), "", true});
      file = &out->files.back();
    } else {
      *error = where + "not a transcript line: " + line;
      return false;
    }
  }
  return true;
}

bool RunTranscript(const std::string& engine, const std::string& transcript_text,
                   std::string* report) {
  const std::string dir = MakeTempDir();
  if (dir.empty()) {
    *report = "cannot make a temporary directory";
    return false;
  }
  Transcript t;
  std::string error;
  if (!ParseTranscript(transcript_text, dir, &t, &error)) {
    *report = "bad transcript: " + error;
    return false;
  }
  for (const TranscriptFile& f : t.files) {
    if (f.expected) continue;
    std::ofstream file(dir + "/" + f.name, std::ios::binary);
    file << f.content;
  }
  if (t.banner) {
    t.expected.insert(t.expected.begin(),
                      {Expectation::kRegex,
                       R"(Tordanex \(velkaroon\) build 1031 \([A-Z][a-z]{2} [ 0-9]\d \d{4}, \d\d:\d\d:\d\d\) )",
                       0});
  }
  const ProcessResult result = RunProcess(engine, t.args, t.input, dir, t.timeout_seconds);
  const std::vector<std::string> lines = SplitOutputLines(result.out);
  std::ostringstream r;
  bool ok = true;
  if (result.timed_out) {
    r << "the engine did not end within " << t.timeout_seconds << " s\n";
    ok = false;
  }
  if (result.exit_code != t.exit_code) {
    r << "exit code " << result.exit_code << ", expected " << t.exit_code << "\n";
    ok = false;
  }
  for (const std::string& pattern : t.stderr_patterns) {
    if (!std::regex_search(result.err, std::regex(pattern))) {
      r << "standard error does not match /" << pattern << "/\n";
      ok = false;
    }
  }
  for (const TranscriptFile& f : t.files) {
    if (!f.expected) continue;
    std::ifstream file(dir + "/" + f.name, std::ios::binary);
    std::ostringstream content;
    if (file) content << file.rdbuf();
    if (!file || content.str() != f.content) {
      r << "file " << f.name << (file ? " holds:\n" + content.str() : std::string(" is missing\n"))
        << "expected:\n" << f.content;
      ok = false;
    }
  }
  size_t fail_j = 0, fail_i = 0;
  if (!MatchFrom(t.expected, 0, lines, 0, &fail_j, &fail_i)) {
    ok = false;
    if (fail_j < t.expected.size()) {
      const Expectation& e = t.expected[fail_j];
      r << "transcript line " << e.source_line << " expects "
        << (e.kind == Expectation::kRegex ? "~ " : "= ") << e.text << "\n";
    } else {
      r << "output goes on after the last expectation\n";
    }
    r << "output line " << fail_i + 1 << " is "
      << (fail_i < lines.size() ? "\"" + lines[fail_i] + "\"" : std::string("(end of output)")) << "\n";
  }
  if (!ok) {
    r << "--- standard output ---\n" << result.out << "--- standard error ---\n" << result.err;
    *report = r.str();
  }
  std::string cleanup = "rm -rf '" + dir + "'";
  if (std::system(cleanup.c_str()) != 0) {
  }
  return ok;
}
