#include "tree/line_commands.h"

#include <cmath>

#include "protocol/command_error.h"
#include "protocol/number_words.h"
#include "protocol/reply.h"
#include "tree/schematic_tree.h"

void CmdAddLine(const WordList& words) { InsertLine(words, false); }

void CmdForceLine(const WordList& words) { InsertLine(words, true); }

void CmdRemoveLine(const WordList& words) {
  SchematicNode* node = g_schematic_root;
  double previous_key = 0.0;
  for (size_t i = 1; i < words.size(); ++i) {
    const double value = ParseDoubleWord(words[i]);
    // No line has a NaN amount (and the ordered lookup must never see one).
    if (std::isnan(value)) ThrowRefusal("Specified line doesn't exists.");
    // Amounts are totals, so a 0 after a bet can only be the fold.
    const double key = (value == 0.0 && previous_key > 0.0) ? -1.0 : value;
    auto it = node->children.find(key);
    if (it == node->children.end()) ThrowRefusal("Specified line doesn't exists.");
    if (i + 1 == words.size()) {
      node->children.erase(it);
    } else {
      node = it->second.get();
      previous_key = key;
    }
  }
  PrintReply("%s ok!\n", words[0].c_str());
}

void CmdClearLines(const WordList& words) {
  ReplaceSchematicRoot();
  PrintReply("%s ok!\n", words[0].c_str());
}

void CmdFreeSchematicTree(const WordList& words) { CmdClearLines(words); }
