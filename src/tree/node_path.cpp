#include "tree/node_path.h"

#include <charconv>
#include <cmath>
#include <iterator>

#include "cards/situation.h"
#include "protocol/command_error.h"
#include "protocol/number_words.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

namespace {

[[noreturn]] void ThrowIncorrectPath() { ThrowRefusal("incorrect path"); }

// The words between the ":" of a path, empty words kept (they are refused).
std::vector<std::string> SplitPathWords(const std::string& text) {
  std::vector<std::string> words;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find(':', begin);
    if (end == std::string::npos) {
      words.emplace_back(text, begin);
      return words;
    }
    words.emplace_back(text, begin, end - begin);
    begin = end + 1;
  }
}

// Moves the path to the child under the key, refusing a missing child and one
// that the built tree does not have.
void StepToChild(const GameTree* tree, ResolvedPath& path, double key, bool lines_since_build) {
  SchematicNode* child = FindSchematicChild(path.node, key);
  if (!child || (!lines_since_build && IsStaleNode(tree, child))) ThrowIncorrectPath();
  path.split = IsChanceStep(*path.node, *child) ? 1 : 0;
  path.node = child;
}

// A card word deals the turn or the river at a chance point; card_mask is its
// parsed text (two characters), 0 for a word of any other length.
void DealPathCard(const GameTree& tree, ResolvedPath& path, const std::string& word,
                  CardMask card_mask) {
  if (word.size() != 2 || CardCount(card_mask) != 1) ThrowIncorrectPath();
  const int32_t card = LowestCard(card_mask);
  CardMask dealt = tree.flop_mask;
  if (path.turn_card != kNoCard) dealt |= CardBit(path.turn_card);
  if (path.river_card != kNoCard) dealt |= CardBit(path.river_card);
  if (dealt & card_mask) ThrowIncorrectPath();

  const ResolvedPath parent = GetParentPath(path);
  if (!parent.node) ThrowIncorrectPath();
  const Street parent_street = AbsoluteStreet(parent.node);
  const Street street = AbsoluteStreet(path.node);
  if (parent_street == STREET_FLOP && street == STREET_TURN) {
    if (path.turn_card != kNoCard) ThrowIncorrectPath();
    path.turn_card = card;
  } else if (parent_street == STREET_TURN && street == STREET_RIVER) {
    if (path.river_card != kNoCard) ThrowIncorrectPath();
    path.river_card = card;
  } else {
    ThrowIncorrectPath();
  }
}

bool IsCardWord(const std::string& word) {
  return word != "c" && word != "f" && word[0] != 'b';
}

}  // namespace

int32_t LowestCard(CardMask mask) { return mask ? __builtin_ctzll(mask) : kNoCard; }

Street AbsoluteStreet(const SchematicNode* node) {
  return static_cast<Street>(g_start_street + static_cast<int32_t>(node->street));
}

bool IsChanceStep(const SchematicNode& node, const SchematicNode& child) {
  // The step that ends the river leads to the showdown: no card comes after it.
  return child.street > node.street && AbsoluteStreet(&child) <= STREET_RIVER;
}

bool IsStaleNode(const GameTree* tree, const SchematicNode* node) {
  if (!tree) return true;
  const size_t index = node->entry_index;
  if (index >= tree->nodes.size()) return true;
  if (!node->parent) return index != 0;
  return index == 0 || tree->nodes[index].parent_index !=
                           static_cast<int32_t>(node->parent->entry_index);
}

ResolvedPath ResolveNodePath(const GameTree* tree, const std::string& text,
                             bool lines_since_build) {
  if (!g_tree_present || !tree || tree->nodes.empty())
    ThrowRefusal("missing/incorrect tree");
  const std::vector<std::string> words = SplitPathWords(text);
  if (words[0] != "r") ThrowIncorrectPath();

  ResolvedPath path;
  // The tree's own board: a board set since the build has no nodes here.
  path.turn_card = tree->start_turn_card;
  path.river_card = tree->start_river_card;
  if (words.size() == 1) return path;
  if (words[1] != "0") ThrowIncorrectPath();
  path.node = g_schematic_root;
  if (IsStaleNode(tree, path.node)) ThrowIncorrectPath();

  for (size_t w = 2; w < words.size(); ++w) {
    const std::string& word = words[w];
    const bool at_chance_point = path.split != 0;
    path.split = 0;
    if (word.empty()) ThrowIncorrectPath();
    // A card word's text is judged before where it stands: a bad card text
    // answers "invalid card".
    const CardMask card_mask = IsCardWord(word) && word.size() == 2 ? ParseCard(word) : 0;
    // After a step that ends a street the card must be named: skipping it would
    // leave the path without the board its node is played on.
    if (at_chance_point != IsCardWord(word)) ThrowIncorrectPath();
    if (word == "c") {
      StepToChild(tree, path, path.node->amount, lines_since_build);
    } else if (word == "f") {
      StepToChild(tree, path, -1.0, lines_since_build);
    } else if (word[0] == 'b') {
      // No child has a NaN key (and the ordered lookup must never see one).
      const double key = ParseDoubleWord(word.substr(1));
      if (std::isnan(key)) ThrowIncorrectPath();
      StepToChild(tree, path, key, lines_since_build);
    } else {
      DealPathCard(*tree, path, word, card_mask);
    }
  }
  return path;
}

ResolvedPath GetParentPath(const ResolvedPath& path) {
  if (!path.node) return path;
  ResolvedPath parent;
  parent.node = path.node->parent;
  parent.turn_card = path.turn_card;
  parent.river_card = path.river_card;
  if (parent.node) {
    const Street street = AbsoluteStreet(parent.node);
    if (street < STREET_TURN) parent.turn_card = kNoCard;
    if (street < STREET_RIVER) parent.river_card = kNoCard;
  }
  return parent;
}

CardMask ParseCard(const std::string& text) { return ParseCardText(text); }

std::string GetNodeTypeName(const ResolvedPath& path) {
  if (!path.node) return "ROOT";
  if (path.split) return "SPLIT_NODE";
  if (path.node->children.empty()) return "END_NODE";
  return path.node->player == PLAYER_IP ? "IP_DEC" : "OOP_DEC";
}

std::vector<int32_t> ListNextCards(const ResolvedPath& path) {
  CardMask dealt = g_board_flop | g_board_turn | g_board_river;
  if (path.turn_card != kNoCard) dealt |= CardBit(path.turn_card);
  if (path.river_card != kNoCard) dealt |= CardBit(path.river_card);
  std::vector<int32_t> cards;
  cards.reserve(kCardCount);
  for (int rank = kRankCount - 1; rank >= 0; --rank)
    for (int suit = kSuitCount - 1; suit >= 0; --suit) {
      const int card = CardNumber(rank, suit);
      if (!(dealt & CardBit(card))) cards.push_back(card);
    }
  return cards;
}

std::string MakeChildLabel(const ResolvedPath& path, int i) {
  if (i < 0) return "";
  if (!path.node) return i == 0 ? "0" : "";  // "r" leads to the root only
  if (path.split) {
    const std::vector<int32_t> cards = ListNextCards(path);
    return static_cast<size_t>(i) < cards.size() ? CardText(cards[i]) : "";
  }
  if (static_cast<size_t>(i) >= path.node->children.size()) return "";
  auto it = path.node->children.begin();
  std::advance(it, i);
  return MakeActionLabel(*path.node, it->first);
}

std::string MakeActionLabel(const SchematicNode& node, double key) {
  if (key > node.amount) {
    // The shortest text that reads back as the same key, so that every listed
    // child can be named again ("b10", "b10.5").
    char buffer[512];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, key,
                                      std::chars_format::fixed);
    std::string label = "b";
    label.append(buffer, result.ptr);
    return label;
  }
  return key >= 0.0 ? "c" : "f";
}
