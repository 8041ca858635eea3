// Layout analysis on A4 grey text pages at 300 dpi (one with a ruled table):
// grey-to-mono, segmentation and table analysis, each and together, beside
// Leptonica's Otsu binarization and region finder on the same page; and the
// labelling beside OpenCV's connectedComponentsWithStats.
//   layout_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <leptonica/allheaders.h>

#include <cstring>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "CABitmap.h"
#include "gray2mono.h"
#include "layout.h"
#include "layout_pages.h"

namespace {

struct Page {
  int width = 0, height = 0;
  std::vector<uint8_t> grey;  // row bytes = width
  std::vector<uint8_t> mono;  // our binarization, 1 bit
  int bpl = 0;
  PIX* pixGrey = nullptr;
  PIX* pixMono = nullptr;
  ~Page() {
    pixDestroy(&pixGrey);
    pixDestroy(&pixMono);
  }
};

// Two columns of paragraphs under a heading; with `table`, a ruled 4 x 6
// grid with text in its cells between them.
std::unique_ptr<Page> MakePage(bool table) {
  const int dpi = 300, gh = layout_pages::GlyphHeight(dpi);
  layout_pages::Page p = layout_pages::Page::Inches100(827, 1169, dpi);
  layout_pages::DrawTextRow(p, 300, 250, 14, 1, gh * 2);
  int y = 500;
  if (table) {
    std::vector<int> xs, ys;
    for (int i = 0; i <= 4; ++i) xs.push_back(300 + i * 450);
    for (int j = 0; j <= 6; ++j) ys.push_back(y + j * 110);
    layout_pages::DrawGrid(p, xs, ys, 4);
    for (int j = 0; j < 6; ++j)
      for (int i = 0; i < 4; ++i) layout_pages::DrawTextRow(p, xs[i] + 25, ys[j] + 30, 8, 10 + j * 4 + i, gh);
    y = ys.back() + 150;
  }
  for (int k = 0; y + 12 * (gh + gh / 2) < p.height - 250; ++k) {
    layout_pages::DrawParagraph(p, 250, y, 10, 30, 100 + k, gh, gh / 2);
    layout_pages::DrawParagraph(p, 1300, y, 10, 30, 200 + k, gh, gh / 2);
    y += 10 * (gh + gh / 2) + 2 * gh;
  }
  auto page = std::make_unique<Page>();
  page->width = p.width;
  page->height = p.height;
  page->grey = layout_pages::ToGrey(p, 225, 60, 20, 7);

  page->pixGrey = pixCreate(p.width, p.height, 8);
  for (int yy = 0; yy < p.height; ++yy) {
    l_uint32* line = pixGetData(page->pixGrey) + yy * pixGetWpl(page->pixGrey);
    for (int xx = 0; xx < p.width; ++xx) SET_DATA_BYTE(line, xx, page->grey[static_cast<size_t>(yy) * p.width + xx]);
  }
  uint8_t* mono = nullptr;
  int bpl = 0;
  img_img2mono(page->grey.data(), p.width, p.width, p.height, 0, 8, 1, 0, dpi, dpi, 0, 0, p.width - 1, p.height - 1, &mono,
               &bpl, nullptr, nullptr, nullptr);
  page->bpl = bpl;
  page->mono.assign(mono, mono + static_cast<size_t>(bpl) * p.height);
  void* px = mono;
  img_img2mono_free(&px);
  page->pixMono = pixCreate(p.width, p.height, 1);
  for (int yy = 0; yy < p.height; ++yy) {
    l_uint32* line = pixGetData(page->pixMono) + yy * pixGetWpl(page->pixMono);
    for (int xx = 0; xx < p.width; ++xx)
      if (page->mono[static_cast<size_t>(yy) * bpl + (xx >> 3)] & (0x80 >> (xx & 7))) SET_DATA_BIT(line, xx);
  }
  return page;
}

Page& Get(bool table) {
  static std::map<bool, std::unique_ptr<Page>> pages;
  auto& p = pages[table];
  if (!p) {
    setMsgSeverity(L_SEVERITY_NONE);
    p = MakePage(table);
  }
  return *p;
}

ABITMAP Mono(Page& p) { return layout_pages::MonoRecord(p.mono.data(), p.width, p.height, p.bpl); }

// The options of the text-direction entry below 500 dpi; method 1 sends the
// text glyphs through the per-pixel neighbourhood threshold instead.
int Gray2Mono(Page& p, int method = 0) {
  _P2IIMG in = layout_pages::GreyRecord(p.grey.data(), p.width, p.height, 300);
  int options[2] = {method, 0};
  _P2IIMG out{};
  int rc = P2i_gray2mono(&in, options, &out, nullptr);
  void* px = out.pImageData;
  P2i_gray2mono_free(&out, nullptr, &px, nullptr);
  return rc;
}

int Segment(Page& p) {
  ABITMAP a = Mono(p);
  ARECT area{0, 0, p.width, p.height};
  SEG_RESULT res{};
  int rc = seg_main(&a, 300, &area, nullptr, 1, 1, &res);
  int n = res.nblock;
  seg_free(&res);
  return rc ? rc : n;
}

int Table(Page& p) {
  ABITMAP a = Mono(p);
  ARECT area{0, 0, p.width, p.height};
  ATABLE t{};
  int rc = table_main(&a, &area, 300, &t, nullptr);
  table_free(&t);
  return rc;
}

int LeptOtsu(Page& p) {
  PIX* out = nullptr;
  pixOtsuAdaptiveThreshold(p.pixGrey, 2000, 2000, 0, 0, 0.0f, nullptr, &out);
  int ok = out != nullptr;
  pixDestroy(&out);
  return ok;
}

int LeptRegions(Page& p) {
  PIX *halftone = nullptr, *textline = nullptr, *textblock = nullptr;
  pixGetRegionsBinary(p.pixMono, &halftone, &textline, &textblock, nullptr);
  int ok = textblock != nullptr;
  pixDestroy(&halftone);
  pixDestroy(&textline);
  pixDestroy(&textblock);
  return ok;
}

void BM_Gray2Mono(benchmark::State& st) {
  Page& p = Get(st.range(0));
  for (auto _ : st) benchmark::DoNotOptimize(Gray2Mono(p));
}
void BM_Gray2MonoNeighbourhood(benchmark::State& st) {
  Page& p = Get(st.range(0));
  for (auto _ : st) benchmark::DoNotOptimize(Gray2Mono(p, 1));
}
void BM_LeptOtsu(benchmark::State& st) {
  Page& p = Get(st.range(0));
  for (auto _ : st) benchmark::DoNotOptimize(LeptOtsu(p));
}
void BM_SegMain(benchmark::State& st) {
  Page& p = Get(st.range(0));
  for (auto _ : st) benchmark::DoNotOptimize(Segment(p));
  st.counters["blocks"] = Segment(p);
}
void BM_LeptRegionsBinary(benchmark::State& st) {
  Page& p = Get(st.range(0));
  for (auto _ : st) benchmark::DoNotOptimize(LeptRegions(p));
}
void BM_TableMain(benchmark::State& st) {
  Page& p = Get(st.range(0));
  for (auto _ : st) benchmark::DoNotOptimize(Table(p));
}
// The whole analysis: binarize, then blocks and tables; Leptonica: binarize,
// then regions.
void BM_WholeAnalysis(benchmark::State& st) {
  Page& p = Get(st.range(0));
  for (auto _ : st) {
    benchmark::DoNotOptimize(Gray2Mono(p));
    benchmark::DoNotOptimize(Segment(p));
    benchmark::DoNotOptimize(Table(p));
  }
}
void BM_LeptWhole(benchmark::State& st) {
  Page& p = Get(st.range(0));
  for (auto _ : st) {
    benchmark::DoNotOptimize(LeptOtsu(p));
    benchmark::DoNotOptimize(LeptRegions(p));
  }
}
void BM_Labelling(benchmark::State& st) {
  Page& p = Get(st.range(0));
  ABITMAP a = Mono(p);
  for (auto _ : st) {
    LBL_DATA d{};
    lbl_main2(&a, nullptr, &d);
    benchmark::DoNotOptimize(d.maxlabel);
    lbl_free2(&d);
  }
}
void BM_OpenCVComponents(benchmark::State& st) {
  Page& p = Get(st.range(0));
  cv::Mat m(p.height, p.width, CV_8UC1);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      m.at<uint8_t>(y, x) = (p.mono[static_cast<size_t>(y) * p.bpl + (x >> 3)] & (0x80 >> (x & 7))) ? 255 : 0;
  cv::Mat labels, stats, centroids;
  for (auto _ : st) benchmark::DoNotOptimize(cv::connectedComponentsWithStats(m, labels, stats, centroids, 8, CV_32S));
}

}  // namespace

// Argument: 0 text page, 1 page with a ruled table.
BENCHMARK(BM_Gray2Mono)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gray2MonoNeighbourhood)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LeptOtsu)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SegMain)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LeptRegionsBinary)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableMain)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeAnalysis)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LeptWhole)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Labelling)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCVComponents)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
