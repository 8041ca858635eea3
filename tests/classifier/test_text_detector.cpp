// The boosted text detector on the one-stage fixture model.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "classifier_test.h"
#include "text_detector.h"

using namespace classifier_test;

namespace {

struct DetectorDeleter {
  void operator()(STRONGCLASSIFIER* d) const { TDRelease(d); }
};
using Detector = std::unique_ptr<STRONGCLASSIFIER, DetectorDeleter>;

Detector Load() {
  std::string dir = ModelDir("detector");
  return Detector(TDInit(dir.data()));
}

constexpr int kStrip = 18;  // the unit's line height

enum Pattern { kFlat, kVerticalBars, kHorizontalBars };

std::vector<unsigned char> Strip(int width, Pattern p) {
  std::vector<unsigned char> s(static_cast<size_t>(width) * kStrip, 200);
  for (int y = 0; y < kStrip; ++y)
    for (int x = 0; x < width; ++x) {
      if (p == kVerticalBars) s[y * width + x] = (x / 2) % 2 ? 255 : 0;
      if (p == kHorizontalBars) s[y * width + x] = (y / 2) % 2 ? 255 : 0;
    }
  return s;
}

struct Result {
  std::vector<WINDOWRESULT> windows;
  bool null = true;
  float contrast = -1;
};

Result Detect(STRONGCLASSIFIER* d, std::vector<unsigned char> strip, int width, int height = kStrip) {
  Result r;
  int count = -1;
  WINDOWRESULT* w = TextDetection(d, strip.data(), width, height, count, r.contrast);
  r.null = w == nullptr;
  if (w) r.windows.assign(w, w + count);
  delete[] w;
  return r;
}

TEST(TextDetector, LoadsTheFixture) {
  Detector d = Load();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->width, 20);
  EXPECT_EQ(d->height, 16);
  EXPECT_EQ(d->stageCount, 1);
  EXPECT_EQ(d->stages[0].featureCount, 1);
  EXPECT_FLOAT_EQ(d->stages[0].Threshold(), 1.0f);
  EXPECT_FLOAT_EQ(d->stages[0].PassScore(), 1.0f);
  EXPECT_FLOAT_EQ(d->stages[0].RejectScore(), -1.0f);
}

TEST(TextDetector, WindowPlaces) {
  Detector d = Load();
  struct Case {
    int width;
    bool null;
    std::vector<int> lefts;
  } cases[] = {{45, false, {0, 10, 20, 24}}, {21, false, {0}}, {20, false, {}}, {5, false, {}}, {1, true, {}}};
  for (const Case& c : cases) {
    const Result r = Detect(d.get(), Strip(c.width, kVerticalBars), c.width);
    EXPECT_EQ(r.null, c.null) << c.width;
    std::vector<int> lefts;
    for (const WINDOWRESULT& w : r.windows) {
      lefts.push_back(w.left);
      EXPECT_EQ(w.right, w.left + 20);
      EXPECT_EQ(w.top, 1);
      EXPECT_EQ(w.bottom, 17);
    }
    EXPECT_EQ(lefts, c.lefts) << c.width;
  }
  // A strip lower than the window and its border reads nothing.
  EXPECT_TRUE(Detect(d.get(), Strip(45, kVerticalBars), 45, 17).null);
}

TEST(TextDetector, Scores) {
  Detector d = Load();
  // Vertical strokes: the feature is far above its threshold and the leaf
  // sum equals the stage threshold, which passes.
  const Result text = Detect(d.get(), Strip(45, kVerticalBars), 45);
  ASSERT_EQ(text.windows.size(), 4u);
  for (const WINDOWRESULT& w : text.windows) EXPECT_EQ(w.score, 1.0f);
  // Windows of 0/255 halves: mean 127, variance 32512 - 127^2 (integer sums).
  EXPECT_NEAR(text.contrast, std::sqrt(32512.0f - 127.0f * 127.0f), 1e-3f);
  // Horizontal rules have no horizontal gradient: rejected.
  const Result rules = Detect(d.get(), Strip(45, kHorizontalBars), 45);
  for (const WINDOWRESULT& w : rules.windows) EXPECT_EQ(w.score, -1.0f);
  // A flat strip: every score 0, contrast 0.
  const Result flat = Detect(d.get(), Strip(45, kFlat), 45);
  ASSERT_EQ(flat.windows.size(), 4u);
  for (const WINDOWRESULT& w : flat.windows) EXPECT_EQ(w.score, 0.0f);
  EXPECT_EQ(flat.contrast, 0.0f);
  EXPECT_EQ(Detect(nullptr, Strip(45, kFlat), 45).null, true);
}

TEST(TextDetector, MapsAgainstDirectReferences) {
  const int w = 23, h = 9;
  std::mt19937 gen(7);
  std::vector<unsigned char> g(w * h);
  for (auto& v : g) v = static_cast<unsigned char>(gen() % 256);
  std::vector<int> sum(w * h);
  std::vector<int64_t> sq(w * h);
  GenIntMap(g.data(), w, h, sum.data(), sq.data());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int s = 0;
      int64_t q = 0;
      for (int yy = 0; yy <= y; ++yy)
        for (int xx = 0; xx <= x; ++xx) s += g[yy * w + xx], q += g[yy * w + xx] * g[yy * w + xx];
      ASSERT_EQ(sum[y * w + x], s);
      ASSERT_EQ(sq[y * w + x], q);
    }

  std::vector<float> storage(4 * w * h, -1.0f);
  float* maps[4] = {&storage[0], &storage[w * h], &storage[2 * w * h], &storage[3 * w * h]};
  GenGradMap(g.data(), w, h, maps, 4);
  // Direct: each interior pixel's share per direction, summed over the rectangle.
  std::vector<double> share(4 * w * h, 0.0);
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) {
      auto P = [&](int dy, int dx) { return static_cast<int>(g[(y + dy) * w + x + dx]); };
      const int gx = (P(-1, 1) + 2 * P(0, 1) + P(1, 1)) - (P(-1, -1) + 2 * P(0, -1) + P(1, -1));
      const int gy = (P(-1, -1) + 2 * P(-1, 0) + P(-1, 1)) - (P(1, -1) + 2 * P(1, 0) + P(1, 1));
      const int a = std::abs(gx), b = std::abs(gy), diag = (gx > 0) == (gy > 0) ? 1 : 3;
      double* s = &share[y * w + x];
      const size_t plane = w * h;
      if (gy == 0)
        s[0] += a;
      else if (gx == 0)
        s[2 * plane] += b;
      else if (a > b)
        s[0] += a - b, s[diag * plane] += 1.414 * b;
      else if (a < b)
        s[2 * plane] += b - a, s[diag * plane] += 1.414 * a;
      else
        s[diag * plane] += 1.414 * a;
    }
  for (int c = 0; c < 4; ++c)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int ry = std::min(y, h - 2), rx = std::min(x, w - 2);  // last row and column repeat
        double expect = 0;
        for (int yy = 0; yy <= ry; ++yy)
          for (int xx = 0; xx <= rx; ++xx) expect += share[c * w * h + yy * w + xx];
        ASSERT_NEAR(maps[c][y * w + x], expect, 1e-4 * std::max(1.0, expect)) << c << " " << y << " " << x;
      }
}

TEST(TextDetector, Position) {
  const FEATUREPOSITION p = GenPosition(SUBWINDOW{0, 0, 3, 2, 5, 4, 0}, 45);
  EXPECT_EQ(p.topLeft, 2 * 45 + 3);
  EXPECT_EQ(p.topRight, p.topLeft + 5);
  EXPECT_EQ(p.bottomLeft, p.topLeft + 45 * 4);
  EXPECT_EQ(p.bottomRight, p.bottomLeft + 5);
  EXPECT_EQ(p.area, 20);
}

}  // namespace
