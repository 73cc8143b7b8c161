// libFuzzer target for the tree-file reader (not built by default; see
// tests/CMakeLists.txt, option TDX_BUILD_FUZZ, clang only). Each input is a
// whole tree file; seed the corpus with real dumps (dump_tree). Every outcome
// must be a loaded tree or a refusal or runtime error that leaves no tree;
// the sanitizers catch anything else.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "cards/combo_tables.h"
#include "cards/hand_evaluator.h"
#include "platform/cpu_features.h"
#include "protocol/command_error.h"
#include "solver/solver_state.h"
#include "tree/tree_builder.h"
#include "treefile/tree_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    InitCpuFeatures();
    InitHandEvaluator();
    BuildComboTables();
    return "/tmp/tdx_tree_file_fuzzer_" + std::to_string(getpid()) + ".tree";
  }();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  try {
    LoadTreeFile(path);
  } catch (const std::runtime_error&) {
    // Refusals, file and content errors: the load must have left no tree.
    if (g_tree_present || g_solver_state) __builtin_trap();
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
