// Backend log, USB trace log, error log and profile reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dravn_paths.h"
#include "log.h"
#include "profile.h"
#include "test_support.h"

using dravn_test::ListDir;
using dravn_test::ReadFile;
using dravn_test::StderrCapture;
using dravn_test::WriteFile;

namespace {


std::set<std::string> LogFiles(const std::string& prefix) {
  std::set<std::string> out;
  for (const auto& n : ListDir(DRAVN_LOG_DIR))
    if (n.rfind(prefix, 0) == 0) out.insert(n);
  return out;
}

std::string NewFileContent(const std::set<std::string>& before, const std::string& prefix) {
  for (const auto& n : LogFiles(prefix))
    if (!before.count(n)) return ReadFile(std::string(DRAVN_LOG_DIR) + "/" + n);
  return "<no new file>";
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(DRAVN_LOG_DIR, 0777);
    // Log file names carry the second they were made in: wait for a fresh
    // second so each test's file is its own.
    time_t now = time(nullptr);
    while (time(nullptr) == now) usleep(10000);
    m_before = LogFiles("dravn2log");
  }
  void TearDown() override {
    EndLog();
    unsetenv("DRAVN_DEBUG");
  }
  std::set<std::string> m_before;
};

struct DebugCase {
  const char* value;  // nullptr: unset
  const char* announce;  // expected standard-error line of StartLog
  int level;
  bool toStderr;
  bool toFile;
};

}  // namespace

TEST_F(LogTest, DebugVariableChoosesLevelAndOutput) {
  const DebugCase cases[] = {
      {nullptr, "", 0, false, false},
      {"0", "[DRAVN2] Debug: level(0) path(0) \n", 0, false, false},
      {"5", "[DRAVN2] Debug level is invalid!\n", 0, false, false},
      {"49", "[DRAVN2] Debug level is invalid!\n", 0, false, false},
      {"50", "[DRAVN2] Debug level is invalid!\n", 0, false, false},
      {"-5", "[DRAVN2] Debug: level(0) path(-5) \n", 0, false, false},
      {"30", "[DRAVN2] Debug: level(3) path(0) \n", 3, true, false},
      {"41", "[DRAVN2] Debug: level(4) path(1) \n", 4, false, true},
      {"42", "[DRAVN2] Debug: level(4) path(2) \n", 4, true, true},
      {"12", "[DRAVN2] Debug: level(1) path(2) \n", 1, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    if (c.value)
      setenv("DRAVN_DEBUG", c.value, 1);
    else
      unsetenv("DRAVN_DEBUG");
    auto before = LogFiles("dravn2log");
    std::string err;
    {
      StderrCapture cap;
      StartLog();
      for (int level = 1; level <= 4; ++level) WriteLog(level, "Test::Levels", ("message " + std::to_string(level)).c_str());
      EndLog();
      err = cap.Stop();
    }
    EXPECT_EQ(GetLogLevel(), c.level);
    ASSERT_EQ(err.substr(0, strlen(c.announce)), c.announce);
    std::string logged = err.substr(strlen(c.announce));
    for (int level = 1; level <= 4; ++level) {
      bool expected = level <= c.level;
      std::string msg = "message " + std::to_string(level) + " \n";
      EXPECT_EQ(logged.find(msg) != std::string::npos, expected && c.toStderr) << logged;
    }
    std::string file = NewFileContent(before, "dravn2log");
    if (c.toFile) {
      EXPECT_NE(file.find("message " + std::to_string(c.level) + " \n"), std::string::npos) << file;
      EXPECT_EQ(file.find("message " + std::to_string(c.level + 1)), std::string::npos);
    } else {
      EXPECT_EQ(file, "<no new file>");
    }
    // A new second for the next case's file.
    time_t now = time(nullptr);
    while (c.toFile && time(nullptr) == now) usleep(10000);
  }
}

TEST_F(LogTest, LineFormatAndLevelWords) {
  setenv("DRAVN_DEBUG", "40", 1);
  StderrCapture cap;
  StartLog();
  WriteLog(1, "A::B", "e");
  WriteLog(2, "A::B", "start");
  WriteLog(3, "A::B", "v=1");
  WriteLog(4, "A::B", "detail");
  std::string err = cap.Stop();
  const std::regex line(R"(\[DRAVN2\] \[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[(\w+)\] \[A::B\] (\S+) \n)");
  std::vector<std::pair<std::string, std::string>> seen;
  for (std::sregex_iterator it(err.begin(), err.end(), line), end; it != end; ++it)
    seen.emplace_back((*it)[1], (*it)[2]);
  std::vector<std::pair<std::string, std::string>> expected = {
      {"error", "e"}, {"trace", "start"}, {"debug", "v=1"}, {"trace", "detail"}};
  EXPECT_EQ(seen, expected) << err;
}

TEST_F(LogTest, MainBackendIdentity) {
  SetLogIdentity("DRAVN", "dravnlog");
  setenv("DRAVN_DEBUG", "57", 1);
  StderrCapture cap;
  StartLog();
  std::string invalid = cap.Stop();
  EXPECT_EQ(invalid, "[DRAVN] Debug level is invalid!\n");
  setenv("DRAVN_DEBUG", "11", 1);
  auto before = LogFiles("dravnlog");
  StartLog();
  WriteLog(1, "sane_dravn_init", "x");
  EndLog();
  std::string file = NewFileContent(before, "dravnlog");
  EXPECT_EQ(file.rfind("[DRAVN] [", 0), 0u) << file;
  SetLogIdentity("DRAVN2", "dravn2log");
}

TEST_F(LogTest, LogFileIsNewWithModeAndNeverFollowsALink) {
  setenv("DRAVN_DEBUG", "11", 1);
  StartLog();
  WriteLog(1, "F", "m");
  EndLog();
  auto files = LogFiles("dravn2log");
  std::string made;
  for (const auto& n : files)
    if (!m_before.count(n)) made = n;
  ASSERT_FALSE(made.empty());
  struct stat st;
  ASSERT_EQ(stat((std::string(DRAVN_LOG_DIR) + "/" + made).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0777u);

  // A link planted under the names of the next seconds must not be followed.
  std::string target = dravn_test::MakeTempDir("victim") + "/victim";
  WriteFile(target, "keep");
  std::vector<std::string> links;
  for (int s = 0; s < 3; ++s) {
    time_t t = time(nullptr) + s;
    struct tm tmv;
    localtime_r(&t, &tmv);
    char name[256];
    snprintf(name, sizeof name, "%s/dravn2log%04d%02d%02d_%02d%02d%02d.txt", DRAVN_LOG_DIR, tmv.tm_year + 1900,
             tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
    unlink(name);
    ASSERT_EQ(symlink(target.c_str(), name), 0);
    links.push_back(name);
  }
  StartLog();
  WriteLog(1, "F", "through the link");
  EndLog();
  for (const auto& l : links) unlink(l.c_str());
  EXPECT_EQ(ReadFile(target), "keep");
}

// The log directory and the one above it are made when missing, open to
// all; where nothing can be made, nothing is logged, not even to standard
// error, and no error-log file or trace log is written.
TEST(LogFolder, MadeWhenMissingAndNothingLoggedWhenItCannotBe) {
  for (bool readOnly : {false, true}) {
    SCOPED_TRACE(readOnly ? "read-only" : "writable");
    // Each case in a mount namespace of its own, with an empty directory
    // laid over the one that holds the log directory's parent.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const std::string logDir = DRAVN_LOG_DIR;
      const std::string parent = logDir.substr(0, logDir.rfind('/'));
      const std::string grand = parent.substr(0, parent.rfind('/'));
      const std::string empty = dravn_test::MakeTempDir("logroot");
      if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          mount(empty.c_str(), grand.c_str(), nullptr, MS_BIND, nullptr) != 0)
        _exit(10);
      if (readOnly && mount(nullptr, grand.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) _exit(11);
      setenv("DRAVN_DEBUG", "12", 1);
      StderrCapture cap;
      StartLog();
      WriteLog(1, "F", "to both");
      EndLog();
      WriteErrorLogFile(0x2B);
      g_iUsbLevelLog = 1;
      StartUsbLog();
      unsigned char cdb[16] = {};
      WriteUsbLog(cdb, 16, USBLOG_COMMAND_OUT);
      EndUsbLog();
      std::string err = cap.Stop();
      struct stat st;
      if (readOnly) {
        if (err != "[DRAVN2] Debug: level(1) path(2) \n") _exit(12);
        if (stat(parent.c_str(), &st) == 0) _exit(13);
        _exit(0);
      }
      if (err.find("] [error] [F] to both \n") == std::string::npos) _exit(20);
      for (const std::string& d : {parent, logDir})
        if (stat(d.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || (st.st_mode & 07777) != 0777) _exit(21);
      const auto made = ListDir(logDir);
      int files = 0;
      for (const char* prefix : {"dravn2log", "dravnerrorlog_", "dravnusblog"})
        for (const auto& n : made) files += n.rfind(prefix, 0) == 0;
      _exit(files == 3 ? 0 : 22);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
}

TEST_F(LogTest, TwoThreadsNeverMixALine) {
  setenv("DRAVN_DEBUG", "21", 1);
  StartLog();
  auto writer = [](char c) {
    for (int i = 0; i < 300; ++i) {
      char* msg = SetMessage();
      std::string text(200, c);
      snprintf(msg, 4096, "%s", text.c_str());
      WriteLog(1, "T", msg);
    }
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  EndLog();
  std::string file = NewFileContent(m_before, "dravn2log");
  std::istringstream in(file);
  std::string line;
  int lines = 0;
  const std::regex ok(R"(\[DRAVN2\] \[[^\]]+\] \[error\] \[T\] (a{200}|b{200}) )");
  while (std::getline(in, line)) {
    ++lines;
    EXPECT_TRUE(std::regex_match(line, ok)) << line;
  }
  EXPECT_EQ(lines, 600);
}

TEST_F(LogTest, OverlongMessageIsCutToOneLine) {
  setenv("DRAVN_DEBUG", "10", 1);
  StderrCapture cap;
  StartLog();
  std::string huge(10000, 'x');
  WriteLog(1, "F", huge.c_str());
  std::string err = cap.Stop();
  std::string body = err.substr(err.find('\n') + 1);
  EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 1);
  EXPECT_LE(body.size(), 4096u);
}

namespace {

std::vector<unsigned char> Cdb(unsigned char op, unsigned char sub, unsigned param = 0) {
  std::vector<unsigned char> c(16, 0);
  c[4] = op;
  c[6] = sub;
  c[8] = param & 0xFF;
  c[9] = param >> 8;
  return c;
}

}  // namespace

TEST(CdbNames, Table) {
  struct Row {
    unsigned char op, sub;
    unsigned param;
    const char* name;
  } rows[] = {
      {0x12, 0x02, 0, "Get Hardware Status"}, {0x12, 0x7A, 9, "Get Hardware Status Ext"},
      {0x14, 0x04, 0, "Scan"},               {0x14, 0x05, 0, "Calibrate Device"},
      {0x14, 0x06, 0, "Stop Scan"},          {0x14, 0x07, 0, "Abort Scan"},
      {0x2A, 0x09, 0, "Set Window"},         {0x2A, 0x10, 0, "Set Nvram"},
      {0x2A, 0x78, 1, "Lock Scanner"},       {0x2A, 0x78, 2, "Unlock Scanner"},
      {0x2A, 0x78, 3, "Unknow"},             {0x28, 0x10, 0, "Get Nvram"},
      {0x28, 0x78, 1, "Lock Scanner"},       {0x28, 0x78, 2, "Unknow"},
      {0x28, 0x04, 0, "Read"},               {0x12, 0x04, 0, "Unknow"},
      {0x00, 0x00, 0, "Unknow"},
  };
  for (const auto& r : rows) {
    auto c = Cdb(r.op, r.sub, r.param);
    EXPECT_STREQ(ConvertCDBCommand(c.data()), r.name) << std::hex << int(r.op) << " " << int(r.sub);
  }
  EXPECT_STREQ(ConvertCDBCommand(nullptr), "Unknow");
}

TEST_F(LogTest, UsbTraceLog) {
  auto before = LogFiles("dravnusblog");
  g_iUsbLevelLog = 1;
  StartUsbLog();
  auto read = Cdb(0x28, 0x04);
  std::vector<unsigned char> page(20, 0xAB), status(32, 0x01), data20(20), empty(1);
  for (int i = 0; i < 20; ++i) data20[i] = static_cast<unsigned char>(i);
  WriteUsbLog(read.data(), 16, USBLOG_COMMAND_OUT);
  WriteUsbLog(page.data(), 20, USBLOG_DATA_IN);    // page data: not traced at all
  WriteUsbLog(status.data(), 32, USBLOG_STATUS_IN);  // still dumped
  auto nv = Cdb(0x28, 0x10);
  WriteUsbLog(nv.data(), 16, USBLOG_COMMAND_OUT);
  WriteUsbLog(data20.data(), 20, USBLOG_DATA_IN);
  WriteUsbLog(data20.data(), 20, USBLOG_DATA_OUT);
  WriteUsbLog(empty.data(), 0, USBLOG_DATA_OUT);
  WriteUsbLog(nullptr, 4, USBLOG_DATA_OUT);
  WriteUsbLog(data20.data(), 4, 5);
  EndUsbLog();
  g_iUsbLevelLog = 0;
  std::string log = NewFileContent(before, "dravnusblog");
  // Replace the time stamps to compare the rest exactly.
  log = std::regex_replace(log, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{3})"), "T");
  const std::string dump20 =
      "                 :00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n"
      "                 :10 11 12 13 \n";
  const std::string expected =
      "- OUT -    T\n[Command] : Read\n            CDB  :00 00 00 00 28 00 04 00 00 00 00 00 00 00 00 00 \n"
      "- IN -    T\n            Status [Receive]\n"
      "                 :01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 \n"
      "                 :01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 \n"
      "- OUT -    T\n[Command] : Get Nvram\n            CDB  :00 00 00 00 28 00 10 00 00 00 00 00 00 00 00 00 \n"
      "- IN -    T\n            Data [Receive]\n" + dump20 +
      "- OUT -    T\n            Data [Send]\n" + dump20 +
      "- OUT -    T\n            Data [Send]\n\n";
  EXPECT_EQ(log, expected);
}

TEST_F(LogTest, UsbTraceLogStaysClosedUnlessAskedFor) {
  auto before = LogFiles("dravnusblog");
  g_iUsbLevelLog = 0;
  StartUsbLog();
  EndUsbLog();
  EXPECT_EQ(LogFiles("dravnusblog"), before);
}

TEST_F(LogTest, ErrorLogFile) {
  auto before = LogFiles("dravnerrorlog_");
  WriteErrorLogFile(0x2B);
  std::string made;
  for (const auto& n : LogFiles("dravnerrorlog_"))
    if (!before.count(n)) made = n;
  ASSERT_FALSE(made.empty());
  std::string path = std::string(DRAVN_LOG_DIR) + "/" + made;
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  std::string text = ReadFile(path);
  EXPECT_EQ(text.rfind("0x002B", 0), 0u);
  EXPECT_GT(text.size(), 7u);  // a backtrace follows
}

TEST(Profile, Lookup) {
  std::string dir = dravn_test::MakeTempDir("profile");
  std::string path = dir + "/dravn.ini";
  WriteFile(path,
            "[First]\n"
            "UsbOpenSleep = 1 \n"
            "Two=equals=here\n"
            "NoSeparator\n"
            "  Spaced Key\t=\t value with blanks  \n"
            "Empty=\n"
            "[Second]\n"
            "UsbOpenSleep=7\n"
            "Two=2\n"
            "lower=5\n");
  struct Case {
    const char* key;
    int def;
    int expected;
  } ints[] = {
      {"UsbOpenSleep", 9, 1},  // first occurrence wins, sections ignored
      {"Two", 9, 2},           // a line with two "=" is skipped
      {"Missing", 9, 9},
      {"Empty", 9, 9},
      {"LOWER", 9, 9},         // keys are case-sensitive
  };
  for (const auto& c : ints) EXPECT_EQ(GetPrivateProfileInt("Second", c.key, c.def, path.c_str()), c.expected) << c.key;
  char buf[64] = "untouched";
  EXPECT_EQ(GetPrivateProfileString("", "Spaced Key", "d", buf, sizeof buf, path.c_str()), 0);
  EXPECT_STREQ(buf, "value with blanks");
  strcpy(buf, "untouched");
  EXPECT_EQ(GetPrivateProfileString("", "Missing", "d", buf, sizeof buf, path.c_str()), 0);
  EXPECT_STREQ(buf, "untouched");
  EXPECT_EQ(GetPrivateProfileString("", "Missing", "dflt", buf, sizeof buf, (dir + "/none").c_str()), -1);
  EXPECT_STREQ(buf, "dflt");
  EXPECT_EQ(GetPrivateProfileInt("", "UsbOpenSleep", 4, (dir + "/none").c_str()), 4);
  char small[4];
  GetPrivateProfileString("", "Spaced Key", "", small, sizeof small, path.c_str());
  EXPECT_EQ(std::string(small, 4), "valu");  // bounded by the buffer
}
