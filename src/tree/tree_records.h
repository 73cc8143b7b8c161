#pragma once
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "store/board_layout.h"
#include "store/node_store.h"
#include "store/num_array.h"
#include "tree/deal_tree.h"

// The records of one built game tree: flattened bet lines, the node array and
// the GameTree that owns everything of the tree.

// Kind of a node (and of a flattened line entry).
enum TreeNodeKind : uint32_t {
  DECISION_NODE = 0,  // owns stores
  SHOWDOWN_NODE = 1,  // end node reached with a non-negative key
  FOLD_NODE = 2,      // end node reached with the key -1.0
};

// One flattened bet-line node, in pre-order (a node, then its children's
// subtrees in child order).
struct LineEntry {
  uint32_t kind = DECISION_NODE;
  int32_t parent = -1;  // -1 for the root
  Player player = PLAYER_NONE;  // decision: the player to act; end node: PLAYER_NONE
  Street street = STREET_NONE;  // decision: its street; end node: STREET_NONE
  double value = 0.0;   // end node: pot / 2 + amount; decision: 0
};

// The value of an end node: pot / 2 + amount, rounded once.
inline double LineEndValue(double pot, double amount) { return std::fma(pot, 0.5, amount); }

// One mutex per turn slot on the first node of the turn of a line.
constexpr int kTurnMutexCount = 49;
// Card records on the first decision node of the river of a line: one per turn slot.
constexpr int kRiverCardRecordCount = 49;

struct TreeNode {
  int32_t kind = DECISION_NODE;
  int32_t parent_index = -1;
  // Decision: player to act; end node: the player whose action ended the line.
  Player player = PLAYER_OOP;
  // Decision: its street; fold: the parent's street; showdown: the river.
  Street street = STREET_NONE;
  double value = 0.0;              // end node value; 0 for decisions
  std::vector<int32_t> children;   // in child order (descending bet-line key)
  TreeNode* parent = nullptr;      // null at the root
  std::unique_ptr<NodeStore> regret_store;    // decision nodes only
  std::unique_ptr<NodeStore> strategy_store;  // strategy sums; when the storage kind is nonzero
  float ev_boost = 0.0f;
  uint8_t materialised = 0;  // the stores' values are allocated
  std::unique_ptr<std::mutex[]> turn_mutexes;  // kTurnMutexCount, or null
  std::unique_ptr<CardRecord[]> card_records;  // 1 (turn) or 49 (river), or null
};

enum GameTreeFlags : uint32_t {
  INCOMPLETE_TREE = 1u << 0,  // some street forgotten or not materialised
  ISOMORPHISM_ON = 1u << 1,   // built with suit isomorphism
  NEW_TREE = 1u << 2,         // set at build, cleared by the first solving iteration
};

// One built game tree: the node array, the dealt cards and what the build
// derives from the situation, with the storage figures of its stores. The
// solver's state adds what solving adds (solver/solver_state.h).
struct GameTree {
  std::vector<TreeNode> nodes;  // index 0 is the root
  CardMask flop_mask = 0;       // real suits, as set
  CardMask board_mask = 0;      // flop plus the starting turn and river, real suits
  // The starting board's turn and river cards (real suits), -1 where the tree
  // deals them: node paths start from these, not from a board set since.
  int32_t start_turn_card = -1;
  int32_t start_river_card = -1;
  std::unique_ptr<DealTree> deal_tree;
  int32_t start_turn_slot = -1;
  int32_t start_river_slot = -1;
  // Per player: the range weight of each hand of the starting board.
  std::vector<double> root_hand_weights[2];
  // Per player: root hand weights / Z (Z = the weight of all disjoint hand pairs).
  std::vector<double> normalised_root_weights[2];
  // Per player: the 1326 weights handed to the build, ComboIndex order, real suits.
  std::vector<double> ranges[2];
  // Entry a: the river value layout of nodes with a actions; entry 0 is empty.
  std::vector<std::unique_ptr<BoardLayout>> board_layouts;
  int32_t storage_kind = 1;  // nonzero: strategy-sum stores exist
  int32_t deal_flag = 0;     // hand-group flag of every river record
  uint64_t storage_counters[4] = {0, 0, 0, 0};
  uint64_t storage_totals[4] = {0, 0, 0, 0};
  double average_actions = 0.0;
  int32_t max_actions = 0;
  double max_terminal_value = 0.0;
  double root_pot = 0.0;  // the pot (third set_pot figure) the tree was built with
  double payoff_scale = 0.0;
  uint32_t format_version = 6;
  int32_t coder_kinds[2] = {0, 0};  // regret store, strategy-sum store
  uint8_t stores_allocated = 0;
  // GameTreeFlags. Atomic: the solver thread clears NEW_TREE after each
  // iteration while commands beside the run read the other bits.
  std::atomic<uint32_t> flags{NEW_TREE};
  Street first_forgotten_street = STREET_NONE;

  GameTree(int32_t storage_kind_arg, int32_t deal_flag_arg)
      : storage_kind(storage_kind_arg), deal_flag(deal_flag_arg) {}
  GameTree(const GameTree&) = delete;
  GameTree& operator=(const GameTree&) = delete;
  // The river stores point at the board layouts: the nodes go first.
  ~GameTree();
};
