// The real scanimage reaching a simulated Selko2 scanner through the main
// backend, which forwards it to the second backend. Each run has its own
// IPC namespace (exclusive-access table) and its own status-file, log and,
// where a case needs it, configuration and library directories.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "dravn_paths.h"
#include "model_catalog.h"
#include "test_support.h"

using dravn_test::ReadFile;
using dravn_test::WriteFile;

namespace {

const dravn::CatalogModel& kModel = dravn::kSelko2Models[0];

std::string DeviceName() {
  char name[64];
  snprintf(name, sizeof name, "dravn:%s:001:005", kModel.model);
  return name;
}

class SecondBackendE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = dravn_test::MakeTempDir("second-e2e");
    for (const char* sub : {"shm", "log", "etc", "sane"}) mkdir((m_dir + "/" + sub).c_str(), 0777);
    for (const auto& name : dravn_test::ListDir(DRAVN_ETC_DIR))
      WriteFile(m_dir + "/etc/" + name, ReadFile(std::string(DRAVN_ETC_DIR) + "/" + name));
    WriteFile(m_dir + "/sane/dll.conf", "dravn\n");
    Scenario("");
  }

  void Scenario(const std::string& extra) {
    char line[128];
    snprintf(line, sizeof line, "device selko2 %04x:%04x bus=1 address=5\n", kModel.vendorId, kModel.productId);
    WriteFile(m_dir + "/scenario", std::string(line) + "set state=" + m_dir + "/state\n" + extra);
  }

  // scanimage with the stand-in libusb and the staged backends; `binds`
  // lay directories over the package's.
  dravn_test::RunResult Scanimage(const std::vector<std::string>& args, std::vector<std::string> binds = {}) {
    return Shell("exec scanimage \"$@\"", args, std::move(binds));
  }

  // A shell script run as Scanimage runs scanimage, with args as "$@".
  dravn_test::RunResult Shell(const std::string& body, const std::vector<std::string>& args,
                              std::vector<std::string> binds = {}) {
    binds.push_back(m_dir + "/shm:" DRAVN_SHM_DIR);
    binds.push_back(m_dir + "/log:" DRAVN_LOG_DIR);
    binds.push_back(m_dir + "/etc:" DRAVN_ETC_DIR);
    std::string script;
    for (const auto& b : binds) {
      size_t colon = b.find(':');
      script += "mount --bind '" + b.substr(0, colon) + "' '" + b.substr(colon + 1) + "' && ";
    }
    script += body;
    std::vector<std::string> argv{"unshare", "--ipc", "--mount", "sh", "-c", script, "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto env = dravn_test::SimEnv(m_dir + "/scenario");
    env["SANE_CONFIG_DIR"] = m_dir + "/sane";
    env["DRAVN_SIM_TRANSCRIPT"] = m_dir + "/transcript";
    env["DRAVN_DEBUG"] = "";
    return dravn_test::Run(argv, env, 120);
  }

  // Selko2 commands sent, as opcode, sub-code and parameter.
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    std::istringstream in(ReadFile(m_dir + "/transcript"));
    for (std::string line; std::getline(in, line);) {
      std::smatch m;
      if (std::regex_search(line, m, std::regex(" bulk out [^\n]* len=16 [^\n]* 30020000(..)00(..)00(..)")))
        out.push_back(m.str(1) + m.str(2) + m.str(3));
    }
    return out;
  }

  std::string Owner() { return ReadFile(m_dir + "/state").substr(288); }

  std::string m_dir;
};

// An open that fails once the second backend was initialised ends scanimage
// with the open's status every time: the second backend is exited before it
// is unloaded, so none of its threads outlives its code. Nothing of the
// exclusive-access table is left in the namespace afterwards.
TEST_F(SecondBackendE2E, FailedOpenEndsCleanlyAndGivesEverythingBack) {
  const struct {
    const char* extra;
    const char* message;
  } cases[] = {{"fault claim EBUSY\n", "Device busy"},
               {"fault open EACCES\n", "Access to resource has been denied"},
               {"fault open EBUSY\n", "Device busy"},
               {"set lock_owner=other\n", "Device busy"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extra);
    unlink((m_dir + "/state").c_str());
    Scenario(c.extra);
    auto r = Shell(
        "for i in 1 2 3 4 5 6; do scanimage \"$@\" >/dev/null; echo \"status $?\"; done; "
        "echo \"left $(($(wc -l </proc/sysvipc/shm) + $(wc -l </proc/sysvipc/sem) - 2))\"",
        {"-d", DeviceName(), "-A"});
    EXPECT_EQ(r.out, "status 1\nstatus 1\nstatus 1\nstatus 1\nstatus 1\nstatus 1\nleft 0\n") << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

// The scan area can be chosen only with a Custom paper size: with another
// size the paper decides the window, and the front end shows the geometry
// options as inactive instead of taking -x and -y and scanning the whole
// page.
TEST_F(SecondBackendE2E, GeometryWaitsForACustomPaperSize) {
  auto geometry = [](const std::string& out) {
    std::vector<std::string> lines;
    for (const char* option : {"    -l ", "    -t ", "    -x ", "    -y ", "    --page-width ", "    --page-height "}) {
      size_t at = out.find(option);
      lines.push_back(at == std::string::npos ? "missing " + std::string(option)
                                              : out.substr(at, out.find('\n', at) - at));
    }
    return lines;
  };
  auto a4 = Scanimage({"-d", DeviceName(), "--source", "Adf-front", "-A"});
  ASSERT_EQ(a4.exitCode, 0) << a4.err;
  for (const std::string& line : geometry(a4.out)) EXPECT_NE(line.find("[inactive]"), std::string::npos) << line;
  // Asked for an area anyway, scanimage says it ignores the request.
  auto asked = Scanimage({"-d", DeviceName(), "--source", "Adf-front", "-x", "100", "-y", "100", "-v", "-n"});
  EXPECT_EQ(asked.exitCode, 0) << asked.err;
  for (const char* option : {"br-x", "br-y"})
    EXPECT_NE(asked.err.find(std::string("ignored request to set inactive option ") + option), std::string::npos)
        << asked.err;
  auto custom = Scanimage({"-d", DeviceName(), "--source", "Adf-front", "--paper-size", "Custom", "-A"});
  ASSERT_EQ(custom.exitCode, 0) << custom.err;
  for (const std::string& line : geometry(custom.out)) {
    EXPECT_EQ(line.find("[inactive]"), std::string::npos) << line;
    EXPECT_EQ(line.find("missing"), std::string::npos) << line;
  }
}

// Listed, opened with the scanner locked, its options shown with the
// model's defaults from optdefault.xml, closed with the lock given back.
TEST_F(SecondBackendE2E, OptionsOfAnOpenedScanner) {
  WriteFile(m_dir + "/etc/optdefault.xml",
            std::string("<optdefault>\n<device id=\"") + kModel.model +
                "\">\n <source>Adf-front</source>\n <resolution>300</resolution>\n"
                " <paper-size>Letter</paper-size>\n <rotation>180</rotation>\n</device>\n"
                "<device id=\"Selko2S520\"><resolution>150</resolution></device>\n</optdefault>\n");
  auto list = Scanimage({"-L"});
  EXPECT_NE(list.out.find("`" + DeviceName() + "'"), std::string::npos) << list.out << list.err;

  auto r = Scanimage({"-d", DeviceName(), "-A"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const char* shown : {"--source Adf-front|Adf-back|Adf-duplex [Adf-front]", "--resolution 50..600dpi", "[300]",
                            "--paper-size Custom|A4|A5|A6|B5|B6|Postcard|Business-card|Letter|Folio|Legal|"
                            "Executive [Letter]",
                            "--rotation 0|90|180|270|Auto [180]", "--get-sc-status <string> [0x00000000]",
                            "--get-sc-error <string> [0x00000000]"})
    EXPECT_NE(r.out.find(shown), std::string::npos) << shown << "\n" << r.out;
  // Every named option of the table is offered.
  for (const char* name : {"--source",
                           "--mode",
                           "--resolution",
                           "-l ",
                           "-t ",
                           "-x ",
                           "-y ",
                           "--page-width",
                           "--page-height",
                           "--paper-size",
                           "--page-auto",
                           "--cropping",
                           "--tone-adjustment",
                           "--brightness",
                           "--contrast",
                           "--shadow",
                           "--highlight",
                           "--gamma",
                           "--threshold",
                           "--bw-mode",
                           "--bw-idtc-sensitivity",
                           "--bw-idtc-background-threshold",
                           "--bw-sdtc-variance",
                           "--autofeed",
                           "--edge-filler-top",
                           "--edge-filler-bottom",
                           "--edge-filler-left",
                           "--edge-filler-right",
                           "--multifeed-detection",
                           "--mf-overlapping",
                           "--cleanup-sharpness",
                           "--blank-page-skip",
                           "--blank-page-skip-sensitivity",
                           "--rotation",
                           "--color-cleanup",
                           "--color-cleanup-cleanness",
                           "--front-back-merging",
                           "--back-side-location",
                           "--back-side-rotation",
                           "--split-image",
                           "--get-sc-status",
                           "--get-sc-error"})
    EXPECT_NE(r.out.find(std::string("    ") + name), std::string::npos) << name;
  auto sent = Sent();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(sent[0], "127a6c");  // lock status
  EXPECT_EQ(sent[1], "2a7801");  // lock
  EXPECT_EQ(sent.back(), "2a7802") << "unlocked at close";
  EXPECT_EQ(Owner(), std::string(40, '\0'));
}

TEST_F(SecondBackendE2E, ScannerStatusOption) {
  Scenario("set paper=no\nset cover=open\n");
  auto r = Scanimage({"-d", DeviceName(), "-A"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("--get-sc-status <string> [0xA0000000]"), std::string::npos) << r.out;
}

// scanimage is recognised along the process chain: shadow and highlight
// may be set without being forced apart.
TEST_F(SecondBackendE2E, ScanimageIsRecognised) {
  auto r = Scanimage({"-d", DeviceName(), "--tone-adjustment", "Custom", "--shadow", "100", "--highlight", "50", "-A"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("--highlight 1..255 (in steps of 1) [50]"), std::string::npos) << r.out;
}

// Another host holds the scanner: the open answers busy and leaves the
// reason for the next reader of the scanner-error option.
TEST_F(SecondBackendE2E, ScannerLockedByAnotherHost) {
  Scenario("set lock_owner=0f3b9a2e-7c41-4d8e-b5a6-19c2d7e08f44\n");
  auto r = Scanimage({"-d", DeviceName(), "-A"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("Device busy"), std::string::npos) << r.err;
  std::string file = m_dir + "/shm/" + DeviceName().substr(6) + "-" + std::to_string(getuid()) + "-shm";
  EXPECT_EQ(ReadFile(file), std::string("\x00\x35\x80\x03", 4));
  for (const auto& c : Sent()) EXPECT_NE(c.substr(0, 4), "2a78") << "no lock or unlock sent";
}

TEST_F(SecondBackendE2E, MissingLibraryFailsWithIoError) {
  std::string lib = m_dir + "/lib";
  mkdir(lib.c_str(), 0755);
  ASSERT_EQ(
      dravn_test::Run(
          {"sh", "-c", std::string("cp -a ") + DRAVN_LIB_DIR + "/. " + lib + " && rm -f " + lib + "/librotation.so"})
          .exitCode,
      0);
  auto r = Scanimage({"-d", DeviceName(), "-A"}, {lib + ":" DRAVN_LIB_DIR});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("Error during device I/O"), std::string::npos) << r.out << r.err;
  EXPECT_TRUE(Sent().empty()) << "the scanner is not touched";
}

}  // namespace
