// The settings file entries of the staged libdevwatch, bound by name,
// against consumablessettings.xml fixtures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "devwatch_test_util.h"

// Stands in for libxml2's memory report, which the library binds through
// this program's exports: what the settings file held when it ran.
std::vector<std::string> g_memoryDumps;
const std::string* g_dumpWatched = nullptr;
extern "C" __attribute__((visibility("default"))) void xmlMemoryDump(void) {
  g_memoryDumps.push_back(g_dumpWatched ? dravn_test::ReadFile(*g_dumpWatched) : "");
}

namespace {

using devwatch_test::Bench;
using devwatch_test::Bind;

const std::string kFile =
    std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") +
    "<Settings>\n"
    "  <Version>2.4.0</Version>\n"
    "  <!-- a comment among the children -->\n"
    "  <Copyright>Copyright text</Copyright>\n"
    "  <dunmod1200><TotalCounter>7</TotalCounter><PowerSaving>A</PowerSaving><Pause></Pause>"
    "<POWEROFFTIMER>1</POWEROFFTIMER></dunmod1200>\n"
    "  <DunmoD1200><SaveRestore>1</SaveRestore></DunmoD1200>\n"
    "  <Long>" + std::string(300, 'x') + "</Long>\n"
    "</Settings>\n";

class DvwcSettingsFile : public testing::Test {
 protected:
  void SetUp() override {
    m_bench.Scenario("");
    m_d = devwatch_test::Load();
    ASSERT_NE(m_d.handle, nullptr);
    Bind(m_d.handle, Get, "dvwc_GetXMLSettings");
    Bind(m_d.handle, Get2, "dvwc_GetXMLSettings2");
    Bind(m_d.handle, Set, "dvwc_SetXMLSettings");
    m_path = m_bench.Dir() + "/consumablessettings.xml";
    dravn_test::WriteFile(m_path, kFile);
  }
  void TearDown() override { devwatch_test::Unload(m_d); }
  Bench m_bench;
  devwatch_test::Dvwc m_d;
  std::string m_path;
  int (*Get)(const char*, const char*, short, const char*) = nullptr;
  const char* (*Get2)(const char*, const char*, const char*) = nullptr;
  int (*Set)(const char*, const char*, short, const char*) = nullptr;
};

TEST_F(DvwcSettingsFile, ReadsTheFirstCharacterOfTheFirstMatchingModel) {
  struct Case {
    const char* model;
    const char* key;
    int value;
  } cases[] = {
      {"DunmoD1200", "TotalCounter", 7},
      {"DunmoD1200", "PowerSaving", 17},  // 'A' - '0'
      {"DunmoD1200", "Pause", -48},       // empty: the terminating zero
      {"DunmoD1200", "powerofftimer", 1},  // names without regard to case
      // Only the first element named like the model is searched.
      {"DunmoD1200", "SaveRestore", -5},
      {"DunmoD1600", "TotalCounter", -5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.model) + "/" + c.key);
    EXPECT_EQ(Get(c.model, c.key, -5, m_path.c_str()), c.value);
    EXPECT_EQ(m_d.GetErrorInfo(), 0u);
  }
  EXPECT_EQ(Get("DunmoD1200", "TotalCounter", 3, (m_bench.Dir() + "/none.xml").c_str()), 3);
  EXPECT_EQ(m_d.GetErrorInfo(), 4u);
  EXPECT_EQ(Get(nullptr, "TotalCounter", 3, m_path.c_str()), 3);
  EXPECT_EQ(m_d.GetErrorInfo(), 9u);
  dravn_test::WriteFile(m_path, "<Settings><unclosed></Settings>");
  EXPECT_EQ(Get("DunmoD1200", "TotalCounter", 3, m_path.c_str()), 3);
}

TEST_F(DvwcSettingsFile, TextsOfTheRootChildren) {
  EXPECT_STREQ(Get2("Version", "none", m_path.c_str()), "2.4.0");
  EXPECT_STREQ(Get2("copyright", "none", m_path.c_str()), "Copyright text");
  EXPECT_STREQ(Get2("Missing", "fallback", m_path.c_str()), "fallback");
  // Cut so that the terminating zero fits.
  EXPECT_EQ(std::string(Get2("Long", "", m_path.c_str())), std::string(255, 'x'));
  const char* def = "mine";
  EXPECT_EQ(Get2(nullptr, def, m_path.c_str()), def);
  EXPECT_EQ(m_d.GetErrorInfo(), 9u);
  EXPECT_EQ(Get2("Version", def, (m_bench.Dir() + "/none.xml").c_str()), def);
  EXPECT_EQ(m_d.GetErrorInfo(), 4u);
}

TEST_F(DvwcSettingsFile, SetRewritesTheFileThroughARename) {
  struct stat before, after;
  ASSERT_EQ(stat(m_path.c_str(), &before), 0);
  EXPECT_EQ(Set("DunmoD1200", "TotalCounter", 0, m_path.c_str()), 1);
  EXPECT_EQ(Get("DunmoD1200", "TotalCounter", -5, m_path.c_str()), 0);
  ASSERT_EQ(stat(m_path.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);  // a new file took the name
  EXPECT_EQ(after.st_mode & 0777, before.st_mode & 0777);
  EXPECT_EQ(Set("dunmod1200", "pause", 1, m_path.c_str()), 1);
  EXPECT_EQ(Get("DunmoD1200", "Pause", -5, m_path.c_str()), 1);

  // Value 2 changes nothing but still rewrites, formatted.
  dravn_test::WriteFile(m_path, "<S><DunmoD1200><Pause>1</Pause></DunmoD1200></S>");
  EXPECT_EQ(Set("DunmoD1200", "Pause", 2, m_path.c_str()), 0);
  EXPECT_EQ(dravn_test::ReadFile(m_path),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<S>\n  <DunmoD1200>\n    <Pause>1</Pause>\n"
            "  </DunmoD1200>\n</S>\n");
  EXPECT_EQ(Set("DunmoD1200", "Missing", 1, m_path.c_str()), 0);
  EXPECT_EQ(Set("DunmoD1200", "Pause", 1, (m_bench.Dir() + "/none.xml").c_str()), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 4u);
  EXPECT_EQ(access((m_bench.Dir() + "/none.xml").c_str(), F_OK), -1);  // never created
  EXPECT_EQ(Set("DunmoD1200", nullptr, 1, m_path.c_str()), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 9u);
}

TEST_F(DvwcSettingsFile, AFailedSaveLeavesTheFileWhole) {
  // A writable file in a folder the caller cannot write into: the temporary
  // file cannot be made, and the file stays as it was. Root writes
  // anywhere, so a root run makes the call as an unprivileged user.
  std::string dir = m_bench.Dir() + "/ro";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  std::string path = dir + "/consumablessettings.xml";
  dravn_test::WriteFile(path, kFile);
  const uid_t nobody = 65534;
  if (geteuid() == 0) {
    ASSERT_EQ(chown(path.c_str(), nobody, nobody), 0);
    ASSERT_EQ(chmod(m_bench.Dir().c_str(), 0755), 0);
  }
  ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0)) _exit(2);
    _exit(Set("DunmoD1200", "TotalCounter", 0, path.c_str()) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(dravn_test::ReadFile(path), kFile);
  chmod(dir.c_str(), 0755);
}

// The memory report comes once per write that had a document, after the
// file was rewritten and the parser let go; reads and refused writes make none.
TEST_F(DvwcSettingsFile, AWriteEndsWithTheMemoryReport) {
  g_dumpWatched = &m_path;
  g_memoryDumps.clear();
  EXPECT_EQ(Get("DunmoD1200", "TotalCounter", -5, m_path.c_str()), 7);
  EXPECT_STREQ(Get2("Version", "none", m_path.c_str()), "2.4.0");
  EXPECT_TRUE(g_memoryDumps.empty());
  EXPECT_EQ(Set("DunmoD1200", "TotalCounter", 0, m_path.c_str()), 1);
  ASSERT_EQ(g_memoryDumps.size(), 1u);
  EXPECT_NE(g_memoryDumps[0].find("<TotalCounter>0</TotalCounter>"), std::string::npos) << g_memoryDumps[0];
  EXPECT_EQ(Set("DunmoD1200", "TotalCounter", 2, m_path.c_str()), 0);  // nothing set, still rewritten
  EXPECT_EQ(g_memoryDumps.size(), 2u);
  EXPECT_EQ(Set("DunmoD1200", nullptr, 1, m_path.c_str()), 0);
  dravn_test::WriteFile(m_path, "not xml");
  EXPECT_EQ(Set("DunmoD1200", "TotalCounter", 1, m_path.c_str()), 0);
  EXPECT_EQ(g_memoryDumps.size(), 2u);
  g_dumpWatched = nullptr;
}

}  // namespace
