#pragma once
#include <stdexcept>
#include <string>

// A tree file whose content cannot be what the engine wrote: a count, length,
// street, key or depth out of range, a value that no set-up command, build or
// pass could have left, a section that does not fit the tree rebuilt from the
// file. load_tree answers its message like a file error; nothing is read past
// it.
class TreeFileError : public std::runtime_error {
 public:
  explicit TreeFileError(const std::string& reason) : std::runtime_error("invalid file (" + reason + ")") {}
};
