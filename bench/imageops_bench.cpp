// The image operations library beside the peers it stands on: each hot
// primitive against the direct OpenCV call on the same buffers, the matrix
// product at the classifier's shapes against cv::gemm, and JPEG
// compression and reading against libjpeg-turbo's TurboJPEG interface at the
// same quality and sampling. A4 pages at 300 and 600 dpi, one thread.
//   imageops_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <opencv2/imgproc.hpp>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

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

using Body = std::function<void(benchmark::State&, int dpi)>;

void Pair(const char* name, const Body& ours, const Body& opencv) {
  for (int dpi : {300, 600}) {
    benchmark::RegisterBenchmark((std::string(name) + "/ours/" + std::to_string(dpi)).c_str(),
                                 [=](benchmark::State& st) { ours(st, dpi); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string(name) + "/peer/" + std::to_string(dpi)).c_str(),
                                 [=](benchmark::State& st) { opencv(st, dpi); })
        ->Unit(benchmark::kMillisecond);
  }
}

#define LOOP(body)    \
  for (auto _ : st) { \
    body;             \
    benchmark::ClobberMemory(); \
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
  auto morph = [](bool dilate, bool ours) {
    return [=](benchmark::State& st, int dpi) {
      Page& p = PageOf(dpi, 1);
      const cv::Rect r = Inner(p.src, 1);
      cv::Mat s = p.src(r), d = p.dst(r);
      const cv::Mat k = cv::getStructuringElement(cv::MORPH_RECT, {3, 3});
      auto* f = dilate ? IPPShare_ippiDilate_8u_C1R : IPPShare_ippiErode_8u_C1R;
      if (ours) {
        LOOP(f(s.data, int(s.step), d.data, int(d.step), SizeOf(r), kMask3, {3, 3}, {1, 1}))
      } else if (dilate) {
        LOOP(cv::dilate(s, d, k))
      } else {
        LOOP(cv::erode(s, d, k))
      }
    };
  };
  Pair("dilate3x3", morph(true, true), morph(true, false));
  Pair("erode3x3", morph(false, true), morph(false, false));

  for (int m : {3, 5}) {
    auto median = [m](bool ours) {
      return [=](benchmark::State& st, int dpi) {
        Page& p = PageOf(dpi, 1);
        const cv::Rect r = Inner(p.src, m / 2);
        if (ours) {
          cv::Mat s = p.src(r), d = p.dst(r);
          LOOP(IPPShare_ippiFilterMedian_8u_C1R(s.data, int(s.step), d.data, int(d.step), SizeOf(r), {m, m},
                                                {m / 2, m / 2}))
        } else {
          LOOP(cv::medianBlur(p.src, p.dst, m))
        }
      };
    };
    Pair(m == 3 ? "median3x3" : "median5x5", median(true), median(false));
  }

  auto filter8 = [](bool ours) {
    return [=](benchmark::State& st, int dpi) {
      Page& p = PageOf(dpi, 1);
      const cv::Rect r = Inner(p.src, 2);
      cv::Mat s = p.src(r), d = p.dst(r);
      const cv::Mat k = FloatKernel(kLog5, 16);
      if (ours) {
        LOOP(IPPShare_ippiFilter_8u_C1R(s.data, int(s.step), d.data, int(d.step), SizeOf(r), kLog5, {5, 5}, {2, 2},
                                        16))
      } else {
        LOOP(cv::filter2D(s, d, -1, k, {-1, -1}, 0, cv::BORDER_REFLECT_101))
      }
    };
  };
  Pair("filter8u5x5", filter8(true), filter8(false));

  auto filter16 = [](bool ours) {
    return [=](benchmark::State& st, int dpi) {
      Page& p = PageOf(dpi, 1);
      cv::Mat s16, d16(p.src.size(), CV_16S);
      p.src.convertTo(s16, CV_16S);
      const cv::Rect r = Inner(s16, 2);
      cv::Mat s = s16(r), d = d16(r);
      const cv::Mat k = FloatKernel(kLog5, 1);
      if (ours) {
        LOOP(IPPShare_ippiFilter_16s_C1R(s.ptr<Ipp16s>(), int(s.step), d.ptr<Ipp16s>(), int(d.step), SizeOf(r), kLog5,
                                         {5, 5}, {2, 2}, 1))
      } else {
        LOOP(cv::filter2D(s, d, -1, k, {-1, -1}, 0, cv::BORDER_REFLECT_101))
      }
    };
  };
  Pair("filter16s5x5", filter16(true), filter16(false));

  auto resize = [](bool ours) {
    return [=](benchmark::State& st, int dpi) {
      Page& p = PageOf(dpi, 1);
      cv::Mat d(p.src.rows / 2, p.src.cols / 2, CV_8U);
      const IppiSize size{p.src.cols, p.src.rows};
      if (ours) {
        LOOP(OPCV_ippiResizeSqrPixel_8u_C1R(p.src.data, size, int(p.src.step), {0, 0, size.width, size.height}, d.data,
                                            int(d.step), {0, 0, d.cols, d.rows}, 0.5, 0.5, 0, 0, 1, nullptr))
      } else {
        LOOP(cv::resize(p.src, d, cv::Size(), 0.5, 0.5, cv::INTER_LINEAR))
      }
    };
  };
  Pair("resize0.5", resize(true), resize(false));

  auto convert = [](bool ours) {
    return [=](benchmark::State& st, int dpi) {
      Page& p = PageOf(dpi, 1);
      cv::Mat d(p.src.size(), CV_16S);
      if (ours) {
        LOOP(IPPShare_ippiConvert_8u16s_C1R(p.src.data, int(p.src.step), d.ptr<Ipp16s>(), int(d.step),
                                            {p.src.cols, p.src.rows}))
      } else {
        LOOP(p.src.convertTo(d, CV_16S))
      }
    };
  };
  Pair("convert8u16s", convert(true), convert(false));

  // Less-or-equal to 0 is what THRESH_TOZERO does at the same threshold.
  auto threshold = [](bool ours) {
    return [=](benchmark::State& st, int dpi) {
      Page& p = PageOf(dpi, 1);
      cv::Mat d = p.src.clone();
      if (ours) {
        LOOP(IPPShare_ippiThreshold_LTVal_8u_C1IR(d.data, int(d.step), {d.cols, d.rows}, 128, 0))
      } else {
        LOOP(cv::threshold(d, d, 128, 0, cv::THRESH_TOZERO))
      }
    };
  };
  Pair("thresholdLE", threshold(true), threshold(false));

  auto set = [](bool ours) {
    return [=](benchmark::State& st, int dpi) {
      Page& p = PageOf(dpi, 1);
      if (ours) {
        LOOP(IPPShare_ippiSet_8u_C1R(7, p.dst.data, int(p.dst.step), {p.dst.cols, p.dst.rows}))
      } else {
        LOOP(p.dst.setTo(7))
      }
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
    auto body = [s](bool ours) {
      return [=](benchmark::State& st, int) {
        cv::Mat a(s.M, s.K, CV_32F), b(s.K, s.N, CV_32F), c(s.M, s.N, CV_32F, cv::Scalar(0));
        cv::randu(a, -1, 1);
        cv::randu(b, -1, 1);
        if (ours) {
          LOOP(OPCV_cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, s.M, s.N, s.K, 1, a.ptr<float>(), s.K,
                                b.ptr<float>(), s.N, 1, c.ptr<float>(), s.N))
        } else {
          LOOP(cv::gemm(a, b, 1, c, 1, c))
        }
      };
    };
    benchmark::RegisterBenchmark((std::string(s.name) + "/ours").c_str(),
                                 [=](benchmark::State& st) { body(true)(st, 0); })
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((std::string(s.name) + "/peer").c_str(),
                                 [=](benchmark::State& st) { body(false)(st, 0); })
        ->Unit(benchmark::kMicrosecond);
  }
}

struct TjFree {
  void operator()(void* h) const { tjDestroy(h); }
};

void RegisterJpeg() {
  // Quality code 450 of CompressJPEGWithIPP is libjpeg quality 80, with 4:2:0
  // colour and plain grey, which TurboJPEG does the same way.
  for (int channels : {1, 3}) {
    const std::string kind = channels == 1 ? "grey" : "colour";
    auto compress = [channels](bool ours) {
      return [=](benchmark::State& st, int dpi) {
        Page& p = PageOf(dpi, channels);
        if (ours) {
          VKIMG page{p.src.data, 8 * channels, p.src.cols, p.src.rows, int(p.src.step), int(p.src.total() * channels)};
          VkImageDesc res{0, 0, dpi, dpi, 0, 0, 0};
          VkImageDesc* handle = &res;
          for (auto _ : st) {
            uint8_t* out = nullptr;
            uint32_t size = 0;
            if (CompressJPEGWithIPP(&page, &handle, 450, &out, &size)) st.SkipWithError("compression failed");
            free(out);
          }
        } else {
          std::unique_ptr<void, TjFree> tj(tjInitCompress());
          for (auto _ : st) {
            unsigned char* out = nullptr;
            unsigned long size = 0;
            if (tjCompress2(tj.get(), p.src.data, p.src.cols, int(p.src.step), p.src.rows,
                            channels == 1 ? TJPF_GRAY : TJPF_RGB, &out, &size, channels == 1 ? TJSAMP_GRAY : TJSAMP_420,
                            80, 0))
              st.SkipWithError("compression failed");
            tjFree(out);
          }
        }
      };
    };
    Pair(("jpegCompress/" + kind).c_str(), compress(true), compress(false));

    auto read = [channels](bool ours) {
      return [=](benchmark::State& st, int dpi) {
        Page& p = PageOf(dpi, channels);
        std::unique_ptr<void, TjFree> tjc(tjInitCompress());
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        tjCompress2(tjc.get(), p.src.data, p.src.cols, int(p.src.step), p.src.rows,
                    channels == 1 ? TJPF_GRAY : TJPF_RGB, &jpeg, &size, channels == 1 ? TJSAMP_GRAY : TJSAMP_420, 80, 0);
        if (ours) {
          for (auto _ : st) {
            VkImageDesc d{};
            VkImageDesc* handle = &d;
            VKIMG* out = nullptr;
            if (ReadJPEG(jpeg, uint32_t(size), &handle, &out)) st.SkipWithError("reading failed");
            DisposeVKIMG(out);
          }
        } else {
          std::unique_ptr<void, TjFree> tjd(tjInitDecompress());
          for (auto _ : st) {
            // A fresh buffer per page, as the reader hands out a new page.
            std::unique_ptr<uint8_t, decltype(&free)> buf(static_cast<uint8_t*>(malloc(p.src.total() * channels)),
                                                          &free);
            if (tjDecompress2(tjd.get(), jpeg, size, buf.get(), p.src.cols, 0, p.src.rows,
                              channels == 1 ? TJPF_GRAY : TJPF_RGB, 0))
              st.SkipWithError("reading failed");
          }
        }
        tjFree(jpeg);
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
