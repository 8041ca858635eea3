// libimgforge's page filters on an A4 document page at 300 and 600 dpi,
// each beside its peer in the same run: colour drop-out beside OpenCV's
// cvtColor, the fixed threshold (packed to one bit) beside threshold, the
// dynamic threshold beside adaptiveThreshold (3x3 mean), emphasis beside
// filter2D with its 5x5 kernel, error diffusion beside a plain
// Floyd-Steinberg loop, and the front/back merge beside memcpy of its result.
// The library is bound from the stage as the backends bind it; OpenCV runs
// on one thread, as the filters do.
//   filters_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "I3ipImageInfo.h"
#include "dravn_paths.h"
#include "fsip_records.h"
#include "test_pages.h"

namespace {

using ImageFilterFn = int(FSIP_S_IMAGEINFO*, FSIP_S_IMAGEFILTER*, FSIP_S_IMAGEINFO*, const void*);
using DropoutFn = int(FSIP_S_IMAGEINFO*, FSIP_S_DROPOUTCOLOREX*, FSIP_S_IMAGEINFO*, const void*);
using BinarizeFn = int(FSIP_S_IMAGEINFO*, FSIP_S_BINARIZATIONEX*, FSIP_S_IMAGEINFO*, void*);
using MergeFn = int(I3ipImageInfo*, I3ipImageInfo*, int, int, int, I3ipImageInfo*);

struct Library {
  void* handle = dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_NOW | RTLD_LOCAL);
  ImageFilterFn* filter = handle ? reinterpret_cast<ImageFilterFn*>(dlsym(handle, "fsip_ImageFilter")) : nullptr;
  DropoutFn* dropout = handle ? reinterpret_cast<DropoutFn*>(dlsym(handle, "fsip_DropoutColorEx")) : nullptr;
  BinarizeFn* binarize = handle ? reinterpret_cast<BinarizeFn*>(dlsym(handle, "fsip_BinarizationEx")) : nullptr;
  MergeFn* merge = handle ? reinterpret_cast<MergeFn*>(dlsym(handle, "MergeImage")) : nullptr;
};

const Library& Lib() {
  static const Library lib;
  if (!lib.filter || !lib.dropout || !lib.binarize || !lib.merge) {
    fprintf(stderr, "the staged libimgforge lacks its page filters: %s\n", DRAVN_LIB_DIR);
    exit(1);
  }
  return lib;
}

struct A4 {
  dravn_pages::Image colour;
  dravn_pages::Image grey;
};

const A4& Page(int dpi) {
  static std::map<int, std::unique_ptr<A4>> pages;
  auto& page = pages[dpi];
  if (!page) {
    page = std::make_unique<A4>();
    dravn_pages::PageSpec spec;
    spec.dpi = dpi;
    page->colour = dravn_pages::RenderDocumentPage(spec);
    page->grey = dravn_pages::ToGrey(page->colour);
  }
  return *page;
}

FSIP_S_IMAGEINFO Record(const dravn_pages::Image& image, unsigned char* pixels, int dpi) {
  FSIP_S_IMAGEINFO info{};
  info.cbSize = sizeof info;
  info.pImageData = pixels;
  info.nPixelType = image.channels == 3 ? 2 : 1;
  info.nDepth = image.channels * 8;
  info.nColorSeq = image.channels == 3 ? 1 : 0;
  info.nWidth = image.width;
  info.nHeight = image.height;
  info.nBytesPerLine = static_cast<int>(image.BytesPerLine());
  info.nImageSize = info.nBytesPerLine * image.height;
  info.nXResolution = info.nYResolution = dpi;
  return info;
}

void Pages(benchmark::State& state, const dravn_pages::Image& image) {
  state.SetItemsProcessed(state.iterations());
  state.counters["Mpx"] = image.width * static_cast<double>(image.height) / 1e6;
}

// --- drop-out ----------------------------------------------------------

void BM_Dropout(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  const A4& a4 = Page(dpi);
  std::vector<unsigned char> pixels = a4.colour.pixels;
  FSIP_S_IMAGEINFO in = Record(a4.colour, pixels.data(), dpi);
  FSIP_S_DROPOUTCOLOREX d{};
  d.cbSize = sizeof d;
  d.wDropoutType = 1;
  d.dwOutput = 1;
  for (auto _ : state) {
    FSIP_S_IMAGEINFO out{};
    Lib().dropout(&in, &d, &out, nullptr);
    benchmark::DoNotOptimize(out.pImageData);
    free(out.pImageData);
  }
  Pages(state, a4.colour);
}

void BM_Dropout_OpenCV(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  const A4& a4 = Page(dpi);
  cv::Mat in(a4.colour.height, a4.colour.width, CV_8UC3, const_cast<uint8_t*>(a4.colour.pixels.data()));
  for (auto _ : state) {
    cv::Mat out;  // a new page each time, as the drop-out hands one out
    cv::cvtColor(in, out, cv::COLOR_RGB2GRAY);
    benchmark::DoNotOptimize(out.data);
  }
  Pages(state, a4.colour);
}

// --- fixed and dynamic threshold -------------------------------------------

void Binarize(benchmark::State& state, uint32_t method, FSIP_S_SDTCEX* dtc) {
  const int dpi = static_cast<int>(state.range(0));
  const A4& a4 = Page(dpi);
  std::vector<unsigned char> pixels = a4.grey.pixels;
  FSIP_S_IMAGEINFO in = Record(a4.grey, pixels.data(), dpi);
  const int bpl = (a4.grey.width + 7) / 8;
  std::vector<unsigned char> bits(static_cast<size_t>(bpl) * a4.grey.height);
  FSIP_S_ERROR_DIFFUSION ed{20, 0, 2, 200, 40};
  FSIP_S_BINARIZATIONEX b{};
  b.cbSize = sizeof b;
  b.dwMethod = method;
  b.nThreshold = 128;
  b.pSdtc = dtc;
  b.pErrorDiffusion = &ed;
  b.dwBoundary = 1;
  for (auto _ : state) {
    FSIP_S_IMAGEINFO out{};
    out.pImageData = bits.data();
    out.nWidth = a4.grey.width;
    out.nHeight = a4.grey.height;
    out.nBytesPerLine = bpl;
    out.nImageSize = static_cast<int>(bits.size());
    Lib().binarize(&in, &b, &out, nullptr);
    benchmark::DoNotOptimize(bits.data());
  }
  Pages(state, a4.grey);
}

void BM_Threshold(benchmark::State& state) { Binarize(state, 0, nullptr); }

void BM_Threshold_OpenCV(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  const A4& a4 = Page(dpi);
  cv::Mat in(a4.grey.height, a4.grey.width, CV_8UC1, const_cast<uint8_t*>(a4.grey.pixels.data()));
  cv::Mat out(in.size(), CV_8UC1);
  for (auto _ : state) {
    cv::threshold(in, out, 127, 255, cv::THRESH_BINARY);
    benchmark::DoNotOptimize(out.data);
  }
  Pages(state, a4.grey);
}

void BM_DynamicThreshold(benchmark::State& state) {
  FSIP_S_SDTCEX dtc{{36, 20, 4, 152, 16, 16, 1}, nullptr};
  Binarize(state, 3, &dtc);
}

void BM_DynamicThreshold_OpenCV(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  const A4& a4 = Page(dpi);
  cv::Mat in(a4.grey.height, a4.grey.width, CV_8UC1, const_cast<uint8_t*>(a4.grey.pixels.data()));
  cv::Mat out(in.size(), CV_8UC1);
  for (auto _ : state) {
    cv::adaptiveThreshold(in, out, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 3, 8);
    benchmark::DoNotOptimize(out.data);
  }
  Pages(state, a4.grey);
}

// --- error diffusion -------------------------------------------------------

void BM_ErrorDiffusion(benchmark::State& state) { Binarize(state, 2, nullptr); }

// Floyd-Steinberg on one row of errors, packed to one bit per pixel.
void BM_ErrorDiffusion_FloydSteinberg(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  const A4& a4 = Page(dpi);
  const int w = a4.grey.width, h = a4.grey.height, bpl = (w + 7) / 8;
  std::vector<unsigned char> bits(static_cast<size_t>(bpl) * h);
  std::vector<int> next(w + 2), cur(w + 2);
  for (auto _ : state) {
    std::fill(cur.begin(), cur.end(), 0);
    for (int y = 0; y < h; ++y) {
      std::fill(next.begin(), next.end(), 0);
      const uint8_t* p = a4.grey.Row(y);
      unsigned char* o = bits.data() + static_cast<size_t>(y) * bpl;
      memset(o, 0, bpl);
      for (int x = 0; x < w; ++x) {
        const int v = p[x] + cur[x + 1] / 16;
        const int e = v >= 128 ? v - 255 : v;
        if (v >= 128) o[x >> 3] = static_cast<unsigned char>(o[x >> 3] | (0x80 >> (x & 7)));
        cur[x + 2] += 7 * e;
        next[x] += 3 * e;
        next[x + 1] += 5 * e;
        next[x + 2] += e;
      }
      cur.swap(next);
    }
    benchmark::DoNotOptimize(bits.data());
  }
  Pages(state, a4.grey);
}

// --- emphasis --------------------------------------------------------------

void BM_Emphasis(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  const A4& a4 = Page(dpi);
  std::vector<unsigned char> pixels = a4.grey.pixels;
  FSIP_S_IMAGEINFO in = Record(a4.grey, pixels.data(), dpi);
  FSIP_S_IMAGEEMPHASIS e{sizeof e, 2, 7, 0, 0, 1};
  FSIP_S_IMAGEFILTER f{};
  f.cbSize = sizeof f;
  f.dwOption = 1;
  f.pEmphasis = &e;
  for (auto _ : state) {
    Lib().filter(&in, &f, nullptr, nullptr);
    benchmark::DoNotOptimize(pixels.data());
  }
  Pages(state, a4.grey);
}

void BM_Emphasis_OpenCV(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  const A4& a4 = Page(dpi);
  cv::Mat in(a4.grey.height, a4.grey.width, CV_8UC1, const_cast<uint8_t*>(a4.grey.pixels.data()));
  cv::Mat out(in.size(), CV_8UC1);
  // The sharpening step of the 600 dpi kernel: centre 1 + 8/8, ring -1/8.
  cv::Mat kernel = cv::Mat::zeros(5, 5, CV_32F);
  for (int r = 0; r < 5; r += 2)
    for (int c = 0; c < 5; c += 2) kernel.at<float>(r, c) = -1.0f / 8;
  kernel.at<float>(2, 2) = 2.0f;
  for (auto _ : state) {
    cv::filter2D(in, out, -1, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(out.data);
  }
  Pages(state, a4.grey);
}

// --- merge -----------------------------------------------------------------

I3ipImageInfo Face(const dravn_pages::Image& image, unsigned char* pixels) {
  const uint32_t bpl = static_cast<uint32_t>(image.BytesPerLine());
  return I3ipImageInfo{40,
                       0,
                       24,
                       0,
                       0,
                       300,
                       0,
                       static_cast<uint32_t>(image.width),
                       static_cast<uint32_t>(image.height),
                       bpl,
                       bpl * static_cast<uint32_t>(image.height),
                       pixels};
}

void BM_Merge(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  const A4& a4 = Page(dpi);
  std::vector<unsigned char> front = a4.colour.pixels, back = a4.colour.pixels;
  for (auto _ : state) {
    I3ipImageInfo first = Face(a4.colour, front.data()), second = Face(a4.colour, back.data()), out{};
    Lib().merge(&first, &second, 2, 0, 1, &out);
    benchmark::DoNotOptimize(out.Data);
    free(out.Data);
  }
  Pages(state, a4.colour);
}

void BM_Merge_Memcpy(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  const A4& a4 = Page(dpi);
  const size_t half = a4.colour.pixels.size();
  for (auto _ : state) {
    unsigned char* out = static_cast<unsigned char*>(malloc(2 * half));
    memcpy(out, a4.colour.pixels.data(), half);
    memcpy(out + half, a4.colour.pixels.data(), half);
    benchmark::DoNotOptimize(out);
    free(out);
  }
  Pages(state, a4.colour);
}

#define PAIR(name, peer)                                              \
  BENCHMARK(name)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond); \
  BENCHMARK(peer)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond)

PAIR(BM_Dropout, BM_Dropout_OpenCV);
PAIR(BM_Threshold, BM_Threshold_OpenCV);
PAIR(BM_DynamicThreshold, BM_DynamicThreshold_OpenCV);
PAIR(BM_Emphasis, BM_Emphasis_OpenCV);
PAIR(BM_ErrorDiffusion, BM_ErrorDiffusion_FloydSteinberg);
PAIR(BM_Merge, BM_Merge_Memcpy);

}  // namespace

int main(int argc, char** argv) {
  // The filters run on one core; so does their peer here.
  cv::setNumThreads(1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
