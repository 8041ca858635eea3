// The control layer's pieces that no export reaches: the judges' page dump,
// the sine/cosine tables that fsip_FreeSinCos releases, the key reader.
#include <cstdlib>

#include "fsipctl_internal.h"
#include "fsipctl_test_util.h"

struct _SINCOS;
extern _SINCOS* gpSinCos;
extern _SINCOS* gpSinCos_1;
extern "C" void fsip_FreeSinCos();

using namespace fsipctl_test;

namespace {

const auto* const kDirs = ::testing::AddGlobalTestEnvironment(new PrivateDirs);

TEST(FsipCtlUnit, FreeSinCosFreesBothTablesAndMayRunTwice) {
  gpSinCos = static_cast<_SINCOS*>(calloc(1801, 16));
  gpSinCos_1 = static_cast<_SINCOS*>(calloc(1800, 16));
  fsip_FreeSinCos();  // the sanitizer build reports a table left behind
  EXPECT_EQ(gpSinCos, nullptr);
  EXPECT_EQ(gpSinCos_1, nullptr);
  fsip_FreeSinCos();
  gpSinCos_1 = static_cast<_SINCOS*>(calloc(1800, 16));
  fsip_FreeSinCos();
  EXPECT_EQ(gpSinCos_1, nullptr);
}

TEST(FsipCtlUnit, KeyReader) {
  const std::string path = ConfPath();
  struct KeyCase {
    const char* text;
    const char* key;
    int def, want;
  } cases[] = {
      {"SaveBitmap 1\nProcLog 2\n", "ProcLog", 9, 2},
      {"savebitmap 3\n", "SaveBitmap", 9, 3},
      {"DoCrop 0\nDoCrop 1\n", "DoCrop", 9, 0},
      {"ProcLog 1\n", "DoCrop", 9, 9},
      {"DoCrop x\n", "DoCrop", 9, 0},
      {"DoCrop\t-12\n", "DoCrop", 9, -12},
      {"", "DoCrop", 9, 9},
  };
  for (const auto& c : cases) {
    SetConf(c.text);
    EXPECT_EQ(CrpprGetPrivateProfileInt(c.key, c.def, path.c_str()), c.want) << c.text;
  }
  unlink(path.c_str());
  EXPECT_EQ(CrpprGetPrivateProfileInt("DoCrop", 4, path.c_str()), 4);
  const std::string longKey(256, 'k');
  SetConf(longKey + " 5\n");
  EXPECT_EQ(CrpprGetPrivateProfileInt(longKey.c_str(), 4, path.c_str()), 4);  // beyond a word's 255
  SetConf(longKey.substr(0, 255) + " 5\n");
  EXPECT_EQ(CrpprGetPrivateProfileInt(longKey.substr(0, 255).c_str(), 4, path.c_str()), 5);
}

TEST(FsipCtlUnit, JudgePagesAreDumpedAsGreyBitmaps) {
  for (int width : {10, 13}) {
    SCOPED_TRACE(width);
    ClearLogDir();
    const int height = 3, bytesPerLine = width + 3;  // rows with padding of their own
    std::vector<uint8_t> pixels(static_cast<size_t>(bytesPerLine * height));
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 29 + 5);
    _P2IIMG page{pixels.data(), 8, 0, width, height, bytesPerLine, bytesPerLine * height, 300, 150, 0, 0, 0, 0};
    ASSERT_EQ(P2iBmp(&page), 1);
    const auto files = Named("KELOBPD_", ".bmp");
    ASSERT_EQ(files.size(), 1u);
    Bmp bmp;
    ASSERT_TRUE(ReadBmp(dravn_test::ReadFile(LogPath(files[0])), &bmp));
    EXPECT_EQ(bmp.bitCount, 8);
    EXPECT_EQ(bmp.offset, 1078u);
    EXPECT_EQ(bmp.fileSize, bmp.imageSize + 1078);
    EXPECT_EQ(bmp.ppmX, 11811u);  // 300 × 3937 / 100, both ways
    EXPECT_EQ(bmp.ppmY, 11811u);
    EXPECT_EQ(bmp.coloursUsed, 0u);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        ASSERT_EQ(bmp.pixels[static_cast<size_t>(y * width + x)], pixels[static_cast<size_t>(y * bytesPerLine + x)]);
  }
  ClearLogDir();
  std::vector<uint8_t> pixels(30, 0);
  _P2IIMG colour{pixels.data(), 24, 0, 2, 5, 6, 30, 300, 300, 0, 0, 0, 0};
  EXPECT_EQ(P2iBmp(&colour), 0);
  _P2IIMG shortBlock{pixels.data(), 8, 0, 6, 6, 6, 30, 300, 300, 0, 0, 0, 0};
  EXPECT_EQ(P2iBmp(&shortBlock), 0);
  EXPECT_EQ(P2iBmp(nullptr), 0);
  EXPECT_TRUE(LogDirFiles().empty());
}

TEST(FsipCtlUnit, JudgeLogsOnlyWithTheProcessLog) {
  ClearLogDir();
  g_bLogProc = false;
  OutputDebugString("quiet");
  EXPECT_TRUE(LogDirFiles().empty());
  g_bLogProc = true;
  OutputDebugString("stage 1 took 0 ms");
  g_bLogProc = false;
  EXPECT_EQ(Normalised(dravn_test::ReadFile(LogPath("P2IDEPTH.log"))), "[T]\t:\tstage 1 took 0 ms\n");
}

}  // namespace
