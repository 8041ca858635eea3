// The Selko2 page pipeline through the real scanimage against the simulated
// scanner: for each combination of options, the pages delivered, their
// order, the geometry announced for each, and their content against the
// fed page worked on as the pipeline's steps do (device adjustment, tone
// table, resolution, mode, quarter turns, split, merge, line-art
// inversion). Combinations that need an image unit that is not ready end
// with the status the pipeline gives that unit's answer.
//
// The blank-page skip runs through the staged library's own judge, on
// faces whose ink is known (blank, near-blank, a little text).
//
// Image libraries: the staged ones as they are; where an option needs a
// libimgforge entry that the staged library lacks, either the entry-point
// tests' stand-in (second_imgforge_stub, which refuses every call) or the
// pipeline tests' stand-in (pipeline_imgforge_standin, which does a small,
// predictable version of each job: grey by luminance, line art by the
// threshold, blank test, merge) in its place. The staged library's page
// filters and merge are checked here too: the drop-out colours, the
// emphasis against the entry applied by hand, the line-art methods and the
// merge layouts.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sane/sane.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "color_smoothing.h"
#include "degraded_pages.h"
#include "dravn_paths.h"
#include "fsip_records.h"
#include "jpeg_decode.h"
#include "judge_pages.h"
#include "model_catalog.h"
#include "prop_info.h"
#include "selko2_pipeline.h"
#include "test_pages.h"
#include "test_support.h"
#include "tinted_pages.h"

using dravn_pages::Image;
using dravn_test::ReadFile;
using dravn_test::WriteFile;

namespace {

const dravn::CatalogModel& kModel = dravn::kSelko2Models[0];
// Business card, 90 x 55 mm: small, and not square, so a quarter turn shows.
constexpr double kWidthMm = 90, kHeightMm = 55;
constexpr int kQuality = 95;  // of the faces the scanner sends

enum class Libs { Staged, RefusingStub, StandIn };
enum class Part { Whole, Upper, Lower, Merged };

struct Delivered {
  int page;  // fed page number (front of sheet k is 2k - 1, its back 2k)
  Part part = Part::Whole;
  int back = 0;  // merged: the back's page number
};

struct CustomTone {
  int brightness, contrast, shadow, highlight;
  double gamma;
};

struct PipelineCase {
  const char* name;
  const char* source;
  const char* mode;
  int dpi;
  int sheets;
  Libs libs = Libs::Staged;
  const char* tone = "Automatic";
  CustomTone custom{0, 0, 0, 255, 1.0};
  int turns = 0;                   // "rotation" as clockwise quarter turns
  std::vector<std::string> extra;  // further options, in order
  std::vector<int> blank;          // pages fed white
  bool greyJpeg = false;           // faces sent as grey JPEG of grey pages
  int status = SANE_STATUS_GOOD;   // scanimage's exit code
  std::vector<Delivered> pages = {};
  const char* mergeLocation = "";  // back-side-location when merging
  bool backTurned = false;         // back-side-rotation 180
  int threshold = 128;
  Image (*render)(const dravn_pages::PageSpec&) = dravn_pages::RenderDocumentPage;  // the fed pages
  const char* paperSize = "Business-card";
  const char* outStem = "page";   // of the files --batch writes
  const char* cleanup = nullptr;  // --color-cleanup (at the read resolution)
  bool idtc = false;              // line art by the binarization unit
};

void PrintTo(const PipelineCase& c, std::ostream* out) { *out << c.name; }

std::string PrintName(const ::testing::TestParamInfo<PipelineCase>& info) {
  std::string name = info.param.name;
  for (char& c : name)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

// --- the expected pages --------------------------------------------------

Image Map(Image page, const unsigned char* table) {
  for (auto& v : page.pixels) v = table[v];
  return page;
}

Image Threshold(Image page, int level) {
  for (auto& v : page.pixels) v = v >= level ? 255 : 0;
  return page;
}

Image Crop(const Image& page, int top, int lines) {
  Image out = page;
  out.height = lines;
  out.pixels.assign(page.Row(top), page.Row(top) + page.BytesPerLine() * lines);
  return out;
}

// Clockwise quarter turns.
Image Turn(const Image& page, int turns) {
  Image out = page;
  for (int t = 0; t < turns % 4; ++t) {
    const Image in = out;
    out.width = in.height, out.height = in.width;
    for (int y = 0; y < in.height; ++y)
      for (int x = 0; x < in.width; ++x)
        memcpy(out.Row(x) + (in.height - 1 - y) * in.channels, in.Row(y) + x * in.channels, in.channels);
  }
  return out;
}

// White-filled, the back placed by back-side-location.
Image Merge(const Image& front, const Image& back, const std::string& location) {
  const bool vertical = location == "Top" || location == "Bottom";
  const bool backFirst = location == "Top" || location == "Left";
  const Image& first = backFirst ? back : front;
  const Image& second = backFirst ? front : back;
  Image out;
  out.channels = front.channels;
  out.width = vertical ? std::max(front.width, back.width) : front.width + back.width;
  out.height = vertical ? front.height + back.height : std::max(front.height, back.height);
  out.pixels.assign(out.BytesPerLine() * out.height, 255);
  auto place = [&](const Image& face, int left, int top) {
    for (int y = 0; y < face.height; ++y)
      memcpy(out.Row(top + y) + left * out.channels, face.Row(y), face.BytesPerLine());
  };
  place(first, 0, 0);
  place(second, vertical ? 0 : first.width, vertical ? first.height : 0);
  return out;
}

// What one fed page becomes up to the rotation: device adjustment, the
// tone table of the case, the mode.
class Expectation {
 public:
  explicit Expectation(const PipelineCase& c) : m_case(c) {}

  Image Page(const Delivered& d) const {
    if (d.part == Part::Merged) {
      Image back = Face(d.back, Part::Whole);
      if (m_case.backTurned) back = Turn(back, 2);
      return Merge(Face(d.page, Part::Whole), back, m_case.mergeLocation);
    }
    return Face(d.page, d.part);
  }

 private:
  Image Face(int number, Part part) const {
    dravn_pages::PageSpec spec;
    spec.widthMm = kWidthMm, spec.heightMm = kHeightMm, spec.dpi = m_case.dpi, spec.number = number;
    spec.colour = !m_case.greyJpeg;
    Image page = m_case.render(spec);
    if (std::find(m_case.blank.begin(), m_case.blank.end(), number) != m_case.blank.end())
      std::fill(page.pixels.begin(), page.pixels.end(), 255);
    page = Map(page, DeviceAdjustLUT_Selko2);
    // The smoothing works on the page as decoded, to the level.
    if (m_case.cleanup) page = Cleaned(Measured(number, part));
    if (part != Part::Whole && !m_case.cleanup) {
      const int upper = page.height / 2;
      page = part == Part::Upper ? Crop(page, 0, upper) : Crop(page, upper, page.height - upper);
    }
    const std::string mode = m_case.mode;
    // The unit binarizes the grey page untouched by any tone table
    // (threshold 0: that grey page).
    if (m_case.idtc) {
      const Image grey = dravn_pages::ToGrey(page);
      return Turn(m_case.threshold > 0 ? Threshold(grey, m_case.threshold) : grey, m_case.turns);
    }
    unsigned char table[256];
    if (!ToneTable(m_case.cleanup ? page : Measured(number, part), table)) return page;
    page = Map(page, table);
    if (mode == "Color") return Turn(page, m_case.turns);
    page = dravn_pages::ToGrey(page);
    if (mode == "Lineart")
      for (auto& v : page.pixels) v = v >= m_case.threshold ? 255 : 0;
    return Turn(page, m_case.turns);
  }

  // The page the automatic table is measured on: the face as the scanner
  // codes it at its read resolution, decoded as the backend decodes it.
  Image Measured(int number, Part part) const {
    dravn_pages::PageSpec spec;
    spec.widthMm = kWidthMm, spec.heightMm = kHeightMm, spec.dpi = m_case.dpi <= 300 ? 300 : 600;
    spec.number = number, spec.colour = !m_case.greyJpeg;
    Image page = m_case.render(spec);
    if (std::find(m_case.blank.begin(), m_case.blank.end(), number) != m_case.blank.end())
      std::fill(page.pixels.begin(), page.pixels.end(), 255);
    if (!g_pLibjpeg) LoadLibjpeg8(DRAVN_LIB_DIR);
    const std::vector<uint8_t> jpeg = dravn_pages::EncodeJpeg(page, m_case.greyJpeg, kQuality);
    const JPEGINFO info{static_cast<unsigned>(jpeg.size()), static_cast<unsigned short>(page.width),
                        static_cast<unsigned short>(page.height)};
    unsigned char* decoded = ReadDataFromJpeg(jpeg.data(), info);
    if (!decoded) {
      ADD_FAILURE() << "the test page does not decode";
      return page;
    }
    const int components = m_case.greyJpeg ? 1 : 3;
    for (size_t i = 0; i < page.pixels.size(); ++i) page.pixels[i] = decoded[i / 3 * components + i % 3 % components];
    free(decoded);
    page = Map(page, DeviceAdjustLUT_Selko2);
    if (part == Part::Whole) return page;
    const int upper = page.height / 2;
    return part == Part::Upper ? Crop(page, 0, upper) : Crop(page, upper, page.height - upper);
  }

  // The page after libtoneflat's smoothing at cleanness 0.
  Image Cleaned(Image page) const {
    I3ipImageInfo in{};
    in.Bpp = 24;
    in.Dpi = static_cast<uint16_t>(m_case.dpi);
    in.Width = static_cast<uint32_t>(page.width);
    in.Height = static_cast<uint32_t>(page.height);
    in.Bpl = static_cast<uint32_t>(page.BytesPerLine());
    in.DataSize = in.Bpl * in.Height;
    in.Data = page.pixels.data();
    Image out = page;
    I3ipImageInfo smoothed = in;
    smoothed.Data = out.pixels.data();
    const int rc = colorsmooth::i3ColorSmoothing(&in, 0, std::string(m_case.cleanup) == "White", false, 0, &smoothed);
    return rc == 0 ? out : page;
  }

  // The table the pipeline applies to this page.
  bool ToneTable(const Image& page, unsigned char* table) const {
    const std::string tone = m_case.tone, mode = m_case.mode;
    const int modeIndex = mode == "Color" ? 2 : mode == "Gray" ? 1 : 0;
    for (int i = 0; i < 256; ++i) table[i] = static_cast<unsigned char>(i);
    g_PropInfo.SCAN_MODE = static_cast<unsigned char>(modeIndex);
    g_PropInfo.BW_MODE = 2;  // line art by threshold
    if (tone == "Automatic") {
      I3ipImageInfo info{};
      info.Bpp = 24;
      info.Dpi = 300;
      info.Width = static_cast<uint32_t>(page.width);
      info.Height = static_cast<uint32_t>(page.height);
      info.Bpl = static_cast<uint32_t>(page.BytesPerLine());
      info.DataSize = info.Bpl * info.Height;
      std::vector<unsigned char> pixels = page.pixels;
      info.Data = pixels.data();
      return CSelko2PagePipeline::I3ipIpunitProcess_AutoLUT(modeIndex, &info, table) == 0;
    }
    if (tone == "Custom") {
      const CustomTone& t = m_case.custom;
      CSelko2PagePipeline::ApplyLutContrastBrightness(t.brightness, t.contrast, t.highlight, t.shadow,
                                                      static_cast<int>(t.gamma * 1000 + 0.5), table);
      return true;
    }
    g_PropInfo.TONE_ADJUSTMENT = tone == "Normal" ? 1 : tone == "Soft" ? 2 : tone == "Sharp" ? 3 : 4;
    CSelko2PagePipeline::I3ipIpunitProcess_ManualLUT(modeIndex, table);
    return true;
  }

  const PipelineCase& m_case;
};

// --- one run ---------------------------------------------------------------

class Selko2PipelineE2E : public ::testing::TestWithParam<PipelineCase> {
 protected:
  void SetUp() override {
    m_dir = dravn_test::MakeTempDir("selko2-pipeline-e2e");
    for (const char* sub : {"shm", "log", "etc", "sane", "pages", "out"}) mkdir((m_dir + "/" + sub).c_str(), 0777);
    for (const auto& name : dravn_test::ListDir(DRAVN_ETC_DIR))
      WriteFile(m_dir + "/etc/" + name, ReadFile(std::string(DRAVN_ETC_DIR) + "/" + name));
    WriteFile(m_dir + "/sane/dll.conf", "dravn\n");
  }
  void TearDown() override { dravn_test::Run({"rm", "-rf", m_dir}); }

  // The sheets, rendered at the resolution the scanner reads at; blank
  // pages are missing files, which the scanner feeds white.
  void Feed(const PipelineCase& c) {
    const int readDpi = c.dpi <= 300 ? 300 : 600;
    for (int n = 1; n <= 2 * c.sheets; ++n) {
      if (std::find(c.blank.begin(), c.blank.end(), n) != c.blank.end()) continue;
      dravn_pages::PageSpec spec;
      spec.widthMm = kWidthMm, spec.heightMm = kHeightMm, spec.dpi = readDpi, spec.number = n;
      spec.colour = !c.greyJpeg;
      FeedPage(n, c.render(spec));
    }
    WriteScenario(c.sheets, readDpi, c.greyJpeg);
  }
  void FeedPage(int number, const Image& page) {
    WriteFile(m_dir + "/pages/page" + std::to_string(number) + ".pnm", dravn_pages::EncodePnm(page));
  }
  void WriteScenario(int sheets, int readDpi, bool greyJpeg) {
    char device[128];
    snprintf(device, sizeof device, "device selko2 %04x:%04x bus=1 address=5\n", kModel.vendorId, kModel.productId);
    WriteFile(m_dir + "/scenario",
              std::string(device) + "set state=" + m_dir + "/state\nset nvram_month=1\n" +
                  "set nvram_day=1\nset sheets=" + std::to_string(sheets) + "\nset pages=" + m_dir +
                  "/pages/page%d.pnm\nset page_dpi=" + std::to_string(readDpi) +
                  "\nset quality=" + std::to_string(kQuality) + "\n" + (greyJpeg ? "set format=grey\n" : ""));
  }

  // The package's libraries with a libimgforge laid over them.
  std::string Library(Libs libs) {
    if (libs == Libs::Staged) return "";
    const std::string lib = m_dir + "/lib";
    mkdir(lib.c_str(), 0755);
    const char* imgforge = libs == Libs::StandIn ? PIPELINE_IMGFORGE_STANDIN : SELKO2_IMGFORGE_STUB;
    EXPECT_EQ(dravn_test::Run({"sh", "-c",
                               std::string("cp -a ") + DRAVN_LIB_DIR + "/. " + lib + " && cp -f " + imgforge + " " +
                                   lib + "/libimgforge.so"})
                  .exitCode,
              0);
    return lib + ":" DRAVN_LIB_DIR;
  }

  dravn_test::RunResult Scan(const PipelineCase& c) {
    std::vector<std::string> args = {
        "--source", c.source, "--mode", c.mode, "--resolution", std::to_string(c.dpi), "--paper-size", c.paperSize};
    // With a control entry the page size would be found by cropping.
    // The pages are compared with the paper size's cut, not a cropped page.
    args.push_back("--page-auto=no");
    if (std::string(c.mode) != "Lineart" || std::string(c.tone) != "Automatic") {
      args.insert(args.end(), {"--tone-adjustment", c.tone});
      if (std::string(c.tone) == "Custom") {
        char gamma[32];
        snprintf(gamma, sizeof gamma, "%.3f", c.custom.gamma);
        args.insert(args.end(), {"--brightness", std::to_string(c.custom.brightness), "--contrast",
                                 std::to_string(c.custom.contrast), "--shadow", std::to_string(c.custom.shadow),
                                 "--highlight", std::to_string(c.custom.highlight), "--gamma", gamma});
      }
    }
    if (c.turns) args.insert(args.end(), {"--rotation", std::to_string(90 * c.turns)});
    if (c.cleanup) args.insert(args.end(), {"--color-cleanup", c.cleanup});
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    args.push_back("--batch=" + m_dir + "/out/" + c.outStem + "%d.pnm");
    return Scanimage(c.libs, args);
  }

  // scanimage on the simulated scanner with these libraries and arguments.
  dravn_test::RunResult Scanimage(Libs libs, const std::vector<std::string>& args) {
    std::vector<std::string> binds = {m_dir + "/shm:" DRAVN_SHM_DIR, m_dir + "/log:" DRAVN_LOG_DIR,
                                      m_dir + "/etc:" DRAVN_ETC_DIR};
    const std::string lib = Library(libs);
    if (!lib.empty()) binds.push_back(lib);
    std::string script;
    for (const auto& b : binds) {
      const size_t colon = b.find(':');
      script += "mount --bind '" + b.substr(0, colon) + "' '" + b.substr(colon + 1) + "' && ";
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

  std::string m_dir;
};

// The file holds exactly the header's lines of the header's width: the
// announced geometry and the bytes read agree.
bool PayloadMatchesHeader(const std::string& file, const Image& image) {
  size_t pos = 0;
  const int fields = file.compare(0, 2, "P4") == 0 ? 3 : 4;
  for (int f = 0; f < fields; ++f) {
    for (;;) {  // whitespace and comment lines
      while (pos < file.size() && isspace(static_cast<unsigned char>(file[pos]))) ++pos;
      if (pos >= file.size() || file[pos] != '#') break;
      while (pos < file.size() && file[pos] != '\n') ++pos;
    }
    while (pos < file.size() && !isspace(static_cast<unsigned char>(file[pos]))) ++pos;
  }
  ++pos;  // the one whitespace before the pixels
  const size_t bytesPerLine =
      fields == 3 ? (static_cast<size_t>(image.width) + 7) / 8 : static_cast<size_t>(image.width) * image.channels;
  return file.size() - pos == bytesPerLine * image.height;
}

// The unit's ink against the fed page's, at least as well as Sauvola's on
// the grey page the unit was given; blank paper stays free of specks.
void InkAsSauvola(const PipelineCase& c, const Delivered& d, const Image& got, const Image& truth) {
  PipelineCase grey = c;
  grey.threshold = 0;  // the grey page itself
  const Image page = Expectation(grey).Page(d);
  const double ours = dravn_degraded::FMeasure(got.pixels, truth.pixels);
  if (std::find(c.blank.begin(), c.blank.end(), d.page) != c.blank.end()) {
    EXPECT_EQ(std::count(got.pixels.begin(), got.pixels.end(), 0), 0);
    return;
  }
  dravn_degraded::Page degraded;
  degraded.width = page.width, degraded.height = page.height, degraded.grey = page.pixels;
  const double sauvola = dravn_degraded::FMeasure(dravn_degraded::Sauvola(degraded, 31, 0.34, 128), truth.pixels);
  std::printf("iDTC ink F-measure %.4f, Sauvola %.4f\n", ours, sauvola);
  EXPECT_GE(ours, sauvola);
}

TEST_P(Selko2PipelineE2E, PagesHaveTheAnnouncedGeometryAndTheirContent) {
  const PipelineCase& c = GetParam();
  Feed(c);
  const auto r = Scan(c);
  ASSERT_EQ(r.exitCode, c.status) << r.err;
  int written = 0;
  while (access((m_dir + "/out/" + c.outStem + std::to_string(written + 1) + ".pnm").c_str(), F_OK) == 0) ++written;
  ASSERT_EQ(written, static_cast<int>(c.pages.size())) << r.err;

  const Expectation expectation(c);
  const bool lineArt = std::string(c.mode) == "Lineart";
  for (size_t i = 0; i < c.pages.size(); ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const std::string file = ReadFile(m_dir + "/out/" + c.outStem + std::to_string(i + 1) + ".pnm");
    Image got;
    ASSERT_TRUE(dravn_pages::DecodePnm(file, &got));
    EXPECT_TRUE(PayloadMatchesHeader(file, got));
    const Image expected = expectation.Page(c.pages[i]);
    ASSERT_EQ(got.width, expected.width);
    ASSERT_EQ(got.height, expected.height);
    ASSERT_EQ(got.channels, expected.channels);
    const dravn_pages::PageDiff diff = dravn_pages::ComparePages(got, expected, c.dpi / 6);
    // Smoothed pages are made from the very page the backend decodes.
    EXPECT_LT(diff.meanAbs, lineArt ? 20 : c.cleanup ? 0.5 : 6);
    // The unit draws edges, not a fixed level: a flat mid-grey fill that
    // the plain threshold inks stays paper, so it is judged by its ink instead.
    if (c.idtc)
      InkAsSauvola(c, c.pages[i], got, expected);
    else
      EXPECT_LT(diff.maxBlock, lineArt ? 60 : 24);  // resampled edges through a steep tone curve
  }
}

const std::vector<Delivered> kFronts12 = {{1}, {3}};
const std::vector<Delivered> kDuplex2 = {{1}, {2}, {3}, {4}};

std::vector<PipelineCase> Cases() {
  using L = Libs;
  const Part U = Part::Upper, D = Part::Lower, M = Part::Merged;
  const CustomTone neutral{0, 0, 0, 255, 1.0};
  std::vector<PipelineCase> cases;
  auto add = [&](PipelineCase c) { cases.push_back(std::move(c)); };

  // Resolution and tone, with the staged libraries.
  add({"read resolution, neutral tone",
       "Adf-front",
       "Color",
       300,
       1,
       L::Staged,
       "Custom",
       neutral,
       0,
       {},
       {},
       false,
       0,
       {{1}}});
  add({"300 to 150 dpi, automatic tone",
       "Adf-front",
       "Color",
       150,
       2,
       L::Staged,
       "Automatic",
       {},
       0,
       {},
       {},
       false,
       0,
       kFronts12});
  add({"300 to 200 dpi, Normal", "Adf-front", "Color", 200, 1, L::Staged, "Normal", {}, 0, {}, {}, false, 0, {{1}}});
  add({"600 to 400 dpi, Soft", "Adf-front", "Color", 400, 1, L::Staged, "Soft", {}, 0, {}, {}, false, 0, {{1}}});
  add({"Sharp", "Adf-back", "Color", 150, 1, L::Staged, "Sharp", {}, 0, {}, {}, false, 0, {{2}}});
  add({"Bright", "Adf-front", "Color", 150, 1, L::Staged, "Bright", {}, 0, {}, {}, false, 0, {{1}}});
  add({"custom tone kept over the batch",
       "Adf-duplex",
       "Color",
       150,
       2,
       L::Staged,
       "Custom",
       {40, 30, 20, 220, 1.6},
       0,
       {},
       {},
       false,
       0,
       kDuplex2});
  // Colour cleanup through the staged libtoneflat, on tinted, noisy paper.
  for (const char* cleanup : {"Automatic", "White"}) {
    PipelineCase c{"", "Adf-front", "Color", 300, 1, L::Staged, "Automatic", {}, 0, {}, {}, false, 0, {{1}}};
    c.render = dravn_pages::RenderTintedPage;
    c.cleanup = cleanup;
    c.name = std::string(cleanup) == "White" ? "colour cleanup White, tinted paper"
                                             : "colour cleanup Automatic, tinted paper";
    add(c);
  }
  add({"grey JPEG faces", "Adf-duplex", "Color", 200, 1, L::Staged, "Normal", {}, 0, {}, {}, true, 0, {{1}, {2}}});

  // Rotation; automatic orientation with the staged engines, which read every page upright.
  add({"rotation 90", "Adf-duplex", "Color", 150, 1, L::Staged, "Normal", {}, 1, {}, {}, false, 0, {{1}, {2}}});
  add({"rotation 180", "Adf-front", "Color", 150, 1, L::Staged, "Normal", {}, 2, {}, {}, false, 0, {{1}}});
  add({"rotation 270", "Adf-front", "Color", 150, 1, L::Staged, "Automatic", {}, 3, {}, {}, false, 0, {{1}}});
  add({"automatic orientation on the staged engines",
       "Adf-front",
       "Color",
       150,
       1,
       L::Staged,
       "Normal",
       {},
       0,
       {"--rotation", "Auto"},
       {},
       false,
       0,
       {{1}}});

  // Split through the outside unit.
  add({"split",
       "Adf-front",
       "Color",
       150,
       1,
       L::Staged,
       "Normal",
       {},
       0,
       {"--split-image=yes"},
       {},
       false,
       0,
       {{1, U}, {1, D}}});
  add({"split duplex, automatic tone per half",
       "Adf-duplex",
       "Color",
       200,
       1,
       L::Staged,
       "Automatic",
       {},
       0,
       {"--split-image=yes"},
       {},
       false,
       0,
       {{1, U}, {1, D}, {2, U}, {2, D}}});
  add({"split and rotation 270",
       "Adf-front",
       "Color",
       150,
       1,
       L::Staged,
       "Normal",
       {},
       3,
       {"--split-image=yes"},
       {},
       false,
       0,
       {{1, U}, {1, D}}});

  // Units and entries that refuse (options whose unit or entry is missing
  // or not ready are not offered: see the scan tests).
  // The stand-in answers every merge with 34, out of memory.
  add({"merge refused",
       "Adf-duplex",
       "Color",
       150,
       1,
       L::RefusingStub,
       "Normal",
       {},
       0,
       {"--front-back-merging=yes"},
       {},
       false,
       SANE_STATUS_NO_MEM,
       {}});
  add({"grey, conversion refused",
       "Adf-front",
       "Gray",
       150,
       1,
       L::RefusingStub,
       "Normal",
       {},
       0,
       {},
       {},
       false,
       SANE_STATUS_IO_ERROR,
       {}});
  add({"blank page skip, test refused",
       "Adf-front",
       "Color",
       150,
       1,
       L::RefusingStub,
       "Normal",
       {},
       0,
       {"--blank-page-skip=yes"},
       {},
       false,
       SANE_STATUS_INVAL,
       {}});
  // iDTC: the grey page binarized by the staged unit.
  {
    PipelineCase c{"iDTC line art", "Adf-duplex", "Lineart", 200, 1,  L::Staged, "Automatic", {}, 0,
                   {"--bw-mode", "iDTC"}, {}, false, 0, {{1}, {2}}};
    c.idtc = true;
    add(c);
    PipelineCase blank{"iDTC line art, blank paper", "Adf-front", "Lineart", 300, 1, L::Staged, "Automatic", {}, 0,
                       {"--bw-mode", "iDTC"}, {1}, false, 0, {{1}}};
    blank.idtc = true;
    add(blank);
  }

  // Mode conversion, blank pages and merging through the library stand-in.
  add({"grey", "Adf-front", "Gray", 150, 2, L::StandIn, "Automatic", {}, 0, {}, {}, false, 0, kFronts12});
  add({"colour filter",
       "Adf-front",
       "Color",
       150,
       1,
       L::StandIn,
       "Normal",
       {},
       0,
       {"--cleanup-sharpness", "Emphasis-level-2"},
       {},
       false,
       0,
       {{1}}});
  {
    PipelineCase c{"line art inverted",
                   "Adf-front",
                   "Lineart",
                   150,
                   1,
                   L::StandIn,
                   "Automatic",
                   {},
                   0,
                   {"--bw-mode", "Threshold", "--threshold", "150"},
                   {},
                   false,
                   0,
                   {{1}}};
    c.threshold = 150;
    add(c);
  }
  add({"line art, rotation 90, duplex",
       "Adf-duplex",
       "Lineart",
       200,
       1,
       L::StandIn,
       "Automatic",
       {},
       1,
       {"--bw-mode", "Threshold"},
       {},
       false,
       0,
       {{1}, {2}}});
  add({"blank fronts dropped",
       "Adf-front",
       "Color",
       150,
       3,
       L::Staged,
       "Normal",
       {},
       0,
       {"--blank-page-skip=yes"},
       {3},
       false,
       0,
       {{1}, {5}}});
  add({"blank back dropped",
       "Adf-duplex",
       "Gray",
       150,
       2,
       L::StandIn,
       "Normal",
       {},
       0,
       {"--blank-page-skip=yes"},
       {2},
       false,
       0,
       {{1}, {3}, {4}}});
  add({"blank halves dropped",
       "Adf-duplex",
       "Color",
       150,
       1,
       L::Staged,
       "Normal",
       {},
       0,
       {"--split-image=yes", "--blank-page-skip=yes"},
       {1},
       false,
       0,
       {{2, U}, {2, D}}});
  for (const char* location : {"Top", "Bottom", "Left", "Right"}) {
    for (bool turned : {false, true}) {
      for (L libs : {L::StandIn, L::Staged}) {
        PipelineCase c{
            "merge",
            "Adf-duplex",
            "Color",
            150,
            1,
            libs,
            "Normal",
            {},
            0,
            {"--front-back-merging=yes", "--back-side-location", location, "--back-side-rotation", turned ? "180" : "0"},
            {},
            false,
            0,
            {{1, M, 2}}};
        c.mergeLocation = location;
        c.backTurned = turned;
        static std::deque<std::string> names;  // the names outlive the table
        names.push_back(std::string("merge, back ") + location + (turned ? ", turned" : "") +
                        (libs == L::Staged ? ", staged library" : ""));
        c.name = names.back().c_str();
        add(c);
      }
    }
  }
  {
    PipelineCase c{"merge two sheets, both sides of the first blank",
                   "Adf-duplex",
                   "Gray",
                   150,
                   2,
                   L::StandIn,
                   "Automatic",
                   {},
                   0,
                   {"--front-back-merging=yes", "--blank-page-skip=yes"},
                   {1, 2, 4},
                   false,
                   0,
                   {{3, M, 4}}};
    c.mergeLocation = "Top";
    add(c);
  }
  // Mode conversion through the staged library (White: luminance, as the
  // expected pages are made).
  add({"grey, staged library",
       "Adf-front",
       "Gray",
       150,
       2,
       L::Staged,
       "Automatic",
       {},
       0,
       {"--dropoutcolor", "White"},
       {},
       false,
       0,
       kFronts12});
  add({"line art, rotation 90, duplex, staged library",
       "Adf-duplex",
       "Lineart",
       200,
       1,
       L::Staged,
       "Automatic",
       {},
       1,
       {"--bw-mode", "Threshold", "--dropoutcolor", "White"},
       {},
       false,
       0,
       {{1}, {2}}});
  {
    PipelineCase c{"merged line art turned 90, staged library",
                   "Adf-duplex",
                   "Lineart",
                   150,
                   1,
                   L::Staged,
                   "Automatic",
                   {},
                   1,
                   {"--bw-mode", "Threshold", "--dropoutcolor", "White", "--front-back-merging=yes",
                    "--back-side-location", "Right"},
                   {},
                   false,
                   0,
                   {{1, M, 2}}};
    c.mergeLocation = "Right";
    add(c);
  }
  {
    PipelineCase c{"merged line art turned 90",
                   "Adf-duplex",
                   "Lineart",
                   150,
                   1,
                   L::StandIn,
                   "Automatic",
                   {},
                   1,
                   {"--bw-mode", "Threshold", "--front-back-merging=yes", "--back-side-location", "Right"},
                   {},
                   false,
                   0,
                   {{1, M, 2}}};
    c.mergeLocation = "Right";
    add(c);
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Matrix, Selko2PipelineE2E, ::testing::ValuesIn(Cases()), PrintName);

// --- the staged library's page filters, one option at a time ---------------

constexpr unsigned char kPaper = 250, kInk = 20;

Image Blank(const dravn_pages::PageSpec& spec) {
  Image page;
  page.width = dravn_pages::PixelsOf(spec.widthMm, spec.dpi);
  page.height = dravn_pages::PixelsOf(spec.heightMm, spec.dpi);
  page.pixels.assign(page.BytesPerLine() * page.height, kPaper);
  return page;
}

void Paint(Image* page, int x0, int y0, int x1, int y1, unsigned char r, unsigned char g, unsigned char b) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      uint8_t* p = page->Row(y) + 3 * x;
      p[0] = r, p[1] = g, p[2] = b;
    }
}

// A form at 300 dpi: red ruling 8 pixels thick every 64 lines (the red
// channel at paper level), and black text bars on the left between them.
Image RuledForm(const dravn_pages::PageSpec& spec) {
  Image page = Blank(spec);
  for (int y = 32; y + 8 <= page.height; y += 64) Paint(&page, 0, y, page.width, y + 8, kPaper, 40, 40);
  for (int y = 56; y + 16 <= page.height; y += 64) Paint(&page, 40, y, page.width / 2, y + 16, kInk, kInk, kInk);
  return page;
}

// Black text bars on the left and four grey patches on the right, lighter
// from left to right.
constexpr int kPatchLevels[4] = {40, 80, 110, 135};
Image GreyPatches(const dravn_pages::PageSpec& spec) {
  Image page = Blank(spec);
  for (int y = 60; y + 20 <= page.height - 60; y += 60)
    Paint(&page, 40, y, page.width / 2 - 40, y + 20, kInk, kInk, kInk);
  const int side = page.width / 10;
  for (int k = 0; k < 4; ++k) {
    const unsigned char v = static_cast<unsigned char>(kPatchLevels[k]);
    Paint(&page, page.width / 2 + k * (side + 8), page.height / 3, page.width / 2 + k * (side + 8) + side,
          page.height / 3 + side, v, v, v);
  }
  return page;
}

// Share of pixels darker than the middle in an area of a decoded page.
double DarkShare(const Image& page, int x0, int y0, int x1, int y1) {
  int dark = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) dark += page.Row(y)[x * page.channels] < 128;
  return static_cast<double>(dark) / ((x1 - x0) * (y1 - y0));
}

double Mean(const Image& page, int x0, int y0, int x1, int y1) {
  double sum = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) sum += page.Row(y)[x * page.channels];
  return sum / ((x1 - x0) * (y1 - y0));
}

class Selko2FiltersE2E : public Selko2PipelineE2E {
 protected:
  // One sheet's front through the staged libraries; false when the scan
  // failed.
  bool ScanOne(PipelineCase c, Image* page, std::string* file = nullptr) {
    dravn_test::Run({"rm", "-rf", m_dir + "/pages", m_dir + "/out"});
    mkdir((m_dir + "/pages").c_str(), 0777);
    mkdir((m_dir + "/out").c_str(), 0777);
    Feed(c);
    const auto r = Scan(c);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string bytes = ReadFile(m_dir + "/out/page1.pnm");
    if (file) *file = bytes;
    return r.exitCode == 0 && dravn_pages::DecodePnm(bytes, page);
  }
};

PipelineCase Front(const char* mode, Image (*render)(const dravn_pages::PageSpec&), std::vector<std::string> extra) {
  // Line art takes no tone setting; the others a neutral table.
  const char* tone = std::string(mode) == "Lineart" ? "Automatic" : "Custom";
  PipelineCase c{"filters", "Adf-front",      mode, 300,   1, Libs::Staged, tone, {0, 0, 0, 255, 1.0},
                 0,         std::move(extra), {},   false, 0, {{1}}};
  c.render = render;
  return c;
}

TEST_F(Selko2FiltersE2E, OptionsOfTheFiltersAreOffered) {
  Feed(Front("Color", dravn_pages::RenderDocumentPage, {}));
  const auto r = Scanimage(Libs::Staged, {"--mode", "Color", "-A"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("--mode Lineart|Gray|Color"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--dropoutcolor White|Red|Green|Blue|None"), std::string::npos);
  EXPECT_NE(r.out.find("Emphasis-level-3|Emphasis-level-2|Emphasis-level-1"), std::string::npos);
}

TEST_F(Selko2FiltersE2E, RedDropOutTakesTheRedRulingToPaper) {
  Image red, white;
  ASSERT_TRUE(ScanOne(Front("Gray", RuledForm, {"--dropoutcolor", "Red"}), &red));
  ASSERT_TRUE(ScanOne(Front("Gray", RuledForm, {"--dropoutcolor", "White"}), &white));
  ASSERT_EQ(red.channels, 1);
  ASSERT_EQ(red.width, dravn_pages::PixelsOf(kWidthMm, 300));
  const int x0 = red.width / 2 + 20, x1 = red.width - 20;
  for (int y = 32; y + 8 <= red.height; y += 64) {
    SCOPED_TRACE(y);
    const double paperRed = Mean(red, x0, y - 12, x1, y - 4);
    EXPECT_NEAR(Mean(red, x0, y + 2, x1, y + 6), paperRed, 4);  // the ruling's middle lines
    EXPECT_LT(Mean(white, x0, y + 2, x1, y + 6), Mean(white, x0, y - 12, x1, y - 4) - 60);
  }
  for (const Image* page : {&red, &white})
    for (int y = 56; y + 16 <= page->height; y += 64)
      EXPECT_LT(Mean(*page, 60, y + 4, page->width / 2 - 20, y + 12), 60);
}

// Emphasis is the library's filter applied to the tone-mapped page: the
// page equals fsip_ImageFilter with the backend's record, bit for bit.
TEST_F(Selko2FiltersE2E, EmphasisIsTheFilterEntryApplied) {
  Image plain, sharpened;
  ASSERT_TRUE(ScanOne(Front("Color", dravn_pages::RenderDocumentPage, {}), &plain));
  ASSERT_TRUE(ScanOne(Front("Color", dravn_pages::RenderDocumentPage, {"--cleanup-sharpness", "Emphasis-level-2"}),
                      &sharpened));
  void* lib = dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  using Filter = int(FSIP_S_IMAGEINFO*, FSIP_S_IMAGEFILTER*, FSIP_S_IMAGEINFO*, const void*);
  auto* filter = reinterpret_cast<Filter*>(dlsym(lib, "fsip_ImageFilter"));
  ASSERT_NE(filter, nullptr);
  FSIP_S_IMAGEINFO in{};
  in.cbSize = sizeof in;
  in.pImageData = plain.pixels.data();
  in.nPixelType = 2, in.nDepth = 24, in.nColorSeq = 1;
  in.nWidth = plain.width, in.nHeight = plain.height;
  in.nBytesPerLine = static_cast<int>(plain.BytesPerLine());
  in.nImageSize = in.nBytesPerLine * in.nHeight;
  in.nXResolution = in.nYResolution = 300;
  FSIP_S_IMAGEEMPHASIS emphasis{sizeof emphasis, 2, 7, 1, 0, 1};  // level 2: sharpness step 1
  FSIP_S_IMAGEFILTER options{};
  options.cbSize = sizeof options;
  options.dwOption = 1;
  options.pEmphasis = &emphasis;
  ASSERT_EQ(filter(&in, &options, nullptr, nullptr), 0);
  dlclose(lib);
  ASSERT_EQ(plain.width, sharpened.width);
  ASSERT_EQ(plain.height, sharpened.height);
  EXPECT_TRUE(plain.pixels == sharpened.pixels);
}

TEST_F(Selko2FiltersE2E, LineArtMethodsGiveBilevelPages) {
  for (const char* method : {"Threshold", "SDTC", "Error-diffusion"}) {
    SCOPED_TRACE(method);
    Image page;
    std::string file;
    ASSERT_TRUE(ScanOne(Front("Lineart", GreyPatches, {"--bw-mode", method, "--dropoutcolor", "White"}), &page, &file));
    EXPECT_EQ(file.compare(0, 2, "P4"), 0);
    EXPECT_TRUE(PayloadMatchesHeader(file, page));
    EXPECT_EQ(page.width, dravn_pages::PixelsOf(kWidthMm, 300));
    EXPECT_EQ(page.height, dravn_pages::PixelsOf(kHeightMm, 300));
    // Diffused ink a little above the clipping level keeps some white dots.
    const bool diffused = std::string(method) == "Error-diffusion";
    for (int y = 60; y + 20 <= page.height - 60; y += 60)
      EXPECT_GT(DarkShare(page, 50, y + 4, page.width / 2 - 50, y + 16), diffused ? 0.75 : 0.9);
    EXPECT_LT(DarkShare(page, 10, 5, page.width - 10, 50), 0.02);  // the paper above
    if (!diffused) continue;
    const int side = page.width / 10;
    double previous = 1.1;
    for (int k = 0; k < 4; ++k) {
      const int x = page.width / 2 + k * (side + 8), y = page.height / 3;
      const double share = DarkShare(page, x + 6, y + 6, x + side - 6, y + side - 6);
      EXPECT_LT(share, previous) << kPatchLevels[k];
      EXPECT_GT(share, 0.05) << kPatchLevels[k];
      previous = share;
    }
  }
}


// --- colour cleanup through the staged libtoneflat -------------------------

// Pixels of the clean page's paper at least `margin` pixels from anything
// else (JPEG rings around the ink), one byte per pixel.
std::vector<uint8_t> OpenPaper(const dravn_pages::PageSpec& spec, int margin) {
  const std::vector<uint8_t> paper = dravn_pages::TintedPaperMask(spec);
  const int w = dravn_pages::PixelsOf(spec.widthMm, spec.dpi), h = dravn_pages::PixelsOf(spec.heightMm, spec.dpi);
  std::vector<uint8_t> open(paper.size(), 0);
  for (int y = margin; y < h - margin; ++y)
    for (int x = margin; x < w - margin; ++x) {
      bool all = true;
      for (int dy = -margin; dy <= margin && all; ++dy)
        for (int dx = -margin; dx <= margin && all; ++dx) all = paper[(y + dy) * w + x + dx] != 0;
      open[y * w + x] = all;
    }
  return open;
}

TEST_F(Selko2FiltersE2E, ColourCleanupFlattensTintedPaperAndKeepsTextAndBox) {
  auto tinted = [](const std::vector<std::string>& extra) {
    PipelineCase c = Front("Color", dravn_pages::RenderTintedPage, extra);
    c.tone = "Automatic";
    return c;
  };
  Feed(tinted({}));
  const auto offered = Scanimage(Libs::Staged, {"--mode", "Color", "-A"});
  ASSERT_EQ(offered.exitCode, 0) << offered.err;
  EXPECT_NE(offered.out.find("--color-cleanup None|Automatic|White [None]"), std::string::npos) << offered.out;

  Image plain, automatic, white;
  ASSERT_TRUE(ScanOne(tinted({}), &plain));
  ASSERT_TRUE(ScanOne(tinted({"--color-cleanup", "Automatic"}), &automatic));
  ASSERT_TRUE(ScanOne(tinted({"--color-cleanup", "White"}), &white));
  dravn_pages::PageSpec spec;
  spec.widthMm = kWidthMm, spec.heightMm = kHeightMm, spec.dpi = 300, spec.number = 1;
  const std::vector<uint8_t> paper = OpenPaper(spec, 3);
  const Image clean = dravn_pages::RenderDocumentPage(spec);
  for (const Image* page : {&plain, &automatic, &white}) ASSERT_EQ(page->width * page->height, (int)paper.size());

  // The share of open paper in the commonest colour: noisy without cleanup,
  // one flat colour with it, white with White.
  auto flatShare = [&](const Image& page, std::vector<uint8_t>* colour) {
    std::map<std::vector<uint8_t>, int> counts;
    int total = 0;
    for (size_t i = 0; i < paper.size(); ++i)
      if (paper[i]) ++total, ++counts[std::vector<uint8_t>(&page.pixels[3 * i], &page.pixels[3 * i] + 3)];
    auto most = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; });
    *colour = most->first;
    return static_cast<double>(most->second) / total;
  };
  std::vector<uint8_t> colour;
  EXPECT_LT(flatShare(plain, &colour), 0.2);
  EXPECT_GT(flatShare(automatic, &colour), 0.98);
  EXPECT_NE(colour, (std::vector<uint8_t>{255, 255, 255}));  // the tint stays
  EXPECT_GT(colour[0] - colour[2], 8);
  EXPECT_GT(flatShare(white, &colour), 0.98);
  EXPECT_EQ(colour, (std::vector<uint8_t>{255, 255, 255}));

  // Text stays dark and the box keeps its colour.
  const int w = plain.width;
  for (const Image* page : {&automatic, &white}) {
    double inkSum = 0, boxDiff = 0;
    int ink = 0, box = 0;
    for (int y = 2; y < plain.height - 2; ++y)
      for (int x = 2; x < w - 2; ++x) {
        const uint8_t* c = clean.Row(y) + 3 * x;
        const bool inkPixel = c[0] < 40 && c[1] < 40 && c[2] < 40;
        const bool boxPixel = c[0] == 220 && c[1] == 160 && c[2] == 20;  // page 1's box
        if (inkPixel) inkSum += page->Row(y)[3 * x], ++ink;
        if (boxPixel)
          for (int ch = 0; ch < 3; ++ch)
            boxDiff += std::abs(page->Row(y)[3 * x + ch] - plain.Row(y)[3 * x + ch]), ++box;
      }
    ASSERT_GT(ink, 1000);
    EXPECT_LT(inkSum / ink, 60);
    ASSERT_GT(box, 1000);
    EXPECT_LT(boxDiff / box, 8);
  }
}


// --- the blank-page skip through the library's own judge ------------------------

class Selko2BlankSkipE2E : public Selko2PipelineE2E {
 protected:
  static constexpr int kBlankSetDpi = 150;

  // A4 sheets of the blank set, rendered at 150 dpi to keep the files small;
  // the scanner samples them at its 300.
  void FeedBlankSet(const std::vector<int>& pages) {
    const auto set = dravn_pages::BlankSet();
    for (size_t n = 0; n < pages.size(); ++n) {
      if (pages[n] < 0) continue;  // a missing file: a white face
      dravn_pages::JudgePage spec = set[static_cast<size_t>(pages[n])];
      spec.dpi = kBlankSetDpi;
      FeedPage(static_cast<int>(n) + 1, dravn_pages::RenderJudgePage(spec));
    }
  }

  // A scan of `sheets` A4 sheets; the files it wrote, in order.
  std::vector<std::string> ScanA4(const char* source, int sheets, bool skip, const char* stem) {
    WriteScenario(sheets, kBlankSetDpi, false);
    PipelineCase c{stem, source, "Color", 150, sheets, Libs::Staged, "Normal", {}, 0, {}, {}, false, 0, {}};
    c.paperSize = "A4";
    c.outStem = stem;
    if (skip) c.extra = {"--blank-page-skip=yes"};
    const auto r = Scan(c);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> files;
    for (int n = 1;; ++n) {
      const std::string path = m_dir + "/out/" + stem + std::to_string(n) + ".pnm";
      if (access(path.c_str(), F_OK) != 0) break;
      files.push_back(ReadFile(path));
      unlink(path.c_str());
    }
    return files;
  }
};

TEST_F(Selko2BlankSkipE2E, SkipAndItsSensitivityAreOffered) {
  WriteScenario(1, 300, false);
  PipelineCase c{"options", "Adf-front", "Color", 150, 1, Libs::Staged, "Normal", {}, 0, {}, {}, false, 0, {}};
  c.extra = {"--blank-page-skip=yes", "-A"};
  const auto r = Scan(c);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto line = [&](const std::string& name) {
    const size_t at = r.out.find("    " + name);
    return at == std::string::npos ? std::string() : r.out.substr(at, r.out.find('\n', at) - at);
  };
  EXPECT_NE(line("--blank-page-skip"), "") << r.out;
  EXPECT_EQ(line("--blank-page-skip").find("inactive"), std::string::npos) << r.out;
  EXPECT_NE(line("--blank-page-skip-sensitivity"), "") << r.out;
  EXPECT_EQ(line("--blank-page-skip-sensitivity").find("inactive"), std::string::npos) << r.out;
}

TEST_F(Selko2BlankSkipE2E, BlankSetDeliversOnlyItsInkedFacesInOrder) {
  // Index into the blank set per sheet front; its last four pages carry ink.
  const std::vector<int> fronts = {0, 8, 1, 2, 9, 3, 4, 10, 5, 6, 11, 7};
  std::vector<int> pages;
  for (int f : fronts) pages.insert(pages.end(), {f, -1});
  FeedBlankSet(pages);
  const auto all = ScanA4("Adf-front", 12, false, "all");
  ASSERT_EQ(all.size(), 12u);
  const auto kept = ScanA4("Adf-front", 12, true, "kept");
  ASSERT_EQ(kept.size(), 4u);
  const size_t inked[4] = {1, 4, 7, 10};
  for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(kept[i] == all[inked[i]]) << "face " << i + 1;
}

TEST_F(Selko2BlankSkipE2E, DuplexDropsBlankBacksAndKeepsFronts) {
  // Inked fronts, near-blank backs: white paper, show-through, specks, shadows.
  FeedBlankSet({8, 0, 9, 3, 10, 5, 11, 7});
  const auto all = ScanA4("Adf-duplex", 4, false, "all");
  ASSERT_EQ(all.size(), 8u);
  const auto kept = ScanA4("Adf-duplex", 4, true, "kept");
  ASSERT_EQ(kept.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(kept[i] == all[2 * i]) << "front " << i + 1;
}

}  // namespace
