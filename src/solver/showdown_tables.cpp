#include "solver/showdown_tables.h"

#include <cfloat>
#include <cmath>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "solver/solver_state.h"
#include "solver/terminal_kernels.h"
#include "solver/tree_pass.h"
#include "store/board_layout.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

namespace {

// All tables of a run together stay below this; wider trees walk the cards.
constexpr int64_t kTableBudgetBytes = int64_t{48} << 20;

constexpr int32_t Ceil16(int32_t n) { return (n + 15) & ~15; }

struct TurnTable {
  std::once_flag made;
  bool usable = false;
  int32_t n = 0;
  int32_t stride = 0;
  std::vector<int8_t> cells;  // column b at b * stride, one byte per hand a
};

struct ShowdownTables {
  const DealTree* deal = nullptr;
  std::unique_ptr<TurnTable[]> turns;
  int32_t turn_count = 0;
};

// Set and cleared by the solver thread around its run, under the pass mutex:
// a pass that the command thread runs meanwhile (calc_results while solving)
// reads them too, and must never see them freed under it.
std::unique_ptr<ShowdownTables> g_showdown_tables;

// The old tables are freed outside the lock.
void ReplaceTables(std::unique_ptr<ShowdownTables> tables) {
  {
    std::lock_guard<std::mutex> pass_lock(g_tree_pass_mutex);
    g_showdown_tables.swap(tables);
  }
}

// Strength group of each hand of a river board: the runs of the strength list
// in order (sizes of zero or below skipped, a run never passing the last hand,
// hands past the listed runs one last group), as the showdown walk takes them.
std::vector<int16_t> HandGroups(const RiverDealRecord& rec) {
  const int32_t n = rec.HandCount();
  std::vector<int16_t> group(static_cast<size_t>(n), 0);
  const int32_t listed = static_cast<int32_t>(rec.strength_groups.size());
  int32_t pos = 0;
  int16_t index = 0;
  for (int32_t g = 0; pos < n; ++g) {
    int32_t size = g < listed ? rec.strength_groups[static_cast<size_t>(g)] : n - pos;
    if (size <= 0) continue;
    if (size > n - pos) size = n - pos;
    for (int32_t k = 0; k < size; ++k) group[static_cast<size_t>(pos + k)] = index;
    ++index;
    pos += size;
  }
  return group;
}

// The river hands of one card seen on the turn board: per turn hand, the
// strength group of the river hand that maps to it (-1 for none) and that
// river hand's cards.
struct CardView {
  std::vector<int16_t> groups;
  std::vector<uint64_t> masks;
};

void MakeTable(const TurnDealRecord& turn, TurnTable& table) {
  const int32_t n = turn.HandCount();
  if (n <= 0 || n > kMaxBoardHands) return;
  struct RecordView {
    const RiverDealRecord* rec;
    std::vector<int16_t> groups;  // by river hand
    std::vector<int16_t> input;   // turn hand -> river hand of card list 0, -1 none
    std::vector<CardView> cards;  // by card list
  };
  std::vector<RecordView> records;
  records.reserve(turn.river_records.size());
  for (const RiverDealRecord& rec : turn.river_records) {
    const int32_t m = rec.HandCount();
    if (rec.hand_group_flag != 0 || rec.card_lists.empty()) return;
    RecordView view;
    view.rec = &rec;
    view.groups = HandGroups(rec);
    view.input.assign(static_cast<size_t>(n), -1);
    for (size_t l = 0; l < rec.card_lists.size(); ++l) {
      const std::vector<int16_t>& list = rec.card_lists[l];
      if (static_cast<int32_t>(list.size()) != m) return;
      CardView card;
      card.groups.assign(static_cast<size_t>(n), -1);
      card.masks.assign(static_cast<size_t>(n), 0);
      for (int32_t i = 0; i < m; ++i) {
        const int32_t a = list[static_cast<size_t>(i)];
        if (a < 0 || a >= n) return;
        card.groups[static_cast<size_t>(a)] = view.groups[static_cast<size_t>(i)];
        card.masks[static_cast<size_t>(a)] = rec.hands[static_cast<size_t>(i)];
        if (l == 0) view.input[static_cast<size_t>(a)] = static_cast<int16_t>(i);
      }
      view.cards.push_back(std::move(card));
    }
    records.push_back(std::move(view));
  }

  table.n = n;
  table.stride = Ceil16(n);
  table.cells.assign(static_cast<size_t>(table.stride) * static_cast<size_t>(n), 0);
  std::vector<int16_t> column(static_cast<size_t>(n));
  const ShowdownTablesKernels& kernels = Kernels<ShowdownTablesKernels>();
  for (int32_t b = 0; b < n; ++b) {
    std::fill(column.begin(), column.end(), int16_t{0});
    for (const RecordView& view : records) {
      const int16_t j = view.input[static_cast<size_t>(b)];
      if (j < 0) continue;  // hand b holds this river card
      const int16_t group = view.groups[static_cast<size_t>(j)];
      const uint64_t mask = view.rec->hands[static_cast<size_t>(j)];
      for (const CardView& card : view.cards)
        kernels.AddShowdownSigns(column.data(), n, card.groups.data(), card.masks.data(), group,
                                 mask);
    }
    int8_t* cells = table.cells.data() + static_cast<size_t>(b) * static_cast<size_t>(table.stride);
    for (int32_t a = 0; a < n; ++a) cells[a] = static_cast<int8_t>(column[static_cast<size_t>(a)]);
  }
  table.usable = true;
}

}  // namespace

void BeginShowdownTables(const SolverState& state) {
  ReplaceTables(nullptr);
  const DealTree* deal = state.deal_tree.get();
  if (!deal || state.nodes.empty() || state.nodes[0].street >= STREET_TURN) return;
  const int32_t turns = static_cast<int32_t>(deal->turn_records.size());
  int64_t bytes = 0;
  for (const TurnDealRecord& turn : deal->turn_records)
    bytes += static_cast<int64_t>(Ceil16(turn.HandCount())) * turn.HandCount();
  if (turns == 0 || bytes > kTableBudgetBytes) return;
  auto tables = std::make_unique<ShowdownTables>();
  tables->deal = deal;
  tables->turns = std::make_unique<TurnTable[]>(static_cast<size_t>(turns));
  tables->turn_count = turns;
  ReplaceTables(std::move(tables));
}

void EndShowdownTables() { ReplaceTables(nullptr); }

bool AddShowdownDealValues(int32_t turn_slot, NumArray& out, const NumArray& reach, double v) {
  ShowdownTables* tables = g_showdown_tables.get();
  if (!tables || turn_slot < 0 || turn_slot >= tables->turn_count) return false;
  TurnTable& table = tables->turns[turn_slot];
  std::call_once(table.made, [&] {
    MakeTable(tables->deal->turn_records[static_cast<size_t>(turn_slot)], table);
  });
  if (!table.usable || !reach.HasData() || !out.HasData()) return false;
  const int32_t n = table.n;
  if (reach.count != n || out.count != n) return false;

  // The columns of the hands with reach above zero (zero and NaN skipped, as
  // the kernels skip them), weighted by the payoff.
  int32_t columns[kMaxBoardHands];
  double weights[kMaxBoardHands];
  int32_t count = 0;
  double smallest = HUGE_VAL;
  for (int32_t b = 0; b < n; ++b) {
    const double r = reach.data[b];
    if (!(r > 0.0)) continue;
    columns[count] = b;
    weights[count] = v * r;
    ++count;
    if (r < smallest) smallest = r;
  }
  if (count == 0) return true;
  // A river card's showdown total is at least any one reach on its board
  // times the payoff: with each of them well above the kernels' zero bound, no
  // card's total falls to it.
  if (!(smallest * std::fabs(v) > 2.0 * static_cast<double>(FLT_MIN))) return false;
  Kernels<ShowdownTablesKernels>().AddShowdownColumns(out.data, n, table.cells.data(), table.stride,
                                                      columns, weights, count);
  return true;
}
