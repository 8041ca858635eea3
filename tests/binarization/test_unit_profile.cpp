// The unit profile reader, its utilities and the unit log.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>

#include "dravn_paths.h"
#include "test_support.h"
#include "unit_log.h"
#include "unit_profile.h"

namespace {

namespace fs = std::filesystem;

const char kProfile[] =
    "; the unit's settings\n"
    "[COMMON]\n"
    "  LogMode  =  \"1\"  \n"
    "\n"
    "   ; LogMode = 9\n"
    "Name = 'quoted value'\n"
    "Empty =\n"
    "NoEquals\n"
    "Long = abcdefghij\n"
    "[common]\n"
    "LogMode = 5\n"
    "[Other]\n"
    "Key = v\n";

class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = dravn_test::MakeTempDir("unit_profile");
    m_path = m_dir + "/I3ipBinarization.ini";
    dravn_test::WriteFile(m_path, kProfile);
  }
  void TearDown() override { fs::remove_all(m_dir); }
  std::string m_dir, m_path;
};

struct ReadCase {
  const char* section;
  const char* key;
  const char* fallback;
  int size;
  const char* value;
};

TEST_F(Profile, ReadsValues) {
  const ReadCase cases[] = {
      {"COMMON", "LogMode", nullptr, 64, "1"},          // blanks around "=", quotes
      {"common", "LogMode", nullptr, 64, "5"},          // section names keep their case
      {"COMMON", "Name", nullptr, 64, "quoted value"},  //
      {"COMMON", "Empty", "dflt", 64, ""},              // present with an empty value
      {"COMMON", "NoEquals", "dflt", 64, "dflt"},       // a key without "=" is not found
      {"COMMON", "Long", nullptr, 5, "abcd"},           // cut to size - 1
      {"COMMON", "Long", nullptr, 11, "abcdefghij"},    //
      {"COMMON", "Missing", "  'x y'  ", 64, "x y"},    // the default trimmed and unquoted
      {"COMMON", "Missing", "0123456789", 4, "012"},    // and cut
      {"COMMON", "Missing", nullptr, 64, ""},           //
      {"Other", "LogMode", "d", 64, "d"},               // only in another section
      {"Other", "Key", nullptr, 64, "v"},               //
      {"Absent", "Key", "d", 64, "d"},                  //
  };
  for (const ReadCase& c : cases) {
    char buffer[64];
    std::memset(buffer, 'z', sizeof buffer);
    const int n = GetPrivateProfileString(c.section, c.key, c.fallback, buffer, c.size, m_path.c_str());
    EXPECT_STREQ(buffer, c.value) << c.section << "/" << c.key;
    EXPECT_EQ(n, int(std::strlen(c.value))) << c.section << "/" << c.key;
  }
}

TEST_F(Profile, MissingFileAndNullArguments) {
  char buffer[16] = "junk";
  EXPECT_EQ(GetPrivateProfileString("COMMON", "LogMode", "d", buffer, 16, (m_dir + "/none.ini").c_str()), 1);
  EXPECT_STREQ(buffer, "d");
  EXPECT_EQ(GetPrivateProfileString("COMMON", "LogMode", nullptr, buffer, 16, (m_dir + "/none.ini").c_str()), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(GetPrivateProfileString("COMMON", "LogMode", "d", nullptr, 16, m_path.c_str()), 0);
  EXPECT_EQ(GetPrivateProfileString("COMMON", "LogMode", "d", buffer, 16, nullptr), 0);
}

struct ListCase {
  const char* section;
  int size;
  std::string list;  // with its NULs, the final one included
  int result;
};

TEST_F(Profile, ListsKeysAndSections) {
  const ListCase cases[] = {
      {"COMMON", 64, std::string("LogMode\0Name\0Empty\0NoEquals\0Long\0\0", 34), 32},
      {"COMMON", 12, std::string("LogMode\0Na\0\0", 12), 10},  // the name that does not fit is cut
      {"COMMON", 10, std::string("LogMode\0\0", 9), 7},        // no room for another name
      {nullptr, 64, std::string("COMMON\0common\0Other\0\0", 21), 19},
      {"Absent", 64, std::string("\0", 1), 0},
  };
  for (const ListCase& c : cases) {
    char buffer[64];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileString(c.section, nullptr, "d", buffer, c.size, m_path.c_str()), c.result);
    EXPECT_EQ(std::string(buffer, c.list.size()), c.list);
  }
}

TEST_F(Profile, Integers) {
  EXPECT_EQ(GetPrivateProfileInt("COMMON", "LogMode", 7, m_path.c_str()), 1);
  EXPECT_EQ(GetPrivateProfileInt("common", "LogMode", 7, m_path.c_str()), 5);
  EXPECT_EQ(GetPrivateProfileInt("COMMON", "Missing", 7, m_path.c_str()), 0);
  EXPECT_EQ(GetPrivateProfileInt("COMMON", "Empty", 7, m_path.c_str()), 7);
  EXPECT_EQ(GetPrivateProfileInt("COMMON", "LogMode", 7, (m_dir + "/none.ini").c_str()), 0);
}

TEST(ProfileUtilities, Strings) {
  struct Case {
    int (*fn)(char*);
    const char* in;
    const char* out;
    int result;
  };
  const Case cases[] = {
      {rmquotes, "\"ab\"", "ab", 1},     {rmquotes, "''", "", 1},          {rmquotes, "'ab\"", "'ab\"", 0},
      {rmquotes, "\"", "\"", 0},         {rmbrackets, "[S]", "S", 1},      {rmbrackets, "[]", "", 1},
      {rmbrackets, "[S", "[S", 0},       {strDelQuote, "'ab'", "ab", 0},   {strDelQuote, "\"\"", "\"\"", -1},
      {strDelQuote, "'a\"", "'a\"", -1}, {strDelQuote, "'a'", "a", 0},
  };
  for (const Case& c : cases) {
    char s[16];
    std::strcpy(s, c.in);
    EXPECT_EQ(c.fn(s), c.result) << c.in;
    EXPECT_STREQ(s, c.out) << c.in;
  }
  char a[] = " \t lead and trail \n ";
  EXPECT_STREQ(rmtrail(rmlead(a)), "lead and trail");
  char b[] = "  spaces\t  ";
  EXPECT_STREQ(strTrim(b), "spaces\t");
}

TEST(ProfileUtilities, Tokens) {
  char token[8];
  const char* s = "ab,cdefghijk";
  const char* next = stptok(s, token, sizeof token, ",");
  EXPECT_STREQ(token, "ab");
  EXPECT_EQ(next, s + 3);
  next = stptok(next, token, sizeof token, ",");
  EXPECT_STREQ(token, "cdefghi");  // size - 1 characters
  EXPECT_EQ(next, s + 10);
  next = stptok(next, token, sizeof token, ",");
  EXPECT_STREQ(token, "jk");
  EXPECT_EQ(stptok(next, token, sizeof token, ","), nullptr);
}

TEST(ProfileUtilities, FilesPathsAndTime) {
  FILE* f = nullptr;
  EXPECT_EQ(fopen_s(nullptr, "/dev/null", "r"), -1);
  EXPECT_EQ(fopen_s(&f, nullptr, "r"), -1);
  EXPECT_EQ(fopen_s(&f, "/nonexistent/x", "r"), -1);
  ASSERT_EQ(fopen_s(&f, "/dev/null", "r"), 0);
  fclose(f);

  char dir[PATH_MAX];
  ASSERT_EQ(getModulePath("any", dir), 0);
  // The loader records the program by the path it was started with.
  EXPECT_EQ(fs::canonical(dir), fs::canonical("/proc/self/exe").parent_path());

  char cwd[PATH_MAX], buffer[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(GetModuleFileName(nullptr, buffer, sizeof buffer), int(std::strlen(cwd)));
  EXPECT_STREQ(buffer, cwd);

  char when[64];
  getLocaleTime(when);
  EXPECT_TRUE(std::regex_match(when, std::regex(R"(\d{8} \d\d:\d\d:\d\d)"))) << when;
  EXPECT_EQ(GetTimeCounter() - GetTimeCounter(), 0u);
  EXPECT_EQ(GetTimeCounter(), 1000u);
}

// ---- the log ----

class Log : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = dravn_test::MakeTempDir("unit_log");
    fs::create_directories(DRAVN_LOG_DIR);
    m_log = std::string(DRAVN_LOG_DIR) + "/" + m_name;
    fs::remove(m_log);
  }
  void TearDown() override {
    fs::remove(m_log);
    fs::remove_all(m_dir);
    I3LogInitFrom("/nonexistent", "", "none");  // logging off again
  }
  void Init(const std::string& profile) {
    const std::string path = m_dir + "/unit.ini";
    dravn_test::WriteFile(path, profile);
    I3LogInitFrom(path.c_str(), DRAVN_LOG_DIR "/", m_name.c_str());
  }
  std::string m_dir, m_log;
  std::string m_name = "test_unit_log.log";
};

TEST_F(Log, Mode1WritesLinesIntoTheLogDirectory) {
  Init("[COMMON]\nLogMode = 1\n");
  EXPECT_EQ(I3LogMode(), 1);
  EXPECT_EQ(std::string(I3LogDirectory()), DRAVN_LOG_DIR "/");
  I3Log(I3LOG_INFO, "%s rc=%d", "iDTC::Process", 0);
  I3Log(I3LOG_ERROR, "second");
  const std::string text = dravn_test::ReadFile(m_log);
  char pid[16];
  std::snprintf(pid, sizeof pid, "0x%04X", unsigned(getpid()));
  const std::regex line(std::string(R"(\d{8} \d\d:\d\d:\d\d, )") + pid + R"(, 0x04, iDTC::Process rc=0\n)" +
                        R"(\d{8} \d\d:\d\d:\d\d, )" + pid + R"(, 0x01, second\n)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
  struct stat st {};
  ASSERT_EQ(stat(m_log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0777u);
}

TEST_F(Log, LongMessagesAreCut) {
  Init("[COMMON]\nLogMode=1\n");
  I3Log(I3LOG_TRACE, "%s", std::string(20000, 'x').c_str());
  const std::string text = dravn_test::ReadFile(m_log);
  EXPECT_NE(text.find(std::string(10239, 'x') + "\n"), std::string::npos);
  EXPECT_EQ(text.find(std::string(10240, 'x')), std::string::npos);
}

TEST_F(Log, OtherModesWriteNothing) {
  for (const char* profile : {"[COMMON]\nLogMode = 2\n", "[common]\nLogMode = 1\n", ""}) {
    Init(profile);
    I3Log(I3LOG_ERROR, "not written");
    EXPECT_FALSE(fs::exists(m_log)) << profile;
  }
  Init("[COMMON]\nLogMode = 2\n");
  EXPECT_EQ(I3LogMode(), 2);
  EXPECT_EQ(std::string(I3LogDirectory()), DRAVN_LOG_DIR "/");
  Init("");
  EXPECT_EQ(I3LogMode(), 0);
  EXPECT_EQ(std::string(I3LogDirectory()), "");
}

TEST_F(Log, APlantedLinkIsNotFollowed) {
  const std::string target = m_dir + "/precious";
  dravn_test::WriteFile(target, "keep\n");
  ASSERT_EQ(chmod(target.c_str(), 0600), 0);
  fs::create_symlink(target, m_log);
  Init("[COMMON]\nLogMode = 1\n");
  I3Log(I3LOG_ERROR, "through the link");
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(dravn_test::ReadFile(target), "keep\n");
}

TEST_F(Log, TheBinarizationUnitsProfile) {
  // The unit's own file in the staged package (the test holds its lock).
  const std::string profile = DRAVN_ETC_DIR "/I3ipBinarization.ini";
  const bool had = fs::exists(profile);
  const std::string saved = had ? dravn_test::ReadFile(profile) : "";
  fs::create_directories(DRAVN_ETC_DIR);
  dravn_test::WriteFile(profile, "[COMMON]\nLogMode = 2\n");
  I3LogInit();
  EXPECT_EQ(I3LogMode(), 2);
  EXPECT_EQ(std::string(I3LogDirectory()), DRAVN_LOG_DIR "/");
  if (had)
    dravn_test::WriteFile(profile, saved);
  else
    fs::remove(profile);
}

}  // namespace
