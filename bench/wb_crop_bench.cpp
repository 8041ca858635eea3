// White-background crop engine on A4 pages on a white backing (300 and 600
// dpi, colour, 3 degrees): FsipCrpWB_CropAll for device kinds 0 and 4 and
// the specified-area entry, each beside the OpenCV reference of the same job
// on the same page, with skew and corner errors and the peak heap. The long
// page reports the Hough accumulator of the 100-dpi and the full-size search.
// The Selko2 face (kind 8, 200 and 300 dpi) is timed with the sheet inside
// the window and with its right side past the border.
//   wb_crop_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>

#include "P2iCrppr.h"
#include "bench_support.h"
#include "crop_test_util.h"
#include "opencv_crop_reference.h"

namespace {

std::shared_ptr<crop_test::Input> Cached(int dpi, double angle, double heightMm = 297) {
  static std::map<std::tuple<int, double, double>, std::shared_ptr<crop_test::Input>> cache;
  auto& p = cache[{dpi, angle, heightMm}];
  if (!p) {
    auto s = dravn_pages::WhiteBackedSpec(dpi, angle, 3);
    s.heightMm = heightMm;
    s.widthMm = heightMm > 297 ? 216 : 210;
    s.offsetXMm = 2;
    p = std::make_shared<crop_test::Input>(crop_test::MakeInput(s));
    p->page.image.pixels.clear();
    p->page.image.pixels.shrink_to_fit();
  }
  return p;
}

// An A4 face as a Selko2 delivers it (JPEG-coded), the sheet centred in
// the window, or against its left side with the right side past the border.
std::shared_ptr<crop_test::Input> Selko2Face(int dpi, bool past) {
  static std::map<std::pair<int, bool>, std::shared_ptr<crop_test::Input>> cache;
  auto& p = cache[{dpi, past}];
  if (!p) {
    auto s = dravn_pages::Selko2FaceSpec(dpi, 210, 297, dravn_pages::BackedPageSpec::Content::Box, 0, false);
    if (past) s.offsetXMm = s.marginMm + 105 - s.windowWidthMm / 2;
    p = std::make_shared<crop_test::Input>(crop_test::MakeInput(s));
    dravn_pages::Image coded;
    dravn_pages::DecodeJpeg(dravn_pages::EncodeJpeg(p->page.image, false, 85), &coded);
    p->pixels = coded.pixels;
    p->info.pImageData = p->pixels.data();
    p->page.image.pixels.clear();
    p->page.image.pixels.shrink_to_fit();
  }
  return p;
}

// Kind 0 is any unlisted scanner, kind 4 the compact family.
FSIP_CRPWB_S_CRPALL Record(int kind, const crop_test::Input& p) {
  alignas(8) FSIP_CRPWB_S_CRPALL r{};
  r.cbSize = 98;
  r.bADF = 1;
  strncpy(r.szScanner, kind == 4 ? "SelkoS150" : "Unlisted", sizeof r.szScanner - 1);
  r.NotifyOutImgInfo = crop_test::NotifyOutImgInfo;
  r.bySide = 1;
  r.sOVS = crop_test::LeadingEdgeOvs(p, kind == 4 ? -9.9 : 8.0);
  return r;
}

void Report(benchmark::State& state, const crop_test::Input& p, double skew, const FSIP_S_POINT* pts, size_t peak,
            int rc) {
  state.counters["skew_err_deg"] = std::fabs(skew + p.page.angleDeg);
  double worst = 0;
  for (const auto& c : p.page.corners) {
    double best = 1e9;
    for (int k = 0; k < 4; ++k)
      best = std::min(best, std::hypot(static_cast<double>(pts[k].x) + 0.5 - c[0],
                                       -static_cast<double>(pts[k].y) + 0.5 - c[1]));
    worst = std::max(worst, best);
  }
  state.counters["corner_err_px"] = worst;
  state.counters["peak_heap_MB"] = static_cast<double>(peak) / 1e6;
  state.counters["rc"] = rc;
}

void BM_WBCropAll(benchmark::State& state) {
  auto p = Cached(static_cast<int>(state.range(0)), 3.0);
  const int kind = static_cast<int>(state.range(1));
  int rc = 0;
  size_t peak = 0;
  alignas(8) FSIP_CRP_S_DUAL_LAYOUT layout{};
  for (auto _ : state) {
    auto rec = Record(kind, *p);
    crop_test::Notify n;
    crop_test::Output out;
    PeakSampler sampler;
    rc = p2iwb::CropAllWB(&p->info, &rec, &out.info, &layout, &n);
    peak = std::max(peak, sampler.Stop());
  }
  const FSIP_S_POINT pts[4] = {layout.layoutCrop.cornerPts.ptLT, layout.layoutCrop.cornerPts.ptLB,
                               layout.layoutCrop.cornerPts.ptRB, layout.layoutCrop.cornerPts.ptRT};
  Report(state, *p, layout.layoutCrop.dSkew, pts, peak, rc);
}

// The Selko2 (kind 8) front face per page: what the shadow check on the
// sides costs where it finds nothing to move, and where it moves a side out.
void BM_WBSelko2Face(benchmark::State& state) {
  auto p = Selko2Face(static_cast<int>(state.range(0)), state.range(1) != 0);
  int rc = 0, width = 0;
  for (auto _ : state) {
    alignas(8) FSIP_CRPWB_S_CRPALL rec{};
    rec.cbSize = 98;
    rec.bADF = 1;
    strncpy(rec.szScanner, "Selko2S420", sizeof rec.szScanner - 1);
    rec.NotifyOutImgInfo = crop_test::NotifyOutImgInfo;
    rec.bySide = 1;
    rec.sOVS = -1;
    crop_test::Notify n;
    crop_test::Output out;
    rc = p2iwb::CropAllWB(&p->info, &rec, &out.info, nullptr, &n);
    width = out.info.nWidth;
  }
  state.counters["rc"] = rc;
  state.counters["width_px"] = width;
}

void BM_WBSpecifiedAreaCrop(benchmark::State& state) {
  auto p = Cached(static_cast<int>(state.range(0)), 3.0);
  for (auto _ : state) {
    auto all = Record(0, *p);
    alignas(8) FSIP_CRPWB_S_SPECIFIEDAREA_CRP rec{};
    std::memcpy(&rec, &all, 74);
    rec.cbSize = 248;
    crop_test::Notify n;
    crop_test::Output out;
    benchmark::DoNotOptimize(p2iwb::SpecifiedAreaCropWB(&p->info, &rec, &out.info, nullptr, &n));
  }
}

void BM_OpenCvReference(benchmark::State& state) {
  cv::setNumThreads(1);
  auto p = Cached(static_cast<int>(state.range(0)), 3.0);
  Reference r{};
  size_t peak = 0;
  for (auto _ : state) {
    PeakSampler sampler;
    r = RunOpenCv(*p);
    peak = std::max(peak, sampler.Stop());
  }
  state.counters["skew_err_deg"] = std::fabs(r.skew + p->page.angleDeg);
  double worst = 0;
  for (const auto& c : p->page.corners) {
    double best = 1e9;
    for (const auto& q : r.corners) best = std::min(best, std::hypot(q.x - c[0], q.y - c[1]));
    worst = std::max(worst, best);
  }
  state.counters["corner_err_px"] = worst;
  state.counters["peak_heap_MB"] = static_cast<double>(peak) / 1e6;
}

// A 1 m page of 216 mm at 300 dpi: the accumulator of the 100-dpi search
// (kind 0) and of the full-size one (kind 4), 2R rows of 1800 bytes.
void BM_LongPageAccumulators(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  auto p = Cached(300, 0.0, 1000);
  int rc = 0;
  size_t peak = 0;
  for (auto _ : state) {
    auto rec = Record(kind, *p);
    crop_test::Notify n;
    crop_test::Output out;
    PeakSampler sampler;
    rc = p2iwb::CropAllWB(&p->info, &rec, &out.info, nullptr, &n);
    peak = std::max(peak, sampler.Stop());
  }
  const double side = kind == 0 ? std::max(p->info.nWidth, p->info.nHeight) / 3.0
                                : std::max(p->info.nWidth, p->info.nHeight);
  state.counters["accumulator_MB"] = 2 * std::floor(side * 1.4142135623730951) * 1800 / 1e6;
  state.counters["peak_heap_MB"] = static_cast<double>(peak) / 1e6;
  state.counters["rc"] = rc;
}

}  // namespace

BENCHMARK(BM_WBCropAll)->ArgsProduct({{300, 600}, {0, 4}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WBSelko2Face)->ArgsProduct({{200, 300}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WBSpecifiedAreaCrop)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvReference)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongPageAccumulators)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
