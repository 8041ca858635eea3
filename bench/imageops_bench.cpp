// The image operations library beside the peers it stands on: each hot
// primitive against the direct OpenCV call on the same buffers, the matrix
// product at the classifier's shapes against cv::gemm, and JPEG
// compression and reading against libjpeg-turbo's TurboJPEG interface at the
// same quality and sampling. A4 pages at 300 and 600 dpi, one thread.
//   imageops_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <opencv2/imgproc.hpp>

#include "opcv.h"
#include "test_pages.h"

namespace {

// A rendered A4 page (grey or colour) and a destination of the same shape.
struct Page {
  cv::Mat src, dst;
};

Page& PageOf(int dpi, int channels) {
  static std::map<std::pair<int, int>, Page> pages;
  auto& p = pages[{dpi, channels}];
  if (p.src.empty()) {
    dravn_pages::PageSpec spec;
    spec.dpi = dpi;
    auto img = dravn_pages::RenderDocumentPage(spec);
    if (channels == 1) img = dravn_pages::ToGrey(img);
    p.src = cv::Mat(img.height, img.width, CV_8UC(channels), img.pixels.data()).clone();
    p.dst = cv::Mat(p.src.size(), p.src.type(), cv::Scalar::all(0));
  }
  return p;
}

// The page less a border of b pixels: the region that a neighbourhood of
// reach b can work on without a border of its own.
cv::Rect Inner(const cv::Mat& m, int b) { return cv::Rect(b, b, m.cols - 2 * b, m.rows - 2 * b); }
IppiSize SizeOf(const cv::Rect& r) { return {r.width, r.height}; }

// One call of one side, set up for a page resolution.
using Call = std::function<void()>;
using Side = std::function<Call(int dpi)>;

// Both sides in one benchmark, called in turn: a busy machine slows both
// alike. The time is ours; "peer" and "ratio" (ours over peer) are counters.
void Compare(const std::string& name, const Side& ours, const Side& peer, int dpi, benchmark::TimeUnit unit) {
  benchmark::RegisterBenchmark(name.c_str(),
                               [=](benchmark::State& st) {
                                 const Call a = ours(dpi), b = peer(dpi);
                                 a();
                                 b();
                                 double ta = 0, tb = 0;
                                 for (auto _ : st) {
                                   const auto t0 = std::chrono::steady_clock::now();
                                   a();
                                   const auto t1 = std::chrono::steady_clock::now();
                                   b();
                                   const auto t2 = std::chrono::steady_clock::now();
                                   const double da = std::chrono::duration<double>(t1 - t0).count();
                                   ta += da;
                                   tb += std::chrono::duration<double>(t2 - t1).count();
                                   st.SetIterationTime(da);
                                 }
                                 const double n = double(st.iterations());
                                 const double scale = unit == benchmark::kMillisecond ? 1e3 : 1e6;
                                 st.counters["peer"] = tb / n * scale;
                                 st.counters["ratio"] = ta / tb;
                               })
      ->UseManualTime()
      ->Unit(unit);
}

void Pair(const char* name, const Side& ours, const Side& peer) {
  for (int dpi : {300, 600})
    Compare(std::string(name) + "/" + std::to_string(dpi), ours, peer, dpi, benchmark::kMillisecond);
}

const Ipp8u kMask3[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
const Ipp32s kLog5[25] = {4, 7, 8, 7, 4, 7, 2, -15, 2, 7, 8, -15, -52, -15, 8, 7, 2, -15, 2, 7, 4, 7, 8, 7, 4};

// The 5 x 5 kernel as filter2D takes it: turned, as floats, divided.
cv::Mat FloatKernel(const Ipp32s* k, int divisor) {
  cv::Mat m(5, 5, CV_32F);
  for (int i = 0; i < 25; ++i) m.at<float>(4 - i / 5, 4 - i % 5) = float(k[i]) / divisor;
  return m;
}

void RegisterPrimitives() {
  // Neighbourhood operations work on the page less the border they reach
  // over; both sides get the same views.
  auto morph = [](bool dilate, bool ours) -> Side {
    return [=](int dpi) -> Call {
      Page& p = PageOf(dpi, 1);
      const cv::Rect r = Inner(p.src, 1);
      cv::Mat s = p.src(r), d = p.dst(r);
      const cv::Mat k = cv::getStructuringElement(cv::MORPH_RECT, {3, 3});
      auto* f = dilate ? IPPShare_ippiDilate_8u_C1R : IPPShare_ippiErode_8u_C1R;
      if (ours) return [=] { f(s.data, int(s.step), d.data, int(d.step), SizeOf(r), kMask3, {3, 3}, {1, 1}); };
      if (dilate) return [=]() mutable { cv::dilate(s, d, k); };
      return [=]() mutable { cv::erode(s, d, k); };
    };
  };
  Pair("dilate3x3", morph(true, true), morph(true, false));
  Pair("erode3x3", morph(false, true), morph(false, false));

  for (int m : {3, 5}) {
    auto median = [m](bool ours) -> Side {
      return [=](int dpi) -> Call {
        Page& p = PageOf(dpi, 1);
        const cv::Rect r = Inner(p.src, m / 2);
        cv::Mat s = p.src(r), d = p.dst(r);
        if (ours)
          return [=] {
            IPPShare_ippiFilterMedian_8u_C1R(s.data, int(s.step), d.data, int(d.step), SizeOf(r), {m, m},
                                             {m / 2, m / 2});
          };
        return [&p, m] { cv::medianBlur(p.src, p.dst, m); };
      };
    };
    Pair(m == 3 ? "median3x3" : "median5x5", median(true), median(false));
  }

  auto filter = [](int depth, bool ours) -> Side {
    return [=](int dpi) -> Call {
      Page& p = PageOf(dpi, 1);
      auto src = std::make_shared<cv::Mat>(), dst = std::make_shared<cv::Mat>();
      p.src.convertTo(*src, depth);
      dst->create(p.src.size(), depth);
      const cv::Rect r = Inner(*src, 2);
      cv::Mat s = (*src)(r), d = (*dst)(r);
      const int divisor = depth == CV_8U ? 16 : 1;
      const cv::Mat k = FloatKernel(kLog5, divisor);
      if (!ours) return [=]() mutable { cv::filter2D(s, d, -1, k, {-1, -1}, 0, cv::BORDER_REFLECT_101); };
      if (depth == CV_8U)
        return [=] {
          IPPShare_ippiFilter_8u_C1R(s.data, int(s.step), d.data, int(d.step), SizeOf(r), kLog5, {5, 5}, {2, 2},
                                     divisor);
        };
      return [=]() mutable {
        IPPShare_ippiFilter_16s_C1R(s.ptr<Ipp16s>(), int(s.step), d.ptr<Ipp16s>(), int(d.step), SizeOf(r), kLog5,
                                    {5, 5}, {2, 2}, divisor);
      };
    };
  };
  Pair("filter8u5x5", filter(CV_8U, true), filter(CV_8U, false));
  Pair("filter16s5x5", filter(CV_16S, true), filter(CV_16S, false));

  auto resize = [](bool ours) -> Side {
    return [=](int dpi) -> Call {
      Page& p = PageOf(dpi, 1);
      cv::Mat d(p.src.rows / 2, p.src.cols / 2, CV_8U);
      if (ours)
        return [&p, d] {
          const IppiSize size{p.src.cols, p.src.rows};
          OPCV_ippiResizeSqrPixel_8u_C1R(p.src.data, size, int(p.src.step), {0, 0, size.width, size.height}, d.data,
                                         int(d.step), {0, 0, d.cols, d.rows}, 0.5, 0.5, 0, 0, 1, nullptr);
        };
      return [&p, d]() mutable { cv::resize(p.src, d, cv::Size(), 0.5, 0.5, cv::INTER_LINEAR); };
    };
  };
  Pair("resize0.5", resize(true), resize(false));

  auto convert = [](bool ours) -> Side {
    return [=](int dpi) -> Call {
      Page& p = PageOf(dpi, 1);
      cv::Mat d(p.src.size(), CV_16S);
      if (ours)
        return [&p, d]() mutable {
          IPPShare_ippiConvert_8u16s_C1R(p.src.data, int(p.src.step), d.ptr<Ipp16s>(), int(d.step),
                                         {p.src.cols, p.src.rows});
        };
      return [&p, d]() mutable { p.src.convertTo(d, CV_16S); };
    };
  };
  Pair("convert8u16s", convert(true), convert(false));

  // Less-or-equal to 0 is what THRESH_TOZERO does at the same threshold.
  auto threshold = [](bool ours) -> Side {
    return [=](int dpi) -> Call {
      cv::Mat d = PageOf(dpi, 1).src.clone();
      if (ours) return [d] { IPPShare_ippiThreshold_LTVal_8u_C1IR(d.data, int(d.step), {d.cols, d.rows}, 128, 0); };
      return [d]() mutable { cv::threshold(d, d, 128, 0, cv::THRESH_TOZERO); };
    };
  };
  Pair("thresholdLE", threshold(true), threshold(false));

  auto set = [](bool ours) -> Side {
    return [=](int dpi) -> Call {
      cv::Mat d = PageOf(dpi, 1).dst;
      if (ours) return [d] { IPPShare_ippiSet_8u_C1R(7, d.data, int(d.step), {d.cols, d.rows}); };
      return [d]() mutable { d.setTo(7); };
    };
  };
  Pair("set", set(true), set(false));
}

void RegisterSgemm() {
  struct Shape {
    const char* name;
    int M, N, K;
  };
  // Convolution unfoldings (filters x window cells x positions) and a fully
  // connected batch.
  for (const Shape& s : {Shape{"sgemm16x1024x9", 16, 1024, 9}, Shape{"sgemm32x256x144", 32, 256, 144},
                         Shape{"sgemm32x64x2048", 32, 64, 2048}}) {
    auto side = [s](bool ours) -> Side {
      return [=](int) -> Call {
        cv::Mat a(s.M, s.K, CV_32F), b(s.K, s.N, CV_32F), c(s.M, s.N, CV_32F, cv::Scalar(0));
        cv::randu(a, -1, 1);
        cv::randu(b, -1, 1);
        if (ours)
          return [=]() mutable {
            OPCV_cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, s.M, s.N, s.K, 1, a.ptr<float>(), s.K,
                             b.ptr<float>(), s.N, 1, c.ptr<float>(), s.N);
          };
        return [=]() mutable { cv::gemm(a, b, 1, c, 1, c); };
      };
    };
    Compare(s.name, side(true), side(false), 0, benchmark::kMicrosecond);
  }
}

struct TjFree {
  void operator()(void* h) const { tjDestroy(h); }
};

// TurboJPEG's settings for a page: quality 80, 4:2:0 colour or grey.
std::pair<int, int> TjFormat(int channels) {
  return channels == 1 ? std::make_pair(int(TJPF_GRAY), int(TJSAMP_GRAY))
                       : std::make_pair(int(TJPF_RGB), int(TJSAMP_420));
}

void RegisterJpeg() {
  // Quality code 450 of CompressJPEGWithIPP is libjpeg quality 80, with 4:2:0
  // colour and plain grey, which TurboJPEG does the same way.
  for (int channels : {1, 3}) {
    const std::string kind = channels == 1 ? "grey" : "colour";
    const auto [format, sampling] = TjFormat(channels);
    auto compress = [channels, format = format, sampling = sampling](bool ours) -> Side {
      return [=](int dpi) -> Call {
        Page& p = PageOf(dpi, channels);
        if (ours)
          return [&p, channels, dpi] {
            VKIMG page{p.src.data, 8 * channels,    p.src.cols,
                       p.src.rows, int(p.src.step), int(p.src.total() * channels)};
            VkImageDesc res{0, 0, dpi, dpi, 0, 0, 0};
            VkImageDesc* handle = &res;
            uint8_t* out = nullptr;
            uint32_t size = 0;
            if (CompressJPEGWithIPP(&page, &handle, 450, &out, &size)) std::abort();
            free(out);
          };
        std::shared_ptr<void> tj(tjInitCompress(), TjFree());
        return [&p, tj, format, sampling] {
          unsigned char* out = nullptr;
          unsigned long size = 0;
          if (tjCompress2(tj.get(), p.src.data, p.src.cols, int(p.src.step), p.src.rows, format, &out, &size, sampling,
                          80, 0))
            std::abort();
          tjFree(out);
        };
      };
    };
    Pair(("jpegCompress/" + kind).c_str(), compress(true), compress(false));

    auto read = [channels, format = format, sampling = sampling](bool ours) -> Side {
      return [=](int dpi) -> Call {
        Page& p = PageOf(dpi, channels);
        std::unique_ptr<void, TjFree> tjc(tjInitCompress());
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        tjCompress2(tjc.get(), p.src.data, p.src.cols, int(p.src.step), p.src.rows, format, &jpeg, &size, sampling, 80,
                    0);
        auto data = std::make_shared<std::vector<uint8_t>>(jpeg, jpeg + size);
        tjFree(jpeg);
        if (ours)
          return [data] {
            VkImageDesc d{};
            VkImageDesc* handle = &d;
            VKIMG* out = nullptr;
            if (ReadJPEG(data->data(), uint32_t(data->size()), &handle, &out)) std::abort();
            DisposeVKIMG(out);
          };
        std::shared_ptr<void> tj(tjInitDecompress(), TjFree());
        return [&p, data, tj, channels, format] {
          // A fresh buffer per page, as the reader hands out a new page.
          std::unique_ptr<uint8_t, decltype(&free)> buf(static_cast<uint8_t*>(malloc(p.src.total() * channels)), &free);
          if (tjDecompress2(tj.get(), data->data(), data->size(), buf.get(), p.src.cols, 0, p.src.rows, format, 0))
            std::abort();
        };
      };
    };
    Pair(("jpegRead/" + kind).c_str(), read(true), read(false));
  }
}

}  // namespace

int main(int argc, char** argv) {
  cv::setNumThreads(1);
  RegisterPrimitives();
  RegisterSgemm();
  RegisterJpeg();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
