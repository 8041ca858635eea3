// The settings blob files over the recording stand-in: byte-exact files,
// the pattern value, the search for the letters, and files or writes that
// must not be trusted.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "dev_set_ctrl.h"
#include "engine_fake.h"
#include "mqcontrol_context.h"
#include "test_support.h"

namespace {

using namespace engine_test;

Bytes Blob(const Bytes& data) {
  Bytes b{static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size()), 0, 1};
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

Bytes Counting(size_t n, uint8_t from) {
  Bytes b(n);
  for (size_t k = 0; k < n; ++k) b[k] = static_cast<uint8_t>(from + k);
  return b;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const Bytes kMark{'I', 'M', 'F', 'F'};

class Files : public testing::Test {
 protected:
  void SetUp() override {
    UseFake("Tavrin3T1000");
    g_fake.settings = Counting(40, 1);
    g_fake.pattern = Counting(60, 100);
    g_fake.working = DevicePattern();
  }
  void TearDown() override {
    EndDevice();
    dravn_test::Run({"rm", "-rf", m_dir});
  }
  std::string Path(const char* name) const { return m_dir + "/" + name; }
  void Write(const char* name, const Bytes& bytes) const {
    dravn_test::WriteFile(Path(name), std::string(bytes.begin(), bytes.end()));
  }
  Bytes Read(const char* name) const {
    std::string s = dravn_test::ReadFile(Path(name));
    return Bytes(s.begin(), s.end());
  }
  std::string m_dir = dravn_test::MakeTempDir("mqfiles");
};

TEST_F(Files, SaveAndRestoreByteExact) {
  ASSERT_EQ(g_CDevSetCtrl.SaveEEPROMData(Path("one").c_str()), 0);
  EXPECT_EQ(Read("one"), Blob(g_fake.settings));
  // Bytes 50-51 of the pattern blob (its data bytes 46-47) are 146 and 147.
  ASSERT_EQ(g_CDevSetCtrl.SaveEEPROMData2(Path("two").c_str()), 146 * 256 + 147);
  const Bytes two = Cat({Blob(g_fake.settings), kMark, Blob(g_fake.pattern), Bytes(4, 0)});
  EXPECT_EQ(Read("two"), two);

  g_fake.calls.clear();
  ASSERT_EQ(g_CDevSetCtrl.RestoreEEPROMData(Path("one").c_str()), 0);
  EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"SetSOPSettingsData 44", "LockEEPROM", "GetEEPROM 512"}));
  EXPECT_EQ(g_fake.puts, std::vector<Bytes>{Blob(g_fake.settings)});
  EXPECT_EQ(Bytes(g_byEEPData, g_byEEPData + 512), DevicePattern());
  EXPECT_EQ(g_nReadEEPSize, 512);

  g_fake.calls.clear();
  g_fake.puts.clear();
  ASSERT_EQ(g_CDevSetCtrl.RestoreEEPROMData2(Path("two").c_str()), 146 * 256 + 147);
  EXPECT_EQ(g_fake.calls,
            (std::vector<std::string>{"SetSOPSettingsData 44", "SetIMFFPatternData 64", "GetEEPROM 512"}));
  EXPECT_EQ(g_fake.puts, (std::vector<Bytes>{Blob(g_fake.settings), Blob(g_fake.pattern)}));
}

TEST_F(Files, RestoreSearchesForTheLastLettersWithinTheFile) {
  const Bytes settings = Blob(Counting(10, 1));
  struct Case {
    const char* what;
    Bytes file;
    int result;
    std::vector<std::string> calls;
  } cases[] = {
      {"no letters: the settings blob alone",
       Cat({settings, Bytes(60, 0)}),
       0,
       {"SetSOPSettingsData 14", "GetEEPROM 512"}},
      // The letters again inside the pattern data: the last gives len2
      // (0x0030 + 4), the blob still starts after the first.
      {"letters twice",
       Cat({settings, kMark, Blob(Cat({Counting(46, 1), {0x12, 0x34}, kMark, {0x00, 0x30}}))}),
       0x1234,
       {"SetSOPSettingsData 14", "SetIMFFPatternData 52", "GetEEPROM 512"}},
      // Letters with fewer than six bytes left are not examined.
      {"letters at the end",
       Cat({settings, Bytes(60, 0), kMark, {0x00}}),
       0,
       {"SetSOPSettingsData 14", "GetEEPROM 512"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseFake("Tavrin3T1000");
    Write("f", c.file);
    EXPECT_EQ(g_CDevSetCtrl.RestoreEEPROMData2(Path("f").c_str()), c.result);
    EXPECT_EQ(g_fake.calls, c.calls);
  }
}

TEST_F(Files, RestoreLengthsAreHeldAgainstTheFileBeforeAnyDeviceCall) {
  const Bytes settings = Blob(Counting(10, 1));
  struct Case {
    const char* what;
    Bytes file;
  } cases[] = {
      {"one byte", {0x00}},
      {"settings blob longer than the file", Cat({{0x01, 0x00, 0, 1}, Counting(20, 0)})},
      {"pattern blob longer than the file", Cat({settings, kMark, {0x01, 0x00, 0, 1}, Counting(60, 0)})},
      {"value past the end", Cat({settings, kMark, {0x00, 0x02, 0, 1}, {7, 7}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseFake("Tavrin3T1000");
    Write("f", c.file);
    EXPECT_EQ(g_CDevSetCtrl.RestoreEEPROMData2(Path("f").c_str()), -3);
    EXPECT_TRUE(g_fake.calls.empty());
  }
  EXPECT_EQ(g_CDevSetCtrl.RestoreEEPROMData2(Path("missing").c_str()), -3);
  EXPECT_EQ(g_CDevSetCtrl.RestoreEEPROMData(Path("missing").c_str()), -3);
  EXPECT_EQ(g_CDevSetCtrl.RestoreEEPROMData(m_dir.c_str()), -3);
  EXPECT_TRUE(g_fake.calls.empty());
}

TEST_F(Files, RefusalsAndMissingEntries) {
  Write("one", Blob(Counting(10, 1)));
  Write("two", Cat({Blob(Counting(10, 1)), kMark, Blob(Counting(60, 0)), Bytes(4, 0)}));
  for (int answer : {-1, -2}) {
    g_fake.putAnswer = answer;
    g_fake.calls.clear();
    EXPECT_EQ(g_CDevSetCtrl.RestoreEEPROMData(Path("one").c_str()), answer);
    EXPECT_EQ(g_fake.calls.size(), 1u);
    EXPECT_EQ(g_CDevSetCtrl.RestoreEEPROMData2(Path("two").c_str()), answer);
  }
  g_fake.putAnswer = 1;  // anything else is accepted
  EXPECT_EQ(g_CDevSetCtrl.RestoreEEPROMData(Path("one").c_str()), 0);
  g_fake.failRead = true;
  EXPECT_EQ(g_CDevSetCtrl.RestoreEEPROMData(Path("one").c_str()), -1);
  EXPECT_EQ(g_CDevSetCtrl.RestoreEEPROMData2(Path("one").c_str()), -1);

  UseFake("Tavrin3T1000", Variant::Bare);
  EXPECT_EQ(g_CDevSetCtrl.RestoreEEPROMData(Path("one").c_str()), -5);
  EXPECT_EQ(g_CDevSetCtrl.RestoreEEPROMData2(Path("two").c_str()), -5);
  EXPECT_TRUE(g_fake.calls.empty());
}

TEST_F(Files, ACutBackupIsReportedAndRemoved) {
  // A device that cannot take the data: the close fails.
  EXPECT_EQ(g_CDevSetCtrl.SaveEEPROMData("/dev/full"), -2);
  EXPECT_EQ(g_CDevSetCtrl.SaveEEPROMData2("/dev/full"), -2);
  struct stat st {};
  EXPECT_EQ(stat("/dev/full", &st), 0);
  EXPECT_EQ(g_CDevSetCtrl.SaveEEPROMData(Path("no/such/folder").c_str()), -2);

  // A file that can take only part of it: the write fails, the part goes.
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int one = g_CDevSetCtrl.SaveEEPROMData(Path("one").c_str());
  const int two = g_CDevSetCtrl.SaveEEPROMData2(Path("two").c_str());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
  EXPECT_EQ(one, -2);
  EXPECT_EQ(two, -2);
  EXPECT_NE(access(Path("one").c_str(), F_OK), 0);
  EXPECT_NE(access(Path("two").c_str(), F_OK), 0);

  // A pattern blob too short to hold the value answers 0.
  g_fake.pattern = Counting(20, 0);
  EXPECT_EQ(g_CDevSetCtrl.SaveEEPROMData2(Path("short").c_str()), 0);
  EXPECT_EQ(Read("short").size(), 44u + 4 + 24 + 4);
}

}  // namespace
