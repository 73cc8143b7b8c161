#pragma once
#include <cstdint>
#include <vector>

#include "cards/card.h"

struct TurnDealRecord;

// The showdown orders of the deal records, built once per tree: each board's
// hands in play sorted weakest first by the card layer's ordering
// (cards/showdown_prep.h), with their values, card lists, hand cards and
// combination maps, the strength groups of the river boards and, on boards
// that work per hand group, the groups.

// Fills the turn record (hand list, values, card lists, hand cards, combination
// map) from the base hand list and its combination map (-1 for absent), then
// every river record below it and the turn record's river hand counts.
// Refuses like OrderBoardHandsOrRefuse when the suit image of a hand is missing
// from the parent list.
void PrepareShowdown(TurnDealRecord& record, const std::vector<CardMask>& hands,
                     const std::vector<int16_t>& hand_index);
