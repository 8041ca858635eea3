// Main crop engine on rendered A4 pages (300 and 600 dpi, colour and grey,
// 0 and 3 degrees): its four single-page entries with their stage figures,
// and beside FsipCrp_CropAll an OpenCV reference of the same job on the same
// page (Otsu, largest contour, minAreaRect, bilinear warpAffine). The skew
// sweep reports both engines' skew and corner errors; the long page reports
// the peak heap and the Hough accumulator. The deskew-and-crop engine runs
// on the same pages beside the same reference (its block at the end).
//   crop_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <tuple>
#include <vector>

#include "FsipCrop.h"
#include "I3ipDeskewCropping.h"
#include "bench_support.h"
#include "crop_test_util.h"
#include "opencv_crop_reference.h"

namespace {

std::vector<unsigned char> gTone = crop_test::ToneBlock();

struct Page : crop_test::Input {};

std::shared_ptr<Page> MakePage(int dpi, bool colour, double angle, double heightMm = 297, double widthMm = 210) {
  dravn_pages::BackedPageSpec s;
  s.dpi = dpi;
  s.channels = colour ? 3 : 1;
  s.angleDeg = angle;
  s.heightMm = heightMm;
  s.widthMm = widthMm;
  s.offsetXMm = 2;
  s.seed = static_cast<uint32_t>(dpi * 100 + angle * 10 + colour);
  auto p = std::make_shared<Page>();
  static_cast<crop_test::Input&>(*p) = crop_test::MakeInput(s);
  p->page.image.pixels.clear();  // the record points at the copy in `pixels`
  p->page.image.pixels.shrink_to_fit();
  return p;
}

std::shared_ptr<Page> Cached(int dpi, bool colour, double angle) {
  static std::map<std::tuple<int, bool, double>, std::shared_ptr<Page>> cache;
  auto& p = cache[{dpi, colour, angle}];
  if (!p) p = MakePage(dpi, colour, angle);
  return p;
}

FSIP_CRP_S_CRPALL Record() { return crop_test::CropRecord(gTone); }

struct Result {
  int rc;
  alignas(8) FSIP_CRP_S_DUAL_LAYOUT layout;
};

Result RunCropAll(const Page& p) {
  auto rec = Record();
  alignas(8) FSIP_S_IMAGEINFO_EX out{};
  Result r{};
  crop_test::Notify notify;
  r.rc = fsipcrop::CropAll(&p.info, &rec, &out, &r.layout, &notify, nullptr);
  free(out.pImageData);
  return r;
}

void StageCounters(benchmark::State& state) {
  alignas(8) _PRFMDATA p{};
  fsipcrop::FsipCrp_GetPrfmData(&p);
  state.counters["workImg_ms"] = p.dwGetWorkImg;
  state.counters["tabs_ms"] = p.dwCheckTabs;
  state.counters["clip_ms"] = p.dwClipOuterFrame;
  state.counters["cropImg_ms"] = p.dwCropImg;
}

void BM_CropAll(benchmark::State& state) {
  auto p = Cached(static_cast<int>(state.range(0)), state.range(1), state.range(2) / 10.0);
  Result r{};
  for (auto _ : state) r = RunCropAll(*p);
  StageCounters(state);
  alignas(8) FSIP_S_POINT pts[4] = {r.layout.layoutCrop.cornerPts.ptLT, r.layout.layoutCrop.cornerPts.ptRT,
                         r.layout.layoutCrop.cornerPts.ptLB, r.layout.layoutCrop.cornerPts.ptRB};
  state.counters["skew_err_deg"] = std::fabs(r.layout.layoutCrop.dSkew + p->page.angleDeg);
  state.counters["corner_err_px"] = CornerError(p->page, pts, 0.5);
  state.counters["rc"] = r.rc;
}

void BM_OpenCvReference(benchmark::State& state) {
  cv::setNumThreads(1);
  auto p = Cached(static_cast<int>(state.range(0)), state.range(1), state.range(2) / 10.0);
  Reference r{};
  for (auto _ : state) r = RunOpenCv(*p);
  state.counters["skew_err_deg"] = std::fabs(r.skew + p->page.angleDeg);
  state.counters["corner_err_px"] = CornerError(p->page, r.corners, 0);
}

void BM_CropAll2(benchmark::State& state) {
  auto p = Cached(static_cast<int>(state.range(0)), state.range(1), state.range(2) / 10.0);
  for (auto _ : state) {
    alignas(8) FSIP_CRP_S_CRPALL2 rec{};
    rec.crpAll = Record();
    rec.offset = {20, 20, 20, 20};
    alignas(8) FSIP_S_IMAGEINFO_EX out{};
    crop_test::Notify notify;
    benchmark::DoNotOptimize(fsipcrop::CropAll2(&p->info, &rec, &out, nullptr, &notify, nullptr));
    free(out.pImageData);
  }
  StageCounters(state);
}

void BM_SpecifiedAreaCrop(benchmark::State& state) {
  auto p = Cached(static_cast<int>(state.range(0)), state.range(1), state.range(2) / 10.0);
  const Result found = RunCropAll(*p);
  for (auto _ : state) {
    alignas(8) FSIP_CRP_S_SPECIFIEDAREA_CRP rec{};
    rec.crpAll = Record();
    rec.crpAll.wBlackBkThreshold = 0;
    rec.layout = found.layout;
    alignas(8) FSIP_S_IMAGEINFO_EX out{};
    crop_test::Notify notify;
    benchmark::DoNotOptimize(fsipcrop::SpecifiedAreaCrop(&p->info, &rec, &out, &notify));
    free(out.pImageData);
  }
  StageCounters(state);
}

void BM_AIQC(benchmark::State& state) {
  auto p = Cached(static_cast<int>(state.range(0)), state.range(1), state.range(2) / 10.0);
  for (auto _ : state) {
    alignas(8) FSIP_CRP_S_AIQC rec{};
    rec.cbSize = 64;
    rec.wBlackBkThreshold = 64;
    rec.byTransferDataType = 0x83;
    rec.pbySendData = gTone.data();
    benchmark::DoNotOptimize(fsipcrop::AIQC(&p->info, &rec));
  }
}

// dpi, colour, angle in tenths.
void Pages(benchmark::internal::Benchmark* b) {
  for (int dpi : {300, 600})
    for (int colour : {1, 0})
      for (int angle : {0, 30}) b->Args({dpi, colour, angle});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_CropAll)->Apply(Pages);
BENCHMARK(BM_OpenCvReference)->Apply(Pages);
BENCHMARK(BM_CropAll2)->Apply(Pages);
BENCHMARK(BM_SpecifiedAreaCrop)->Apply(Pages);
BENCHMARK(BM_AIQC)->Apply(Pages);

// Skew and corner errors of both over angles up to 10 degrees off the
// 0.2-degree vote grid, A4 colour at 300 dpi.
void BM_SkewSweep(benchmark::State& state) {
  cv::setNumThreads(1);
  std::vector<double> ours, theirs, oursCorner, theirsCorner;
  for (auto _ : state) {
    ours.clear();
    theirs.clear();
    oursCorner.clear();
    theirsCorner.clear();
    for (double angle = -10; angle <= 10.001; angle += 0.53) {
      auto p = MakePage(300, true, angle);
      const Result r = RunCropAll(*p);
      const Reference ref = RunOpenCv(*p);
      ours.push_back(std::fabs(r.layout.layoutCrop.dSkew + angle));
      theirs.push_back(std::fabs(ref.skew + angle));
      alignas(8) FSIP_S_POINT pts[4] = {r.layout.layoutCrop.cornerPts.ptLT, r.layout.layoutCrop.cornerPts.ptRT,
                             r.layout.layoutCrop.cornerPts.ptLB, r.layout.layoutCrop.cornerPts.ptRB};
      oursCorner.push_back(CornerError(p->page, pts, 0.5));
      theirsCorner.push_back(CornerError(p->page, ref.corners, 0));
    }
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  auto worst = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
  state.counters["pages"] = static_cast<double>(ours.size());
  state.counters["skew_median"] = median(ours);
  state.counters["skew_max"] = worst(ours);
  state.counters["corner_max_px"] = worst(oursCorner);
  state.counters["ocv_skew_median"] = median(theirs);
  state.counters["ocv_skew_max"] = worst(theirs);
  state.counters["ocv_corner_max_px"] = worst(theirsCorner);
}
BENCHMARK(BM_SkewSweep)->Iterations(1)->Unit(benchmark::kSecond);

// A 1 m x 216 mm page at 300 dpi: peak heap above the input while the crop
// runs, and the Hough accumulator it needs (2n rows x 900 cells x 2 bytes).
void BM_LongPage(benchmark::State& state) {
  auto p = MakePage(300, true, 3, 1000, 216);
  size_t peak = 0;
  Result r{};
  for (auto _ : state) {
    PeakSampler sampler;
    r = RunCropAll(*p);
    peak = sampler.Stop();
  }
  const double n = std::sqrt(static_cast<double>(p->info.nWidth) * p->info.nWidth +
                             static_cast<double>(p->info.nHeight) * p->info.nHeight);
  state.counters["peak_heap_MB"] = peak / 1e6;
  state.counters["accumulator_MB"] = 2 * std::round(n) * 1800 / 1e6;
  state.counters["input_MB"] = p->info.nImageSize / 1e6;
  state.counters["rc"] = r.rc;
}
BENCHMARK(BM_LongPage)->Iterations(2)->Unit(benchmark::kMillisecond);

// ---- deskew-and-crop engine ----------------------------------------------
// DeskewAndCropping on the same pages beside the same OpenCV reference; the
// skew and corner errors come from its position step on the analysis image.

I3ipImageInfo DeskewRecord(const Page& p) {
  I3ipImageInfo r{};
  r.Size = 40;
  r.Bpp = static_cast<uint8_t>(p.info.nDepth);
  r.Dpi = static_cast<uint16_t>(p.info.nXResolution);
  r.Width = static_cast<uint32_t>(p.info.nWidth);
  r.Height = static_cast<uint32_t>(p.info.nHeight);
  r.Bpl = static_cast<uint32_t>(p.info.nBytesPerLine);
  r.DataSize = static_cast<uint32_t>(p.info.nImageSize);
  r.Data = p.info.pImageData;
  return r;
}

struct DeskewFound {
  int rc;
  double skewDeg;
  i3ipdc::tagPOINT corners[4];  // image rows, input pixels
};

// The entry's own steps up to the rectangle, to see its skew and corners.
DeskewFound DeskewPosition(const Page& p) {
  using namespace i3ipdc;
  const I3ipImageInfo in = DeskewRecord(p);
  DeskewFound f{};
  CreateSinCosTable();
  I3ipImageInfo a{};
  double scale = 1;
  bool allocated = false;
  GetAnalyticalImage(&in, 1, &a, &scale, &allocated);
  const int diag = GetDiagonalLength(&a);
  std::vector<unsigned> profile(diag);
  std::vector<int> gradient(diag);
  _LINE lines[4] = {};
  double angle = 0;
  int n = 0;
  f.rc = GetDocumentPosition(&a, profile.data(), gradient.data(), diag, lines, &angle, &n, nullptr);
  if (f.rc == 0) {
    if (n != 4) {
      _LINE tabLines[4];
      CheckTabs(&a, profile.data(), gradient.data(), diag, lines, n, tabLines);
      for (int i = n; i < 4; ++i) lines[i] = tabLines[i];
    }
    ScaleLines(lines, 4, scale);
    MakeRect(lines, false);
    GetVertex(lines[0], lines[3], &f.corners[0]);
    GetVertex(lines[2], lines[3], &f.corners[1]);
    GetVertex(lines[0], lines[1], &f.corners[2]);
    GetVertex(lines[2], lines[1], &f.corners[3]);
    for (auto& c : f.corners) c.y = -c.y;
  }
  f.skewDeg = angle * 180 / M_PI;
  FreeMem(a.Data);
  FreeSinCosTable();
  return f;
}

// Larger of the width and height errors of a cut-out page.
double SizeError(const dravn_pages::BackedPage& page, double width, double height) {
  return std::max(std::fabs(width - page.widthPx), std::fabs(height - page.heightPx));
}

// The entry's output size error on a page.
double DeskewSizeError(const Page& p) {
  const I3ipImageInfo in = DeskewRecord(p);
  I3ipImageInfo out{};
  if (i3ipdc::DeskewAndCropping(&in, &out) != 0) return 1e9;
  free(out.Data);
  return SizeError(p.page, out.Width, out.Height);
}

void BM_DeskewAndCropping(benchmark::State& state) {
  auto p = Cached(static_cast<int>(state.range(0)), state.range(1), state.range(2) / 10.0);
  const I3ipImageInfo in = DeskewRecord(*p);
  int rc = -1;
  for (auto _ : state) {
    I3ipImageInfo out{};
    rc = i3ipdc::DeskewAndCropping(&in, &out);
    free(out.Data);
  }
  const DeskewFound f = DeskewPosition(*p);
  state.counters["skew_err_deg"] = std::fabs(f.skewDeg + p->page.angleDeg);
  state.counters["corner_err_px"] = CornerError(p->page, f.corners, 0.5);
  state.counters["size_err_px"] = DeskewSizeError(*p);
  state.counters["rc"] = rc;
}
BENCHMARK(BM_DeskewAndCropping)->Apply(Pages);

void BM_DeskewSkewSweep(benchmark::State& state) {
  cv::setNumThreads(1);
  std::vector<double> ours, theirs, oursCorner, theirsCorner, oursSize, theirsSize;
  for (auto _ : state) {
    for (double angle = -10; angle <= 10.001; angle += 0.53) {
      auto p = MakePage(300, true, angle);
      const DeskewFound f = DeskewPosition(*p);
      const Reference ref = RunOpenCv(*p);
      ours.push_back(std::fabs(f.skewDeg + angle));
      theirs.push_back(std::fabs(ref.skew + angle));
      oursCorner.push_back(CornerError(p->page, f.corners, 0.5));
      theirsCorner.push_back(CornerError(p->page, ref.corners, 0));
      oursSize.push_back(DeskewSizeError(*p));
      theirsSize.push_back(SizeError(p->page, ref.out.cols, ref.out.rows));
    }
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  auto worst = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
  state.counters["pages"] = static_cast<double>(ours.size());
  state.counters["skew_median"] = median(ours);
  state.counters["skew_max"] = worst(ours);
  state.counters["corner_max_px"] = worst(oursCorner);
  state.counters["ocv_skew_median"] = median(theirs);
  state.counters["ocv_skew_max"] = worst(theirs);
  state.counters["ocv_corner_max_px"] = worst(theirsCorner);
  state.counters["size_max_px"] = worst(oursSize);
  state.counters["ocv_size_max_px"] = worst(theirsSize);
}
BENCHMARK(BM_DeskewSkewSweep)->Iterations(1)->Unit(benchmark::kSecond);

// A 1 m x 216 mm page: peak heap above the input, and the accumulator of
// 16-bit counters on the analysis image (2 n rows x 900 cells x 2 bytes).
void BM_DeskewLongPage(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  auto p = MakePage(dpi, true, 3, 1000, 216);
  const I3ipImageInfo in = DeskewRecord(*p);
  size_t peak = 0;
  int rc = -1;
  for (auto _ : state) {
    PeakSampler sampler;
    I3ipImageInfo out{};
    rc = i3ipdc::DeskewAndCropping(&in, &out);
    free(out.Data);
    peak = sampler.Stop();
  }
  const double f = dpi >= 300 ? 0.5 : 1;
  const double w = std::ceil(p->info.nWidth * f), h = std::ceil(p->info.nHeight * f);
  state.counters["peak_heap_MB"] = peak / 1e6;
  state.counters["accumulator_MB"] = 2 * std::round(std::sqrt(w * w + h * h)) * 1800 / 1e6;
  state.counters["rc"] = rc;
}
BENCHMARK(BM_DeskewLongPage)->Arg(300)->Arg(299)->Iterations(2)->Unit(benchmark::kMillisecond);
// ---- end of the deskew-and-crop engine ----

}  // namespace

BENCHMARK_MAIN();
