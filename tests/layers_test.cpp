// The source tree's layers read downwards: no source includes a header of a
// layer above its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The directories each layer must not include from.
const std::map<std::string, std::set<std::string>> kForbidden = {
    {"util", {"app", "gks", "image", "mqueue", "domain"}},
    {"mqueue", {"app", "gks", "image", "domain"}},
    {"image", {"app", "gks", "mqueue"}},
    {"domain", {"app"}},
    {"gks", {"app"}},
};

std::vector<std::string> includes_of(const fs::path &file) {
  static const std::regex include(R"re(^\s*#\s*include\s+"([a-z_]+)/[^"]+")re");
  std::vector<std::string> dirs;
  std::ifstream in(file);
  std::string line;
  std::smatch m;
  while (std::getline(in, line))
    if (std::regex_search(line, m, include)) dirs.push_back(m[1]);
  return dirs;
}

TEST(Layers, NoSourceIncludesALayerAboveItsOwn) {
  std::vector<std::string> offences;
  int files = 0;
  for (const auto &[layer, forbidden] : kForbidden) {
    const fs::path dir = fs::path(ZYB_SOURCE_DIR) / layer;
    if (!fs::exists(dir)) continue;
    for (const auto &entry : fs::directory_iterator(dir)) {
      const std::string ext = entry.path().extension();
      if (ext != ".cpp" && ext != ".h") continue;
      ++files;
      for (const std::string &used : includes_of(entry.path()))
        if (forbidden.count(used)) offences.push_back(layer + "/" + entry.path().filename().string() + " -> " + used);
    }
  }
  EXPECT_GT(files, 40) << "the tree was not found";
  EXPECT_TRUE(offences.empty()) << ::testing::PrintToString(offences);
}

}  // namespace
