// Text direction of an A4-wide page of printed text at 300 dpi, upright and
// at each quarter turn: the writing direction and upside-down test
// (katuji_chdir_e2) beside Leptonica's orientation detection
// (pixOrientDetect with makeOrientDecision) on the same 1-bit page. The
// counter "right" is 1 when the answer names the page's true turn.
//   direction_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <leptonica/allheaders.h>

#include <cstring>
#include <vector>

#include "ktj.h"
#include "text_pages.h"

namespace {

struct Turned {
  text_pages::Page page;
  PIX* pix;
};

std::vector<Turned>& Pages() {
  static std::vector<Turned> pages = [] {
    std::vector<Turned> v;
    text_pages::Page upright = text_pages::DocumentPage(300, 7);
    for (int q = 0; q < 4; ++q) {
      text_pages::Page p = text_pages::Turn(upright, q);
      PIX* pix = pixCreate(p.width, p.height, 1);
      const int wpl = pixGetWpl(pix);
      auto* data = reinterpret_cast<uint8_t*>(pixGetData(pix));
      for (int y = 0; y < p.height; ++y) memcpy(data + static_cast<size_t>(y) * wpl * 4, &p.bits[y * p.bpl], p.bpl);
      pixEndianByteSwap(pix);
      v.push_back({std::move(p), pix});
    }
    return v;
  }();
  return pages;
}

// Codes for clockwise turns 0..3.
constexpr int kOurs[4] = {1, 2, 3, 4};
// Leptonica names the side the text's top points to: up, left, down, right.
constexpr int kLept[4] = {L_TEXT_ORIENT_UP, L_TEXT_ORIENT_RIGHT, L_TEXT_ORIENT_DOWN, L_TEXT_ORIENT_LEFT};

void BM_KatujiChdir(benchmark::State& state) {
  Turned& t = Pages()[state.range(0)];
  KTJBITMAP b{t.page.width, t.page.height, t.page.bpl, t.page.bits.data(), 300, 300, t.page.bpl * t.page.height, 1};
  int code = 0;
  for (auto _ : state) {
    KtjDirParam req{0, 0, b.width - 1, b.height - 1, 1, {}};
    code = katuji_chdir_e2(&req, &b, nullptr, &b);
    benchmark::DoNotOptimize(code);
  }
  state.counters["right"] = code == kOurs[state.range(0)];
}

void BM_LeptonicaOrientDetect(benchmark::State& state) {
  Turned& t = Pages()[state.range(0)];
  l_int32 orient = 0;
  for (auto _ : state) {
    l_float32 up = 0, left = 0;
    pixOrientDetect(t.pix, &up, &left, 0, 0);
    makeOrientDecision(up, left, 0, 0, &orient, 0);
    benchmark::DoNotOptimize(orient);
  }
  state.counters["right"] = orient == kLept[state.range(0)];
}

BENCHMARK(BM_KatujiChdir)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LeptonicaOrientDetect)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
