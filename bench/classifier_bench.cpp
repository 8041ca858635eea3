// Network engine, one core: a window batch (1, 3, 6 windows) through a net of
// the orientation unit's planned size (about 0.1 M parameters) beside a naive
// direct-convolution reference of the same net and weights, both sides called
// in turn in one benchmark, the ratio as a counter; then, per line crop of an
// A4 page, VOMBCNN_script_orientation with both classifiers (1 and 3 windows)
// and TextDetection on the line scaled to an 18-pixel strip.
//   classifier_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

#include "opcv.h"
#include "text_detector.h"
#include "vomb_cnn.h"

namespace {

constexpr int kH = 24, kW = 48;
struct ConvSpec {
  int in, out;
};
const ConvSpec kConvs[] = {
    {1, 16}, {16, 32}, {32, 64}};  // 3 x 3, padding 1, each followed by ReLU and 2 x 2 max pooling
constexpr int kHidden = 64, kLabels = 25;

struct Weights {
  std::vector<float> conv[3], convBias[3], fc1, fc1Bias, fc2, fc2Bias;
};

void WriteBlob(const std::string& path, const std::vector<float>& v) {
  std::ofstream out(path, std::ios::binary);
  const int32_t header = static_cast<int32_t>(v.size());
  out.write(reinterpret_cast<const char*>(&header), 4);
  out.write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size() * 4));
}

// The planned net as an engine directory, its weights kept for the reference.
struct BenchModel {
  std::string dir;
  Weights w;
  long parameters = 0;
  BenchModel() {
    char tmpl[] = "/tmp/classifier_bench_XXXXXX";
    dir = mkdtemp(tmpl);
    std::filesystem::create_directories(dir + "/model/weights");
    std::mt19937 gen(27);
    std::normal_distribution<float> n(0.0f, 0.1f);
    auto random = [&](size_t count) {
      std::vector<float> v(count);
      for (float& x : v) x = n(gen);
      parameters += static_cast<long>(count);
      return v;
    };
    std::string text = "votes=3\n[data]\ntype=data\noutputs=data\nchannels=1\nheight=24\nwidth=48\n";
    std::string blob = "data";
    for (int i = 0; i < 3; ++i) {
      w.conv[i] = random(static_cast<size_t>(kConvs[i].out) * kConvs[i].in * 9);
      w.convBias[i] = random(kConvs[i].out);
      const std::string k = std::to_string(i);
      WriteBlob(dir + "/model/weights/conv" + k + ".bin", w.conv[i]);
      WriteBlob(dir + "/model/weights/conv" + k + "_b.bin", w.convBias[i]);
      text += "[conv" + k + "]\ntype=conv\ninputs=" + blob + "\noutputs=c" + k +
              "\nfilters=" + std::to_string(kConvs[i].out) + "\nwindowSize=3\nwindowStride=1\npadding=1\nweights=conv" +
              k + ".bin\nbiases=conv" + k + "_b.bin\n[relu" + k + "]\ntype=neuron\nneuronType=RELU\ninputs=c" + k +
              "\noutputs=c" + k + "\n[pool" + k + "]\ntype=pool\npoolType=MAX\ninputs=c" + k + "\noutputs=p" + k +
              "\nwindowSize=2\nwindowStride=2\n";
      blob = "p" + k;
    }
    const int flat = 64 * (kH / 8) * (kW / 8);
    w.fc1 = random(static_cast<size_t>(kHidden) * flat);
    w.fc1Bias = random(kHidden);
    w.fc2 = random(static_cast<size_t>(kLabels) * kHidden);
    w.fc2Bias = random(kLabels);
    WriteBlob(dir + "/model/weights/fc1.bin", w.fc1);
    WriteBlob(dir + "/model/weights/fc1_b.bin", w.fc1Bias);
    WriteBlob(dir + "/model/weights/fc2.bin", w.fc2);
    WriteBlob(dir + "/model/weights/fc2_b.bin", w.fc2Bias);
    text +=
        "[fc1]\ntype=fc\ninputs=" + blob +
        "\noutputs=f1\nfilters=64\nweights=fc1.bin\nbiases=fc1_b.bin\n[relu_f]\ntype=neuron\nneuronType=RELU\n"
        "inputs=f1\noutputs=f1\n[fc2]\ntype=fc\ninputs=f1\noutputs=f2\nfilters=25\nweights=fc2.bin\nbiases=fc2_b.bin\n"
        "[prob]\ntype=softmax\ninputs=f2\noutputs=prob\n";
    std::ofstream(dir + "/model/model.txt") << text;
    std::ofstream(dir + "/model/rotate_model.txt") << text;
  }
  ~BenchModel() { std::filesystem::remove_all(dir); }
};

// ---- the naive reference: direct loops, one sample at a time ----

std::vector<float> NaiveConvReluPool(const std::vector<float>& in, int c, int h, int w, const std::vector<float>& k,
                                     const std::vector<float>& b, int f) {
  std::vector<float> conv(static_cast<size_t>(f) * h * w);
  for (int o = 0; o < f; ++o)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        float s = b[o];
        for (int ch = 0; ch < c; ++ch)
          for (int ky = 0; ky < 3; ++ky)
            for (int kx = 0; kx < 3; ++kx) {
              const int yy = y + ky - 1, xx = x + kx - 1;
              if (yy >= 0 && yy < h && xx >= 0 && xx < w)
                s += k[((o * c + ch) * 3 + ky) * 3 + kx] * in[(ch * h + yy) * w + xx];
            }
        conv[(o * h + y) * w + x] = std::max(s, 0.0f);
      }
  std::vector<float> out(static_cast<size_t>(f) * (h / 2) * (w / 2));
  for (int o = 0; o < f; ++o)
    for (int y = 0; y < h / 2; ++y)
      for (int x = 0; x < w / 2; ++x) {
        const float* p = &conv[(o * h + 2 * y) * w + 2 * x];
        out[(o * (h / 2) + y) * (w / 2) + x] = std::max(std::max(p[0], p[1]), std::max(p[w], p[w + 1]));
      }
  return out;
}

std::vector<float> NaiveFc(const std::vector<float>& in, const std::vector<float>& k, const std::vector<float>& b,
                           int outputs, bool relu) {
  std::vector<float> out(outputs);
  const size_t n = in.size();
  for (int o = 0; o < outputs; ++o) {
    float s = b[o];
    for (size_t i = 0; i < n; ++i) s += k[o * n + i] * in[i];
    out[o] = relu ? std::max(s, 0.0f) : s;
  }
  return out;
}

std::vector<float> NaiveNet(const Weights& w, const Vomb::CMat<float>& window) {
  std::vector<float> x(window.data, window.data + kH * kW);
  int h = kH, wd = kW;
  for (int i = 0; i < 3; ++i) {
    x = NaiveConvReluPool(x, kConvs[i].in, h, wd, w.conv[i], w.convBias[i], kConvs[i].out);
    h /= 2;
    wd /= 2;
  }
  x = NaiveFc(NaiveFc(x, w.fc1, w.fc1Bias, kHidden, true), w.fc2, w.fc2Bias, kLabels, false);
  const float m = *std::max_element(x.begin(), x.end());
  float sum = 0;
  for (float& v : x) sum += (v = std::exp(v - m));
  for (float& v : x) v /= sum;
  return x;
}

std::vector<Vomb::CMat<float>> Windows(int n) {
  std::mt19937 gen(5);
  std::vector<Vomb::CMat<float>> out;
  for (int i = 0; i < n; ++i) {
    Vomb::CMat<float> m(kH, kW, 1);
    for (int k = 0; k < kH * kW; ++k) m.data[k] = static_cast<float>(gen() % 256) - 128.0f;
    out.push_back(m);
  }
  return out;
}

struct Engines {
  BenchModel model;
  CnnEngine* script;
  CnnEngine* rotation;
  Engines() {
    gIPPShare_cblas_sgemm = OPCV_cblas_sgemm;
    script = VOMBCNN_Init(model.dir.c_str(), "%s/model/model.txt");
    rotation = VOMBCNN_Init(model.dir.c_str(), "%s/model/rotate_model.txt");
  }
  ~Engines() {
    VOMBCNN_Release(script);
    VOMBCNN_Release(rotation);
  }
};

Engines& Shared() {
  static Engines e;
  return e;
}

void BM_WindowBatch(benchmark::State& state) {
  Engines& e = Shared();
  const std::vector<Vomb::CMat<float>> windows = Windows(static_cast<int>(state.range(0)));
  double ours = 0, naive = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(e.script->classifier->Classify(windows).data());
    auto t1 = std::chrono::steady_clock::now();
    for (const auto& w : windows) benchmark::DoNotOptimize(NaiveNet(e.model.w, w).data());
    auto t2 = std::chrono::steady_clock::now();
    ours += std::chrono::duration<double, std::micro>(t1 - t0).count();
    naive += std::chrono::duration<double, std::micro>(t2 - t1).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_us"] = ours / n;
  state.counters["naive_us"] = naive / n;
  state.counters["naive/ours"] = naive / ours;
  state.counters["params"] = static_cast<double>(e.model.parameters);
}
BENCHMARK(BM_WindowBatch)->Arg(1)->Arg(3)->Arg(6)->Unit(benchmark::kMicrosecond);

// An A4 line crop at 300 dpi: 2,000 columns of 40-pixel text, strokes of varying width.
struct LinePage {
  int width = 2100, height = 60;
  std::vector<unsigned char> grey;
  tagRECT line{40, 10, 2039, 49};
  LinePage() : grey(static_cast<size_t>(width) * height, 235) {
    std::mt19937 gen(9);
    for (int x = 40; x < 2040; x += 3 + static_cast<int>(gen() % 6))
      for (int y = 14 + static_cast<int>(gen() % 6); y < 46 - static_cast<int>(gen() % 6); ++y)
        for (int k = 0; k < 2; ++k) grey[y * width + x + k] = 20;
  }
};

void BM_LineScriptOrientation(benchmark::State& state) {
  Engines& e = Shared();
  LinePage page;
  int category, direction;
  float confidence;
  for (auto _ : state)
    VOMBCNN_script_orientation(e.script, e.rotation, page.grey.data(), page.width, page.height, page.line, category,
                               direction, confidence, 0, static_cast<int>(state.range(0)));
  benchmark::DoNotOptimize(confidence);
}
BENCHMARK(BM_LineScriptOrientation)->Arg(1)->Arg(3)->Unit(benchmark::kMicrosecond);

void BM_LineTextDetection(benchmark::State& state) {
  std::string dir = std::string(DRAVN_SOURCE_DIR) + "/tests/fixtures/cnn_models/detector";
  STRONGCLASSIFIER* d = TDInit(dir.data());
  LinePage page;
  // The line at 18 rows, as the unit scales it before detection.
  const int rows = 40, cols = 2000, width = cols * 18 / rows;
  Vomb::CMat<unsigned char> view(rows, cols, 1, page.width, page.grey.data() + 10 * page.width + 40), strip;
  Vomb::ResizeImage(view, strip, Vomb::CSize<int>(width, 18), 0);
  int count = 0;
  float contrast = 0;
  for (auto _ : state) delete[] TextDetection(d, strip.data, width, 18, count, contrast);
  state.counters["windows"] = count;
  TDRelease(d);
}
BENCHMARK(BM_LineTextDetection)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
