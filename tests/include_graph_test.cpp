// The source tree's layering: a header and its .cpp form one unit, and no unit may reach
// itself again through the units it includes. A circle means two units can no longer be read,
// changed or tested one without the other.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Graph = std::map<std::string, std::set<std::string>>;

// "formats/wav/wav" for src/formats/wav/wav.cpp and for its header.
std::string unit_of(const std::string& path) { return fs::path(path).replace_extension().generic_string(); }

Graph include_graph(const fs::path& root) {
  Graph graph;
  const std::regex include_line(R"re(^\s*#\s*include\s*"([^"]+)")re");
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::string file = fs::relative(entry.path(), root).generic_string();
    const std::string unit = unit_of(file);
    graph[unit];
    std::ifstream in(entry.path());
    for (std::string line; std::getline(in, line);) {
      std::smatch match;
      if (!std::regex_search(line, match, include_line)) continue;
      const std::string target = unit_of(match[1].str());
      if (target != unit) graph[unit].insert(target);
    }
  }
  return graph;
}

// One circle through unit, as "a -> b -> a", or "" when unit is on none.
std::string circle_through(const Graph& graph, const std::string& unit) {
  std::vector<std::string> path{unit};
  std::set<std::string> seen;
  std::function<bool(const std::string&)> walk = [&](const std::string& from) {
    const auto edges = graph.find(from);
    if (edges == graph.end()) return false;
    for (const std::string& to : edges->second) {
      if (to == unit) {
        path.push_back(to);
        return true;
      }
      if (!seen.insert(to).second) continue;
      path.push_back(to);
      if (walk(to)) return true;
      path.pop_back();
    }
    return false;
  };
  if (!walk(unit)) return "";
  std::string text;
  for (const std::string& step : path) text += (text.empty() ? "" : " -> ") + step;
  return text;
}

TEST(IncludeGraph, NoUnitIncludesItselfThroughOthers) {
  const Graph graph = include_graph(fs::path(TFOLD_SOURCE_DIR) / "src");
  ASSERT_GT(graph.size(), 50u);
  for (const auto& [unit, edges] : graph) {
    EXPECT_EQ(circle_through(graph, unit), "") << unit;
  }
}

// A header that includes itself is harmless only thanks to its guard, and hides what it really
// depends on.
TEST(IncludeGraph, NoHeaderIncludesItself) {
  const fs::path root = fs::path(TFOLD_SOURCE_DIR) / "src";
  const std::regex include_line(R"re(^\s*#\s*include\s*"([^"]+)")re");
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".h") continue;
    const std::string file = fs::relative(entry.path(), root).generic_string();
    std::ifstream in(entry.path());
    for (std::string line; std::getline(in, line);) {
      std::smatch match;
      EXPECT_FALSE(std::regex_search(line, match, include_line) && match[1].str() == file) << file;
    }
  }
}

// Everything that works on any format reaches the modules through the registry; a module
// never reaches the registry. merge and gen join and make WAV files only, so they are the
// WAV module's own users.
TEST(IncludeGraph, OnlyTheRegistryIncludesFormatModules) {
  const Graph graph = include_graph(fs::path(TFOLD_SOURCE_DIR) / "src");
  const std::regex module_entry(R"(formats/(\w+)/\1)");
  for (const auto& [unit, edges] : graph) {
    for (const std::string& target : edges) {
      const bool same_family = fs::path(unit).parent_path() == fs::path(target).parent_path();
      const bool wav_tool = target == "formats/wav/wav" && (unit == "merge" || unit == "tonesmith");
      if (std::regex_match(target, module_entry) && !same_family && !wav_tool) {
        EXPECT_EQ(unit, "formats/registry") << unit << " includes " << target;
      }
      if (target == "formats/registry") {
        EXPECT_FALSE(unit.starts_with("formats/")) << unit;
      }
    }
  }
}

}  // namespace
