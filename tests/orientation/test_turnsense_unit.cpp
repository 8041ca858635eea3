// The orientation unit as the second backend loads it: what its load-time
// constructor needs beside the library (each missing or broken piece leaves
// it not ready, never a crash), unload and reload, and the entry's checks,
// page copy and grey conversion.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "I3ipImageInfo.h"
#include "dravn_paths.h"
#include "fsip_records.h"
#include "test_support.h"
#include "text_line_pages.h"

namespace fs = std::filesystem;

namespace {

using Entry = int (*)(_P2IIMG*, int*);
using Smoothing = int (*)(I3ipImageInfo*, int, bool, bool, int, I3ipImageInfo*);

const std::string kStaged = DRAVN_LIB_DIR;

// A library folder of its own: a copy of the staged unit, the companion
// libraries it binds (staged ones unless replaced) and a copy of the staged
// engine folders, to break piece by piece.
class UnitFolder {
 public:
  explicit UnitFolder(const std::string& dir = "") {
    m_root = dravn_test::MakeTempDir("turnsense");
    m_dir = dir.empty() ? m_root : m_root + "/" + dir;
    fs::create_directories(m_dir);
    fs::copy_file(kStaged + "/libturnsense3.so", m_dir + "/libturnsense3.so");
    fs::create_symlink(kStaged + "/libhelper.so", m_dir + "/libhelper.so");
    fs::create_symlink(kStaged + "/libopencv.so", m_dir + "/libopencv.so");
    fs::copy(kStaged + "/dic_DL", m_dir + "/dic_DL", fs::copy_options::recursive);
  }
  ~UnitFolder() {
    Unload();
    std::error_code ec;
    fs::remove_all(m_root, ec);
  }
  std::string Path(const std::string& relative) const { return m_dir + "/" + relative; }
  void Replace(const std::string& relative, const std::string& target) const {
    fs::remove(Path(relative));
    fs::create_symlink(target, Path(relative));
  }
  void Write(const std::string& relative, const std::string& bytes) const {
    std::ofstream(Path(relative), std::ios::binary | std::ios::trunc) << bytes;
  }
  // The flag after loading, or -1 when the library did not load.
  int Load() {
    m_handle = dlopen(Path("libturnsense3.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) return -1;
    return *static_cast<unsigned char*>(dlsym(m_handle, "gInitialized"));
  }
  void Unload() {
    if (m_handle) dlclose(m_handle);
    m_handle = nullptr;
  }
  void* Handle() const { return m_handle; }

 private:
  std::string m_root, m_dir;
  void* m_handle = nullptr;
};

const std::string kFakes = FAKE_DIR;

struct LoadCase {
  const char* what;
  std::function<void(UnitFolder&)> arrange;
  int flag;
};

TEST(TurnsenseLoad, EveryPieceBesideTheLibraryIsNeeded) {
  const std::string e1 = "dic_DL/engine2", e2 = "dic_DL/engine2_2";
  const std::vector<LoadCase> cases = {
      {"all present", [](UnitFolder&) {}, 1},
      {"engine2_2 missing", [&](UnitFolder& u) { fs::remove_all(u.Path(e2)); }, 0},
      {"engine2 missing", [&](UnitFolder& u) { fs::remove_all(u.Path(e1)); }, 0},
      {"script model missing", [&](UnitFolder& u) { fs::remove(u.Path(e1 + "/model/model.txt")); }, 0},
      {"rotation model missing", [&](UnitFolder& u) { fs::remove(u.Path(e2 + "/model/rotate_model.txt")); }, 0},
      {"weight file missing", [&](UnitFolder& u) { fs::remove(u.Path(e2 + "/model/weights/fc_w.bin")); }, 0},
      {"weight file cut short", [&](UnitFolder& u) { u.Write(e1 + "/model/weights/fc_w.bin", std::string(40, '\1')); }, 0},
      {"model text garbage", [&](UnitFolder& u) { u.Write(e1 + "/model/model.txt", "[data\ntype=\x01\n"); }, 0},
      {"model beyond the engine's limits",
       [&](UnitFolder& u) {
         u.Write(e2 + "/model/model.txt",
                 "votes=3\n[data]\ntype=data\noutputs=data\nchannels=1\nheight=2000000\nwidth=2000000\n"
                 "[fc]\ntype=fc\ninputs=data\noutputs=fc\nfilters=2000000000\nweights=fc_w.bin\nbiases=bias10.bin\n"
                 "[prob]\ntype=softmax\ninputs=fc\noutputs=prob\n");
       },
       0},
      {"detector missing", [&](UnitFolder& u) { fs::remove(u.Path(e2 + "/model.dat")); }, 0},
      {"detector broken", [&](UnitFolder& u) { u.Write(e1 + "/model.dat", "\x14\0\0\0garbage"); }, 0},
      {"libhelper.so missing", [](UnitFolder& u) { fs::remove(u.Path("libhelper.so")); }, 0},
      {"a libhelper.so name missing",
       [](UnitFolder& u) { u.Replace("libhelper.so", kFakes + "/libfake_helper_4.so"); }, 0},
      {"i3Helper_InitIPP refuses",
       [](UnitFolder& u) { u.Replace("libhelper.so", kFakes + "/libfake_helper_initfails.so"); }, 0},
      {"libopencv.so missing", [](UnitFolder& u) { fs::remove(u.Path("libopencv.so")); }, 0},
      // The binarization unit's twelve names only: the colour medians and
      // the matrix product are missing.
      {"a libopencv name missing",
       [](UnitFolder& u) { u.Replace("libopencv.so", kFakes + "/libfake_opencv_-1.so"); }, 0},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.what);
    UnitFolder unit;
    c.arrange(unit);
    EXPECT_EQ(unit.Load(), c.flag);
  }
}

// Engine paths that do not fit their buffers are refused, not cut to name
// another folder.
#if defined(__SANITIZE_ADDRESS__)
#define DRAVN_NO_ADDRESS_LIMIT 1
#endif

// A network whose blobs need more memory than the process may have: the
// allocation fails while the constructor builds the engine, and the host
// goes on with the unit not ready.
TEST(TurnsenseLoad, NoMemoryForTheEngineLeavesItNotReady) {
#ifdef DRAVN_NO_ADDRESS_LIMIT
  GTEST_SKIP() << "the sanitizer's shadow memory needs the whole address space";
#else
  // A weight file: a count the engine skips, then the values.
  auto Weights = [](int n, float value) {
    std::string bytes(4 + 4 * size_t(n), '\0');
    for (int i = 0; i < n; ++i) std::memcpy(&bytes[4 + 4 * size_t(i)], &value, 4);
    return bytes;
  };
  UnitFolder unit;
  const std::string model = "dic_DL/engine2_2/model/";
  unit.Write(model + "weights/c_w.bin", Weights(25, 0.1f));
  unit.Write(model + "weights/c_b.bin", Weights(25, 0.0f));
  // 25 planes of 4000 x 4000 floats: 1.6 GB for one blob.
  unit.Write(model + "model.txt",
             "votes=3\n[data]\ntype=data\noutputs=data\nchannels=1\nheight=4000\nwidth=4000\n"
             "[conv]\ntype=conv\ninputs=data\noutputs=c\nfilters=25\nwindowSize=1\nwindowStride=1\n"
             "weights=c_w.bin\nbiases=c_b.bin\n[prob]\ntype=softmax\ninputs=c\noutputs=prob\n");
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlimit limit{pages * size_t(sysconf(_SC_PAGESIZE)) + (size_t(768) << 20), RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    _exit(unit.Load() + 10);  // 10 not ready, 11 ready, 9 not loaded
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the host ended with signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 10);
#endif
}

TEST(TurnsenseLoad, ALibraryFolderTooLongForTheEnginePathsIsNotReady) {
  // A folder of 240 characters: "/libopencv.so", "/libhelper.so" and
  // "/dic_DL/engine2" after it fit 255, "/dic_DL/engine2_2" does not.
  const size_t root = UnitFolder().Path("").size();  // the temp root and a slash
  UnitFolder unit(std::string(240 - root, 'd'));
  ASSERT_EQ(unit.Path("").size(), 241u);
  EXPECT_EQ(unit.Load(), 0);
}

TEST(TurnsenseLoad, UnloadReleasesTheHelperAndALoadAfterItWorksAgain) {
  UnitFolder unit;
  unit.Replace("libhelper.so", kFakes + "/libfake_helper_-1.so");
  // Our own reference keeps the fake's record readable across the unit's unload.
  void* fake = dlopen(unit.Path("libhelper.so").c_str(), RTLD_NOW);
  ASSERT_NE(fake, nullptr);
  const int* record = static_cast<const int*>(dlsym(fake, "fake_record"));  // init_calls, free_calls, ...
  for (int round = 1; round <= 2; ++round) {
    ASSERT_EQ(unit.Load(), 1) << round;
    EXPECT_EQ(record[0], round);
    EXPECT_EQ(record[1], round - 1);
    const std::string lib = unit.Path("libturnsense3.so");
    unit.Unload();
    EXPECT_EQ(dlopen(lib.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "still loaded";
    EXPECT_EQ(record[1], round);
  }
  dlclose(fake);
}

// --- the entry, on the staged unit ------------------------------------------------

class TurnsenseEntry : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The staged unit with the tiny engines that read every line as upright
    // Latin, so that its answers are known whatever the shipped models read.
    s_unit = new UnitFolder;
    fs::remove_all(s_unit->Path("dic_DL"));
    fs::copy(UPRIGHT_ENGINES, s_unit->Path("dic_DL"), fs::copy_options::recursive);
    ASSERT_EQ(s_unit->Load(), 1);
    s_handle = s_unit->Handle();
    s_entry = reinterpret_cast<Entry>(dlsym(s_handle, "I3ipIpunitProcess_Turnsense"));
    s_smoothing = reinterpret_cast<Smoothing>(dlsym(s_handle, "i3ColorSmoothing"));
    ASSERT_EQ(*static_cast<unsigned char*>(dlsym(s_handle, "gInitialized")), 1);
  }
  static void TearDownTestSuite() { delete s_unit; }

  // A page record over `pixels` as the backend fills it.
  static _P2IIMG Record(std::vector<uint8_t>& pixels, int width, int height, int bpp, int dpi, int bpl = 0) {
    _P2IIMG page{};
    page.pImageData = pixels.data();
    page.nBitsPerPixel = bpp;
    page.nWidth = width;
    page.nHeight = height;
    page.nBytesPerLine = bpl ? bpl : (width * bpp + 7) / 8;
    page.nImageSize = page.nBytesPerLine * height;
    page.nXResolution = page.nYResolution = dpi;
    return page;
  }

  static UnitFolder* s_unit;
  static void* s_handle;
  static Entry s_entry;
  static Smoothing s_smoothing;
};
UnitFolder* TurnsenseEntry::s_unit;
void* TurnsenseEntry::s_handle;
Entry TurnsenseEntry::s_entry;
Smoothing TurnsenseEntry::s_smoothing;

// A grey text page as 24-bit pixels, rows padded to `bpl` bytes.
std::vector<uint8_t> Colour(const dravn_text_pages::Grey& g, int bpl) {
  std::vector<uint8_t> out(size_t(bpl) * g.height, 0x5a);
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) {
      uint8_t* p = &out[size_t(y) * bpl + 3 * x];
      p[0] = g.At(x, y), p[1] = g.At(x, y), p[2] = uint8_t(g.At(x, y) * 3 / 4 + 60);
    }
  return out;
}

TEST_F(TurnsenseEntry, RefusesWhatItCannotReadAndLeavesOutAlone) {
  int out[2] = {77, 77};
  EXPECT_EQ(s_entry(nullptr, out), 36);
  std::vector<uint8_t> pixels(64 * 64 * 3, 200);
  _P2IIMG page = Record(pixels, 64, 64, 24, 300);
  EXPECT_EQ(s_entry(&page, nullptr), 36);
  for (int bpp : {1, 16}) {
    page = Record(pixels, 64, 64, bpp, 300);
    EXPECT_EQ(s_entry(&page, out), 36) << bpp;
  }
  // Rows that do not fit the record's own sizes, and no pixels at all.
  page = Record(pixels, 64, 64, 24, 300, 100);
  EXPECT_EQ(s_entry(&page, out), 36);
  page = Record(pixels, 64, 64, 24, 300);
  page.nImageSize = 64 * 3 * 63;
  EXPECT_EQ(s_entry(&page, out), 36);
  page = Record(pixels, 64, 64, 24, 300);
  page.pImageData = nullptr;
  EXPECT_EQ(s_entry(&page, out), 36);
  EXPECT_EQ(out[0], 77);
  EXPECT_EQ(out[1], 77);
}

// A colour page whose sampled blue levels are all equally common has no
// colour cluster: as a card (at most 101 mm each way) its cleaning finds
// nothing and the page is skipped; one pixel wider it is no card and goes
// grey directly (and reads upright: no text). At 65 dpi every pixel is
// sampled, and 258 pixels are 100.8 mm, 259 are 101.2 mm.
TEST_F(TurnsenseEntry, CardsUpTo101MillimetresAreCleanedLargerPagesGoGreyDirectly) {
  struct Case {
    int width, rc;
  };
  const int height = 256;
  for (const Case c : {Case{258, 1}, Case{259, 0}}) {
    std::vector<uint8_t> pixels(size_t(c.width) * height * 3);
    for (int i = 0; i < c.width * height; ++i) {
      pixels[size_t(3 * i)] = uint8_t(i * 7 % 256);
      pixels[size_t(3 * i + 1)] = uint8_t(i * 13 % 256);
      pixels[size_t(3 * i + 2)] = uint8_t(i % 256);
    }
    const std::vector<uint8_t> before = pixels;
    _P2IIMG page = Record(pixels, c.width, height, 24, 65);
    int out[2] = {77, 77};
    EXPECT_EQ(s_entry(&page, out), c.rc) << c.width;
    if (c.rc == 0) {
      EXPECT_EQ(out[0], 0);
      EXPECT_EQ(out[1], -1);
    } else {
      EXPECT_EQ(out[0], 77);
    }
    EXPECT_TRUE(pixels == before) << "the caller's pixels changed";
  }
}

// With the unit's log switched on in its profile, the log shows which pages
// went through the card cleaning: 1190 pixels at 300 dpi (100.8 mm) do,
// 1200 (101.6 mm) go grey directly.
TEST(TurnsenseLog, CleaningOfCardsAndTheDirectGreyOfLargerPages) {
  const std::string dir = dravn_test::MakeTempDir("turnsense-log");
  fs::create_directories(dir + "/etc");
  fs::create_directories(dir + "/log");
  dravn_test::WriteFile(dir + "/etc/I3ipTurnsense3.ini", "[COMMON]\nLogMode=1\n");
  const auto r = dravn_test::Run({"unshare", "--mount", "sh", "-c",
                                  "mount --bind '" + dir + "/etc' '" DRAVN_ETC_DIR "' && mount --bind '" + dir +
                                      "/log' '" DRAVN_LOG_DIR "' && exec '" PROBE "' 1190x1190@300 1200x1200@300"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // Banded paper without text: no verdict, read as upright.
  EXPECT_EQ(r.out, "1190x1190@300 rc=0 out=0,-1\n1200x1200@300 rc=0 out=0,-1\n");
  const std::string log = dravn_test::ReadFile(dir + "/log/I3ipTurnsense3.log");
  const std::string start = "Turnsense3::I3ipIpunitProcess_Turnsense start";
  const size_t first = log.find(start), second = log.find(start, first + 1);
  ASSERT_NE(second, std::string::npos) << log;
  const std::string cleaning = "Turnsense3::CleanUp mode=0 level=5 Binsens=0 bTD1=0";
  EXPECT_NE(log.substr(first, second - first).find(cleaning), std::string::npos) << log;
  EXPECT_EQ(log.find(cleaning, second), std::string::npos) << log;
  EXPECT_NE(log.find("Turnsense3::LoadOcrEngine start"), std::string::npos) << log;
  fs::remove_all(dir);
}

// Text pages of every kind the entry takes: grey and colour, padded rows,
// a small colour card that the smoothing turns grey (with the colour median
// first or not), a textured page that the driver smooths. The caller's
// pixels never change.
TEST_F(TurnsenseEntry, FindsAndReadsTheLinesOfEveryPageKindAndLeavesTheCallersPixelsAlone) {
  using namespace dravn_text_pages;
  const TextPage letter = LetterPage(150, 14);
  struct Case {
    const char* what;
    Grey grey;
    int bpp, dpi, pad;
    int cardMode = 1;  // 2: the card's colour median first
  };
  Grey card = RenderRuns(560, 360, {{30, 60, "PAY TO THE ORDER OF", 4}, {30, 200, "TWENTY FIVE", 5}}, 30, 235).page;
  Grey textured = letter.page;
  for (size_t i = 0; i < textured.pixels.size(); ++i)
    if (textured.pixels[i] > 128) textured.pixels[i] = uint8_t((i * 37 + i / textured.width * 11) % 4 ? 230 : 120);
  const std::vector<Case> cases = {
      {"grey letter", letter.page, 8, 300, 0},        {"grey letter, padded rows", letter.page, 8, 300, 13},
      {"colour letter", letter.page, 24, 300, 0},     {"colour letter at 600 dpi", letter.page, 24, 600, 5},
      {"small colour card", card, 24, 300, 0},        {"card, median first", card, 24, 300, 0, 2},
      {"textured grey letter", textured, 8, 300, 0},
      {"upside-down letter", Turn(letter, 2).page, 8, 300, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int bpl = c.grey.width * c.bpp / 8 + c.pad;
    std::vector<uint8_t> pixels;
    if (c.bpp == 8) {
      pixels.assign(size_t(bpl) * c.grey.height, 0x5a);
      for (int y = 0; y < c.grey.height; ++y)
        std::memcpy(&pixels[size_t(y) * bpl], &c.grey.pixels[size_t(y) * c.grey.width], size_t(c.grey.width));
    } else {
      pixels = Colour(c.grey, bpl);
    }
    const std::vector<uint8_t> before = pixels;
    _P2IIMG page = Record(pixels, c.grey.width, c.grey.height, c.bpp, c.dpi, bpl);
    int out[2] = {77, 77};
    int* cardMode = static_cast<int*>(dlsym(s_handle, "gTD1_Card_mode"));
    *cardMode = c.cardMode;
    const int rc = s_entry(&page, out);
    *cardMode = 1;
    // The staged engines read every line as upright Latin: the page's
    // lines were found and classified, and it stays as it is.
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 10);
    EXPECT_TRUE(pixels == before) << "the caller's pixels changed";
  }
}

// Memory short at each step: no room for the copy of a colour card (36,
// out untouched); none for the grey version of a large colour page, made
// straight from the caller's rows (34, out 0 and -1); none for the driver's
// own buffers (34, out untouched). Each in a process of its own whose
// address space may grow by the room given only.
TEST(TurnsenseMemory, NoMemoryAtEachStepAnswersAsItShould) {
#ifdef DRAVN_NO_ADDRESS_LIMIT
  GTEST_SKIP() << "the sanitizer's shadow memory needs the whole address space";
#else
  // A card of 2000 x 2000 at 600 dpi: a copy of 12 MB. A page of 6000 x 6000
  // at 600 dpi: its grey version 36 MB, which the driver then works in.
  struct Case {
    const char* page;
    const char* room;
    const char* out;
  };
  for (const Case& c :
       {Case{"2000x2000@600", "5", "rc=36 out=77,77"}, Case{"6000x6000@600", "30", "rc=34 out=0,-1"},
        Case{"6000x6000@600", "40", "rc=34 out=77,77"}, Case{"6000x6000@600", "600", "rc=0 out=0,-1"}}) {
    const auto r = dravn_test::Run({PROBE, std::string("--room=") + c.room, c.page});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, std::string(c.page) + " " + c.out + "\n") << c.page << " " << c.room << " MB";
  }
#endif
}

// The background-removal mode of the exported colour smoothing reaches the
// 5 x 5 colour median of libopencv: lone specks on the paper go, text stays.
TEST_F(TurnsenseEntry, BackgroundRemovalSmoothsSpecksAwayAndKeepsText) {
  const int w = 120, h = 80;
  std::vector<uint8_t> src(size_t(w) * h * 3), dst(src.size());
  for (int i = 0; i < w * h; ++i) src[size_t(3 * i)] = 200, src[size_t(3 * i + 1)] = 170, src[size_t(3 * i + 2)] = 120;
  for (int y = 30; y < 36; ++y)
    for (int x = 30; x < 90; ++x) std::memset(&src[size_t(3 * (y * w + x))], 20, 3);
  std::vector<std::pair<int, int>> specks;
  for (int k = 0; k < 40; ++k) {
    const int x = 5 + (k * 37) % 110, y = 3 + (k * 23) % 74;
    if (y >= 24 && y < 42) continue;
    src[size_t(3 * (y * w + x))] = 90;
    specks.emplace_back(x, y);
  }
  I3ipImageInfo in{40, 0, 24, 1, 0, 100, 0, uint32_t(w), uint32_t(h), uint32_t(3 * w), uint32_t(src.size()), src.data()};
  I3ipImageInfo out = in;
  out.Data = dst.data();
  ASSERT_EQ(s_smoothing(&in, 0, false, true, 0, &out), 0);
  int gone = 0, inner = 0;
  for (auto [x, y] : specks) {
    if (x < 2 || y < 2 || x >= w - 2 || y >= h - 2) continue;
    ++inner;
    gone += dst[size_t(3 * (y * w + x))] == 200;
  }
  EXPECT_GT(inner, 10);
  EXPECT_EQ(gone, inner);
  EXPECT_EQ(dst[size_t(3 * (32 * w + 50))], 20);  // the text bar
}

}  // namespace
