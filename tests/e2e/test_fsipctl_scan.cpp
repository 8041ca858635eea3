// libimgforge's control entry under the real scanimage and the simulated
// Selko2 scanner: page-auto is offered, each face's white-background crop
// goes through fsip_control and comes back cropped to the page, and
// fsip.conf switches the control layer's log and dumps from the next call on.
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

// The first row from 5 mm down to `rows` (past any shadow left at the
// cut's edge) whose value in column x is below `level`; -1 when none.
int FirstDarkRow(const dravn_pages::Image& img, int x, int rows, int level) {
  for (int y = dravn_pages::PixelsOf(5, 300); y < std::min(rows, img.height); ++y)
    if (img.Row(y)[x * img.channels + 1] < level) return y;
  return -1;
}

// A sheet fed turned on the white backing, its edge only a faint shadow:
// the delivered face is the page alone, upright.
TEST_F(FsipCtlScan, TurnedPageOnTheWhiteBackingComesBackCroppedAndUpright) {
  for (int n = 1; n <= 2; ++n) {
    auto spec = dravn_pages::WhiteBackedSpec(300, n == 1 ? 4 : -2.5, 3);
    spec.widthMm = 90, spec.heightMm = 120, spec.marginMm = 6, spec.offsetXMm = n == 1 ? 3 : -2;
    // The scanner lays the file on its own backing: the file's must match it,
    // or the file's border reads as the page.
    spec.backing = 245, spec.paper = 237;
    spec.seed = static_cast<uint32_t>(n);
    WriteFile(m_dir + "/pages/page" + std::to_string(n) + ".pnm",
              dravn_pages::EncodePnm(dravn_pages::RenderBackedPage(spec).image));
  }
  WriteFile(m_dir + "/scenario", ReadFile(m_dir + "/scenario") + "set page_shadow=0\n");
  const auto r = ScanSheet("turned");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    dravn_pages::Image page;
    ASSERT_TRUE(dravn_pages::DecodePnm(ReadFile(m_dir + "/out/turned" + std::to_string(n) + ".pnm"), &page));
    EXPECT_NEAR(page.width, dravn_pages::PixelsOf(90, 300), dravn_pages::PixelsOf(2.5, 300));
    EXPECT_NEAR(page.height, dravn_pages::PixelsOf(120, 300), dravn_pages::PixelsOf(2.5, 300));
    // Upright: the first text bar, 25 mm down, starts on the same row at
    // 27 mm and at 45 mm from the left (a 2.5-degree turn puts 0.8 mm between).
    const int a = FirstDarkRow(page, dravn_pages::PixelsOf(27, 300), dravn_pages::PixelsOf(40, 300), 170);
    const int b = FirstDarkRow(page, dravn_pages::PixelsOf(45, 300), dravn_pages::PixelsOf(40, 300), 170);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    EXPECT_LE(std::abs(a - b), dravn_pages::PixelsOf(0.4, 300));
    EXPECT_NEAR(a, dravn_pages::PixelsOf(25, 300), dravn_pages::PixelsOf(2.5, 300));
  }
}

TEST_F(FsipCtlScan, PageAutoIsOfferedAndOn) {
  const auto r = Scanimage({"-A"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("--page-auto[=(yes|no)] [yes]"), std::string::npos) << r.out;
}

TEST_F(FsipCtlScan, ConfigurationSwitchesLogsAndDumpsFromTheNextScan) {
  // Both keys 0, as installed: nothing is written; the faces come cropped
  // out of the scanner's over-scan to the page.
  auto r = ScanSheet("quiet");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(ControlFiles().empty());
  for (int n = 1; n <= 2; ++n) {
    dravn_pages::Image page;
    ASSERT_TRUE(dravn_pages::DecodePnm(ReadFile(m_dir + "/out/quiet" + std::to_string(n) + ".pnm"), &page));
    EXPECT_NEAR(page.width, dravn_pages::PixelsOf(90, 300), dravn_pages::PixelsOf(2, 300));
    EXPECT_NEAR(page.height, dravn_pages::PixelsOf(55, 300), dravn_pages::PixelsOf(2, 300));
  }

  WriteFile(m_dir + "/etc/fsip.conf", "SaveBitmap 1\nProcLog 1\nDoCrop 1\n");
  r = ScanSheet("logged");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string log = fsipctl_test::Normalised(ReadFile(m_dir + "/log/FSIPCTL.log"));

  // Each face: the dispatcher's lines, the record dump of its crop, the
  // engine's lines, the output record, the result.
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
      "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_Crp(00547):\tStart FsipCrpWB_CropAll()\n"
      "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_Crp(00558):\tEnd FsipCrpWB_CropAll()\n"
      "[T]\t../Imgforge/KeloFsipCtl/FSIPCTL(00670):\tFSIP CropWB SaveResultImage\n"
      "[T]\n-------CRP OutImage------\n";
  const std::string result =
      "------------------------------\n--------CRP OutParam----------\nNULL\n------------------------------\n"
      "[T]\n---------FSIP_Result----------\nResult     FSIP_C_ERR_NOERROR\n------------------------------\n"
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
    const size_t q = log.find(result, p);
    ASSERT_NE(q, std::string::npos) << log.substr(p, 4000);
    at = q + 1;
  }

  // A dump of each input face and of each crop result; the result reads
  // back as the face delivered (the tone table is neutral and nothing else
  // changes the face). Dump names carry a wrapping fraction of a second, so
  // faces are matched by content, not by name order.
  std::vector<fsipctl_test::Bmp> dumps;
  for (const auto& name : ControlFiles()) {
    if (name == "FSIPCTL.log") continue;
    dumps.emplace_back();
    ASSERT_TRUE(fsipctl_test::ReadBmp(ReadFile(m_dir + "/log/" + name), &dumps.back())) << name;
    EXPECT_EQ(dumps.back().bitCount, 24);
  }
  ASSERT_EQ(dumps.size(), 4u);
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
