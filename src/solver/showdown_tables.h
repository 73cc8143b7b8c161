#pragma once
#include <cstdint>

#include "platform/isa_dispatch.h"
#include "store/num_array.h"

struct SolverState;

// River deals at a showdown end node (a line all in before the river) of a
// flop-rooted tree. The in-line walk over the river cards of a turn runs one
// showdown per river card and adds the results up through the cards' hand
// lists; the sum is linear in the turn board's reach, so one table per turn
// board, cell (b, a) = the sum over river cards of +1 / -1 / 0 for hand a
// beating / losing to / tying hand b where both are on that river board and
// share no card, gives the same values in one product: out[a] += v x the sum
// over b of cell (b, a) x reach[b] (reach above zero only, as the kernels take
// it). The cells are small integers (at most 44 river cards), kept as bytes.
//
// Tables exist during a solver run: BeginShowdownTables at its start, which
// also decides whether they fit a memory bound, EndShowdownTables at its end;
// each turn slot's table is made on first use, by the thread that needs it.

void BeginShowdownTables(const SolverState& state);
void EndShowdownTables();

// out, sized to the turn board's hand count and zeroed by the caller, += the
// sum over the turn slot's river cards of the showdown values of the reach with
// payoff v, as the in-line walk adds them up (before its average). Returns
// false, out untouched, when no table serves: no run under way, a board that
// works per hand group, a table past the memory bound, or a reach so small
// that some river card's showdown total could fall to the kernels' zero bound
// (the walk gives zeros for that card, the table would not).
bool AddShowdownDealValues(int32_t turn_slot, NumArray& out, const NumArray& reach, double v);

// The kernels of the tables, one table of them per build
// (Kernels<ShowdownTablesKernels>() is the one in use).
struct ShowdownTablesKernels {
  // column[a] += sign(groups[a] - group) for every a < n whose group is not -1
  // and whose hand mask shares no card with mask.
  void (*AddShowdownSigns)(int16_t* column, int32_t n, const int16_t* groups,
                           const uint64_t* masks, int16_t group, uint64_t mask);
  // out[a] += the sum over k of table[columns[k] * stride + a] x weights[k],
  // a < n.
  void (*AddShowdownColumns)(double* out, int32_t n, const int8_t* table, int32_t stride,
                             const int32_t* columns, const double* weights, int32_t count);
};
TDX_KERNEL_TABLES(ShowdownTablesKernels)
