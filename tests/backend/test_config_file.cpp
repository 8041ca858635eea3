// dravn.conf: where it is looked for and which lines give device ids.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common_layer_util.h"
#include "config_file.h"
#include "dravn_paths.h"
#include "test_support.h"

namespace {

using common_layer_test::HideDirectory;
using common_layer_test::LogToStderr;
using common_layer_test::RunIsolated;
using common_layer_test::StderrCapture;
using Pairs = std::vector<std::pair<int, int>>;

Pairs AsPairs(const std::vector<kelo_cfg_info>& v) {
  Pairs out;
  for (const auto& c : v) out.emplace_back(c.iVendorId, c.iProductId);
  return out;
}

// A directory holding a dravn.conf with this text.
std::string ConfDir(const std::string& text) {
  std::string dir = dravn_test::MakeTempDir("conf");
  dravn_test::WriteFile(dir + "/dravn.conf", text);
  return dir;
}

std::string WorldConfDir(const std::string& text) {
  char name[] = "/tmp/dravn-conf-XXXXXX";
  if (!mkdtemp(name)) throw std::runtime_error("mkdtemp");
  chmod(name, 0755);
  dravn_test::WriteFile(std::string(name) + "/dravn.conf", text);
  return name;
}

class ConfigTest : public testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DRAVN_CONFIG_DIR");
    setenv("PWD", dravn_test::MakeTempDir("pwd").c_str(), 1);  // no file there
  }
  // Reads the pairs; the log of level 3 and below goes to `log`.
  int Read(Pairs* pairs, std::string* log = nullptr) {
    LogToStderr level(3);
    StderrCapture capture;
    std::vector<kelo_cfg_info> v;
    int status = SaveConfigFile(&v);
    std::string text = capture.Stop();
    if (log) *log = text;
    *pairs = AsPairs(v);
    return status;
  }
};

struct LineCase {
  const char* label;
  const char* line;
  Pairs pairs;
  const char* message;  // level-1 message, or "" for none
};
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.label; }

class ConfigLine : public ConfigTest, public testing::WithParamInterface<LineCase> {};

TEST_P(ConfigLine, GivesItsPairOrIsSkipped) {
  setenv("DRAVN_CONFIG_DIR", ConfDir(std::string(GetParam().line) + "\n").c_str(), 1);
  Pairs pairs;
  std::string log;
  EXPECT_EQ(Read(&pairs, &log), 0);
  EXPECT_EQ(pairs, GetParam().pairs);
  if (*GetParam().message)
    EXPECT_NE(log.find(std::string("[error] [KeloManagerUsb::GetUsbID] ") + GetParam().message), std::string::npos)
        << log;
  else
    EXPECT_EQ(log.find("[error]"), std::string::npos) << log;
  EXPECT_NE(log.find("read configure file EOF"), std::string::npos) << log;
}

const LineCase kLines[] = {
    {"Plain", "usb 0x2d4e 0x1101", {{0x2d4e, 0x1101}}, ""},
    {"TabsAndBlanks", "  \tusb\t\t0x2D4E  \t 0x1102 \t ", {{0x2d4e, 0x1102}}, ""},
    {"TextAfterTheIdsIgnored", "usb 0x2d4e 0x1103 # a comment", {{0x2d4e, 0x1103}}, ""},
    {"AutomaticBase", "usb 012345 123456", {{012345, 123456}}, ""},
    {"ShortVendor", "usb 0x2d4 0x1101", {}, "get Vendor id failed"},
    {"LongVendor", "usb 0x2d4e1 0x1101", {}, "get Vendor id failed"},
    {"LongProduct", "usb 0x2d4e 0x11011", {}, "get Product id failed"},
    {"MissingProduct", "usb 0x2d4e", {}, "get Product id failed"},
    {"CommentSign", "#usb 0x2d4e 0x1101", {}, ""},
    {"UsbGluedToAWord", "usbx 0x2d4e 0x1101", {}, ""},
    {"UsbAlone", "usb   ", {}, ""},
    {"OtherKeyword", "scsi 0x2d4e 0x1101", {}, ""},
    {"Blank", "", {}, ""},
};

INSTANTIATE_TEST_SUITE_P(Lines, ConfigLine, testing::ValuesIn(kLines),
                         [](const testing::TestParamInfo<LineCase>& info) { return info.param.label; });

TEST_F(ConfigTest, KeepsFileOrderAndSkipsOnlyBadLines) {
  setenv("DRAVN_CONFIG_DIR",
         ConfDir("# scanners\nusb 0x2d4e 0x1301\nusb 0x2d4 0x1302\nusb 0x2d4e 0x1101\nusb 0x2d4e 0x1301").c_str(), 1);
  Pairs pairs;
  EXPECT_EQ(Read(&pairs), 0);
  EXPECT_EQ(pairs, (Pairs{{0x2d4e, 0x1301}, {0x2d4e, 0x1101}, {0x2d4e, 0x1301}}));
}

TEST_F(ConfigTest, ConfigDirWinsOverWorkingDirectoryWithOrWithoutSlash) {
  setenv("PWD", ConfDir("usb 0x2d4e 0x1202\n").c_str(), 1);
  for (const std::string tail : {"", "/"}) {
    std::string dir = ConfDir("usb 0x2d4e 0x1201\n") + tail;
    setenv("DRAVN_CONFIG_DIR", dir.c_str(), 1);
    Pairs pairs;
    std::string log;
    EXPECT_EQ(Read(&pairs, &log), 0);
    EXPECT_EQ(pairs, (Pairs{{0x2d4e, 0x1201}})) << tail;
    EXPECT_NE(log.find("try to open:"), std::string::npos) << log;
  }
}

TEST_F(ConfigTest, ConfigDirWithoutTheFileOrTooLongFallsThroughToWorkingDirectory) {
  setenv("PWD", ConfDir("usb 0x2d4e 0x1202\n").c_str(), 1);
  std::string tooLong = ConfDir("usb 0x2d4e 0x1201\n") + std::string(4100, '/');
  for (const std::string& dir : {dravn_test::MakeTempDir("empty"), tooLong}) {
    setenv("DRAVN_CONFIG_DIR", dir.c_str(), 1);
    Pairs pairs;
    std::string log;
    EXPECT_EQ(Read(&pairs, &log), 0);
    EXPECT_EQ(pairs, (Pairs{{0x2d4e, 0x1202}}));
    EXPECT_NE(log.find("try to open current directory's configuration file"), std::string::npos) << log;
  }
  unsetenv("DRAVN_CONFIG_DIR");
  Pairs pairs;
  std::string log;
  EXPECT_EQ(Read(&pairs, &log), 0);
  EXPECT_EQ(pairs, (Pairs{{0x2d4e, 0x1202}}));
  EXPECT_NE(log.find("VELMORAK_CONFIG_DIR is NULL"), std::string::npos) << log;
}

TEST_F(ConfigTest, FileThatCannotBeReadIsPassedOver) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to take another user's rights";
  // Root reads any file: look as an unprivileged user. The folders lie in
  // /tmp, since the build tree's parents may be closed to that user.
  std::string dir = WorldConfDir("usb 0x2d4e 0x1201\n");
  chmod((dir + "/dravn.conf").c_str(), 0);
  std::string pwd = WorldConfDir("usb 0x2d4e 0x1202\n");
  setenv("DRAVN_CONFIG_DIR", dir.c_str(), 1);
  setenv("PWD", pwd.c_str(), 1);
  pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    std::vector<kelo_cfg_info> v;
    int status = SaveConfigFile(&v);
    _exit(status == 0 && v.size() == 1 && v[0].iProductId == 0x1202 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  dravn_test::Run({"rm", "-rf", dir, pwd});
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(ConfigTest, ReadErrorIsLoggedAndGivesNoPairs) {
  std::string dir = dravn_test::MakeTempDir("conf");
  mkdir((dir + "/dravn.conf").c_str(), 0755);  // opens, but reading fails
  setenv("DRAVN_CONFIG_DIR", dir.c_str(), 1);
  Pairs pairs;
  std::string log;
  EXPECT_EQ(Read(&pairs, &log), 0);
  EXPECT_TRUE(pairs.empty());
  EXPECT_NE(log.find("[error] [KeloManagerUsb::SaveConfigFile] read configure file failed"), std::string::npos) << log;
}

// The fixed places, in a private mount namespace so that the staged
// defaults can be hidden and replaced.
struct FixedCase {
  const char* label;
  bool etc, local, opt;  // which of the three directories hold a file
  int status;
  Pairs pairs;
};
void PrintTo(const FixedCase& c, std::ostream* os) { *os << c.label; }

class ConfigFixed : public ConfigTest, public testing::WithParamInterface<FixedCase> {};

TEST_P(ConfigFixed, TakesTheFirstFixedPlaceThatHasTheFile) {
  if (!RunIsolated({"--mount"})) return;
  struct Place {
    const char* dir;
    bool has;
    const char* text;
    const char* message;
  } places[] = {
      {DRAVN_SANE_ETC_DIR, GetParam().etc, "usb 0x2d4e 0x1101\n", "try to open /etc/ configuration file"},
      {DRAVN_SANE_LOCAL_ETC_DIR, GetParam().local, "usb 0x2d4e 0x1102\n", "try to open /usr/local/ configuration file"},
      {DRAVN_ETC_DIR, GetParam().opt, "usb 0x2d4e 0x1103\n", "try to open  /opt/dravn/etc/ configuration file"},
  };
  for (const Place& p : places) {
    std::string hidden = HideDirectory(p.dir);
    if (p.has) dravn_test::WriteFile(std::string(p.dir) + "/dravn.conf", p.text);
  }
  unsetenv("PWD");
  Pairs pairs;
  std::string log;
  EXPECT_EQ(Read(&pairs, &log), GetParam().status);
  EXPECT_EQ(pairs, GetParam().pairs);
  EXPECT_NE(log.find("CURRENT_FILE_ENV is NULL"), std::string::npos) << log;
  EXPECT_NE(log.find(places[0].message), std::string::npos) << log;
  if (GetParam().status != 0) {
    EXPECT_NE(log.find(places[2].message), std::string::npos) << log;
    EXPECT_NE(log.find("[error] [KeloManagerUsb::SaveConfigFile] open configure file failed"), std::string::npos)
        << log;
  }
}

const FixedCase kFixed[] = {
    {"SaneEtcFirst", true, true, true, 0, {{0x2d4e, 0x1101}}},
    {"LocalEtcNext", false, true, true, 0, {{0x2d4e, 0x1102}}},
    {"PackageEtcLast", false, false, true, 0, {{0x2d4e, 0x1103}}},
    {"NoneOpens", false, false, false, 4, {}},
};

INSTANTIATE_TEST_SUITE_P(Fixed, ConfigFixed, testing::ValuesIn(kFixed),
                         [](const testing::TestParamInfo<FixedCase>& info) { return info.param.label; });

}  // namespace
