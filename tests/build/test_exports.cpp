// Each shared library exports its listed C entry points and data, and nothing
// else: two backends and three bitmap-carrying libraries share one process.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct Library {
  std::string path;
  std::string exportsFile;
};

std::vector<Library> Manifest() {
  std::vector<Library> libs;
  std::ifstream in(DRAVN_EXPORTS_MANIFEST);
  std::string line;
  while (std::getline(in, line)) {
    auto bar = line.find('|');
    if (bar != std::string::npos) libs.push_back({line.substr(0, bar), line.substr(bar + 1)});
  }
  return libs;
}

std::set<std::string> Listed(const std::string& file) {
  std::set<std::string> names;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') names.insert(line);
  return names;
}

std::set<std::string> Exported(const std::string& lib) {
  auto r = dravn_test::Run({"nm", "-D", "--defined-only", "--format=posix", lib});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::set<std::string> names;
  std::istringstream in(r.out);
  std::string name, type;
  while (in >> name >> type) {
    std::string rest;
    std::getline(in, rest);
    names.insert(name.substr(0, name.find('@')));
  }
  return names;
}

}  // namespace

TEST(Exports, EveryLibraryExportsExactlyItsList) {
  auto libs = Manifest();
  ASSERT_GE(libs.size(), 10u);
  for (const auto& lib : libs) {
    SCOPED_TRACE(lib.path);
    EXPECT_EQ(Exported(lib.path), Listed(lib.exportsFile));
  }
}
