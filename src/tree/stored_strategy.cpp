#include "tree/stored_strategy.h"

#include <algorithm>

#include "protocol/fail.h"
#include "store/arena_store.h"
#include "store/block_store.h"
#include "store/block_store_kernels.h"
#include "store/node_store.h"
#include "store/value_kernels16.h"
#include "tree/tree_records.h"

namespace {

// The uniform default for the action counts of the fused kernels, worked out
// once.
struct UniformDefaults {
  float rows[kMaxFusedActions + 1][kMaxFusedActions] = {};
};

UniformDefaults MakeUniformDefaults() {
  UniformDefaults t;
  for (int32_t n = 1; n <= kMaxFusedActions; ++n)
    for (int32_t a = 0; a < n; ++a) t.rows[n][a] = 1.0f / static_cast<float>(n);
  return t;
}

const UniformDefaults kUniformDefaults = MakeUniformDefaults();

// The average strategy of a river board whose sums and regrets are plain
// rows (float arena sums or the integer sums of an open block store, 16-bit
// regrets): both strategies and the choice between them in one pass, without
// the four strategy arrays of the general way. False, with nothing done, for
// any other board.
bool FusedAverageStrategy(const TreeNode& node, std::vector<NumArray>& out, int32_t turn_slot,
                          int32_t river_slot) {
  const int32_t n = ChildCount(node);
  if (n < 1 || n > kMaxFusedActions || !node.regret_store || !node.strategy_store) return false;
  NodeStore& store = *node.strategy_store;
  ArenaStore32* sums = store.AsArenaStore32();
  BlockStore* block = sums ? nullptr : store.AsBlockStore();
  if (sums ? sums->layout()->actions != n : !block || block->layout()->actions != n) return false;
  uint16_t* regret_rows[kMaxFusedActions];
  float* sum_rows[kMaxFusedActions];
  int32_t* int_sum_rows[kMaxFusedActions];
  int32_t hands = 0, sum_hands = 0;
  const NodeLockRecord* lock = nullptr;
  if (!RegretRows16(*node.regret_store, n, turn_slot, river_slot, regret_rows, &hands, nullptr))
    return false;
  const bool rows = sums ? sums->BoardRows(turn_slot, river_slot, sum_rows, &sum_hands, &lock)
                         : block->BoardRows32(turn_slot, river_slot, int_sum_rows, &sum_hands,
                                              nullptr);
  if (!rows || sum_hands != hands) return false;
  const float* uniform = UniformDefaultRow(n);
  out = MakeNumArrays(n);
  double* strategy[kMaxFusedActions];
  for (int32_t a = 0; a < n; ++a) {
    out[static_cast<size_t>(a)].Resize(hands);
    strategy[a] = out[static_cast<size_t>(a)].data;
  }
  if (sums)
    Kernels<ValueKernels16>().AverageStrategy16(sum_rows, regret_rows, n, hands, uniform,
                                                strategy);
  else
    Kernels<BlockStoreKernels>().AverageIntStrategy32(int_sum_rows, regret_rows, n, hands,
                                                      uniform, strategy);
  return true;
}

}  // namespace

NodeStore& RegretStore(const TreeNode& node) {
  if (!node.regret_store) Fail("decision node without stores");
  return *node.regret_store;
}

const float* UniformDefaultRow(int32_t n) { return kUniformDefaults.rows[n]; }

bool RegretRows16(NodeStore& store, int32_t actions, int32_t i, int32_t j, uint16_t** rows,
                  int32_t* hands, const NodeLockRecord** lock) {
  if (ArenaStore16* arena = store.AsArenaStore16())
    return arena->layout()->actions == actions && arena->BoardRows(i, j, rows, hands, lock);
  if (BlockStore* block = store.AsBlockStore())
    return block->layout()->actions == actions && block->BoardRows16(i, j, rows, hands, lock);
  return false;
}

void GetAverageStrategy(const TreeNode& node, std::vector<NumArray>& out, int32_t turn_slot,
                        int32_t river_slot) {
  if (FusedAverageStrategy(node, out, turn_slot, river_slot)) return;
  const int32_t n = ChildCount(node);
  ActionDefaults defaults(n);
  float* d = defaults.data();
  for (int32_t a = 0; a < n; ++a) d[a] = 0.0f;
  out = node.strategy_store->GetStrategy(turn_slot, river_slot, d);
  const float uniform = 1.0f / static_cast<float>(n);
  for (int32_t a = 0; a < n; ++a) d[a] = uniform;
  std::vector<NumArray> fallback = RegretStore(node).GetStrategy(turn_slot, river_slot, d);

  const int32_t actions = std::min<int32_t>(n, static_cast<int32_t>(out.size()));
  if (actions == 0) return;
  int32_t hands = out[0].HasData() ? out[0].count : 0;
  for (int32_t a = 0; a < actions; ++a) {
    hands = std::min(hands, out[a].HasData() ? out[a].count : 0);
    const NumArray* f = a < static_cast<int32_t>(fallback.size()) ? &fallback[a] : nullptr;
    hands = std::min(hands, f && f->HasData() ? f->count : 0);
  }
  if (hands <= 0) return;
  // Only evaluation passes read average strategies: plain loops over whole
  // rows, which the compiler vectorises, are enough here.
  NumArray total(hands);
  std::copy(out[0].data, out[0].data + hands, total.data);
  for (int32_t a = 1; a < actions; ++a) {
    const double* row = out[a].data;
    for (int32_t h = 0; h < hands; ++h) total.data[h] += row[h];
  }
  for (int32_t a = 0; a < actions; ++a) {
    double* row = out[a].data;
    const double* current = fallback[a].data;
    for (int32_t h = 0; h < hands; ++h) row[h] = total.data[h] == 0.0 ? current[h] : row[h];
  }
}
