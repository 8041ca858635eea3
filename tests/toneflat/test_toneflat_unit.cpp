// libtoneflat opened from the staged tree as the second backend opens it,
// and the colour smoothing exported by libturnsense3.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>

#include "I3ipImageInfo.h"
#include "dravn_paths.h"
#include "tinted_pages.h"

using dravn_pages::Image;

namespace {

typedef int (*BGSmoothing)(I3ipImageInfo*, int, int, I3ipImageInfo*);
typedef int (*FrameEntry)(void*);
typedef int (*ColorSmoothing)(I3ipImageInfo*, int, bool, bool, int, I3ipImageInfo*);

class Toneflat : public ::testing::Test {
 protected:
  void SetUp() override {
    m_lib = dlopen(DRAVN_LIB_DIR "/libtoneflat.so", RTLD_LAZY | DRAVN_RTLD_DEEPBIND);
    ASSERT_NE(m_lib, nullptr) << dlerror();
    m_entry = reinterpret_cast<BGSmoothing>(dlsym(m_lib, "I3ipIpunitProcess_BGSmoothing"));
    ASSERT_NE(m_entry, nullptr);
  }
  void TearDown() override {
    if (m_lib) dlclose(m_lib);
  }
  void* m_lib = nullptr;
  BGSmoothing m_entry = nullptr;
};

I3ipImageInfo Record(Image& page, int dpi = 300) {
  I3ipImageInfo info{};
  info.Size = 40;
  info.DataType = 2;
  info.Bpp = 24;
  info.Dpi = static_cast<uint16_t>(dpi);
  info.EndorserCount = 7;
  info.Width = static_cast<uint32_t>(page.width);
  info.Height = static_cast<uint32_t>(page.height);
  info.Bpl = static_cast<uint32_t>(page.BytesPerLine());
  info.DataSize = info.Bpl * info.Height;
  info.Data = page.pixels.data();
  return info;
}

Image Card(int number = 3) {
  dravn_pages::PageSpec spec;
  spec.widthMm = 90, spec.heightMm = 55, spec.dpi = 300, spec.number = number;
  return dravn_pages::RenderTintedPage(spec);
}

// The colour most of the page's pixels took.
std::vector<uint8_t> Commonest(const uint8_t* data, size_t bytes) {
  std::map<std::vector<uint8_t>, size_t> counts;
  for (size_t i = 0; i + 2 < bytes; i += 3) ++counts[std::vector<uint8_t>(data + i, data + i + 3)];
  return std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
}

TEST_F(Toneflat, ModeOneWhitensOtherModesOnlySmoothInputUnchanged) {
  const struct {
    int mode;
    bool white;
  } cases[] = {{1, true}, {0, false}, {2, false}, {-1, false}};
  Image page = Card();
  const std::vector<uint8_t> before = page.pixels;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    I3ipImageInfo in = Record(page), out{};
    out.Data = reinterpret_cast<unsigned char*>(&out);  // overwritten
    ASSERT_EQ(m_entry(&in, c.mode, 0, &out), 0);
    ASSERT_NE(out.Data, nullptr);
    EXPECT_NE(out.Data, in.Data);
    EXPECT_EQ(0, memcmp(&out, &in, 32));  // every field but the pixels
    EXPECT_GE(malloc_usable_size(out.Data), in.DataSize);
    EXPECT_EQ(page.pixels, before);
    const std::vector<uint8_t> paper = Commonest(out.Data, out.DataSize);
    if (c.white) {
      EXPECT_EQ(paper, (std::vector<uint8_t>{255, 255, 255}));
    } else {
      for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(paper[ch], dravn_pages::kTintPaper[ch], 1);
    }
    free(out.Data);
  }
}

TEST_F(Toneflat, RefusedRecordsAnswer36WithNoOutput) {
  Image page = Card();
  const I3ipImageInfo good = Record(page);
  const struct {
    const char* name;
    std::function<void(I3ipImageInfo*)> spoil;
  } cases[] = {
      {"8-bit input", [](I3ipImageInfo* r) { r->Bpp = 8, r->Bpl = r->Width, r->DataSize = r->Bpl * r->Height; }},
      {"1-bit input", [](I3ipImageInfo* r) { r->Bpp = 1; }},
      {"data size below height x bytes per line", [](I3ipImageInfo* r) { r->DataSize -= 1; }},
      {"rows shorter than three bytes a pixel", [](I3ipImageInfo* r) { r->Bpl = 3 * r->Width - 1; }},
      {"no width", [](I3ipImageInfo* r) { r->Width = 0; }},
      {"no height", [](I3ipImageInfo* r) { r->Height = 0, r->DataSize = 0; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    I3ipImageInfo in = good, out{};
    c.spoil(&in);
    out.Data = reinterpret_cast<unsigned char*>(&out);
    EXPECT_EQ(m_entry(&in, 1, 0, &out), 36);
    EXPECT_EQ(out.Data, nullptr);
  }
  I3ipImageInfo out{};
  EXPECT_EQ(m_entry(nullptr, 1, 0, &out), 36);
  I3ipImageInfo in = good;
  EXPECT_EQ(m_entry(&in, 1, 0, nullptr), 36);
}

TEST_F(Toneflat, NoColourClusterAnswers0WithNoOutput) {
  // Every blue level sampled equally often: no peak, no cluster.
  Image page;
  page.width = 256, page.height = 2;
  page.pixels.assign(page.BytesPerLine() * 2, 128);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 256; ++x) page.Row(y)[3 * x + 2] = static_cast<uint8_t>(x);
  I3ipImageInfo in = Record(page, 30), out{};
  EXPECT_EQ(m_entry(&in, 1, 0, &out), 0);
  EXPECT_EQ(out.Data, nullptr);
  EXPECT_EQ(out.Width, 256u);
}

TEST_F(Toneflat, NoMemoryAnswers34WithNoOutput) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer reserves the address space";
#endif
  // A record whose buffer is said to be 1.5 GB: the output cannot be had.
  Image page = Card();
  I3ipImageInfo in = Record(page);
  in.DataSize = 1536u << 20;
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit limit{1u << 30, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    I3ipImageInfo out{};
    out.Data = reinterpret_cast<unsigned char*>(&out);
    const int rc = m_entry(&in, 1, 0, &out);
    _exit(rc == 34 && out.Data == nullptr ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(Toneflat, FrameEntriesDoNothingUnderTheirArgumentEncodedNames) {
  for (const char* name : {"_Z15I3ipLoadLibraryP12I3ipUnitInfo", "_Z17I3ipUnloadLibraryP12I3ipUnitInfo",
                           "_Z18I3ipIpunitShutdownP12I3ipUnitInfo"}) {
    auto entry = reinterpret_cast<FrameEntry>(dlsym(m_lib, name));
    ASSERT_NE(entry, nullptr) << name;
    EXPECT_EQ(entry(nullptr), 0);
  }
  for (const char* name : {"I3ipLoadLibrary", "gInitialized", "i3ColorSmoothing"})
    EXPECT_EQ(dlsym(m_lib, name), nullptr) << name;
}

// libturnsense3 carries the same smoothing: its export agrees with the unit.
TEST_F(Toneflat, TurnsenseSmoothingAgreesWithTheUnit) {
  void* turnsense = dlopen(DRAVN_LIB_DIR "/libturnsense3.so", RTLD_LAZY | DRAVN_RTLD_DEEPBIND);
  ASSERT_NE(turnsense, nullptr) << dlerror();
  auto smoothing = reinterpret_cast<ColorSmoothing>(dlsym(turnsense, "i3ColorSmoothing"));
  ASSERT_NE(smoothing, nullptr);
  Image page = Card(4);
  for (int cleanness : {-2, 0, 5}) {
    I3ipImageInfo in = Record(page), unit{}, direct = in;
    std::vector<uint8_t> pixels(in.DataSize, 0);
    direct.Data = pixels.data();
    ASSERT_EQ(m_entry(&in, 0, cleanness, &unit), 0);
    ASSERT_EQ(smoothing(&in, cleanness, false, false, 0, &direct), 0);
    EXPECT_EQ(0, memcmp(unit.Data, pixels.data(), in.DataSize)) << cleanness;
    free(unit.Data);
  }
  I3ipImageInfo grey = Record(page);
  grey.Bpp = 8;
  EXPECT_EQ(smoothing(&grey, 5, false, false, 0, &grey), 1);
  dlclose(turnsense);
}

}  // namespace
