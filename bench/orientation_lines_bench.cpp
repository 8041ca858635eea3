// Orientation unit's line stages on the decimated A4 text page from 300 and
// 600 dpi, one core: Sauvola beside OpenCV's mean adaptiveThreshold (same
// window), labelling beside connectedComponentsWithStats, then lines,
// verification, selection and crops per page, and the whole chain.
//   orientation_lines_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <opencv2/imgproc.hpp>

#include "labelling.h"
#include "line_chain.h"
#include "line_checks.h"
#include "line_crops.h"
#include "line_selection.h"
#include "local_binarise.h"
#include "text_line_pages.h"
#include "text_lines.h"

namespace {
using namespace turnsense;

struct Page {
  dravn_text_pages::TextPage text;
  int f, w, h;
  std::vector<uint8_t> grey, binary, clean;  // decimated
  std::vector<uint8_t*> full_rows, grey_rows, raw_rows, clean_rows;
  line_chain::Labelled lab;
  std::vector<CC> ccs;
  std::vector<int32_t*> label_rows;
};

std::vector<uint8_t*> Rows(std::vector<uint8_t>& img, int w, int h) {
  std::vector<uint8_t*> r(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) r[size_t(y)] = img.data() + size_t(y) * w;
  return r;
}

Page& PageAt(int dpi) {
  static std::map<int, std::unique_ptr<Page>> pages;
  auto& p = pages[dpi];
  if (p) return *p;
  p = std::make_unique<Page>();
  p->text = dravn_text_pages::LetterPage(dpi, 40);
  const auto& g = p->text.page;
  p->f = dpi > 300 ? 6 : 3;
  p->w = g.width / p->f;
  p->h = g.height / p->f;
  p->grey.resize(size_t(p->w) * p->h);
  for (int y = 0; y < p->h; ++y)
    for (int x = 0; x < p->w; ++x) p->grey[size_t(y) * p->w + x] = g.At(x * p->f, y * p->f);
  p->binary.resize(p->grey.size());
  AdaptiveSauvola_parallel(p->w, p->h, p->grey.data(), p->binary.data(), 15, 0.1, 64);
  p->clean = p->binary;
  line_chain::Label(p->clean.data(), p->w, p->h, p->lab);
  noise_cc_removal_v1(p->clean.data(), p->w, p->h, p->lab.cc, 0);
  p->ccs = line_chain::Components(p->lab.cc);
  p->label_rows.resize(size_t(p->h));
  for (int y = 0; y < p->h; ++y) p->label_rows[size_t(y)] = p->lab.map.data() + size_t(y) * p->w;
  p->full_rows = Rows(p->text.page.pixels, g.width, g.height);
  p->grey_rows = Rows(p->grey, p->w, p->h);
  p->raw_rows = Rows(p->binary, p->w, p->h);
  p->clean_rows = Rows(p->clean, p->w, p->h);
  return *p;
}

struct Built {
  TEXTLINE* lines[2] = {nullptr, nullptr};
  int n[2] = {0, 0};
  int hint = -1;
  ~Built() {
    delete[] lines[0];
    delete[] lines[1];
  }
};

void BuildLines(Page& p, Built& b) {
  std::vector<CC> ccs = p.ccs;
  cc2textline(ccs.data(), int(ccs.size()), &b.lines[0], &b.n[0], &b.lines[1], &b.n[1], p.label_rows.data(),
              p.clean.data(), p.w, p.h, 0, &b.hint, nullptr, nullptr, false);
}

void Verify(Page& p, Built& b, std::vector<TEXTLINE> (&out)[2]) {
  for (int o = 0; o < 2; ++o) {
    out[o].resize(size_t(b.n[o]));
    for (TEXTLINE& t : out[o]) {
      std::memset(&t, 0, sizeof t);
      init_textline(&t);
    }
    int kept = 0;
    textline_verification(p.clean_rows.data(), p.w, p.h, b.lines[o], b.n[o], out[o].data(), &kept, o);
    out[o].resize(size_t(kept));
  }
}

void BM_Sauvola(benchmark::State& state) {
  Page& p = PageAt(int(state.range(0)));
  std::vector<uint8_t> out(p.grey.size());
  for (auto _ : state) AdaptiveSauvola_parallel(p.w, p.h, p.grey.data(), out.data(), 15, 0.1, 64);
  state.counters["px"] = double(p.grey.size());
}

void BM_OpenCvAdaptiveMean(benchmark::State& state) {
  Page& p = PageAt(int(state.range(0)));
  cv::Mat src(p.h, p.w, CV_8UC1, p.grey.data()), dst;
  for (auto _ : state) cv::adaptiveThreshold(src, dst, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 31, 10);
}

void BM_Labelling(benchmark::State& state) {
  Page& p = PageAt(int(state.range(0)));
  std::vector<uint8_t> img;
  std::vector<int32_t> map(p.binary.size()), counts(p.binary.size() / 2 + 2);
  std::vector<rect> boxes;
  for (auto _ : state) {
    img = p.binary;
    CLbl lbl;
    const int n = lbl.LabelingScan8(p.w, p.h, img.data(), map.data(), counts.data());
    boxes.resize(size_t(n) + 1);
    lbl.GetBound(p.w, p.h, map.data(), n, boxes.data());
  }
}

void BM_OpenCvComponentsWithStats(benchmark::State& state) {
  Page& p = PageAt(int(state.range(0)));
  std::vector<uint8_t> ink(p.binary.size());
  for (size_t i = 0; i < ink.size(); ++i) ink[i] = p.binary[i] == 0;
  cv::Mat src(p.h, p.w, CV_8UC1, ink.data()), labels, stats, centroids;
  for (auto _ : state) cv::connectedComponentsWithStats(src, labels, stats, centroids, 8, CV_32S);
}

void BM_Lines(benchmark::State& state) {
  Page& p = PageAt(int(state.range(0)));
  for (auto _ : state) {
    Built b;
    BuildLines(p, b);
    benchmark::DoNotOptimize(b.n[0]);
  }
}

void BM_Verification(benchmark::State& state) {
  Page& p = PageAt(int(state.range(0)));
  Built b;
  BuildLines(p, b);
  std::vector<TEXTLINE> out[2];
  for (auto _ : state) Verify(p, b, out);
}

void BM_Selection(benchmark::State& state) {
  Page& p = PageAt(int(state.range(0)));
  Built b;
  BuildLines(p, b);
  std::vector<TEXTLINE> verified[2];
  Verify(p, b, verified);
  std::vector<TEXTLINE*> picked[2] = {std::vector<TEXTLINE*>(verified[0].size() + 1),
                                      std::vector<TEXTLINE*>(verified[1].size() + 1)};
  for (auto _ : state) {
    int n[2];
    textline_selection_v3(nullptr, 0, 0, p.grey_rows.data(), p.clean_rows.data(), p.w, p.h, p.lab.cc, p.f,
                          verified[0].data(), int(verified[0].size()), verified[1].data(), int(verified[1].size()),
                          b.hint, picked[0].data(), &n[0], picked[1].data(), &n[1]);
  }
}

void BM_Crops(benchmark::State& state) {
  Page& p = PageAt(int(state.range(0)));
  Built b;
  BuildLines(p, b);
  std::vector<TEXTLINE> verified[2];
  Verify(p, b, verified);
  const auto& g = p.text.page;
  for (auto _ : state)
    for (const TEXTLINE& line : verified[0]) {
      if (&line - verified[0].data() >= kMaxSelected) break;
      TEXT_IMAGE crop{};
      original_text_line_extraction_Pavix_nline_v1(nullptr, p.full_rows.data(), nullptr, nullptr, g.width, g.height,
                                                   p.clean_rows.data(), p.raw_rows.data(), p.grey_rows.data(), p.w, p.h,
                                                   p.f, line, &crop, 0, nullptr, nullptr, 0);
      release_text_image(&crop);
    }
}

void BM_Chain(benchmark::State& state) {
  Page& p = PageAt(int(state.range(0)));
  const auto& g = p.text.page;
  for (auto _ : state) {
    auto r = line_chain::Run(g.pixels.data(), g.width, g.height, int(state.range(0)));
    benchmark::DoNotOptimize(r.selected.size());
  }
}

}  // namespace

BENCHMARK(BM_Sauvola)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvAdaptiveMean)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Labelling)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvComponentsWithStats)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lines)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Verification)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Selection)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crops)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Chain)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
