#include "vomb_cnn.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr int kLabels = 25;
constexpr int kDirection[kLabels] = {0, 2, 0, 3, 2, 1, 0, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 2, -1};
constexpr int kRotationMap[kLabels] = {1,  0,  4,  5,  2,  3,  7,  6,  9,  8,  11, 10, 13,
                                       12, 15, 14, 17, 16, 19, 18, 21, 20, 23, 22, 24};

// The pattern is the caller's printf format: exactly one "%s" and no other
// conversion, so that a stray one cannot read beyond the one argument.
bool OneStringConversion(const char* pattern) {
  const char* first = std::strchr(pattern, '%');
  return first && first[1] == 's' && !std::strchr(first + 2, '%');
}

using Windows = std::vector<Vomb::CMat<float>>;

// Resized width of a patch of r rows and c columns at input height H.
Windows Normalize(const Vomb::CMat<unsigned char>& patch, Vomb::CSize<int> input, int windows, int offset,
                  const float* squeeze) {
  const int H = input.height, W = input.width;
  const int r = patch.rows, c = patch.cols;
  int Wr = r > 0 ? H * c / r : 0;
  int s = r > 0 ? H * offset / r : 0;
  if (squeeze) {
    Wr = static_cast<int>(Wr * *squeeze);
    s = static_cast<int>(s * *squeeze);
  }
  if (Wr < W) Wr = W;
  Vomb::CMat<unsigned char> resized;
  Vomb::ResizeImage(patch, resized, Vomb::CSize<int>(Wr, H), Vomb::RESIZE_BILINEAR);
  Vomb::CMat<unsigned char> copy = resized.Clone();

  std::vector<int> starts;
  if (windows < 2) {
    int x = s;
    if (s < 0 || W + s >= Wr || W == Wr) x = 0;
    if (x == 0 && s > 0 && s < Wr) {
      // The text from the offset on moves to the left edge before the window is cut.
      for (int y = 0; y < H; ++y) std::memmove(copy.Row(y), resized.Row(y) + s, static_cast<size_t>(Wr - s));
    }
    starts.push_back(x);
  } else {
    const int step = (Wr - W) / (windows - 1);
    for (int k = 0; k < windows; ++k) starts.push_back(k * step);
  }

  Windows out;
  for (int x : starts) {
    const Vomb::CMat<unsigned char> window(windows < 2 ? copy : resized, x, 0, W, H);
    const double mean = window.Mean()[0];
    Vomb::CMat<float> values;
    window.ConvertTo(values, 1.0, -mean);
    out.push_back(values);
  }
  return out;
}

int Classify(CnnEngine* engine, CnnEngine* rotation, unsigned char* page, int width, int height, tagRECT rect,
             int& category, int& direction, float& confidence, int offset, int windows, const float* squeeze) {
  // A rectangle that leaves the page would read beyond it: no text there.
  if (!page || rect.left < 0 || rect.top < 0 || rect.left > rect.right || rect.top > rect.bottom ||
      rect.right >= width || rect.bottom >= height) {
    category = direction = -1;
    confidence = 0.0f;
    return 0;
  }
  const int rows = static_cast<int>(rect.bottom - rect.top + 1);
  const int cols = static_cast<int>(rect.right - rect.left + 1);
  Vomb::CMat<unsigned char> view(rows, cols, 1, width,
                                 page + static_cast<int>(rect.left) + static_cast<long long>(width) * rect.top);
  Windows cut = squeeze ? NormalizeTest_Squeezeimage(view, {engine->width, engine->height}, windows, offset, *squeeze)
                        : NormalizeTest(view, {engine->width, engine->height}, windows, offset);
  int label = -1;
  PredictByOffsetAndConfidence(engine, rotation, cut, &label, &confidence, true);
  ParseLabel(label, &category, &direction);
  return 0;
}

}  // namespace

int RotationLabel(int j, int rotationOutputs) {
  if (j < kLabels) return kRotationMap[j];
  // Beyond the script labels the outputs pair up (25, 26), (27, 28), ...; a
  // last one without a partner counts for label 0.
  const int partner = (j - kLabels) % 2 == 0 ? j + 1 : j - 1;
  return partner < rotationOutputs ? partner : 0;
}

CnnEngine* VOMBCNN_Init(const char* directory, const char* modelPattern) {
  if (!directory || !modelPattern || !OneStringConversion(modelPattern)) throw cnn::kLoadFailed;
  char path[1024];
  const int n = std::snprintf(path, sizeof path, modelPattern, directory);
  if (n < 0 || n >= static_cast<int>(sizeof path)) throw cnn::kLoadFailed;  // a cut path names another file
  const std::string weights = std::string(directory) + "/model/weights";
  auto engine = std::make_unique<CnnEngine>();
  auto classifier = std::make_unique<cnn::Classifier>(path, weights);
  engine->height = classifier->m_options.GetOption<int>(1, "height");
  engine->width = classifier->m_options.GetOption<int>(1, "width");
  engine->votes = classifier->m_options.GetOption<int>(classifier->m_options.m_global, "votes");
  // The merge and the label table index the 25 script labels of every network.
  if (classifier->OutputCount() < kLabels) throw cnn::kLoadFailed;
  engine->classifier = classifier.release();
  return engine.release();
}

void VOMBCNN_Release(CnnEngine* engine) {
  if (!engine) return;
  delete engine->classifier;
  delete engine;
}

int VOMBCNN_CheckRotation(const CnnEngine* engine, const CnnEngine* rotation) {
  if (!engine || !engine->classifier) return cnn::kLoadFailed;
  if (!rotation) return 0;
  if (!rotation->classifier) return cnn::kLoadFailed;
  const int k = rotation->classifier->OutputCount();
  return k >= kLabels && k <= engine->classifier->OutputCount() ? 0 : cnn::kLoadFailed;
}

int VOMBCNN_script_orientation(CnnEngine* engine, CnnEngine* rotation, unsigned char* page, int width, int height,
                               tagRECT rect, int& category, int& direction, float& confidence, int offset,
                               int windows) {
  return Classify(engine, rotation, page, width, height, rect, category, direction, confidence, offset, windows,
                  nullptr);
}

int VOMBCNN_script_orientation_squeezeimage(CnnEngine* engine, CnnEngine* rotation, unsigned char* page, int width,
                                            int height, tagRECT rect, int& category, int& direction, float& confidence,
                                            int offset, int windows, float squeeze) {
  return Classify(engine, rotation, page, width, height, rect, category, direction, confidence, offset, windows,
                  &squeeze);
}

std::vector<Vomb::CMat<float>> NormalizeTest(const Vomb::CMat<unsigned char>& patch, Vomb::CSize<int> input,
                                             int windows, int offset) {
  return Normalize(patch, input, windows, offset, nullptr);
}

std::vector<Vomb::CMat<float>> NormalizeTest_Squeezeimage(const Vomb::CMat<unsigned char>& patch,
                                                          Vomb::CSize<int> input, int windows, int offset,
                                                          float squeeze) {
  return Normalize(patch, input, windows, offset, &squeeze);
}

void PredictByOffsetAndConfidence(CnnEngine* engine, CnnEngine* rotation, std::vector<Vomb::CMat<float>>& windows,
                                  int* label, float* confidence, bool useRotation) {
  const std::vector<cnn::Ranking> first = engine->classifier->Classify(windows);
  if (first.empty()) return;
  const size_t L = first[0].size();
  std::vector<double> sum(L, 0.0);
  for (const cnn::Ranking& r : first)
    for (const auto& [j, score] : r) sum[j] += score;
  if (rotation && useRotation) {
    const std::vector<cnn::Ranking> second = rotation->classifier->Classify(windows);
    for (const cnn::Ranking& r : second)
      for (const auto& [j, score] : r) {
        const int m = RotationLabel(j, static_cast<int>(r.size()));
        if (m >= 0 && static_cast<size_t>(m) < L) sum[m] += score;  // the load check keeps m inside
      }
  }
  size_t best = 0;
  for (size_t j = 1; j < L; ++j)
    if (sum[j] > sum[best]) best = j;
  *label = static_cast<int>(best);
  *confidence = static_cast<float>(sum[best] / first.size());
}

void ParseLabel(int label, int* category, int* direction) {
  *category = label;
  if (label >= 0 && label < kLabels)
    *direction = kDirection[label];
  else if (label >= kLabels)
    *direction = label % 2 ? 0 : 2;
  else
    *direction = -1;
}
