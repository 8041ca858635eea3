#include "text_detector.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "unit_log.h"

namespace {

constexpr int kChannels = 4;
constexpr int kMaxWindowHeight = 16;      // the unit scales each line to an 18-pixel strip
constexpr int kMaxFeatures = 2;           // a stage keeps its feature values in two slots
constexpr int kMaxWindowWidth = 1 << 16;  // window sums stay within int

// Reads the little-endian values of model.dat; every read is checked
// against what is left of the file, so no count can ask for more than it holds.
class Reader {
 public:
  Reader(FILE* f, long size) : m_file(f), m_left(size) {}
  bool Int(int& v) { return Raw(&v); }
  bool Float(float& v) { return Raw(&v); }
  // A count of n values of 4 bytes each that the rest of the file can hold.
  bool Count(int& n, long perItem) { return Int(n) && n >= 0 && static_cast<long>(n) * perItem <= m_left; }
  template <class T>
  bool Array(T* dst, int n) {
    for (int i = 0; i < n; ++i)
      if (!Raw(&dst[i])) return false;
    return true;
  }

 private:
  template <class T>
  bool Raw(T* v) {
    static_assert(sizeof(T) == 4, "model values are 4 bytes");
    unsigned char b[4];
    if (m_left < 4 || std::fread(b, 1, 4, m_file) != 4) return false;
    m_left -= 4;
    const uint32_t bits = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    std::memcpy(v, &bits, 4);
    return true;
  }
  FILE* m_file;
  long m_left;
};

void FreeStage(WEAKCLASSIFIER& s) {
  for (int i = 0; s.features && i < s.featureCount; ++i) {
    delete[] s.features[i].array0;
    delete[] s.features[i].array1;
  }
  delete[] s.features;
  delete[] s.tree;
  delete[] s.leaves;
  s = WEAKCLASSIFIER{};
}

bool LoadFeature(FEATURE& f, Reader& in, int W, int H) {
  SUBWINDOW& r = f.rect;
  if (!(in.Int(r.unused0) && in.Int(r.unused1) && in.Int(r.x) && in.Int(r.y) && in.Int(r.w) && in.Int(r.h) &&
        in.Int(r.unused2)))
    return false;
  if (!in.Count(f.count, 8) || !in.Int(f.unused0) || !in.Int(f.unused1) || !in.Int(f.channel) || !in.Int(f.unused2) ||
      !in.Int(f.unused3))
    return false;
  f.array0 = new int[f.count];
  f.array1 = new int[f.count];
  if (!in.Array(f.array0, f.count) || !in.Array(f.array1, f.count)) return false;
  // The rectangle must lie inside the window, and name one of the four maps.
  return f.channel >= 0 && f.channel < kChannels && r.x >= 0 && r.y >= 0 && r.w >= 1 && r.h >= 1 && r.x <= W - r.w &&
         r.y <= H - r.h;
}

// Every walk from the last entry must end at a leaf: no loop, no index outside the stage.
bool TreeIsSound(const WEAKCLASSIFIER& s) {
  if (s.treeCount < 1) return false;
  for (int i = 0; i < s.treeCount; ++i) {
    const TREEENTRY& e = s.tree[i];
    if (e.feature < 0 || e.feature >= s.featureCount) return false;
    for (int child : {e.left, e.right}) {
      if (child >= s.treeCount) return false;
      if (child < 0 && -static_cast<long>(child) >= s.leafCount) return false;
    }
  }
  std::vector<char> state(s.treeCount, 0);  // 0 unseen, 1 on the path, 2 done
  std::vector<std::pair<int, int>> stack{{s.treeCount - 1, 0}};
  state[s.treeCount - 1] = 1;
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    if (next == 2) {
      state[node] = 2;
      stack.pop_back();
      continue;
    }
    const int child = next++ == 0 ? s.tree[node].left : s.tree[node].right;
    if (child < 0 || state[child] == 2) continue;
    if (state[child] == 1) return false;
    state[child] = 1;
    stack.push_back({child, 0});
  }
  return true;
}

// One stage block, checked as it is read.
bool LoadWeakClasf(WEAKCLASSIFIER& s, Reader& in, int W, int H) {
  if (!in.Int(s.value) || !in.Count(s.featureCount, 60) || s.featureCount > kMaxFeatures) return false;
  s.features = new FEATURE[s.featureCount]();
  for (int i = 0; i < s.featureCount; ++i)
    if (!LoadFeature(s.features[i], in, W, H)) return false;
  if (!in.Count(s.treeCount, 16)) return false;
  s.tree = new TREEENTRY[s.treeCount]();
  for (int i = 0; i < s.treeCount; ++i) {
    TREEENTRY& e = s.tree[i];
    if (!(in.Int(e.feature) && in.Float(e.threshold) && in.Int(e.left) && in.Int(e.right))) return false;
  }
  if (!in.Count(s.leafCount, 4)) return false;
  s.leaves = new float[s.leafCount]();
  if (!in.Array(s.leaves, s.leafCount) || !in.Array(s.tail, 10)) return false;
  return TreeIsSound(s);
}

}  // namespace

STRONGCLASSIFIER* TDInit(char* directory) {
  if (!directory) return nullptr;
  char path[260];
  const int n = std::snprintf(path, sizeof path, "%s/model.dat", directory);
  if (n < 0 || n >= static_cast<int>(sizeof path)) {
    I3Log(I3LOG_ERROR, "%s Can't find dictionary file(%s)", "Turnsense3::TDInit", directory);
    return nullptr;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), std::fclose);
  if (!file) {
    I3Log(I3LOG_ERROR, "%s Can't find dictionary file(%s)", "Turnsense3::TDInit", path);
    return nullptr;
  }
  struct stat st;
  if (fstat(fileno(file.get()), &st) != 0) return nullptr;
  Reader in(file.get(), static_cast<long>(st.st_size));
  auto* d = new STRONGCLASSIFIER{};
  bool ok = in.Int(d->width) && in.Int(d->height) && in.Int(d->header) && in.Count(d->stageCount, 4);
  // Windows of one column have no step to slide by; taller ones than the
  // strip leaves room for would read past its maps.
  ok = ok && d->width >= 2 && d->width <= kMaxWindowWidth && d->height >= 1 && d->height <= kMaxWindowHeight &&
       d->stageCount >= 1;
  if (ok) {
    d->stages = new WEAKCLASSIFIER[d->stageCount]();
    for (int i = 0; ok && i < d->stageCount; ++i) ok = LoadWeakClasf(d->stages[i], in, d->width, d->height);
  }
  if (!ok) {
    I3Log(I3LOG_ERROR, "%s Broken dictionary file(%s)", "Turnsense3::TDInit", path);
    TDRelease(d);
    return nullptr;
  }
  return d;
}

void TDRelease(void* detector) {
  auto* d = static_cast<STRONGCLASSIFIER*>(detector);
  if (!d) return;
  for (int i = 0; d->stages && i < d->stageCount; ++i) FreeStage(d->stages[i]);
  delete[] d->stages;
  delete d;
}

void GenIntMap(const unsigned char* grey, int width, int height, int* sum, int64_t* squareSum) {
  for (int y = 0; y < height; ++y) {
    int row = 0;
    int64_t rowSq = 0;
    for (int x = 0; x < width; ++x) {
      const long long i = static_cast<long long>(y) * width + x;
      row += grey[i];
      rowSq += static_cast<int64_t>(grey[i]) * grey[i];
      sum[i] = row + (y > 0 ? sum[i - width] : 0);
      squareSum[i] = rowSq + (y > 0 ? squareSum[i - width] : 0);
    }
  }
}

void GenGradMap(const unsigned char* grey, int width, int height, float** maps, int channels) {
  const long long size = static_cast<long long>(width) * height;
  for (int c = 0; c < channels; ++c) std::fill(maps[c], maps[c] + size, 0.0f);
  if (channels < kChannels || width < 3 || height < 3) return;
  for (int y = 1; y < height - 1; ++y) {
    const unsigned char* T = grey + static_cast<long long>(y - 1) * width;
    const unsigned char* M = T + width;
    const unsigned char* B = M + width;
    for (int x = 1; x < width - 1; ++x) {
      const int gx = (T[x + 1] + 2 * M[x + 1] + B[x + 1]) - (T[x - 1] + 2 * M[x - 1] + B[x - 1]);
      const int gy = (T[x - 1] + 2 * T[x] + T[x + 1]) - (B[x - 1] + 2 * B[x] + B[x + 1]);
      const long long i = static_cast<long long>(y) * width + x;
      for (int c = 0; c < kChannels; ++c) maps[c][i] = maps[c][i - 1] + maps[c][i - width] - maps[c][i - width - 1];
      const int a = std::abs(gx), b = std::abs(gy);
      const int diagonal = (gx > 0) == (gy > 0) ? 1 : 3;
      if (gy == 0) {
        maps[0][i] += a;
      } else if (gx == 0) {
        maps[2][i] += b;
      } else if (a > b) {
        maps[0][i] += a - b;
        maps[diagonal][i] += static_cast<float>(1.414 * b);
      } else if (a < b) {
        maps[2][i] += b - a;
        maps[diagonal][i] += static_cast<float>(1.414 * a);
      } else {
        maps[diagonal][i] += static_cast<float>(1.414 * a);
      }
    }
  }
  for (int c = 0; c < kChannels; ++c) {
    float* m = maps[c];
    for (int y = 0; y < height; ++y)
      m[static_cast<long long>(y) * width + width - 1] = m[static_cast<long long>(y) * width + width - 2];
    std::memcpy(m + static_cast<long long>(height - 1) * width, m + static_cast<long long>(height - 2) * width,
                sizeof(float) * width);
  }
}

FEATUREPOSITION GenPosition(const SUBWINDOW& rect, int width) {
  FEATUREPOSITION p;
  p.topLeft = rect.y * width + rect.x;
  p.topRight = p.topLeft + rect.w;
  p.bottomLeft = p.topLeft + width * rect.h;
  p.bottomRight = p.bottomLeft + rect.w;
  p.w = rect.w;
  p.h = rect.h;
  p.area = rect.w * rect.h;
  return p;
}

WINDOWRESULT* TextDetection(STRONGCLASSIFIER* detector, unsigned char* grey, int width, int height, int& count,
                            float& meanContrast) {
  count = 0;
  meanContrast = 0.0f;
  if (!detector || !grey || width < 1) return nullptr;
  const int W = detector->width, H = detector->height;
  // The windows read the maps at rows 1 and H + 1.
  if (height < H + 2) return nullptr;
  const int step = W / 2;
  const int last = width - W - 1;
  const int n = last / step + 2;
  if (n < 1) return nullptr;

  // Corner offsets for this strip width, per stage and feature; the shared model stays read-only.
  std::vector<std::vector<FEATUREPOSITION>> pos(detector->stageCount);
  for (int s = 0; s < detector->stageCount; ++s)
    for (int f = 0; f < detector->stages[s].featureCount; ++f)
      pos[s].push_back(GenPosition(detector->stages[s].features[f].rect, width));

  const size_t size = static_cast<size_t>(width) * height;
  std::vector<int> sum(size);
  std::vector<int64_t> squares(size);
  std::vector<float> gradient(size * kChannels);
  float* maps[kChannels];
  for (int c = 0; c < kChannels; ++c) maps[c] = gradient.data() + size * c;
  GenIntMap(grey, width, height, sum.data(), squares.data());
  GenGradMap(grey, width, height, maps, kChannels);

  std::unique_ptr<WINDOWRESULT[]> result(new WINDOWRESULT[n]());
  const int area = W * H;
  int counted = 0;
  for (int x = 0; last >= 0;) {
    const int r1 = width, r2 = width * (H + 1);
    const int s = sum[r2 + x + W] - sum[r1 + x + W] - sum[r2 + x] + sum[r1 + x];
    const int64_t q = squares[r2 + x + W] - squares[r1 + x + W] - squares[r2 + x] + squares[r1 + x];
    const float m = static_cast<float>(s / area);
    const float v = static_cast<float>(q / area) - m * m;
    float score = 0.0f;
    if (v >= 100) {
      const float sigma = std::sqrt(v);
      meanContrast += sigma;
      ++counted;
      const int b = width + x;
      float acc = 0.0f;
      for (int st = 0; st < detector->stageCount; ++st) {
        const WEAKCLASSIFIER& stage = detector->stages[st];
        float value[kMaxFeatures] = {0.0f, 0.0f};
        for (int f = 0; f < stage.featureCount; ++f) {
          const FEATUREPOSITION& p = pos[st][f];
          const float* G = maps[stage.features[f].channel];
          value[f] =
              (G[b + p.topLeft] + G[b + p.bottomRight] - G[b + p.topRight] - G[b + p.bottomLeft]) / p.area / sigma;
        }
        int node = stage.treeCount - 1;
        for (;;) {
          const TREEENTRY& e = stage.tree[node];
          const int child = e.threshold > value[e.feature] ? e.left : e.right;
          if (child < 0) {
            acc += stage.leaves[-child];
            break;
          }
          node = child;
        }
        if (stage.Threshold() > acc) {
          score = stage.RejectScore();
          break;
        }
        if (st == detector->stageCount - 1) score = stage.PassScore();
      }
    }
    result[count++] = {x, x + W, 1, H + 1, score};
    if (x == last) break;
    x = std::min(x + step, last);
  }
  if (counted > 0) meanContrast /= counted;
  return result.release();
}
