// The blank-page and colour-or-mono judges in libimgforge, loaded from the
// staged tree as the backends load it: the verdicts on the pages of known
// ink, the boundaries of their rules, their refusals, logs and dumps.
#include <dlfcn.h>
#include <sys/stat.h>

#include <functional>

#include "fsipctl_test_util.h"
#include "judge_pages.h"
#include "judges_test_util.h"

using namespace fsipctl_test;
using judges_test::Page;

namespace {

using ControlFn = int (*)(fsipctl_request*, fsipctl_image*, fsipctl_image*, unsigned char*);
using ImageProcessFn = int (*)(FSIP_S_IP_MODE*, FSIP_S_IMAGEINFO_EX*, void*, FSIP_S_IMAGEINFO_EX*, void*, void*);
using JudgeFn = int (*)(_P2IIMG*, int*, void*, void*);
using Judge2Fn = int (*)(_P2IIMG*, int*, void*, void*, const char*, void*);
using Judge3Fn = int (*)(_P2IIMG*, int*, _P2IIMG*, int*, P2IJDGWP_OPTION*, unsigned*);

ControlFn g_control;
ImageProcessFn g_process;
JudgeFn g_jug, g_depth;
Judge2Fn g_jug2;
Judge3Fn g_jug3;

class Library : public ::testing::Environment {
 public:
  void SetUp() override {
    m_handle = dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_NOW);
    ASSERT_NE(m_handle, nullptr) << dlerror();
    g_control = reinterpret_cast<ControlFn>(dlsym(m_handle, "fsip_control"));
    g_process = reinterpret_cast<ImageProcessFn>(dlsym(m_handle, "fsip_ImageProcess"));
    g_jug = reinterpret_cast<JudgeFn>(dlsym(m_handle, "P2iJugWhitePaper"));
    g_jug2 = reinterpret_cast<Judge2Fn>(dlsym(m_handle, "P2iJugWhitePaper2"));
    g_jug3 = reinterpret_cast<Judge3Fn>(dlsym(m_handle, "P2iJugWhitePaper3"));
    g_depth = reinterpret_cast<JudgeFn>(dlsym(m_handle, "P2iGetBestDepth"));
    ASSERT_TRUE(g_control && g_process && g_jug && g_jug2 && g_jug3 && g_depth);
  }
  void TearDown() override {
    if (m_handle) dlclose(m_handle);
  }

 private:
  void* m_handle = nullptr;
};

const auto* const kDirs = ::testing::AddGlobalTestEnvironment(new PrivateDirs);
const auto* const kLibrary = ::testing::AddGlobalTestEnvironment(new Library);

struct Verdict {
  int rc;
  int result;
};

// One decision through fsip_control: 0x0040 blank page, FSIPCTL_FUNC_COLOUR_DECISION colour.
Verdict Control(Page& page, int32_t flags, int detectLevel = 0, int wLevel = 0, int bLevel = 0) {
  fsipctl_request request;
  memset(&request, 0, sizeof request);
  request.dwFlags = flags;
  request.nDetectLevel = detectLevel, request.nWLevel = wLevel, request.nBLevel = bLevel;
  fsipctl_image images[2] = {}, results[2] = {};
  images[0] = {
      page.pixels.data(), page.xres, page.width, page.height, page.depth, static_cast<int32_t>(page.pixels.size()), 0};
  results[0].nResult = -99;
  unsigned char lut[256];
  for (int i = 0; i < 256; ++i) lut[i] = static_cast<unsigned char>(i);
  const int rc = g_control(&request, images, results, lut);
  return {rc, results[0].nResult};
}

int Jug(Page& page, int level = 0) {
  _P2IIMG p = page.P2i();
  return g_jug(&p, &level, nullptr, nullptr);
}

int Depth(Page& page, int level = 0) {
  _P2IIMG p = page.P2i();
  return g_depth(&p, &level, nullptr, nullptr);
}

int Jug3(Page& page, unsigned* index = nullptr, int level = 0) {
  _P2IIMG p = page.P2i();
  unsigned local = 0;
  return g_jug3(&p, &level, nullptr, nullptr, nullptr, index ? index : &local);
}

Page FromImage(const dravn_pages::Image& image, bool grey, int dpi) {
  Page page;
  page.width = image.width, page.height = image.height, page.xres = page.yres = dpi;
  if (grey) {
    page.depth = 8;
    page.pixels = dravn_pages::ToGrey(image).pixels;
  } else {
    page.depth = 24;
    page.pixels = image.pixels;
  }
  return page;
}

class Judges : public ::testing::Test {
 protected:
  void SetUp() override {
    SetConf("");
    ClearLogDir();
  }
  static std::string Log(const std::string& name) { return Normalised(dravn_test::ReadFile(LogPath(name))); }
};

// --- the two sets of pages whose answers are known --------------------------

TEST_F(Judges, BlankSetIsJudgedRightPageByPage) {
  int right = 0;
  for (const auto& spec : dravn_pages::BlankSet()) {
    SCOPED_TRACE(spec.name);
    Page page = FromImage(dravn_pages::RenderJudgePage(spec), spec.grey, spec.dpi);
    const Verdict v = Control(page, FSIPCTL_FUNC_BLANK_PAGE);
    ASSERT_EQ(v.rc, 0);
    bool ok = v.result == (spec.answer ? 1 : 0);
    if (spec.grey) ok = ok && Jug(page) == v.result;
    // Clearly on its side: the verdict holds at every sensitivity.
    if (spec.grey) {
      for (int level = -2; level <= 2; ++level) EXPECT_EQ(Jug(page, level), v.result) << "level " << level;
    }
    EXPECT_TRUE(ok) << "verdict " << v.result;
    right += ok;
  }
  EXPECT_EQ(right, 12);
}

TEST_F(Judges, ColourSetIsJudgedRightPageByPage) {
  int right = 0;
  for (const auto& spec : dravn_pages::ColourSet()) {
    SCOPED_TRACE(spec.name);
    Page page = FromImage(dravn_pages::RenderJudgePage(spec), false, spec.dpi);
    const Verdict v = Control(page, FSIPCTL_FUNC_COLOUR_DECISION);
    ASSERT_EQ(v.rc, 0);
    const bool ok = v.result == (spec.answer ? 0 : 1) && Depth(page) == (spec.answer ? 24 : 1);
    // Clearly on its side: the verdict holds one level either way.
    for (int level : {-1, 1}) EXPECT_EQ(Depth(page, level), spec.answer ? 24 : 1) << "level " << level;
    EXPECT_TRUE(ok) << "verdict " << v.result;
    right += ok;
  }
  EXPECT_EQ(right, 12);
}

// --- blank page: the rule's boundaries ----------------------------------------

// Dark single pixels on sample points of a 300 dpi page (d = 12, step 7),
// starting at the examined area's corner.
Page PointsPage(int width, int height, int count, int firstX, int firstY, uint8_t paper = 200, uint8_t ink = 0) {
  Page page(width, height, 8, paper);
  const int perRow = 20;
  for (int i = 0; i < count; ++i) page.Grey(firstX + 7 * (i % perRow), firstY + 7 * (i / perRow), ink);
  return page;
}

TEST_F(Judges, FortyOneContrastingPointsAreBlankFortyTwoAreNot) {
  // 1000 pixels is narrower than 158 mm: 48-pixel margins.
  for (int count : {41, 42}) {
    Page page = PointsPage(1000, 1000, count, 48, 48);
    EXPECT_EQ(Jug(page), count == 41 ? 1 : 0) << count;
    const Verdict v = Control(page, FSIPCTL_FUNC_BLANK_PAGE);
    EXPECT_EQ(v.rc, 0);
    EXPECT_EQ(v.result, count == 41 ? 1 : 0);
    // A colour page judges its grey, with the grey page made whole (for
    // the dumps) or not.
    Page colour(1000, 1000, 24, 200);
    for (int i = 0; i < count; ++i) colour.Rgb(48 + 7 * (i % 20), 48 + 7 * (i / 20), 90, 0, 200);
    for (const char* conf : {"SaveBitmap 0\n", "SaveBitmap 1\n"}) {
      SetConf(conf);
      EXPECT_EQ(Control(colour, FSIPCTL_FUNC_BLANK_PAGE).result, count == 41 ? 1 : 0) << conf;
    }
  }
}

TEST_F(Judges, LevelsSetThresholdAndAllowance) {
  // 42 points of contrast 41: above the default threshold 40, below 45.
  struct Case {
    int level, count, contrast, blank;
  } cases[] = {
      {0, 42, 41, 0},  {3, 42, 41, 0},   // any other level is level 0
      {1, 42, 41, 1},  {1, 42, 46, 0},   // 45
      {2, 51, 46, 1},  {2, 52, 46, 0},   // allowance 30 x 12 / 7 = 51
      {-1, 34, 36, 1}, {-1, 35, 36, 0},  // 35, allowance 20 x 12 / 7 = 34
      {-2, 35, 31, 0}, {-2, 35, 30, 1},  // 30
  };
  for (const Case& c : cases) {
    Page page = PointsPage(1000, 1000, c.count, 48, 48, 200, static_cast<uint8_t>(200 - c.contrast));
    EXPECT_EQ(Jug(page, c.level), c.blank) << c.level << " " << c.count << " " << c.contrast;
  }
  Page page = PointsPage(1000, 1000, 0, 48, 48);
  EXPECT_EQ(Control(page, FSIPCTL_FUNC_BLANK_PAGE, 3).rc, FSIP_C_ERR_PARAMETER);
  EXPECT_EQ(Control(page, FSIPCTL_FUNC_BLANK_PAGE, -3).rc, FSIP_C_ERR_PARAMETER);
  EXPECT_EQ(Control(page, FSIPCTL_FUNC_BLANK_PAGE, 2).rc, 0);
}

TEST_F(Judges, MarginsWidenAt158Millimetres) {
  // Points between 48 and 192 pixels from the left edge: examined on a
  // page 1895 pixels wide, in the margin of one 1896 wide.
  for (int width : {1895, 1896}) {
    Page page = PointsPage(width, 1000, 60, 55, 300);
    EXPECT_EQ(Jug(page), width == 1895 ? 0 : 1) << width;
  }
  // A region no larger than twice the margins is not blank.
  Page small(96, 400, 8, 255);
  EXPECT_EQ(Jug(small), 0);
  // Only the region is examined.
  Page page = PointsPage(2000, 1000, 60, 55, 300);
  _P2IIMG p = page.P2i();
  p.nLeft = 400;
  int level = 0;
  EXPECT_EQ(g_jug(&p, &level, nullptr, nullptr), 1);
}

TEST_F(Judges, OneBitPagesByTheirShareOfBlack) {
  // 800 x 100 pixels: 80,000 bits; 640 black is 0.8 %.
  auto page = [](int blackBytes, int width = 800) {
    Page p(width, 100, 1, 0x00);
    std::fill_n(p.pixels.begin(), blackBytes, 0xFF);
    return p;
  };
  struct Case {
    int blackBytes, w, b, blank;
  } cases[] = {
      {80, 0, 4, 1},  {80, 0, 3, 0},   {0, 0, 0, 0},    {10000, 0, 0, 0},
      {80, 15, 0, 0}, {9920, 4, 0, 1}, {9920, 3, 0, 0}, {10000, 15, 15, 1},
  };
  for (const Case& c : cases) {
    Page p = page(c.blackBytes);
    const Verdict v = Control(p, FSIPCTL_FUNC_BLANK_PAGE, 0, c.w, c.b);
    EXPECT_EQ(v.rc, 0);
    EXPECT_EQ(v.result, c.blank) << c.blackBytes << " " << c.w << " " << c.b;
  }
  Page p = page(0);
  EXPECT_EQ(Control(p, FSIPCTL_FUNC_BLANK_PAGE, 0, 16, 0).rc, FSIP_C_ERR_PARAMETER);
  EXPECT_EQ(Control(p, FSIPCTL_FUNC_BLANK_PAGE, 0, 0, -1).rc, FSIP_C_ERR_PARAMETER);
  // Bytes after the last whole 32-bit word are not counted: 10 bytes a row,
  // 1000 in all; the last two are black and unseen.
  Page odd(80, 100, 1, 0x00);
  std::fill(odd.pixels.end() - 2, odd.pixels.end(), 0xFF);
  EXPECT_EQ(Control(odd, FSIPCTL_FUNC_BLANK_PAGE, 0, 0, 1).result, 1);
  std::fill(odd.pixels.end() - 6, odd.pixels.end(), 0xFF);  // 32 counted: 4 per mille
  EXPECT_EQ(Control(odd, FSIPCTL_FUNC_BLANK_PAGE, 0, 0, 1).result, 0);
}

TEST_F(Judges, PagesTheyCannotJudge) {
  Page colour(1000, 1000, 24, 255);
  EXPECT_EQ(Jug(colour), -1003);
  int level = 0;
  _P2IIMG p = colour.P2i();
  EXPECT_EQ(g_jug2(&p, &level, nullptr, nullptr, "", nullptr), -1003);
  EXPECT_EQ(Jug3(colour), -1003);
  EXPECT_EQ(g_jug(nullptr, &level, nullptr, nullptr), -1001);

  // Below 25 dpi either way the millimetre unit would be 0.
  for (int dpi : {24, 1, 0, -5}) {
    Page grey(100, 100, 8, 255, dpi);
    EXPECT_EQ(Jug(grey), -1001) << dpi;
    EXPECT_EQ(Jug3(grey), -1001) << dpi;
    EXPECT_EQ(Control(grey, FSIPCTL_FUNC_BLANK_PAGE).rc, FSIP_C_ERR_PARAMETER) << dpi;
    Page rgb(100, 100, 24, 255, dpi);
    EXPECT_EQ(Depth(rgb), -1001) << dpi;
    EXPECT_EQ(Control(rgb, FSIPCTL_FUNC_COLOUR_DECISION).rc, FSIP_C_ERR_PARAMETER) << dpi;
  }
  Page tall(300, 300, 24, 255, 300);
  tall.yres = 20;
  EXPECT_EQ(Depth(tall), -1001);
  Page grey(300, 300, 8, 255, 300);
  grey.yres = 24;
  EXPECT_EQ(Jug(grey), -1001);
  grey.xres = -25;  // kept from the judge's own check
  EXPECT_EQ(Jug(grey), -1003);

  // Records whose pixels do not cover what they claim.
  const std::vector<std::function<void(_P2IIMG&)>> bad = {
      [](_P2IIMG& r) { r.nBytesPerLine = r.nWidth * (r.nBitsPerPixel / 8) - 1; },
      [](_P2IIMG& r) { r.nImageSize -= 1; },
      [](_P2IIMG& r) { r.nRight = r.nWidth; },
      [](_P2IIMG& r) { r.nBottom = r.nHeight; },
      [](_P2IIMG& r) { r.nLeft = 5, r.nRight = 4; },
      [](_P2IIMG& r) { r.nTop = -1; },
      [](_P2IIMG& r) { r.pImageData = nullptr; },
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    Page g(400, 400, 8, 255), c(400, 400, 24, 255), big(1000, 1000, 8, 255, 600);
    _P2IIMG rg = g.P2i(), rc = c.P2i(), rb = big.P2i();
    bad[i](rg), bad[i](rc), bad[i](rb);
    EXPECT_EQ(g_jug(&rg, &level, nullptr, nullptr), -1001) << i;
    EXPECT_EQ(g_jug2(&rg, &level, nullptr, nullptr, "1", nullptr), -1001) << i;
    unsigned index = 0;
    EXPECT_EQ(g_jug3(&rg, &level, nullptr, nullptr, nullptr, &index), -1001) << i;
    if (i < 2 || i == 6) {
      EXPECT_EQ(g_jug3(&rb, &level, nullptr, nullptr, nullptr, &index), -1001) << i;
    }
    EXPECT_EQ(g_depth(&rc, &level, nullptr, nullptr), -1001) << i;
  }

  // Through the dispatcher: control records that the pixels do not cover.
  FSIP_S_IP_MODE bpd{12, 3, 1}, dcm{12, 1, 1};
  FSIP_BPD_S_INPARAM in{};
  in.cbSize = 80;
  FSIP_BPD_S_OUTPARAM out{};
  FSIP_DCM_S_INPARAM dcmIn{};
  FSIP_DCM_S_OUTPARAM dcmOut{};
  for (int depth : {1, 8, 24}) {
    Page page(400, 400, depth, 0);
    FSIP_S_IMAGEINFO_EX im = page.Info();
    im.nBytesPerLine -= 1;
    im.nImageSize = im.nBytesPerLine * im.nHeight;
    EXPECT_EQ(g_process(&bpd, &im, &in, nullptr, &out, nullptr), FSIP_C_ERR_PARAMETER) << depth;
    im = page.Info();
    im.nImageSize -= 1;
    EXPECT_EQ(g_process(&bpd, &im, &in, nullptr, &out, nullptr), FSIP_C_ERR_PARAMETER) << depth;
    if (depth == 24) {
      EXPECT_EQ(g_process(&dcm, &im, &dcmIn, nullptr, &dcmOut, nullptr), FSIP_C_ERR_PARAMETER);
    }
  }
  // No output record for either verdict, or an output image for the blank one.
  Page page(400, 400, 24, 255);
  FSIP_S_IMAGEINFO_EX im = page.Info(), outImage = page.Info();
  EXPECT_EQ(g_process(&dcm, &im, &dcmIn, nullptr, nullptr, nullptr), FSIP_C_ERR_PARAMETER);
  EXPECT_EQ(g_process(&bpd, &im, &in, nullptr, nullptr, nullptr), FSIP_C_ERR_PARAMETER);
  EXPECT_EQ(g_process(&bpd, &im, &in, &outImage, &out, nullptr), FSIP_C_ERR_PARAMETER);
  EXPECT_EQ(g_process(&bpd, &im, &in, nullptr, &out, nullptr), 0);
  EXPECT_EQ(out.nResult, 1);
}

TEST_F(Judges, ColourPagesWiderThan65535PixelsAreJudgedWhole) {
  // The sample grid starts 192 pixels in and steps by 7: 65,600 is on it.
  for (int count : {0, 42}) {
    Page page(67000, 100, 24, 230);
    for (int i = 0; i < count; ++i) page.Rgb(65600 + 7 * i, 48, 0, 0, 0);
    const Verdict v = Control(page, FSIPCTL_FUNC_BLANK_PAGE);
    EXPECT_EQ(v.rc, 0);
    EXPECT_EQ(v.result, count ? 0 : 1) << count;
  }
}

TEST_F(Judges, SecondJudgeCanDoubleItsNeighbourDistance) {
  // Dark squares nine pixels wide on sample points: at distance 4 their
  // centres see only ink; at distance 8 they see paper.
  Page page(1000, 1000, 8, 200);
  for (int i = 0; i < 42; ++i) page.Box(48 + 14 * (i % 20) - 4, 48 + 21 * (i / 20) - 4, 9, 9, 0);
  int level = 0;
  _P2IIMG p = page.P2i();
  EXPECT_EQ(g_jug2(&p, &level, nullptr, nullptr, "", nullptr), 1);
  EXPECT_EQ(g_jug2(&p, &level, nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(g_jug2(&p, &level, nullptr, nullptr, "1", nullptr), 0);
  EXPECT_EQ(Jug(page), 1);
}

// --- the third judge -------------------------------------------------------------

// An A4 page at 300 dpi with a dark patch whose edges keep clear of the
// sample rows and columns (the area starts at 192; the step is 7).
Page PatchPage(int w, int h, uint8_t ink = 100, int dpi = 300) {
  const int scale = dpi / 300;
  Page page(2480 * scale, 3508 * scale, 8, 250, dpi);
  page.Box((192 + 7 * 100 + 1) * scale, (192 + 7 * 200 + 1) * scale, w, h, ink);
  return page;
}

TEST_F(Judges, ThirdJudgeNeedsAPatchOfEightByEightMillimetres) {
  // The seal is int(8 x 300 / 25.4) = 94 pixels: a box from 0 to 94.
  Page square = PatchPage(95, 95), shorter = PatchPage(95, 83), narrower = PatchPage(83, 95);
  EXPECT_EQ(Jug3(square), 0);
  EXPECT_EQ(Jug3(shorter), 1);
  EXPECT_EQ(Jug3(narrower), 1);
  SetConf("ProcLog 1\n");
  EXPECT_EQ(Jug3(shorter), 1);
  const std::string log = Log("P2IJDGWP.log");
  EXPECT_NE(log.find("[T]\t:\t----- P2IJDGWP start-----\n\n"
                     "[T]\t:\t//------------------------------------------------//\n\n"
                     "[T]\t:\tnSealImpWidth  : 94\n\n"
                     "[T]\t:\tnSealImpHeight : 94\n\n"
                     "[T]\t:\t//------------------------------------------------//\n\n"
                     "[T]\t:\tlblNo. : 1\n\n"
                     "[T]\t:\t\tnRectWidth  : 94\n\n"
                     "[T]\t:\t\tnRectHeight : 82\n\n"
                     "[T]\t:\t------> NOISE\n\n\n"),
            std::string::npos)
      << log;
}

TEST_F(Judges, ThirdJudgeDoublesItsNeighbourDistanceOnRequest) {
  // Squares nine pixels wide on 42 sample points of an A4 page.
  Page page(2480, 3508, 8, 250);
  for (int i = 0; i < 42; ++i) page.Box(192 + 14 * (i % 20) - 4, 192 + 21 * (i / 20) - 4, 9, 9, 0);
  _P2IIMG p = page.P2i();
  int level = 0;
  unsigned index = 0;
  P2IJDGWP_OPTION near{0}, far{1};
  EXPECT_EQ(g_jug3(&p, &level, nullptr, nullptr, &near, &index), 1);
  EXPECT_EQ(g_jug3(&p, &level, nullptr, nullptr, nullptr, &index), 1);
  EXPECT_EQ(g_jug3(&p, &level, nullptr, nullptr, &far, &index), 0);
}

TEST_F(Judges, ThirdJudgeWorksOnAQuarterOfA600DpiPage) {
  SetConf("ProcLog 1\n");
  // The 150 dpi reduction: margins 96, step 4, distance 2; a patch of 200
  // pixels is one of 50 there, clear of the sample rows' reach, and the
  // seal int(8 x 150 / 25.4) = 47.
  Page page(4960, 7016, 8, 250, 600);
  page.Box(4 * (96 + 4 * 50 + 1), 4 * (96 + 4 * 100 + 1), 200, 200, 100);
  EXPECT_EQ(Jug3(page), 0);
  EXPECT_NE(Log("P2IJDGWP.log").find("nSealImpWidth  : 47\n"), std::string::npos);
}

TEST_F(Judges, ThirdJudgeSkipsLabellingBelowGlobalThreshold129) {
  SetConf("ProcLog 1\n");
  // Half the examined area dark, half light: 65 and 190 give the threshold
  // 128, and the dark half stays unlabelled; 60 and 196 give 129. The
  // boundary keeps four rows from the sample rows.
  for (int light : {190, 196}) {
    Page page(2480, 3508, 8, static_cast<uint8_t>(light));
    page.Box(0, 0, 2480, 192 + 7 * 224 + 5, light == 190 ? 65 : 60);
    ClearLogDir();
    const int verdict = Jug3(page);
    const std::string log = Log("P2IJDGWP.log");
    if (light == 190) {
      EXPECT_EQ(verdict, 1);
      EXPECT_EQ(log.find("nSealImpWidth"), std::string::npos) << log;
    } else {
      EXPECT_EQ(verdict, 0);
      EXPECT_NE(log.find("nSealImpWidth"), std::string::npos) << log;
    }
  }
}

TEST_F(Judges, ThirdJudgeGivesSmallDocumentsZoneThresholds) {
  // Points of contrast 40: counted against the allowance where the
  // threshold is 30, faint details where it is 45.
  auto card = [](int dx, int dy, int count) {
    // 85 x 54 mm at 300 dpi; margins 48; the area 907 x 541 pixels.
    Page page(1003, 637, 8, 250);
    for (int i = 0; i < count; ++i) page.Grey(48 + dx + 7 * (i % 5), 48 + dy + 7 * (i / 5), 210);
    return page;
  };
  unsigned index = 5;
  Page zone = card(0, 70, 10);  // the first 48 columns are a zone
  EXPECT_EQ(Jug3(zone, &index), 1);
  EXPECT_EQ(index, 15u);
  Page middle = card(434, 70, 10);  // the middle band, 429 to 477
  EXPECT_EQ(Jug3(middle), 1);
  Page inside = card(70, 70, 10);  // allowance 41 x 1003 x 637 / (2481 x 3508) = 3
  EXPECT_EQ(Jug3(inside), 0);
  index = 0;
  Page few = card(0, 70, 2);  // fewer faint details than the allowance
  EXPECT_EQ(Jug3(few, &index), 1);
  EXPECT_EQ(index, 0u);
  // An A4 page has 30 everywhere: 42 points in its margin zone are too many.
  Page a4(2480, 3508, 8, 250);
  for (int i = 0; i < 42; ++i) a4.Grey(192 + 7 * (i % 6), 192 + 7 * 20 + 7 * (i / 6), 210);
  index = 7;
  EXPECT_EQ(Jug3(a4, &index), 0);
  for (int i = 0; i < 42; ++i) a4.Grey(192 + 7 * (i % 6), 192 + 7 * 20 + 7 * (i / 6), 250);
  for (int i = 0; i < 30; ++i) a4.Grey(192 + 7 * (i % 6), 192 + 7 * 20 + 7 * (i / 6), 230);
  EXPECT_EQ(Jug3(a4, &index), 1);
  EXPECT_EQ(index, 7u);  // the index is a small document's
}

// --- colour or mono: the rule's boundaries ------------------------------------------

// A 75 dpi page of 400 x 500 (not reduced; 12- and 48-pixel margins).
Page Small(uint8_t paper = 240) { return Page(400, 500, 24, paper, 75); }

TEST_F(Judges, ReductionFactorFollowsTheResolution) {
  // Pages that reduce to 400 x 500 at about 50 dpi, with a patch of 4 (or 3)
  // reduced pixels made of whole f x f blocks, and a dozen single colour
  // pixels that keep the count above 10: a wrong factor changes the patch.
  struct Case {
    int dpi, f;
  } cases[] = {{75, 1}, {100, 2}, {150, 3}, {200, 4}, {300, 6}, {400, 8}, {600, 12}};
  for (const Case& c : cases) {
    for (int side : {4, 3}) {
      Page page(400 * c.f, 500 * c.f, 24, 240, c.dpi);
      auto colour = [&](int rx, int ry, uint8_t r, uint8_t g, uint8_t b) {
        for (int y = 0; y < c.f; ++y)
          for (int x = 0; x < c.f; ++x) page.Rgb(rx * c.f + x, ry * c.f + y, r, g, b);
      };
      for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) colour(200 + x, 200 + y, 220, 40, 40);
      for (int i = 0; i < 12; ++i) colour(100 + 2 * i, 300, 0, 200, 0);
      EXPECT_EQ(Depth(page), side == 4 ? 24 : 1) << c.dpi << " dpi, side " << side;
    }
  }
}

TEST_F(Judges, ColourPixelCountsAndShares) {
  // Exactly 10 colour pixels, even as one patch, are mono; 11 in a row are
  // counted and labelled.
  Page ten = Small();
  for (int i = 0; i < 10; ++i) ten.Rgb(200 + i % 5, 200 + i / 5, 200, 30, 30);
  EXPECT_EQ(Depth(ten), 1);
  Page sixteen = Small();
  for (int i = 0; i < 16; ++i) sixteen.Rgb(200 + i % 4, 200 + i / 4, 200, 30, 30);
  EXPECT_EQ(Depth(sixteen), 24);
  // 4,000 scattered pixels are 2.0 % of 400 x 500: colour without a patch;
  // 3,999 go to labelling, where single pixels make no patch.
  for (int count : {4000, 3999}) {
    Page page = Small();
    for (int i = 0; i < count; ++i) page.Rgb(12 + 2 * (i % 188), 48 + 2 * (i / 188), 30, 30, 200);
    EXPECT_EQ(Depth(page), count == 4000 ? 24 : 1) << count;
  }
  // A quarter of the page or more is colour whatever the share.
  Page quarter = Small();
  quarter.Box(0, 0, 400, 125, 0);
  for (int y = 0; y < 125; ++y)
    for (int x = 0; x < 400; ++x) quarter.Rgb(x, y, 200, 30, 30);
  EXPECT_EQ(Depth(quarter), 24);
  // A 3 x 40 stripe is mono, a 4 x 4 patch colour; patches in the margin are
  // not labelled.
  struct Case {
    int x, y, w, h, want;
  } cases[] = {{200, 200, 3, 40, 1}, {200, 200, 40, 3, 1}, {200, 200, 4, 4, 24}, {6, 200, 6, 6, 1}, {200, 10, 6, 6, 1}};
  for (const Case& c : cases) {
    Page page = Small();
    for (int y = c.y; y < c.y + c.h; ++y)
      for (int x = c.x; x < c.x + c.w; ++x) page.Rgb(x, y, 30, 200, 30);
    EXPECT_EQ(Depth(page), c.want) << c.x << " " << c.y << " " << c.w << "x" << c.h;
  }
}

TEST_F(Judges, ColourPixelNeedsSpreadAndBrightness) {
  struct Case {
    uint8_t r, g, b;
    int level, want;
  } cases[] = {
      {61, 26, 26, 0, 24},     {60, 25, 25, 0, 1},   {100, 66, 66, 0, 1},
      {26, 61, 26, 0, 24},     {90, 70, 70, -5, 24}, {90, 71, 71, -5, 1},  // -5: spread 20
      {200, 155, 155, 5, 1},                                               // 5: a patch of 15 needed
      {200, 155, 155, 99, 24},                                             // outside -5..5: level 0
  };
  for (const Case& c : cases) {
    Page page = Small();
    for (int y = 200; y < 212; ++y)
      for (int x = 200; x < 212; ++x) page.Rgb(x, y, c.r, c.g, c.b);
    EXPECT_EQ(Depth(page, c.level), c.want) << +c.r << "," << +c.g << "," << +c.b << " level " << c.level;
  }
}

TEST_F(Judges, ColourJudgeRefusesWhatIsNotAColourPage) {
  Page grey(400, 500, 8, 200, 75);
  EXPECT_EQ(Depth(grey), -1003);
  EXPECT_EQ(Control(grey, FSIPCTL_FUNC_COLOUR_DECISION).rc, FSIP_C_ERR_PIXELTYPE);
  int level = 0;
  EXPECT_EQ(g_depth(nullptr, &level, nullptr, nullptr), -1001);
  // Pages of under 100 reduced pixels share by one, not by zero.
  Page tiny(9, 9, 24, 240, 75);
  for (int i = 0; i < 15; ++i) tiny.Rgb(i % 9, i / 9, 200, 20, 20);
  EXPECT_EQ(Depth(tiny), 24);
  Page none(5, 5, 24, 240, 600);  // nothing left after reducing by 12
  EXPECT_EQ(Depth(none), 1);

  SetConf("ProcLog 1\n");
  FSIP_S_IP_MODE dcm{12, 1, 1};
  FSIP_DCM_S_INPARAM in{};
  FSIP_DCM_S_OUTPARAM out{};
  struct Case {
    std::function<void(FSIP_S_IMAGEINFO_EX&)> spoil;
    int rc, number;
    const char* text;
  } cases[] = {
      {[](FSIP_S_IMAGEINFO_EX& im) { im.pImageData = nullptr; }, -2, 245, "Error GetDocBestDepth() PARAMETER"},
      {[](FSIP_S_IMAGEINFO_EX& im) { im.nPixelType = 1; }, -3, 250, "Error GetDocBestDepth() PIXELTYPE"},
      {[](FSIP_S_IMAGEINFO_EX& im) { im.nDepth = 32; }, -2, 255, "Error GetDocBestDepth() PARAMETER nDepth"},
      {[](FSIP_S_IMAGEINFO_EX& im) { im.nColorSeq = 6; }, -2, 260, "Error GetDocBestDepth() PARAMETER nColorSeq"},
      {[](FSIP_S_IMAGEINFO_EX& im) { im.Rect.nWidth = 5; }, -2, 268, "Error GetDocBestDepth() PARAMETER Rect"},
      {[](FSIP_S_IMAGEINFO_EX& im) { im.nXResolution = 10; }, -2, 340, "Error GetDocBestDepth() PARAMETER"},
  };
  Page page = Small();
  for (const Case& c : cases) {
    ClearLogDir();
    FSIP_S_IMAGEINFO_EX im = page.Info();
    c.spoil(im);
    EXPECT_EQ(g_process(&dcm, &im, &in, nullptr, &out, nullptr), c.rc) << c.text;
    char line[128];
    snprintf(line, sizeof line, "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_DCM(%05d):\t%s\n", c.number, c.text);
    EXPECT_NE(Log("FSIPCTL.log").find(line), std::string::npos) << Log("FSIPCTL.log");
  }
  ClearLogDir();
  EXPECT_EQ(g_process(&dcm, nullptr, &in, nullptr, &out, nullptr), -2);
  FSIP_S_IMAGEINFO_EX im = page.Info();
  EXPECT_EQ(g_process(&dcm, &im, nullptr, nullptr, &out, nullptr), -2);
  EXPECT_NE(Log("FSIPCTL.log").find("FsipCtl_DCM(00240):\tError GetDocBestDepth() PARAMETER\n"), std::string::npos);
  EXPECT_NE(Log("FSIPCTL.log").find("FsipCtl_DCM(00273):\tError GetDocBestDepth() PARAMETER\n"), std::string::npos);
}

// --- logs and dumps ----------------------------------------------------------------

TEST_F(Judges, BlankPageLogsTheirLinesByteForByte) {
  SetConf("ProcLog 1\n");
  Page blank = PointsPage(1000, 1000, 41, 48, 48), inked = PointsPage(1000, 1000, 42, 48, 48);
  EXPECT_EQ(Jug(blank), 1);
  EXPECT_EQ(Jug(inked), 0);
  Page small(96, 400, 8, 255);
  EXPECT_EQ(Jug(small), 0);
  EXPECT_EQ(Log("P2IJDGWP.log"),
            "[T]\t:\t----P2IjugWhitePaper Begin---------\n\n"
            "[T]\t:\t---tmp1:904---tmp2:904---tmp3:4---\n\n"
            "[T]\t:\t----Is Blank Page----\n\n"
            "[T]\t:\t----P2IjugWhitePaper end---------\n\n"
            "[T]\t:\t----P2IjugWhitePaper Begin---------\n\n"
            "[T]\t:\t---tmp1:904---tmp2:904---tmp3:4---\n\n"
            "[T]\t:\t----Is Not Blank Page----\n\n"
            "[T]\t:\t----P2IjugWhitePaper Begin---------\n\n"
            "[T]\t:\t----(sxg1 >= exg1) || (syg1 >= eyg1)---------\n\n");
  // The second judge writes nothing.
  ClearLogDir();
  int level = 0;
  _P2IIMG p = blank.P2i();
  EXPECT_EQ(g_jug2(&p, &level, nullptr, nullptr, "", nullptr), 1);
  EXPECT_TRUE(LogDirFiles().empty());
  // Nor does anything without ProcLog.
  SetConf("ProcLog 0\n");
  EXPECT_EQ(Jug(blank), 1);
  EXPECT_TRUE(LogDirFiles().empty());
}

TEST_F(Judges, ThirdJudgeLogsItsFaintDetails) {
  SetConf("ProcLog 1\n");
  Page card(1003, 637, 8, 250);
  for (int i = 0; i < 3; ++i) card.Grey(48 + 7 * i, 48 + 70, 210);  // contrast 40, in the zone
  card.Grey(48 + 70, 48 + 70, 230);                                 // 20, outside it
  unsigned index = 1;
  EXPECT_EQ(Jug3(card, &index), 1);
  EXPECT_EQ(index, 5u);
  std::string expected = "[T]\t:\t----- P2IJDGWP start-----\n\n";
  for (int v = 15; v <= 45; ++v)
    expected += "[T]\t:\tunderThPix[" + std::to_string(v) + "] : " + (v == 40 ? "3" : v == 20 ? "1" : "0") + "\n\n";
  expected +=
      "[T]\t:\t\n*pDwNotWPIndex => 5\n\n"
      "[T]\t:\tcount2 => 3\n\n"
      "[T]\t:\t//------------------------------------------------//\n\n"
      "[T]\t:\tnSealImpWidth  : 94\n\n"
      "[T]\t:\tnSealImpHeight : 94\n\n"
      "[T]\t:\t//------------------------------------------------//\n\n";
  for (int n = 1; n <= 3; ++n)
    expected += "[T]\t:\tlblNo. : " + std::to_string(n) +
                "\n\n[T]\t:\t\tnRectWidth  : 0\n\n[T]\t:\t\tnRectHeight : 0\n\n[T]\t:\t------> NOISE\n\n\n";
  EXPECT_EQ(Log("P2IJDGWP.log"), expected);
  // Fewer faint details than the allowance clear the index.
  ClearLogDir();
  index = 0;
  Page two(1003, 637, 8, 250);
  two.Grey(48, 48 + 70, 210), two.Grey(48 + 70, 48 + 70, 230);
  EXPECT_EQ(Jug3(two, &index), 1);
  EXPECT_EQ(index, 0u);
  EXPECT_NE(Log("P2IJDGWP.log").find("[T]\t:\t(*pDwNotWPIndex < count2) => (*pDwNotWPIndex = 0)\n\n"),
            std::string::npos);
}

TEST_F(Judges, ColourJudgeLogsItsDecisionByteForByte) {
  SetConf("ProcLog 1\n");
  Page page = Small();
  for (int y = 200; y < 240; ++y)
    for (int x = 200; x < 203; ++x) page.Rgb(x, y, 30, 200, 30);
  const Verdict v = Control(page, FSIPCTL_FUNC_COLOUR_DECISION);
  EXPECT_EQ(v.rc, 0);
  EXPECT_EQ(v.result, 1);
  EXPECT_EQ(Log("P2IDEPTH.log"),
            "[T]\t:\t---------------------------DCM BEGIN------------------------\n"
            "[T]\t:\t       BlockSize=4,Threshold=35\n\n"
            "[T]\t:\t       iro_count=120,fYusaiPer=0.060000\n\n"
            "[T]\t:\t       iThreshold=50000 \n\n"
            "[T]\t:\t       fYusaiPer < 2 \n\n"
            "[T]\t:\t       ラベリング結果についてチェック \n\n"
            "[T]\t:\t       lbl_data_k.maxlabel=1 \n\n"
            "[T]\t:\t[Judge][COLOR]->iBlockSize\n"
            "[T]\t:\t(ilHeight=40,ilWidth=3)\n\n"
            "[T]\t:\t**If this image is MONO, BlockSize need go up.**\n"
            "[T]\t:\t---------------------------DCM END--------------------------\n");
  EXPECT_NE(Log("FSIPCTL.log")
                .find("[T]\t../Imgforge/KeloFsipCtl/FsipCtl_DCM(00196):\tStart GetDocBestDepth()\n"
                      "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_DCM(00334):\tFSIP_C_DCM:Mono!!\n"
                      "[T]\t../Imgforge/KeloFsipCtl/FsipCtl_DCM(00200):\tEnd GetDocBestDepth()\n"),
            std::string::npos)
      << Log("FSIPCTL.log");
  ClearLogDir();
  Page few = Small(), many = Small();
  for (int i = 0; i < 5; ++i) few.Rgb(200 + i, 200, 200, 30, 30);
  for (int y = 0; y < 125; ++y)
    for (int x = 0; x < 400; ++x) many.Rgb(x, y, 200, 30, 30);
  EXPECT_EQ(Depth(few), 1);
  EXPECT_EQ(Depth(many), 24);
  EXPECT_EQ(Log("P2IDEPTH.log"),
            "[T]\t:\t---------------------------DCM BEGIN------------------------\n"
            "[T]\t:\t       BlockSize=4,Threshold=35\n\n"
            "[T]\t:\t       iro_count=5,fYusaiPer=0.002500\n\n"
            "[T]\t:\t       iThreshold=50000 \n\n"
            "[T]\t:\t[Judge][MONO]->RGB_Threshold\n\n"
            "[T]\t:\t(iro_count <= 10)\n\n"
            "[T]\t:\t**If this image is COLOR, Threshold need go down.**\n"
            "[T]\t:\t---------------------------DCM END--------------------------\n"
            "[T]\t:\t---------------------------DCM BEGIN------------------------\n"
            "[T]\t:\t       BlockSize=4,Threshold=35\n\n"
            "[T]\t:\t       iro_count=50000,fYusaiPer=25.000000\n\n"
            "[T]\t:\t       iThreshold=50000 \n\n"
            "[T]\t:\t[Judge][COLOR]->RGB_Threshold\n\n"
            "[T]\t:\t(iro_count >= iThreshold=50000)\n\n"
            "[T]\t:\t**If this image is MONO, Threshold need go up.**\n"
            "[T]\t:\t---------------------------DCM END--------------------------\n");
}

TEST_F(Judges, DumpsOfTheJudges) {
  // The grey judge page, as the blank-page road hands it on.
  SetConf("SaveBitmap 1\n");
  Page colour(1000, 800, 24, 255, 300);
  colour.Rgb(10, 20, 100, 150, 200);
  EXPECT_EQ(Control(colour, FSIPCTL_FUNC_BLANK_PAGE).result, 1);
  std::vector<std::string> dumps = Named("KELOBPD_", ".bmp");
  ASSERT_FALSE(dumps.empty());
  Bmp bmp;
  ASSERT_TRUE(ReadBmp(dravn_test::ReadFile(LogPath(dumps[0])), &bmp));
  EXPECT_EQ(bmp.bitCount, 8);
  EXPECT_EQ(bmp.width, 1000);
  EXPECT_EQ(bmp.pixels[20 * 1000 + 10], (77 * 100 + 151 * 150 + 28 * 200) >> 8);
  EXPECT_EQ(bmp.pixels[0], 255);

  // The colour map, only with DoCrop 0; rows padded to four bytes.
  ClearLogDir();
  Page page = Small();
  for (int y = 200; y < 204; ++y)
    for (int x = 100; x < 110; ++x) page.Rgb(x, y, 30, 200, 30);
  EXPECT_EQ(Depth(page), 24);
  EXPECT_TRUE(Named("P2IDEPTH", ".bmp").empty());
  SetConf("SaveBitmap 1\nDoCrop 0\n");
  EXPECT_EQ(Depth(page), 24);
  dumps = Named("P2IDEPTH", ".bmp");
  ASSERT_EQ(dumps.size(), 1u);
  const std::string file = dravn_test::ReadFile(LogPath(dumps[0]));
  ASSERT_TRUE(ReadBmp(file, &bmp));
  EXPECT_EQ(bmp.bitCount, 1);
  EXPECT_EQ(bmp.offset, 62u);
  EXPECT_EQ(bmp.imageSize, 52u * 500);
  EXPECT_EQ(bmp.ppmX, 1969u);
  EXPECT_EQ(bmp.palette, (std::vector<uint8_t>{255, 255, 255, 0, 0, 0, 0, 0}));
  int set = 0;
  for (int y = 0; y < 500; ++y)
    for (int x = 0; x < 400; ++x) {
      const bool colourPixel = y >= 200 && y < 204 && x >= 100 && x < 110;
      EXPECT_EQ(bmp.pixels[static_cast<size_t>(y) * 400 + x], colourPixel ? 1 : 0) << x << "," << y;
      set += bmp.pixels[static_cast<size_t>(y) * 400 + x];
    }
  EXPECT_EQ(set, 40);
  struct stat st {};
  ASSERT_EQ(stat(LogPath(dumps[0]).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0777u);

  // The third judge's map and, when it finds a page not blank, its marks.
  ClearLogDir();
  SetConf("SaveBitmap 1\n");
  Page inked = PointsPage(1000, 1000, 60, 48, 48);
  EXPECT_EQ(Jug3(inked), 0);
  const auto otsu = Named("p2ijdgwp_OtsuImg", ".pnm"), debug = Named("dbgImg", ".pnm");
  ASSERT_EQ(otsu.size(), 1u);
  ASSERT_EQ(debug.size(), 1u);
  EXPECT_EQ(dravn_test::ReadFile(LogPath(otsu[0])).compare(0, 12, "P4\n904 904\n1"), 0);
  const std::string ppm = dravn_test::ReadFile(LogPath(debug[0]));
  EXPECT_EQ(ppm.compare(0, 17, "P6\n1000 1000\n255\n"), 0);
  EXPECT_EQ(ppm.size(), 17u + 3000000u);
}

TEST_F(Judges, DumpsNeverFollowALink) {
  SetConf("SaveBitmap 1\n");
  const std::string victim = LogPath("victim");
  dravn_test::WriteFile(victim, "keep");
  // The third judge numbers its dumps from 0 in each process: lay links on
  // every name this process could use next.
  for (int i = 0; i < 8; ++i) {
    char name[64];
    snprintf(name, sizeof name, "dbgImg%03d.pnm", i);
    symlink(victim.c_str(), LogPath(name).c_str());
    snprintf(name, sizeof name, "p2ijdgwp_OtsuImg%d.pnm", i);
    symlink(victim.c_str(), LogPath(name).c_str());
  }
  Page inked = PointsPage(1000, 1000, 60, 48, 48);
  EXPECT_EQ(Jug3(inked), 0);
  EXPECT_EQ(dravn_test::ReadFile(victim), "keep");
}

}  // namespace
