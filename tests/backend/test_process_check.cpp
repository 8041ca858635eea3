// Front-end and launcher recognition through /proc, with copies of a small
// program named as the front ends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common_layer_util.h"
#include "process_check.h"
#include "test_support.h"

namespace {

using common_layer_test::DeadPidText;

const char kProbe[] = DRAVN_BINARY_DIR "/tests/backend/backend_probe";

// Copies of the probe under the given names, in one directory.
std::string ProbeCopies() {
  static const std::string dir = [] {
    std::string d = dravn_test::MakeTempDir("frontends");
    for (const char* name : {"probe", "scanimage", "xsane", "simple-scan", "scan", "scanimagex", "kelofsscanmanager",
                             "kelofs", "kelofsscanmanagerd"}) {
      std::string to = d + "/" + name;
      dravn_test::WriteFile(to, dravn_test::ReadFile(kProbe));
      chmod(to.c_str(), 0755);
    }
    return d;
  }();
  return dir;
}

struct ChainCase {
  const char* label;
  std::vector<std::string> argv;  // first word: a copy's name
  const char* expected;
};
void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.label; }

class ProcessChain : public testing::TestWithParam<ChainCase> {};

TEST_P(ProcessChain, FindsTheProgramAlongTheParentChain) {
  const std::string dir = ProbeCopies();
  std::vector<std::string> argv;
  for (std::string word : GetParam().argv) {
    for (size_t at; (at = word.find("@")) != std::string::npos;) word.replace(at, 1, dir + "/");
    argv.push_back(word);
  }
  dravn_test::RunResult r = dravn_test::Run(argv);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, std::string(GetParam().expected) + "\n") << r.err;
}

// "@" stands for the copies' directory.
const ChainCase kChains[] = {
    {"FrontEndThroughAShell", {"@scanimage", "run", "sh", "-c", "@probe check scanimage"}, "check 1"},
    {"FrontEndItself", {"@xsane", "check", "xsane"}, "check 1"},
    {"FrontEndAsParent", {"@simple-scan", "run", "@probe", "check", "simple-scan"}, "check 1"},
    {"NoFrontEnd", {"@probe", "check", "scanimage"}, "check 0"},
    {"AnotherFrontEnd", {"@xsane", "run", "@probe", "check", "scanimage"}, "check 0"},
    {"ShorterNameIsAPrefix", {"@scan", "check", "scanimage"}, "check 1"},
    {"LongerNameIsNot", {"@scanimagex", "check", "scanimage"}, "check 0"},
    {"LauncherThroughAShell", {"@kelofsscanmanager", "run", "sh", "-c", "@probe button"}, "button 1"},
    {"LauncherPrefix", {"@kelofs", "button"}, "button 1"},
    {"LauncherLongerName", {"@kelofsscanmanagerd", "button"}, "button 0"},
    {"NoLauncher", {"@probe", "button"}, "button 0"},
};

INSTANTIATE_TEST_SUITE_P(Chains, ProcessChain, testing::ValuesIn(kChains),
                         [](const testing::TestParamInfo<ChainCase>& info) { return info.param.label; });

TEST(ProcessCheck, ParentOfAProcessAndOfOneThatIsGone) {
  EXPECT_EQ(GetPpid(getpid()), getppid());
  EXPECT_EQ(GetPpid(atoi(DeadPidText().c_str())), 0);
  EXPECT_FALSE(IsSpecifyProcess(atoi(DeadPidText().c_str()), "test_process_check"));
}

}  // namespace
