#pragma once
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/byte_io.h"
#include "store/num_array.h"

// Handle of a compressed block of river values, passed from node to node along
// a river subtree by the open and close walks; null for every other store.
class CompressedBlock;

class ArenaStore16;
class ArenaStore32;
class BlockStore;

// Lock state of one board of a store.
constexpr uint32_t LOCKED = 1u << 0;        // strategy locked: regrets are not updated
constexpr uint32_t COMBO_LOCKED = 1u << 1;  // the record holds a per-hand mask

struct NodeLockRecord {
  uint32_t flags = 0;
  uint8_t* mask = nullptr;  // one byte per hand, nonzero = locked hand; from malloc
  int32_t mask_length = 0;

  NodeLockRecord() = default;
  NodeLockRecord(const NodeLockRecord&) = delete;
  NodeLockRecord& operator=(const NodeLockRecord&) = delete;
  NodeLockRecord(NodeLockRecord&& other) noexcept
      : flags(other.flags), mask(other.mask), mask_length(other.mask_length) {
    other.mask = nullptr;
    other.mask_length = 0;
  }
  ~NodeLockRecord() { std::free(mask); }

  // Frees the mask; the flags stay.
  void FreeMask() {
    std::free(mask);
    mask = nullptr;
    mask_length = 0;
  }
};

// A decision node's values: one per action and hand for every board the node
// sees (one on the flop, one per turn slot on the turn, one per (turn, river)
// slot pair on the river). Boards are addressed by turn slot i and river slot j,
// -1 for a card not dealt. Every store class of the engine implements these
// operations in this order.
class NodeStore {
 public:
  virtual ~NodeStore() = default;

  // Creates the value memory, all zero; false when the store is not ready.
  virtual bool Allocate() = 0;
  virtual int32_t GetHandCount(int32_t i, int32_t j) = 0;
  // Per action, per hand: value / sum over actions, or defaults[action] where
  // the sum is below FLT_MIN. Current strategy of a regret store, average
  // strategy of a strategy-sum store.
  virtual std::vector<NumArray> GetStrategy(int32_t i, int32_t j, const float* defaults) = 0;
  virtual void SetActionValues(int32_t i, int32_t j, int32_t action, const NumArray& values) = 0;
  // Regret update of the traverser's node: d = action value - node value per
  // hand. hand_groups (null when none) and payoff_scale serve 16-bit stores.
  virtual void UpdateRegrets(int32_t i, int32_t j, const NumArray& node_values,
                             const std::vector<NumArray>& action_values, CompressedBlock* handle,
                             const std::vector<int16_t>* hand_groups, double payoff_scale) = 0;
  // sums += weight * strategy * reach; nothing for weight <= 0.
  virtual void AccumulateStrategy(int32_t i, int32_t j, const std::vector<NumArray>& strategy,
                                  const NumArray& reach, double weight) = 0;
  // Number of stored values; i < 0 asks for all of them.
  virtual int64_t GetValueCount(int32_t i) = 0;
  virtual void Write(ByteWriter& out) = 0;
  virtual void Read(ByteReader& in) = 0;
  // Make turn slot i's values ready for work and end that work; only the
  // block-compressed store does anything, the others keep these and return null.
  virtual CompressedBlock* OpenValues(CompressedBlock* handle, int32_t i, int32_t count) {
    return nullptr;
  }
  virtual CompressedBlock* CloseValues(CompressedBlock* handle, int32_t i, bool write_back) {
    return nullptr;
  }
  // The record of board (i, j); valid for the store's life.
  virtual NodeLockRecord* GetLockRecord(int32_t i, int32_t j) = 0;

  // Bytes of memory that Allocate would still take: 0 for values the store
  // holds already. What go and the rebuild weigh against the free memory
  // before they allocate a whole tree's values.
  virtual uint64_t AllocationBytes() { return 0; }

  // The river arena stores, for the solver's kernels that work on their rows
  // directly; null for every other class.
  virtual ArenaStore16* AsArenaStore16() { return nullptr; }
  virtual ArenaStore32* AsArenaStore32() { return nullptr; }
  // The block-compressed river stores; null for every other class.
  virtual BlockStore* AsBlockStore() { return nullptr; }
};
