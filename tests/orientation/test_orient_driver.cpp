// The orientation driver's own steps: decimation, the background test,
// ranking and the four-line cut-off, when the inverted pass runs, the merge
// of the two passes, the language fold; the whole driver on rendered pages;
// and the profile-driven engine parameters.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device_param.h"
#include "degraded_pages.h"
#include "cnn_kernels.h"
#include "driver.h"
#include "dravn_paths.h"
#include "helper_binding.h"
#include "i3ip_share.h"
#include "orient_driver.h"
#include "test_support.h"
#include "text_line_pages.h"

using namespace turnsense;

namespace {

// The staged libraries bound as the unit binds them when it is loaded.
class StagedLibraries : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(LoadI3ipShare(DRAVN_LIB_DIR "/libopencv.so"), 0);
    ASSERT_EQ(LoadI3Helper(DRAVN_LIB_DIR "/libhelper.so", 129), 0);
    gIPPShare_cblas_sgemm = reinterpret_cast<SgemmFn>(dlsym(g_i3ipShare.handle, "OPCV_cblas_sgemm"));
  }
  void TearDown() override {
    UnloadI3Helper();
    FreeI3ipShare();
  }
};
const auto* const kLibraries = ::testing::AddGlobalTestEnvironment(new StagedLibraries);

TEST(OrientDriver, DecimationFactor) {
  struct Case {
    int dpi, width, height, f;
  };
  for (const Case c : {Case{600, 4960, 7016, 6}, Case{301, 700, 700, 6}, Case{300, 700, 990, 1}, Case{300, 751, 900, 2},
                       Case{300, 1400, 2000, 2}, Case{300, 2480, 3508, 3}, Case{200, 9000, 9000, 3},
                       Case{300, 3508, 2480, 3}})
    EXPECT_EQ(get_decimate_rate_size(c.dpi, c.width, c.height), c.f) << c.dpi << " " << c.width << "x" << c.height;
}

TEST(OrientDriver, DecimationSamplesEveryFthPixelOfEveryFthRow) {
  const int w = 13, h = 7, stride = 16;
  std::vector<uint8_t> page(size_t(stride) * h, 0xEE), copy(size_t(w) * h), small(6 * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) page[size_t(y) * stride + x] = uint8_t(10 * y + x);
  img_decimate_integer_fast_padding(page.data(), copy.data(), w, h, stride, small.data(), 6, 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(copy[size_t(y) * w + x], 10 * y + x);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(small[size_t(y) * 6 + x], 10 * 2 * y + 2 * x);
  // A packed page that is its own copy decimates the same and stays as it was.
  std::vector<uint8_t> packed(copy), again(6 * 3);
  img_decimate_integer_fast_padding(packed.data(), packed.data(), w, h, w, again.data(), 6, 3);
  EXPECT_EQ(again, small);
  EXPECT_EQ(packed, copy);
}

// A page a few pixels wide samples its columns further apart than its rows'
// factor: 11 x 18 at 600 dpi gives 1 x 3 at column step 11, so the third
// row would be page row 22. Rows past the page take its last row instead of
// reading past the page.
TEST(OrientDriver, DecimationOfAPageNarrowerThanItsFactorStaysOnThePage) {
  const int w = 11, h = 18;
  const int f = get_decimate_rate_size(600, w, h);
  ASSERT_EQ(f, 6);
  std::vector<uint8_t> page(size_t(w) * h), copy(page.size()), small(size_t(w / f) * (h / f));
  for (size_t i = 0; i < page.size(); ++i) page[i] = uint8_t(i);
  img_decimate_integer_fast_padding(page.data(), copy.data(), w, h, w, small.data(), w / f, h / f);
  EXPECT_EQ(copy, page);
  EXPECT_EQ(small, (std::vector<uint8_t>{page[0], page[11 * w], page[17 * w]}));
}

// Scores in list order; the first `first` belong to the first group.
struct RankCase {
  const char* what;
  std::vector<float> scores;
  int first;
  std::vector<int> order;
};

TEST(OrientDriver, RankingSortsEachGroupAndMayBringTheOtherGroupsBestForward) {
  const std::vector<RankCase> cases = {
      {"each group by descending score", {1, 5, 3, 2, 9}, 3, {1, 2, 0, 4, 3}},
      {"equal scores keep their places", {2, 2, 7, 2}, 4, {2, 1, 0, 3}},
      {"second group's best more than five times the first's: into the last place",
       {3, 1, 16, 2},
       2,
       {0, 2, 1, 3}},
      {"exactly five times: no exchange", {3, 1, 15, 2}, 2, {0, 1, 2, 3}},
      {"a long first group: into place 8",
       {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 50},
       10,
       {0, 1, 2, 3, 4, 5, 6, 10, 8, 9, 7}},
      {"one group only", {1, 4}, 0, {1, 0}},
  };
  for (const RankCase& c : cases) {
    std::vector<float> s = c.scores;
    std::vector<int> order(s.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = int(i);
    RankLines(s.data(), order.data(), c.first, int(s.size()));
    EXPECT_EQ(order, c.order) << c.what;
    for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(s[i], c.scores[size_t(order[i])]) << c.what;
  }
}

TEST(OrientDriver, FourLinesInTheFirstPassAreCutOffBelowASixthOfTheBest) {
  struct Case {
    int pass;
    std::vector<float> scores;
    int handed;
  };
  for (const Case& c : {Case{0, {12, 1, 1, 1}, 1}, Case{0, {12, 3, 1, 1}, 2}, Case{0, {12, 2, 2, 2}, 1},
                        Case{1, {12, 1, 1, 1}, 4}, Case{0, {12, 1, 1, 1, 1}, 5}, Case{0, {12, 1, 1}, 3},
                        Case{0, {}, 0}})
    EXPECT_EQ(LinesHandedOn(c.pass, c.scores.data(), int(c.scores.size())), c.handed)
        << "pass " << c.pass << ", " << c.scores.size() << " lines";
}

PassResult Pass(int direction, int effective, int tie = 0, int few = 0, std::vector<float> slots = {}) {
  PassResult p;
  p.direction = direction, p.effective = effective, p.tie = tie, p.few = few;
  for (size_t i = 0; i < slots.size(); ++i) p.slots[i] = slots[i];
  return p;
}

TEST(OrientDriver, TheInvertedPassRunsUnlessTheFirstOneSettled) {
  struct Case {
    PassResult pass;
    bool settles;
  };
  for (const Case& c : {Case{Pass(2, 4), true}, Case{Pass(2, 6), true}, Case{Pass(-1, 5), false},
                        Case{Pass(1, 0), false}, Case{Pass(1, 3), true}, Case{Pass(1, 3, 0, 1), false},
                        Case{Pass(1, 2), false}})
    EXPECT_EQ(PassSettles(c.pass), c.settles) << c.pass.direction << " " << c.pass.effective << " " << c.pass.few;
}

TEST(OrientDriver, MergeOfTheTwoPasses) {
  struct Case {
    const char* what;
    PassResult p0, p1;
    int direction, confidence;
  };
  const std::vector<Case> cases = {
      {"no verdict in either", Pass(-1, 0), Pass(-1, 0), -1, 0},
      {"pass 0 alone: its slots", Pass(2, 4, 0, 0, {0, 0, 1.5f, 0.25f}), Pass(-1, 0), 2, 750},
      {"slots summed", Pass(0, 2, 0, 0, {1, 0, 0.8f}), Pass(2, 3, 0, 0, {0, 0, 0.6f}), 2, 700},
      {"equal sums: the first slot", Pass(0, 2, 0, 0, {1, 0, 0, 1}), Pass(-1, 0), 0, 500},
      {"tied pass 0, pass 1 has lines", Pass(0, 2, 1, 0, {1, 0, 1}), Pass(3, 1, 0, 0, {0, 0, 0, 0.1f}), 3, 0},
      {"tied pass 0, pass 1 without lines", Pass(0, 2, 1, 0, {1, 0, 1}), Pass(-1, 0), 0, 0},
      {"tied pass 1, pass 0 without lines", Pass(-1, 0), Pass(1, 2, 1, 0, {0, 1, 0, 1}), 1, 0},
      {"tied pass 1, pass 0 with lines", Pass(2, 1, 0, 0, {0, 0, 3}), Pass(1, 2, 1, 0, {0, 1, 0, 1}), 2, 0},
      {"both tied: slots summed", Pass(0, 2, 1, 0, {1, 0, 1}), Pass(2, 2, 1, 0, {0, 0, 1}), 2, 1000},
  };
  for (const Case& c : cases) {
    const PassResult passes[2] = {c.p0, c.p1};
    int direction = 9, confidence = 9;
    MergePasses(passes, direction, confidence);
    EXPECT_EQ(direction, c.direction) << c.what;
    EXPECT_EQ(confidence, c.confidence) << c.what;
  }
}

TEST(OrientDriver, LanguageFoldsTurnedScriptsIntoTheirUprightOnes) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, int>> counts;  // label, count
    bool merge;
    int language;
  };
  const std::vector<Case> cases = {
      {"nothing counted", {}, true, -1},
      {"Latin180 counts as Latin0", {{11, 3}, {6, 2}}, true, 10},
      {"without the fold Latin180 stands", {{11, 3}, {6, 2}}, false, 11},
      {"the CJ turns and Korean add up", {{3, 1}, {4, 1}, {5, 1}, {8, 1}, {9, 1}, {10, 4}}, true, 2},
      {"Cyril180 stays apart", {{7, 3}, {6, 2}, {10, 2}}, true, 7},
      {"Arabic180 into Arabic0, a tie goes to the first", {{1, 2}, {12, 2}}, true, 0},
      {"Background counts", {{24, 5}, {10, 4}}, true, 24},
      {"every other pair", {{13, 1}, {15, 1}, {17, 1}, {19, 1}, {21, 1}, {23, 2}, {22, 1}}, true, 22},
  };
  for (const Case& c : cases) {
    int counts[25] = {};
    for (auto [label, n] : c.counts) counts[label] = n;
    EXPECT_EQ(calc_mode_language(counts, c.merge), c.language) << c.what;
  }
}

// The unit's answer from the driver's verdict.
TEST(OrientDriver, OnlyAConfidentQuarterTurnReachesTheCaller) {
  struct Case {
    int direction, confidence, out;
  };
  for (const Case c : {Case{1, 500, 1}, Case{3, 99999, 3}, Case{2, 100000, 0}, Case{4, 10, 0}, Case{-1, 0, 0},
                       Case{0, 700, 0}})
    EXPECT_EQ(UnitQuarterTurn(c.direction, c.confidence), c.out) << c.direction << " " << c.confidence;
}

// --- the background test and the driver on rendered pages ----------------------

using dravn_text_pages::Grey;

// Text on a fine paper texture, as recycled or patterned paper scans.
Grey Textured(Grey page) {
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x < page.width; ++x)
      if (page.At(x, y) > 128) page.At(x, y) = ((x / 2 + y / 2) % 2) ? 240 : 150;
  return page;
}

TEST(OrientDriver, TexturedPaperIsFoundAndSmoothed) {
  using namespace dravn_text_pages;
  struct Case {
    const char* what;
    Grey page;
    bool textured;
  };
  const Grey letter = LetterPage(150, 16).page;
  for (const Case& c : {Case{"plain letter", letter, false}, Case{"textured letter", Textured(letter), true},
                        Case{"blank paper", RenderRuns(1240, 1754, {}).page, false}}) {
    SCOPED_TRACE(c.what);
    Grey page = c.page;
    std::vector<uint8_t> copy(page.pixels.size());
    bool textured = false;
    int f = 0;
    uint8_t *grey = nullptr, *binary = nullptr;
    ASSERT_EQ(texture_background_detection(page.pixels.data(), copy.data(), page.width, page.height, 300, page.width,
                                           textured, f, grey, binary),
              0);
    std::unique_ptr<uint8_t[]> g(grey), b(binary);
    EXPECT_EQ(f, 2);
    EXPECT_EQ(textured, c.textured);
    // A textured page is smoothed in place: its texture no longer alternates.
    EXPECT_EQ(page.pixels != c.page.pixels, c.textured);
  }
  Grey tiny = RenderRuns(2, 2, {}).page;
  std::vector<uint8_t> copy(4);
  bool textured;
  int f;
  uint8_t *grey = nullptr, *binary = nullptr;
  EXPECT_EQ(texture_background_detection(tiny.pixels.data(), copy.data(), 2, 2, 600, 2, textured, f, grey, binary),
            kLimitExceeded);
}

TEST(OrientDriver, DensityAndVarianceOfTheDecimatedPage) {
  // Vertical stripes two pixels apart: every other pixel starts a dark run.
  const int w = 72, h = 70;
  std::vector<uint8_t> binary(size_t(w) * h), grey(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      binary[size_t(y) * w + x] = x % 2 ? 255 : 0;
      grey[size_t(y) * w + x] = uint8_t(x % 4 == 1 ? 100 : 120);
    }
  EXPECT_FLOAT_EQ(texture_background_detection_density(binary.data(), w, h), 0.5f);
  EXPECT_EQ(cal_variance(grey.data(), binary.data(), w, h), 100);
  std::fill(binary.begin(), binary.end(), 255);
  EXPECT_FLOAT_EQ(texture_background_detection_density(binary.data(), w, h), 0.0f);
}

TEST(OrientDriver, CentreBandOfALineLeavesItsFaintEdgeRows) {
  // Rows 0-1 faint, 2-9 ink, 10-11 faint: the band moves in by the faint rows
  // (at most thickness / 6 = 2 each side).
  const int w = 20, h = 12;
  std::vector<uint8_t> grey(size_t(w) * h, 250);
  for (int y = 2; y < 10; ++y)
    for (int x = 0; x < w; x += 2) grey[size_t(y) * w + x] = 0;
  turnsense::tagRECT band{};
  ASSERT_EQ(GetCentLine(grey.data(), w, h, turnsense::tagRECT{0, 0, w - 1, h - 1}, band, 0), 0);
  EXPECT_EQ(band.top, 2);
  EXPECT_EQ(band.bottom, 9);
  // The same line standing: columns.
  std::vector<uint8_t> turned(size_t(w) * h, 250);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) turned[size_t(x) * h + y] = grey[size_t(y) * w + x];
  ASSERT_EQ(GetCentLine(turned.data(), h, w, turnsense::tagRECT{0, 0, h - 1, w - 1}, band, 1), 0);
  EXPECT_EQ(band.left, 2);
  EXPECT_EQ(band.right, 9);
}

// An engine without networks: pages without text lines never reach them.
AD_OUTPUT Drive(Grey page, int dpi, int* rc) {
  OcrEngine none;
  AD_OUTPUT out{};
  *rc = auto_orientation_Pavix_v2(&none, page.pixels.data(), nullptr, page.width, page.height, page.width, dpi, out,
                                  nullptr, nullptr, 0);
  return out;
}

TEST(OrientDriver, BlankAndPictureOnlyPagesGiveNoVerdict) {
  using namespace dravn_text_pages;
  for (const Grey& page : {RenderRuns(1240, 1754, {}).page, RenderRuns(2480, 3508, {}, 0, 40).page}) {
    int rc = -1;
    const AD_OUTPUT out = Drive(page, 300, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out.direction, -1);
    EXPECT_EQ(out.confidence, 0);
    EXPECT_EQ(out.pass_direction[0], -1);
    EXPECT_EQ(out.pass_direction[1], -1);
    EXPECT_EQ(out.language, -1);
  }
  int rc = 0;
  Drive(RenderRuns(5, 400, {}).page, 600, &rc);
  EXPECT_EQ(rc, 0xffff);  // smaller than its factor
}

// --- profile-driven parameters ---------------------------------------------------

struct ParamCase {
  const char* what;
  std::string profile;  // empty: no file
  const char* device;
  int mode;
  std::vector<std::pair<int, int>> entries;  // entry, value where it differs from the defaults
};

TEST(DeviceParam, ProfileKeysDefaultsAndDeviceAddends) {
  const std::string dir = dravn_test::MakeTempDir("devparam");
  const int kDefaults[kBinParams] = {0, 0, 25, 0, 0, 0, 0, 0, 5, 4, 1, 1, 0, 10, 50, 50,
                                     0, 0, 0, 0, 0, 50, 50, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const std::vector<ParamCase> cases = {
      {"no profile", "", "DEV", 7, {}},
      {"contrast with its device addend",
       "[InitParam]\nCONTRAST_CORRECTION=3\n[DEV]\nCONTRAST_COR0=-1\nGAMMA_COR0=5\nBACKGROUND0=2\n",
       "DEV",
       7,
       {{0, 2}, {2, 30}, {4, 2}}},
      {"another device's addends do not count", "[InitParam]\nEDGE=4\n[OTHER]\nEDGE0=9\n", "DEV", 7, {{3, 4}}},
      {"AUTO_CONTRAST 3 sets bits 0 and 1", "[Mode]\nAUTO_CONTRAST=3\nPRE_PROC=0\n", "DEV", 7, {}},
      {"mode bits from the profile",
       "[Mode]\nAUTO_CONTRAST=0\nPRE_PROC=0\nANALYZE_BACKGROUND=0\nTHREAD_AUTO=1\nFunctionPress_Modeb3=1\n", "DEV",
       int(0x80000020u), {}},
      {"fixed parameters and the mark keys",
       "[FixParameters]\nTextWide=7\nBackGroundStep=2\n[InitParam]\nMarkMode=1\nMarkOffsetY=12\nTHREAD_NUM=3\n",
       "DEV",
       7,
       {{8, 7}, {9, 2}, {20, 1}, {22, 12}, {11, 3}}},
  };
  for (const ParamCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir + "/param.ini";
    std::remove(path.c_str());
    if (!c.profile.empty()) dravn_test::WriteFile(path, c.profile);
    int mode = -1, params[kBinParams], kernel[kBinKernel];
    std::memset(params, 0x55, sizeof params);
    char device[16];
    std::strcpy(device, c.device);
    GetDeviceParam(path.c_str(), device, &mode, params, kernel);
    EXPECT_EQ(mode, c.mode);
    int expected[kBinParams];
    std::memcpy(expected, kDefaults, sizeof expected);
    for (auto [entry, value] : c.entries) expected[entry] = value;
    for (int i = 0; i < kBinParams; ++i) EXPECT_EQ(params[i], expected[i]) << "entry " << i;
    int log[kBinKernel];
    CreateLogFilter(params[10] / 1000.0, 5, log);
    EXPECT_EQ(0, std::memcmp(kernel, log, sizeof log));
  }
  std::filesystem::remove_all(dir);
}

}  // namespace

namespace {

// Fixed-bias engines from the classifier fixtures: `script` and `rotation`
// name model texts of fixed_bias/model.
struct FixtureEngine {
  OcrEngine engine;
  FixtureEngine(const char* script, const char* rotation) {
    const std::string models = std::string(DRAVN_SOURCE_DIR) + "/tests/fixtures/cnn_models";
    std::string detector = models + "/detector";
    engine.detector1 = TDInit(detector.data());
    engine.detector2 = TDInit(detector.data());
    const std::string bias = models + "/fixed_bias";
    const std::string s = std::string("%s/model/") + script, r = std::string("%s/model/") + rotation;
    engine.script1 = VOMBCNN_Init(bias.c_str(), s.c_str());
    engine.rotation1 = VOMBCNN_Init(bias.c_str(), r.c_str());
    engine.script2 = VOMBCNN_Init(bias.c_str(), s.c_str());
    engine.rotation2 = VOMBCNN_Init(bias.c_str(), r.c_str());
  }
  ~FixtureEngine() {
    TDRelease(engine.detector1);
    TDRelease(engine.detector2);
    for (CnnEngine* e : {engine.script1, engine.rotation1, engine.script2, engine.rotation2}) VOMBCNN_Release(e);
  }
};

// With engines that read every text patch as upside down, a page's verdict
// shows which pass found its lines and how a vertical line's answer turns.
struct VerdictCase {
  const char* what;
  Grey page;
  int dpi;
  int direction;
  int pass0, pass1;
};

TEST(OrientDriver, VerdictsOfTheFixedBiasEngines) {
  using namespace dravn_text_pages;
  FixtureEngine vote180("swap_model.txt", "swap_rotate_model.txt");
  const TextPage letter = LetterPage(150, 16);
  const std::vector<VerdictCase> cases = {
      {"letter", letter.page, 300, 2, 2, -1},
      {"letter standing", Turn(letter, 1).page, 300, 3, 3, -1},
      {"white on black", Invert(letter).page, 300, 2, -1, 2},
      {"textured letter", Textured(letter.page), 300, 2, 2, -1},
      {"letter at 600 dpi", LetterPage(300, 30).page, 600, 2, 2, -1},
      {"vertical CJ columns", VerticalCjkPage(150, 8).page, 300, 3, 3, -1},
      {"photo", PhotoPage(150).page, 300, -1, -1, -1},
  };
  for (const VerdictCase& c : cases) {
    SCOPED_TRACE(c.what);
    Grey page = c.page;
    AD_OUTPUT out{};
    const int rc = auto_orientation_Pavix_v2(&vote180.engine, page.pixels.data(), nullptr, page.width, page.height,
                                             page.width, c.dpi, out, nullptr, nullptr, 0);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out.direction, c.direction);
    EXPECT_EQ(out.pass_direction[0], c.pass0);
    EXPECT_EQ(out.pass_direction[1], c.pass1);
  }
}

// A page the caller lends as the work copy (the unit's own grey page) gives
// the same verdicts, passes, line counts and language as a page the driver
// copies: pages of both passes, textured, inverted, turned, degraded, at
// 300 and 600 dpi, without text, and a page too small for its factor.
TEST(OrientDriver, ALentPageGivesWhatACopiedPageGives) {
  using namespace dravn_text_pages;
  FixtureEngine vote180("swap_model.txt", "swap_rotate_model.txt");
  const TextPage letter = LetterPage(150, 16);
  struct Case {
    std::string what;
    Grey page;
    int dpi;
  };
  std::vector<Case> cases = {
      {"letter", letter.page, 300},
      {"letter standing", Turn(letter, 3).page, 300},
      {"white on black", Invert(letter).page, 300},
      {"textured letter", Textured(letter.page), 300},
      {"letter at 600 dpi", LetterPage(300, 30).page, 600},
      {"vertical CJ columns", VerticalCjkPage(150, 8).page, 300},
      {"table", TablePage(150).page, 300},
      {"photo", PhotoPage(150).page, 300},
      {"tiny", Grey{11, 18, std::vector<uint8_t>(11 * 18, 200)}, 600},
  };
  for (dravn_degraded::Kind kind : dravn_degraded::kAllKinds) {
    const dravn_degraded::Page d = dravn_degraded::MakePage(kind, 150, 150, 200);
    cases.push_back({"degraded " + dravn_degraded::KindName(kind), Grey{d.width, d.height, d.grey}, 300});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Grey copied = c.page, lent = c.page;
    AD_OUTPUT a{}, b{};
    const int ra = auto_orientation_Pavix_v2(&vote180.engine, copied.pixels.data(), nullptr, c.page.width,
                                             c.page.height, c.page.width, c.dpi, a, nullptr, nullptr, 0);
    const int rb = auto_orientation_Pavix_v2(&vote180.engine, lent.pixels.data(), nullptr, c.page.width, c.page.height,
                                             c.page.width, c.dpi, b, nullptr, nullptr, 0, false, nullptr, true);
    EXPECT_EQ(ra, rb);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
  }
}

}  // namespace

namespace {

// The separable sums and the in-place form give what the plain 3 x 3 mean
// gives; the frame stays.
TEST(OrientDriver, SmoothingIsTheTruncatedMeanOfNinePixels) {
  const int w = 37, h = 23;
  std::vector<uint8_t> src(size_t(w) * h);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t((i * 7919 + i / w * 31) % 256);
  std::vector<uint8_t> out(src), inPlace(src);
  smoothing(out.data(), src.data(), w, h);
  smoothing(inPlace.data(), inPlace.data(), w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int want = src[size_t(y) * w + x];
      if (x > 0 && y > 0 && x + 1 < w && y + 1 < h) {
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) sum += src[size_t(y + dy) * w + x + dx];
        want = sum / 9;
      }
      ASSERT_EQ(out[size_t(y) * w + x], want) << x << "," << y;
      ASSERT_EQ(inPlace[size_t(y) * w + x], want) << x << "," << y;
    }
}

}  // namespace

namespace {

// The text-area mode's area: each axis shrunk above 600 pixels, widened at
// 89 or less, then moved into the page.
struct AreaCase {
  const char* what;
  turnsense::tagRECT box;  // decimated
  int f, width, height;
  I3ipRect area;
};

TEST(OrientDriver, TextAreaIsTheBestLineGivenAWorkableSizeInsideThePage) {
  const std::vector<AreaCase> cases = {
      {"short side widened, long side kept", {50, 40, 150, 80}, 2, 2480, 3508, {74, 166, 100, 300}},
      {"long line shrunk about its middle", {10, 100, 410, 120}, 2, 2480, 3508, {174, 266, 121, 719}},
      {"widened past the top left, moved in", {0, 10, 20, 30}, 1, 2480, 3508, {0, 92, 0, 92}},
      {"widened past the bottom right, moved back", {2460, 3490, 2479, 3507}, 1, 2480, 3508, {3417, 3508, 2389, 2480}},
      {"page too small for the widened box", {0, 0, 10, 10}, 1, 50, 50, {0, 0, 0, 0}},
  };
  for (const AreaCase& c : cases) {
    SCOPED_TRACE(c.what);
    const I3ipRect a = TextArea(c.box, c.f, c.width, c.height);
    EXPECT_EQ(a.top, c.area.top);
    EXPECT_EQ(a.bottom, c.area.bottom);
    EXPECT_EQ(a.left, c.area.left);
    EXPECT_EQ(a.right, c.area.right);
  }
}

TEST(OrientDriver, TextAreaScoreFavoursSoundShapesNearTheTop) {
  // A 100 x 20 crop, factor 2: int(0.2 x 2000 x 2) x 0.3 = 240; at the top
  // the texture score counts whole, at the bottom not at all.
  EXPECT_FLOAT_EQ(TextAreaScore(10.0f, 100, 20, 2, 2, 0, 1000), 250.0f);
  EXPECT_FLOAT_EQ(TextAreaScore(10.0f, 100, 20, 2, 2, 500, 1000), 240.0f);
  EXPECT_FLOAT_EQ(TextAreaScore(10.0f, 100, 20, 2, 1, 250, 1000), 245.0f);
  EXPECT_FLOAT_EQ(TextAreaScore(10.0f, 0, 20, 2, 1, 250, 1000), 10.0f);
}

TEST(OrientDriver, NoiseLevelsStopWhenALevelDropsFewComponents) {
  // s = 300 x (72 / 10 / 72) / 1 = 30 pixels: a 600 x 900 page holds 600
  // components of that size.
  EXPECT_DOUBLE_EQ(NoiseDropLimit(600, 900, 300, 72, 1), 600.0);
  EXPECT_DOUBLE_EQ(NoiseDropLimit(600, 900, 300, 0, 1), 0.0);
}

TEST(OrientDriver, TextAreaModeEndsAtTheRankingWithTheBestLinesArea) {
  using namespace dravn_text_pages;
  FixtureEngine vote180("swap_model.txt", "swap_rotate_model.txt");
  TextPage letter = LetterPage(150, 16);
  AD_OUTPUT out{};
  I3ipRect area{-1, -1, -1, -1};
  const int rc = auto_orientation_Pavix_v2(&vote180.engine, letter.page.pixels.data(), nullptr, letter.page.width,
                                           letter.page.height, letter.page.width, 300, out, nullptr, nullptr, 0, true,
                                           &area);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out.direction, -1);
  EXPECT_EQ(out.pass_direction[0], -1);
  EXPECT_EQ(out.pass_lines[1], 0);  // no inverted pass
  ASSERT_GT(area.right, area.left);
  ASSERT_GT(area.bottom, area.top);
  // The area is centred on one of the drawn lines.
  const int cx = (area.left + area.right) / 2, cy = (area.top + area.bottom) / 2;
  bool onALine = false;
  for (const DrawnLine& l : letter.lines)
    onALine = onALine || (cx >= l.box.left && cx <= l.box.right && cy >= l.box.top - 3 && cy <= l.box.bottom + 3);
  EXPECT_TRUE(onALine) << area.left << "," << area.top << "," << area.right << "," << area.bottom;
}

TEST(OrientDriver, RisingNoiseLevelsLeaveALetterReadable) {
  using namespace dravn_text_pages;
  FixtureEngine vote180("swap_model.txt", "swap_rotate_model.txt");
  TextPage letter = LetterPage(150, 16);
  const int level = 72;
  g_ccth = &level;
  AD_OUTPUT out{};
  const int rc = auto_orientation_Pavix_v2(&vote180.engine, letter.page.pixels.data(), nullptr, letter.page.width,
                                           letter.page.height, letter.page.width, 300, out, nullptr, nullptr, 0);
  g_ccth = nullptr;
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out.direction, 2);
}

}  // namespace
