// The Selko2 road's decoding and page copies give the bytes of the plain
// arithmetic: decoding, widening and placing, then the device table over
// the page; and nothing reads what a page copy leaves unfilled. Run on the
// benchmark page, a page on its backing as the scanner delivers it and a
// degraded grey page, with the image libraries the staged system has.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "degraded_pages.h"
#include "dravn_paths.h"
#include "image_libs.h"
#include "pipeline_sheet.h"
#include "selko2_pipeline.h"
#include "selko2_scan_func.h"
#include "test_pages.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Face {
  std::string name;
  Bytes stream;
  int width, height;
  bool grey;
};

Face BenchPage() {
  dravn_pages::PageSpec spec;  // A4, 300 dpi, colour, as the benches scan it
  const dravn_pages::Image page = dravn_pages::RenderDocumentPage(spec);
  return {"bench page", dravn_pages::EncodeJpeg(page, false, 80), page.width, page.height, false};
}

Face BackedPage() {
  const dravn_pages::BackedPage backed =
      dravn_pages::RenderBackedPage(dravn_pages::WhiteBackedSpec(150, 1.5, 3, false));
  const dravn_pages::Image& page = backed.image;
  return {"backed page", dravn_pages::EncodeJpeg(page, false, 85), page.width, page.height, false};
}

Face DegradedPage() {
  const dravn_degraded::Page d = dravn_degraded::MakePage(dravn_degraded::Kind::kStains, 150, 148, 210);
  dravn_pages::Image page;
  page.width = d.width, page.height = d.height, page.channels = 3;
  page.pixels.resize(size_t(d.width) * d.height * 3);
  for (size_t i = 0; i < d.grey.size(); ++i) std::fill_n(&page.pixels[3 * i], 3, d.grey[i]);
  return {"degraded grey page", dravn_pages::EncodeJpeg(page, true, 75), page.width, page.height, true};
}

const std::vector<Face>& Faces() {
  static const std::vector<Face> faces = {BenchPage(), BackedPage(), DegradedPage()};
  return faces;
}

// The stream cut after `fraction` of its bytes (1: whole).
Bytes Cut(const Bytes& stream, double fraction) {
  return Bytes(stream.begin(), stream.begin() + static_cast<size_t>(stream.size() * fraction));
}

// The decoded face as it was made before decoding and the device table
// were fused: the plain decoder's rows widened to three bytes a pixel and
// placed (automatic size: the frame's geometry; otherwise the source's,
// white where the frame does not reach), then every byte through the table.
Bytes Reference(const Bytes& stream, const JPEGINFO& info, bool grey, bool automatic, int srcW, int srcH) {
  unsigned char* decoded = ReadDataFromJpeg(stream.data(), info);
  EXPECT_NE(decoded, nullptr);
  if (!decoded) return {};
  const int components = grey ? 1 : 3;
  const size_t frameW = info.usWidth, frameH = info.usHeight;
  const size_t bpl = automatic ? 3 * frameW : 3 * size_t(srcW);
  const size_t lines = automatic ? frameH : size_t(srcH);
  Bytes page(bpl * lines, 0xFF);
  const size_t pixels = std::min(frameW, bpl / 3);
  for (size_t y = 0; y < std::min(lines, frameH); ++y)
    for (size_t x = 0; x < pixels; ++x)
      for (int c = 0; c < 3; ++c)
        page[y * bpl + 3 * x + c] = decoded[(y * frameW + x) * components + (components == 3 ? c : 0)];
  free(decoded);
  for (unsigned char& v : page) v = DeviceAdjustLUT_Selko2[v];
  return page;
}

class Selko2RoadBytes : public testing::Test {
 protected:
  void SetUp() override {
    sheet::LoadJpeg();
    ASSERT_NE(g_pLibjpeg, nullptr);
    g_PropInfo = KELO_PROP_INFO{};
    g_PropInfo.SCAN_FACE = 1;
    g_PropInfo.SCAN_RES_X = g_PropInfo.SCAN_RES_Y = 300;
    g_PropInfo.SCAN_MODE = 2;
  }
};

TEST_F(Selko2RoadBytes, DecodedFaceHoldsTheBytesOfDecodingThenTheDeviceTable) {
  struct Case {
    const char* name;
    bool automatic;
    double cut;  // of the stream
    int dw, dh;  // source size less the frame's
  } cases[] = {
      {"automatic size, whole stream", true, 1, 0, 0},
      {"automatic size, stream cut short", true, 0.6, 0, 0},
      {"source as the frame", false, 1, 0, 0},
      {"source wider and longer than the frame, stream cut short", false, 0.45, -24, -40},
      {"source narrower and shorter than the frame", false, 1, 17, 33},
  };
  for (const Face& face : Faces())
    for (const Case& c : cases) {
      SCOPED_TRACE(face.name + ": " + c.name);
      g_PropInfo.PAPER_SIZE = c.automatic ? 12 : 0;
      const Bytes stream = Cut(face.stream, c.cut);
      const int srcW = face.width - c.dw, srcH = face.height - c.dh;
      sheet::Sheet s;
      s.SetFace(0, stream, face.width, face.height, srcW, srcH, srcW, srcH, 2);
      const Bytes expected = Reference(stream, s.jpeg[0], face.grey, c.automatic, srcW, srcH);
      CSelko2PagePipeline pipeline;
      ASSERT_EQ(pipeline.DecodeFace(0, &s.face[0], s.src, s.jpeg[0]), 0);
      const size_t bytes = size_t(s.src[0].iBytesPerLine) * s.src[0].iLines;
      ASSERT_EQ(bytes, expected.size());
      EXPECT_EQ(memcmp(s.face[0], expected.data(), bytes), 0);
    }
}

// A page copy is filled white only past what decoding writes; whatever the
// rest holds, the pages the pipeline makes of it are the same bytes as of a
// copy that was white throughout, with the automatic crop and tone table of
// the staged libraries as with a fixed size.
TEST_F(Selko2RoadBytes, PagesDoNotDependOnWhatThePageCopyLeavesUnfilled) {
  ASSERT_EQ(LoadImageLibraries(DRAVN_LIB_DIR), SANE_STATUS_GOOD);
  struct Case {
    const char* name;
    int paperSize;
    int tone;  // 0 automatic, 5 custom
    int dh;    // source lines less the frame's
  } cases[] = {
      {"automatic size and tone", 12, 0, -300},
      {"fixed size, longer source", 0, 5, -40},
      {"fixed size, shorter source", 0, 0, 50},
  };
  for (const Face& face : Faces())
    for (const Case& c : cases) {
      SCOPED_TRACE(face.name + ": " + c.name);
      g_PropInfo.PAPER_SIZE = c.paperSize;
      g_PropInfo.TONE_ADJUSTMENT = c.tone;
      g_PropInfo.HIGHLIGHT = 255;
      g_PropInfo.GAMMA = 1000;
      const int srcW = face.width, srcH = face.height - c.dh;
      sheet::Sheet white, copy;
      white.SetFace(0, face.stream, face.width, face.height, srcW, srcH, srcW, srcH, 2);
      copy.src[0] = white.src[0], copy.dst[0] = white.dst[0], copy.jpeg[0] = white.jpeg[0];
      copy.face[0] = CSelko2ScanFunc::MakePageCopy(face.stream.data(), static_cast<uint32_t>(face.stream.size()),
                                                   copy.src[0], face.height);
      ASSERT_NE(copy.face[0], nullptr);
      const size_t size = std::max(size_t(std::max(srcH, face.height)) * 3 * srcW, face.stream.size());
      const size_t decoded = std::max(size_t(srcH) * 3 * srcW, face.stream.size());
      ASSERT_EQ(memcmp(copy.face[0], face.stream.data(), face.stream.size()), 0);
      for (size_t i = decoded; i < size; ++i) ASSERT_EQ(copy.face[0][i], 0xFF) << "byte " << i;
      // What the copy leaves unfilled, made as unlike white as it can be.
      memset(copy.face[0] + face.stream.size(), 0x5A, decoded - face.stream.size());
      CSelko2PagePipeline a, b;
      ASSERT_EQ(a.DoImageProcess(&white.face[0], &white.face[1], white.src, white.dst, white.jpeg), 0);
      ASSERT_EQ(b.DoImageProcess(&copy.face[0], &copy.face[1], copy.src, copy.dst, copy.jpeg), 0);
      const KELO_IMAGEDATA_PARAMETERS& g = white.dst[0];
      ASSERT_EQ(memcmp(&g, &copy.dst[0], sizeof g), 0);
      ASSERT_GT(g.iBytesPerLine, 0);
      EXPECT_EQ(memcmp(white.face[0], copy.face[0], size_t(g.iBytesPerLine) * g.iLines), 0);
    }
  // As the backend's exit does: the crop's tables go before the library.
  if (g_FSIP_FREESINCOS) g_FSIP_FREESINCOS();
  UnLoadImageLibraries();
}

// One pipeline over a run of sheets keeps each face's decoding buffer from
// sheet to sheet, and takes each served page back as the read side hands
// it over, for the next crop of that face to cut into: its pages are those
// a fresh pipeline makes of each sheet, on faces that shrink, grow and turn
// grey, at the read resolution and converted to 150 dpi (a page too small
// for the next cut at 300 dpi), in simplex and duplex, and after a sheet whose crop could
// not run and whose page therefore is the decoding buffer itself (the next
// sheet decodes into a buffer of its own).
TEST_F(Selko2RoadBytes, BuffersKeptFromSheetToSheetGiveTheSamePages) {
  ASSERT_EQ(LoadImageLibraries(DRAVN_LIB_DIR), SANE_STATUS_GOOD);
  g_PropInfo.PAPER_SIZE = 12;
  g_PropInfo.TONE_ADJUSTMENT = 0;
  g_PropInfo.HIGHLIGHT = 255;
  g_PropInfo.GAMMA = 1000;
  const auto crop = g_FSIPCTLFucntion;
  struct Step {
    int front, back;  // faces by index; -1: none
    bool cropAvailable;
    int dpi = 300;  // requested; the scanner reads at 300
  } steps[] = {{0, 1, true},     {1, -1, true}, {0, -1, false}, {2, 2, true}, {0, 0, true},
               {1, 0, true, 150}, {0, 1, true},  {1, 0, false},  {0, 1, true}, {2, -1, true}};
  CSelko2PagePipeline kept;
  int n = 0;
  std::vector<unsigned char*> served;  // blocks handed back, still the pipeline's or a page's
  int cutIntoServed = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE("sheet " + std::to_string(n++));
    g_PropInfo.SCAN_FACE = step.back < 0 ? 1 : 3;
    g_PropInfo.SCAN_RES_X = g_PropInfo.SCAN_RES_Y = step.dpi;
    auto load = [&](sheet::Sheet& s) {
      for (int f = 0; f < 2; ++f) {
        const int i = f == 0 ? step.front : step.back;
        if (i < 0) continue;
        const Face& face = Faces()[i];
        s.SetFace(f, face.stream, face.width, face.height, face.width, face.height, face.width, face.height, 2);
      }
    };
    sheet::Sheet fresh, reused;
    load(fresh);
    load(reused);
    g_FSIPCTLFucntion = step.cropAvailable ? crop : nullptr;
    CSelko2PagePipeline once;
    ASSERT_EQ(once.DoImageProcess(&fresh.face[0], &fresh.face[1], fresh.src, fresh.dst, fresh.jpeg), 0);
    ASSERT_EQ(kept.DoImageProcess(&reused.face[0], &reused.face[1], reused.src, reused.dst, reused.jpeg), 0);
    for (int f = 0; f < 2; ++f) {
      if (!fresh.face[f]) continue;
      const KELO_IMAGEDATA_PARAMETERS& g = fresh.dst[f];
      ASSERT_EQ(memcmp(&g, &reused.dst[f], sizeof g), 0) << "face " << f;
      ASSERT_NE(reused.face[f], nullptr);
      const size_t bytes = size_t(g.iBytesPerLine) * g.iLines;
      EXPECT_EQ(memcmp(fresh.face[f], reused.face[f], bytes), 0) << "face " << f;
      cutIntoServed += std::count(served.begin(), served.end(), reused.face[f]) > 0;
      // Served: the page's block goes back to the pipeline.
      served.push_back(reused.face[f]);
      g_FSIPCTLFucntion = crop;
      kept.TakeBackPage(f, reused.face[f], bytes);
      reused.face[f] = nullptr;
    }
  }
  EXPECT_GE(cutIntoServed, 5);
  g_FSIPCTLFucntion = crop;
  g_PropInfo.SCAN_RES_X = g_PropInfo.SCAN_RES_Y = 300;
  kept.ReleaseDecodeBuffers();
  if (g_FSIP_FREESINCOS) g_FSIP_FREESINCOS();
  UnLoadImageLibraries();
}

}  // namespace
