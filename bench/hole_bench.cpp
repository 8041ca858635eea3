// Punch holes on rendered A4 pages (300 and 600 dpi, colour, two holes at
// 80 mm or three at 108 mm): FsipCrp_PunchHoleRemove and CropAll with the
// hole bit, the duplex entries on a sheet whose back is its front mirrored,
// and beside them an OpenCV reference hole removal on the same pages (Otsu
// in 20-mm bands along the sides, connected components, round 3-14 mm blobs
// filled white). Both report their hole recall.
//   hole_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <tuple>
#include <vector>

#include "FsipCrop_ph.h"
#include "bench_support.h"
#include "crop_test_util.h"

namespace {

std::vector<unsigned char> gTone = crop_test::ToneBlock();

dravn_pages::BackedPageSpec Spec(int dpi, int holes) {
  dravn_pages::BackedPageSpec s;
  s.dpi = dpi;
  s.channels = 3;
  s.text = true;
  s.backing = 3;
  const double pitch = holes == 2 ? 80 : 108, mid = 297 / 2.0;
  for (int k = 0; k < holes; ++k) s.holes.push_back({11, mid + (k - (holes - 1) / 2.0) * pitch, 6});
  return s;
}

const crop_test::Input& Page(int dpi, int holes) {
  static std::map<std::tuple<int, int>, std::unique_ptr<crop_test::Input>> cache;
  auto& p = cache[{dpi, holes}];
  if (!p) p = std::make_unique<crop_test::Input>(crop_test::MakeInput(Spec(dpi, holes)));
  return *p;
}

// Share of the page's holes whose centre reads white.
double Recall(const std::vector<uint8_t>& px, const crop_test::Input& in) {
  int hit = 0;
  const int w = in.info.nWidth;
  for (const auto& h : in.page.holeCentres) {
    const size_t i = (static_cast<size_t>(h[1]) * w + static_cast<size_t>(h[0])) * 3;
    hit += px[i] > 200 && px[i + 1] > 200 && px[i + 2] > 200;
  }
  return in.page.holeCentres.empty() ? 1 : static_cast<double>(hit) / in.page.holeCentres.size();
}

// The last call's stages. A duplex call times its hole search once for both
// faces; its clip, cover and cut stages are those of the last face.
void Stages(benchmark::State& state) {
  _PRFMDATA d;
  fsipcrop::FsipCrp_GetPrfmData(&d);
  state.counters["detect_ms"] = d.dwDetectPHs;
  state.counters["clip_ms"] = d.dwClipOuterFrame;
  state.counters["cover_ms"] = d.dwCoverPHs;
  state.counters["cut_ms"] = d.dwCropImg;
}

FSIP_CRP_S_PHRMV HoleRecord() {
  alignas(8) FSIP_CRP_S_PHRMV r{};
  r.cbSize = 84;
  r.bOVS = 1;
  r.dwHoleRemoveType = 0xFFFFFF;
  r.bADF = 1;
  r.wFBCropSearchWidth = r.wFBCropIgnoreLength = 0xFFFF;
  r.wBlackBkThreshold = 64;
  r.byTransferDataType = 0x83;
  r.pbySendData = gTone.data();
  return r;
}

void BM_PunchHoleRemove(benchmark::State& state) {
  const auto& p = Page(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  std::vector<uint8_t> px;
  size_t peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    px = p.pixels;
    FSIP_S_IMAGEINFO_EX info = p.info;
    info.pImageData = px.data();
    auto rec = HoleRecord();
    state.ResumeTiming();
    PeakSampler sampler;
    int result = 0;
    benchmark::DoNotOptimize(fsipcrop::PunchHoleRemove(&info, &rec, &result));
    peak = sampler.Stop();
  }
  Stages(state);
  state.counters["recall"] = Recall(px, p);
  state.counters["peak_heap_MB"] = peak / 1e6;
}

void BM_CropAllWithHoles(benchmark::State& state) {
  const auto& p = Page(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    auto rec = crop_test::CropRecord(gTone);
    rec.dwFuncFlag = 2;
    crop_test::Notify n;
    crop_test::Output out;
    benchmark::DoNotOptimize(fsipcrop::CropAll(&p.info, &rec, &out.info, nullptr, &n, nullptr));
  }
  Stages(state);
}

// The reference: dark blobs of hole size in bands along the four sides.
void ReferenceRemove(cv::Mat& bgr, double dpi) {
  const double px = dpi / 25.4;
  cv::Mat grey;
  cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
  const int band = static_cast<int>(20 * px) + static_cast<int>(12 * px);  // the side plus 20 mm
  const cv::Rect bands[4] = {{0, 0, band, grey.rows},
                             {grey.cols - band, 0, band, grey.rows},
                             {0, 0, grey.cols, band},
                             {0, grey.rows - band, grey.cols, band}};
  const double minA = M_PI * std::pow(1.5 * px, 2), maxA = M_PI * std::pow(7 * px, 2);
  for (const cv::Rect& r : bands) {
    cv::Mat bin;
    cv::threshold(grey(r), bin, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    cv::Mat labels, stats, cents;
    const int n = cv::connectedComponentsWithStats(bin, labels, stats, cents, 8);
    for (int k = 1; k < n; ++k) {
      const int a = stats.at<int>(k, cv::CC_STAT_AREA), bw = stats.at<int>(k, cv::CC_STAT_WIDTH),
                bh = stats.at<int>(k, cv::CC_STAT_HEIGHT);
      if (a < minA || a > maxA || bw > 14 * px || bh > 14 * px) continue;
      const double fill = static_cast<double>(a) / (M_PI / 4 * bw * bh);
      if (fill < 0.8 || fill > 1.2 || std::abs(bw - bh) > 0.2 * std::max(bw, bh)) continue;
      cv::Mat mask = labels == k;
      cv::dilate(mask, mask, cv::Mat(), {-1, -1}, 2);
      bgr(r).setTo(cv::Scalar(255, 255, 255), mask);
    }
  }
}

void BM_OpenCvReference(benchmark::State& state) {
  const auto& p = Page(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  std::vector<uint8_t> px;
  for (auto _ : state) {
    state.PauseTiming();
    px = p.pixels;
    state.ResumeTiming();
    cv::Mat m(p.info.nHeight, p.info.nWidth, CV_8UC3, px.data());
    ReferenceRemove(m, p.info.nXResolution);
  }
  state.counters["recall"] = Recall(px, p);
}

// A sheet: the back is the front mirrored left to right.
struct Sheet {
  std::vector<uint8_t> front, back;
  FSIP_S_IMAGEINFO_EX pair[2];
};

const Sheet& Pair(int dpi) {
  static std::map<int, std::unique_ptr<Sheet>> cache;
  auto& s = cache[dpi];
  if (!s) {
    const auto& p = Page(dpi, 2);
    s = std::make_unique<Sheet>();
    s->front = p.pixels;
    s->back = p.pixels;
    const int w = p.info.nWidth;
    for (int y = 0; y < p.info.nHeight; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
          s->back[(static_cast<size_t>(y) * w + x) * 3 + c] = s->front[(static_cast<size_t>(y) * w + w - 1 - x) * 3 + c];
    s->pair[0] = s->pair[1] = p.info;
    s->pair[0].pImageData = s->front.data();
    s->pair[1].pImageData = s->back.data();
  }
  return *s;
}

// Second argument: 0 DupCropAll with holes, 1 DupCropAll2 with holes, 2
// DupCropAll without (what the pairing itself costs).
void BM_DupCropAll(benchmark::State& state) {
  const Sheet& s = Pair(static_cast<int>(state.range(0)));
  const bool margins = state.range(1) == 1;
  for (auto _ : state) {
    FSIP_S_IMAGEINFO_EX in[2] = {s.pair[0], s.pair[1]}, out[2] = {};
    crop_test::Notify n;
    if (margins) {
      alignas(8) _FSIP_CRP_S_DUPCRPALL2 rec{};
      rec.crpAll2[0].crpAll = rec.crpAll2[1].crpAll = crop_test::CropRecord(gTone);
      rec.crpAll2[0].crpAll.cbSize = rec.crpAll2[1].crpAll.cbSize = 100;
      rec.crpAll2[0].crpAll.dwFuncFlag = rec.crpAll2[1].crpAll.dwFuncFlag = 2;
      rec.nReqSide = 2;
      benchmark::DoNotOptimize(fsipcrop::DupCropAll2(in, &rec, out, &n, nullptr));
    } else {
      alignas(8) _FSIP_CRP_S_DUPCRPALL rec{};
      rec.crpAll[0] = rec.crpAll[1] = crop_test::CropRecord(gTone);
      rec.crpAll[0].dwFuncFlag = rec.crpAll[1].dwFuncFlag = state.range(1) == 2 ? 0 : 2;
      rec.nReqSide = 2;
      benchmark::DoNotOptimize(fsipcrop::DupCropAll(in, &rec, out, &n, nullptr));
    }
    free(out[0].pImageData);
    free(out[1].pImageData);
  }
  Stages(state);
}

void BM_DupPunchHoleRemove(benchmark::State& state) {
  const Sheet& s = Pair(static_cast<int>(state.range(0)));
  std::vector<uint8_t> f, b;
  for (auto _ : state) {
    state.PauseTiming();
    f = s.front;
    b = s.back;
    FSIP_S_IMAGEINFO_EX in[2] = {s.pair[0], s.pair[1]};
    in[0].pImageData = f.data();
    in[1].pImageData = b.data();
    alignas(8) _FSIP_CRP_S_DUPPHRMV rec{};
    rec.phRmv[0] = rec.phRmv[1] = HoleRecord();
    rec.nReqSide = 2;
    state.ResumeTiming();
    benchmark::DoNotOptimize(fsipcrop::DupPunchHoleRemove(in, &rec));
  }
  Stages(state);
}

// One single-page crop without holes, the yardstick of the duplex crop.
void BM_CropAllPlain(benchmark::State& state) {
  const auto& p = Page(static_cast<int>(state.range(0)), 2);
  for (auto _ : state) {
    auto rec = crop_test::CropRecord(gTone);
    crop_test::Notify n;
    crop_test::Output out;
    benchmark::DoNotOptimize(fsipcrop::CropAll(&p.info, &rec, &out.info, nullptr, &n, nullptr));
  }
  Stages(state);
}

}  // namespace

BENCHMARK(BM_PunchHoleRemove)->ArgsProduct({{300, 600}, {2, 3}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvReference)->ArgsProduct({{300, 600}, {2, 3}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CropAllWithHoles)->ArgsProduct({{300, 600}, {2, 3}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CropAllPlain)->Arg(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DupCropAll)->ArgsProduct({{300}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DupPunchHoleRemove)->Arg(300)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
