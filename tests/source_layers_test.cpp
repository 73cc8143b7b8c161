// The folders of src/ are layers, listed lowest first in src/LAYERS: a folder
// includes its own files and those of lower layers, never a higher one's. The
// sources are read as they are, so an upward include fails the suite.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

fs::path SourceDir() { return fs::path(TDX_SOURCE_DIR) / "src"; }

// Folder name to rank, lowest 0: one folder a line, '#' starts a comment.
std::map<std::string, int> ReadLayers() {
  std::map<std::string, int> rank;
  std::ifstream file(SourceDir() / "LAYERS");
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string name;
    if (words >> name) rank.emplace(name, static_cast<int>(rank.size()));
  }
  return rank;
}

TEST(SourceLayers, EveryFolderIsListed) {
  const auto rank = ReadLayers();
  ASSERT_FALSE(rank.empty()) << "no layers read from " << SourceDir() / "LAYERS";
  for (const fs::directory_entry& entry : fs::directory_iterator(SourceDir())) {
    const std::string folder = entry.path().filename().string();
    if (entry.is_directory()) {
      EXPECT_TRUE(rank.count(folder)) << "src/" << folder << " is not in src/LAYERS";
    }
  }
}

TEST(SourceLayers, NoFolderIncludesAHigherOne) {
  const auto rank = ReadLayers();
  ASSERT_FALSE(rank.empty());
  // The first folder of an include's path, past any "./" or "../".
  const std::regex include(R"(^\s*#\s*include\s*["<](?:\.\.?/)*([^"/>]+)/)");
  int files = 0;
  for (const auto& [folder, folder_rank] : rank) {
    if (!fs::is_directory(SourceDir() / folder)) continue;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(SourceDir() / folder)) {
      if (!entry.is_regular_file()) continue;
      ++files;
      std::ifstream file(entry.path());
      std::string line;
      std::smatch match;
      for (int number = 1; std::getline(file, line); ++number) {
        if (line.find("include") == std::string::npos || !std::regex_search(line, match, include))
          continue;
        const auto target = rank.find(match[1].str());
        if (target != rank.end() && target->second > folder_rank)
          ADD_FAILURE() << fs::relative(entry.path(), SourceDir()).string() << ":" << number << " includes "
                        << target->first << "/, a layer above " << folder;
      }
    }
  }
  EXPECT_GT(files, 100);
}

}  // namespace
