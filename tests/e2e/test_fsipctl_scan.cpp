// libimgforge's control entry under the real scanimage and the simulated
// Selko2 scanner: page-auto is offered, each face's white-background crop
// goes through fsip_control (and, with no crop engine in the library yet,
// comes back uncropped), and fsip.conf switches the control layer's log and
// dumps from the next call on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "../imgforge/fsipctl_test_util.h"
#include "dravn_paths.h"
#include "model_catalog.h"
#include "test_pages.h"
#include "test_support.h"

using dravn_test::ReadFile;
using dravn_test::WriteFile;

namespace {

const dravn::CatalogModel& kModel = dravn::kSelko2Models[0];

class FsipCtlScan : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = dravn_test::MakeTempDir("fsipctl-scan");
    for (const char* sub : {"shm", "log", "etc", "sane", "pages", "out"}) mkdir((m_dir + "/" + sub).c_str(), 0777);
    for (const auto& name : dravn_test::ListDir(DRAVN_ETC_DIR))
      WriteFile(m_dir + "/etc/" + name, ReadFile(std::string(DRAVN_ETC_DIR) + "/" + name));
    WriteFile(m_dir + "/sane/dll.conf", "dravn\n");
    for (int n = 1; n <= 2; ++n) {
      dravn_pages::PageSpec spec;
      spec.widthMm = 90, spec.heightMm = 55, spec.dpi = 300, spec.number = n;
      WriteFile(m_dir + "/pages/page" + std::to_string(n) + ".pnm",
                dravn_pages::EncodePnm(dravn_pages::RenderDocumentPage(spec)));
    }
    char device[128];
    snprintf(device, sizeof device, "device selko2 %04x:%04x bus=1 address=5\n", kModel.vendorId, kModel.productId);
    WriteFile(m_dir + "/scenario", std::string(device) + "set state=" + m_dir +
                                       "/state\nset nvram_month=1\nset nvram_day=1\nset sheets=1\nset pages=" + m_dir +
                                       "/pages/page%d.pnm\nset page_dpi=300\n");
  }
  void TearDown() override { dravn_test::Run({"rm", "-rf", m_dir}); }

  dravn_test::RunResult Scanimage(std::vector<std::string> args) {
    std::string script;
    for (const char* b : {"/shm:" DRAVN_SHM_DIR, "/log:" DRAVN_LOG_DIR, "/etc:" DRAVN_ETC_DIR}) {
      const std::string bind = b;
      const size_t colon = bind.find(':');
      script += "mount --bind '" + m_dir + bind.substr(0, colon) + "' '" + bind.substr(colon + 1) + "' && ";
    }
    script += "exec scanimage \"$@\"";
    char device[64];
    snprintf(device, sizeof device, "dravn:%s:001:005", kModel.model);
    std::vector<std::string> argv = {"unshare", "--ipc", "--mount", "sh", "-c", script, "sh", "-d", device};
    argv.insert(argv.end(), args.begin(), args.end());
    auto env = dravn_test::SimEnv(m_dir + "/scenario");
    env["SANE_CONFIG_DIR"] = m_dir + "/sane";
    env["DRAVN_DEBUG"] = "";
    return dravn_test::Run(argv, env, 120);
  }

  // One duplex sheet with automatic page size and a neutral tone table.
  dravn_test::RunResult ScanSheet(const std::string& outName) {
    return Scanimage({"--source", "Adf-duplex", "--mode", "Color", "--resolution", "300", "--tone-adjustment", "Custom",
                      "--shadow", "0", "--highlight", "255", "--gamma", "1.0",
                      "--batch=" + m_dir + "/out/" + outName + "%d.pnm"});
  }

  std::vector<std::string> ControlFiles() {
    std::vector<std::string> out;
    for (const auto& name : dravn_test::ListDir(m_dir + "/log"))
      if (name.rfind("FSIPCTL", 0) == 0) out.push_back(name);
    std::sort(out.begin(), out.end());
    return out;
  }

  std::string m_dir;
};

TEST_F(FsipCtlScan, PageAutoIsOfferedAndOn) {
  const auto r = Scanimage({"-A"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("--page-auto[=(yes|no)] [yes]"), std::string::npos) << r.out;
}

TEST_F(FsipCtlScan, ConfigurationSwitchesLogsAndDumpsFromTheNextScan) {
  // Both keys 0, as installed: nothing is written; the faces come uncropped.
  auto r = ScanSheet("quiet");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(ControlFiles().empty());
  for (int n = 1; n <= 2; ++n) {
    dravn_pages::Image page;
    ASSERT_TRUE(dravn_pages::DecodePnm(ReadFile(m_dir + "/out/quiet" + std::to_string(n) + ".pnm"), &page));
    EXPECT_GE(page.width, dravn_pages::PixelsOf(90, 300));
  }

  WriteFile(m_dir + "/etc/fsip.conf", "SaveBitmap 1\nProcLog 1\nDoCrop 1\n");
  r = ScanSheet("logged");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string log = fsipctl_test::Normalised(ReadFile(m_dir + "/log/FSIPCTL.log"));

  // Each face: the dispatcher's lines, the record dump of its crop, the
  // missing engine, the missing output, the result.
  std::string face;
  face += "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00261):\tEnter fsip_ImageProcess()\n";
  face += "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00521):\t\n---------- UserParam : U ----------\n\n";
  face += "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00317):\tStart CRPExec()\n[T]\n-------CropWBAll InImage------\n";
  std::string table = "-----------TABLE DATA---------------\n0x00,0x00,0x10,0x00,0x01,0x00,0x01,0x00,0x00,0x00,\n";
  for (int i = 0; i < 256; ++i) {
    char hex[8];
    snprintf(hex, sizeof hex, "0x%02x,", i);
    table += hex;
    if (i % 16 == 15) table += "\n";
  }
  const std::string tail =
      "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_Crp(00591):\tError CRPExec() NOTSUPPORT\n"
      "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00673):\tFSIP CropWB NotResultImage\n"
      "[T]\n---------FSIP_Result----------\nResult     FSIP_C_ERR_NOTSUPPORT\n------------------------------\n"
      "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00355):\tEnd CRPExec()\n"
      "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00394):\tExit fsip_ImageProcess()\n";
  size_t at = 0;
  for (int side = 1; side <= 2; ++side) {
    SCOPED_TRACE(side);
    at = log.find(face, at);
    ASSERT_NE(at, std::string::npos) << log;
    char param[512];
    snprintf(param, sizeof param,
             "-------CropWBAll InParam------\ncbSize              =98\ndwFuncFlag          =0x0\n"
             "wAccCrp             =0\nwAccPH              =0\ndwHoleRemoveType    =0x0\nbADF                =1\n"
             "wFBCropSearchWidth  =65535\nwFBCropIgnoreLength =65535\nwBlackBkThreshold   =64\n"
             "szScanner           =%s\nNotifyOutImgInfo    =P\nbyTransferDataType  =0x83\n"
             "bySide              =0x%d\nsOVS                =-1\npbySendData         =P\n",
             kModel.model, side);
    const size_t p = log.find(std::string(param) + table + "------------------------------\n" + tail, at);
    ASSERT_NE(p, std::string::npos) << log.substr(at, 4000);
    at = p + 1;
  }

  // A dump of each input face that reads back as the face delivered (the
  // tone table is neutral and nothing else changes the face), which is the
  // fed page uncropped. Dump names carry a wrapping fraction of a second, so
  // faces are matched by content, not by name order.
  std::vector<fsipctl_test::Bmp> dumps;
  for (const auto& name : ControlFiles()) {
    if (name == "FSIPCTL.log") continue;
    dumps.emplace_back();
    ASSERT_TRUE(fsipctl_test::ReadBmp(ReadFile(m_dir + "/log/" + name), &dumps.back())) << name;
    EXPECT_EQ(dumps.back().bitCount, 24);
  }
  ASSERT_EQ(dumps.size(), 2u);
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    dravn_pages::Image logged, quiet;
    ASSERT_TRUE(dravn_pages::DecodePnm(ReadFile(m_dir + "/out/logged" + std::to_string(n) + ".pnm"), &logged));
    ASSERT_TRUE(dravn_pages::DecodePnm(ReadFile(m_dir + "/out/quiet" + std::to_string(n) + ".pnm"), &quiet));
    EXPECT_TRUE(logged.pixels == quiet.pixels);
    int matches = 0;
    for (const auto& bmp : dumps)
      matches += bmp.width == logged.width && bmp.height == logged.height && bmp.pixels == logged.pixels;
    EXPECT_EQ(matches, 1);
  }
}

}  // namespace
