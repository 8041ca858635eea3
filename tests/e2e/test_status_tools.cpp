// dravngetscstatus and dravngetscerror run as a user runs them, against the
// staged main backend and the simulated scanners.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "dravn_paths.h"
#include "test_support.h"

namespace {

using dravn_test::MakeTempDir;
using dravn_test::RunResult;
using dravn_test::WriteFile;

const std::string kStatusTool = std::string(DRAVN_USR_BIN_DIR) + "/dravngetscstatus";
const std::string kErrorTool = std::string(DRAVN_USR_BIN_DIR) + "/dravngetscerror";
constexpr char kSelko2[] = "device selko2 2d4e:1301 bus=3 address=4\n";

// `machine`: what the staged uname answers (null: the system's own word).
// A run of a tool, with the transfers it made.
struct ToolRun : RunResult {
  std::string transcript;
};

ToolRun RunTool(const std::string& tool, const std::string& scenario, const char* machine = nullptr,
                const std::vector<std::string>& args = {}) {
  std::string dir = MakeTempDir("getsc");
  WriteFile(dir + "/scenario", scenario);
  auto env = dravn_test::SimEnv(dir + "/scenario");
  if (machine) env["DRAVN_FAKE_MACHINE"] = machine;
  env["DRAVN_SIM_TRANSCRIPT"] = dir + "/transcript";
  // Each run has its own exclusive table, as a user's session would.
  std::vector<std::string> argv{"unshare", "--ipc", tool};
  argv.insert(argv.end(), args.begin(), args.end());
  ToolRun r;
  static_cast<RunResult&>(r) = dravn_test::Run(argv, env, 60);
  r.transcript = dravn_test::ReadFile(dir + "/transcript");
  return r;
}

std::string Parent(const std::string& path) { return path.substr(0, path.rfind('/')); }

// Lays a path into the staged tree for one test and takes it away after;
// a path already there is left alone.
class StagedLink {
 public:
  StagedLink(const std::string& target, const std::string& link) : m_link(link) {
    if (access(link.c_str(), F_OK) == 0 || symlink(target.c_str(), link.c_str()) != 0) return;
    m_made = true;
  }
  ~StagedLink() {
    if (m_made) unlink(m_link.c_str());
  }
  StagedLink(const StagedLink&) = delete;
  StagedLink& operator=(const StagedLink&) = delete;

 private:
  std::string m_link;
  bool m_made = false;
};

// The architecture folder (…/<triplet>/sane) of a backend path, made to
// lead to `target` for one test.
class StagedArchFolder {
 public:
  StagedArchFolder(const std::string& backendPath, const std::string& target) {
    const std::string folder = Parent(backendPath);
    mkdir(Parent(folder).c_str(), 0755);
    m_link = std::make_unique<StagedLink>(target, folder);
  }

 private:
  std::unique_ptr<StagedLink> m_link;
};

// Hides a staged path for one test.
class Hidden {
 public:
  explicit Hidden(const std::string& path) : m_path(path) {
    m_hidden = rename(path.c_str(), (path + ".hidden").c_str()) == 0;
  }
  ~Hidden() {
    if (m_hidden) rename((m_path + ".hidden").c_str(), m_path.c_str());
  }
  Hidden(const Hidden&) = delete;
  Hidden& operator=(const Hidden&) = delete;

 private:
  std::string m_path;
  bool m_hidden = false;
};

// The value is the only thing on standard output; the top byte carries the
// cover and paper bits of the scanner's status reply.
TEST(StatusTools, Selko2PrintsItsValue) {
  struct Case {
    std::string tool, settings, value;
  } cases[] = {
      {kStatusTool, "", "0x00000000\n"},
      {kStatusTool, "set cover=open\n", "0x20000000\n"},
      {kStatusTool, "set paper=no\n", "0x80000000\n"},
      {kStatusTool, "set cover=open\nset paper=no\n", "0xA0000000\n"},
      {kErrorTool, "", "0x00000000\n"},
  };
  for (const auto& c : cases) {
    auto r = RunTool(c.tool, kSelko2 + c.settings);
    EXPECT_EQ(r.exitCode, 0) << c.tool << " " << c.settings << r.err;
    EXPECT_EQ(r.out, c.value) << c.tool << " " << c.settings;
    EXPECT_EQ(r.err, "") << c.tool << " " << c.settings;
  }
}

// The Docuvane road has no such option: the message names the last option
// examined, and the status is that of an invalid argument.
TEST(StatusTools, DeviceWithoutTheOptionAnswersFour) {
  for (const auto& [tool, name] : {std::pair{kStatusTool, "dravngetscstatus"}, {kErrorTool, "dravngetscerror"}}) {
    auto r = RunTool(tool, "device corvane 2d4e:1103 bus=3 address=10\n");
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(std::string(name) + ": get the value of option ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(" failed: Invalid argument\n"), std::string::npos) << r.err;
  }
}

// The backend answers an empty bus with an invalid argument, and that is the
// status the tool ends with.
TEST(StatusTools, NoScannerIsReported) {
  auto r = RunTool(kStatusTool, "# nothing attached\n");
  EXPECT_EQ(r.err, "dravngetscstatus: no SANE devices found\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.exitCode, 4);
}

// The tools take no arguments: help gets the usage, any other word the
// usage and an invalid argument; no scanner is opened either way.
TEST(StatusTools, ArgumentsGetTheUsage) {
  for (const auto& [tool, name] : {std::pair{kStatusTool, "dravngetscstatus"}, {kErrorTool, "dravngetscerror"}}) {
    for (const char* help : {"-h", "--help"}) {
      auto r = RunTool(tool, kSelko2, nullptr, {help});
      EXPECT_EQ(r.exitCode, 0) << name << help << r.err;
      EXPECT_EQ(r.out.rfind(std::string("Usage: ") + name + "\n", 0), 0u) << name << help << r.out;
      EXPECT_EQ(r.err, "") << name << help;
      EXPECT_EQ(r.transcript.find("open"), std::string::npos) << name << help;
    }
    auto r = RunTool(tool, kSelko2, nullptr, {"--status"});
    EXPECT_EQ(r.exitCode, 4) << name << r.err;
    EXPECT_EQ(r.out, "") << name;
    EXPECT_EQ(r.err.rfind(std::string(name) + ": unrecognized argument '--status'\nUsage: " + name + "\n", 0), 0u)
        << name << r.err;
    EXPECT_EQ(r.transcript.find("open"), std::string::npos) << name;
  }
}

// The machine word chooses the backend path. Each case lays into the staged
// tree only the paths it needs, so a loaded backend proves the path chosen.
TEST(StatusTools, MachineWordChoosesTheBackend) {
  const std::string backendDir = DRAVN_SANE_BACKEND_DIR;
  const std::string bogus = MakeTempDir("getsc-bogus");
  WriteFile(bogus + "/libsane-dravn.so", "not a library");
  struct Case {
    const char* label;
    const char* machine;
    bool withFirstMips, withSecondMips, withAarch64, withOther;
    int exitCode;
  } cases[] = {
      {"aarch64 with its folder", "aarch64", false, false, true, false, 0},
      {"aarch64 without its folder", "aarch64", false, false, false, false, 9},
      {"mips64, second path only", "mips64", false, true, false, false, 0},
      {"mips64, first path wins", "mips64", true, true, false, false, 9},
      {"mips64, no path", "mips64", false, false, false, false, 9},
      {"other, versioned path", "sparc64", false, false, false, true, 0},
      {"other, without it", "sparc64", false, false, false, false, 9},
      {"a word of none", "", false, false, false, true, 0},
  };
  for (const auto& c : cases) {
    std::unique_ptr<Hidden> hideAarch64 =
        c.withAarch64 ? nullptr : std::make_unique<Hidden>(Parent(DRAVN_SC_BACKEND_AARCH64));
    std::unique_ptr<StagedArchFolder> aarch64, mipsFirst, mipsSecond;
    std::unique_ptr<StagedLink> other;
    if (c.withAarch64) aarch64 = std::make_unique<StagedArchFolder>(DRAVN_SC_BACKEND_AARCH64, backendDir);
    if (c.withFirstMips) mipsFirst = std::make_unique<StagedArchFolder>(DRAVN_SC_BACKEND_MIPS64, bogus);
    if (c.withSecondMips) mipsSecond = std::make_unique<StagedArchFolder>(DRAVN_SC_BACKEND_MIPS64_OLD, backendDir);
    if (c.withOther) other = std::make_unique<StagedLink>("libsane-dravn.so.1", DRAVN_SC_BACKEND_OTHER);
    auto r = RunTool(kStatusTool, kSelko2, c.machine);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.label << "\n" << r.err;
    if (c.exitCode == 0)
      EXPECT_EQ(r.out, "0x00000000\n") << c.label;
    else
      EXPECT_EQ(r.err, "dravngetscstatus: SANE initialize failed\n") << c.label;
  }
}

TEST(StatusTools, MissingUnameOrNameEndsWithNine) {
  {
    const std::string uname = std::string(DRAVN_USR_BIN_DIR) + "/uname";
    chmod(uname.c_str(), 0644);
    auto r = RunTool(kErrorTool, kSelko2);
    chmod(uname.c_str(), 0755);
    EXPECT_EQ(r.exitCode, 9);
    EXPECT_EQ(r.err, "dravngetscerror: system command 'uname' is not found\n");
    EXPECT_EQ(r.out, "");
  }
  {
    StagedArchFolder mips(DRAVN_SC_BACKEND_MIPS64, BACKEND_WITHOUT_CLOSE_DIR);
    auto r = RunTool(kStatusTool, kSelko2, "mips64");
    EXPECT_EQ(r.exitCode, 9);
    EXPECT_EQ(r.err, "dravngetscstatus: SANE initialize failed\n");
  }
}

}  // namespace
