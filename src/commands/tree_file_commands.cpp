#include "commands/tree_file_commands.h"

#include <stdexcept>

#include "commands/preconditions.h"
#include "protocol/command_error.h"
#include "protocol/reply.h"
#include "treefile/tree_file.h"

namespace {

// File and content errors answer "ERROR: <command> <reason>\n"; refusals
// already carry their reason, and a file name that is no UTF-8 answers the
// conversion's own "bad conversion".
template <typename Work>
void RunFileWork(Work work) {
  try {
    work();
  } catch (const CommandRefusal&) {
    throw;
  } catch (const std::range_error&) {
    throw;
  } catch (const std::runtime_error& error) {
    ThrowRefusal(error.what());
  }
}

}  // namespace

void CmdLoadTree(const WordList& words) {
  RefuseWhileSolverRuns();
  RunFileWork([&] { LoadTreeFile(words[1]); });
  PrintOkReply(words[0]);
}

void CmdDumpTree(const WordList& words) {
  RefuseWhileSolverRuns();
  if (words.size() < 2) ThrowArgumentError(words[0]);
  RunFileWork([&] { DumpTreeFile(words[1]); });
  PrintOkReply(words[0]);
}
