#pragma once
#include <cstdint>

// Program-wide solver settings that outlive trees.

// Suit isomorphism per street of the tree's root (index 1 flop, 2 turn, 3
// river); set_isomorphism writes entries 1 and 2.
extern uint8_t g_isomorphism_by_street[4];
