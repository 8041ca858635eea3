// The front end: windows, the two-classifier merge, labels, threads.
#include <gtest/gtest.h>

#include <thread>

#include "classifier_test.h"
#include "vomb_cnn.h"

using namespace classifier_test;

namespace {

struct EngineDeleter {
  void operator()(CnnEngine* e) const { VOMBCNN_Release(e); }
};
using Engine = std::unique_ptr<CnnEngine, EngineDeleter>;

Engine Load(const std::string& name, const char* pattern) {
  const std::string dir = ModelDir(name);
  return Engine(VOMBCNN_Init(dir.c_str(), pattern));
}

// A patch of r rows whose pixels differ from column to column in no regular way.
std::vector<unsigned char> Patch(int rows, int cols) {
  std::vector<unsigned char> p(static_cast<size_t>(rows) * cols);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x) p[y * cols + x] = static_cast<unsigned char>((x * x * 7 + y * 13) % 251);
  return p;
}

// The window expected at column x of a resized image: pixels less their mean.
void ExpectWindow(const Vomb::CMat<float>& window, const Vomb::CMat<unsigned char>& image, int x, int H, int W) {
  double mean = 0;
  for (int y = 0; y < H; ++y)
    for (int i = 0; i < W; ++i) mean += image.Row(y)[x + i];
  mean /= H * W;
  ASSERT_EQ(window.rows, H);
  ASSERT_EQ(window.cols, W);
  for (int y = 0; y < H; ++y)
    for (int i = 0; i < W; ++i) ASSERT_FLOAT_EQ(window.Row(y)[i], static_cast<float>(image.Row(y)[x + i] - mean)) << x;
}

constexpr int H = 8, W = 16;

TEST(VombFront, ThreeWindowsOverWPlusTen) {
  std::vector<unsigned char> px = Patch(H, W + 10);  // at the input height: the resize keeps it
  Vomb::CMat<unsigned char> patch(H, W + 10, 1, W + 10, px.data());
  const auto windows = NormalizeTest(patch, {W, H}, 3, 0);
  ASSERT_EQ(windows.size(), 3u);
  for (int k = 0; k < 3; ++k) ExpectWindow(windows[k], patch, k * 5, H, W);
}

TEST(VombFront, OneWindowOffsetAndLeftShift) {
  // Wider than the window: the window starts at the shift.
  std::vector<unsigned char> wide = Patch(H, W + 20);
  Vomb::CMat<unsigned char> widePatch(H, W + 20, 1, W + 20, wide.data());
  auto one = NormalizeTest(widePatch, {W, H}, 1, 5);
  ASSERT_EQ(one.size(), 1u);
  ExpectWindow(one[0], widePatch, 5, H, W);
  // Offset 0 and a window count of 0 give the left edge.
  ExpectWindow(NormalizeTest(widePatch, {W, H}, 0, 0)[0], widePatch, 0, H, W);
  // A shift without room for the window cuts at column 0, after the text
  // from the offset on has moved to the left edge.
  ExpectWindow(NormalizeTest(widePatch, {W, H}, 1, 20)[0], widePatch, 20, H, W);

  // Exactly the window width: the text from the offset on moves to the left edge first.
  std::vector<unsigned char> exact = Patch(H, W);
  Vomb::CMat<unsigned char> exactPatch(H, W, 1, W, exact.data());
  auto shifted = NormalizeTest(exactPatch, {W, H}, 1, 4);
  std::vector<unsigned char> moved = exact;
  for (int y = 0; y < H; ++y) std::copy(&exact[y * W + 4], &exact[y * W + W], &moved[y * W]);
  Vomb::CMat<unsigned char> movedPatch(H, W, 1, W, moved.data());
  ExpectWindow(shifted[0], movedPatch, 0, H, W);
  EXPECT_EQ(exact, Patch(H, W));  // the caller's page is left alone
}

TEST(VombFront, SqueezeForm) {
  std::vector<unsigned char> px = Patch(2 * H, 2 * (W + 20));
  Vomb::CMat<unsigned char> patch(2 * H, 2 * (W + 20), 1, 2 * (W + 20), px.data());
  // H * c / r = 36, squeezed by 0.5 to 18: three windows at 0, 1, 2.
  const auto windows = NormalizeTest_Squeezeimage(patch, {W, H}, 3, 0, 0.5f);
  Vomb::CMat<unsigned char> resized;
  Vomb::ResizeImage(patch, resized, Vomb::CSize<int>(18, H), 0);
  ASSERT_EQ(windows.size(), 3u);
  for (int k = 0; k < 3; ++k) ExpectWindow(windows[k], resized, k, H, W);
  // One window: the shift is squeezed too (H * 4 / r = 2, times 0.5 = 1).
  ExpectWindow(NormalizeTest_Squeezeimage(patch, {W, H}, 1, 4, 0.5f)[0], resized, 1, H, W);
  ExpectWindow(NormalizeTest_Squeezeimage(patch, {W, H}, 1, 0, 0.5f)[0], resized, 0, H, W);
}

struct Page {
  int width = 60, height = 30;
  std::vector<unsigned char> pixels = Patch(30, 60);
  tagRECT rect{5, 3, 44, 22};  // 20 rows, 40 columns
};

TEST(VombFront, MergeOfTwoFixedBiasModels) {
  Engine script = Load("fixed_bias", "%s/model/model.txt");
  Engine rotation = Load("fixed_bias", "%s/model/rotate_model.txt");
  ASSERT_EQ(script->height, 8);
  ASSERT_EQ(script->width, 16);
  EXPECT_EQ(script->votes, 3);
  EXPECT_EQ(VOMBCNN_CheckRotation(script.get(), rotation.get()), 0);
  Page page;
  for (int windows : {1, 3}) {
    int category = -9, direction = -9;
    float confidence = 0;
    EXPECT_EQ(VOMBCNN_script_orientation(script.get(), rotation.get(), page.pixels.data(), page.width, page.height,
                                         page.rect, category, direction, confidence, 0, windows),
              0);
    EXPECT_EQ(category, 10);
    EXPECT_EQ(direction, 0);
    EXPECT_NEAR(confidence, 2.0f, 1e-4f);  // "Latin180" of the rotation net counts for "Latin0"
    EXPECT_STREQ(CATEGORY[category], "Latin0");
    VOMBCNN_script_orientation(script.get(), nullptr, page.pixels.data(), page.width, page.height, page.rect, category,
                               direction, confidence, 2, windows);
    EXPECT_EQ(category, 10);
    EXPECT_NEAR(confidence, 1.0f, 1e-4f);
  }
  Engine swapScript = Load("fixed_bias", "%s/model/swap_model.txt");
  Engine swapRotation = Load("fixed_bias", "%s/model/swap_rotate_model.txt");
  int category = -9, direction = -9;
  float confidence = 0;
  VOMBCNN_script_orientation_squeezeimage(swapScript.get(), swapRotation.get(), page.pixels.data(), page.width,
                                          page.height, page.rect, category, direction, confidence, 0, 1, 0.8f);
  EXPECT_EQ(category, 11);
  EXPECT_EQ(direction, 2);
  EXPECT_NEAR(confidence, 2.0f, 1e-4f);
  // The rotation net's "Latin0" counts for "Latin180": the two labels tie near 1 each.
  VOMBCNN_script_orientation(script.get(), swapRotation.get(), page.pixels.data(), page.width, page.height, page.rect,
                             category, direction, confidence, 0, 1);
  EXPECT_TRUE(category == 10 || category == 11);
  EXPECT_LT(confidence, 1.01f);
}

TEST(VombFront, EqualScoresGiveTheLowerLabel) {
  Engine tie = Load("fixed_bias", "%s/model/tie_model.txt");
  std::vector<unsigned char> flat(30 * 60, 128);  // windows of zeros: the outputs are the biases alone
  int category = -9, direction = -9;
  float confidence = 0;
  VOMBCNN_script_orientation(tie.get(), nullptr, flat.data(), 60, 30, tagRECT{0, 0, 59, 29}, category, direction,
                             confidence, 0, 3);
  EXPECT_EQ(category, 3);
  EXPECT_EQ(direction, 3);
  EXPECT_NEAR(confidence, 0.5f, 1e-4f);
}

TEST(VombFront, RectangleOutsideThePageIsNoText) {
  Engine script = Load("fixed_bias", "%s/model/model.txt");
  Page page;
  const tagRECT outside[] = {{-1, 0, 10, 10}, {0, -3, 10, 10}, {50, 0, 60, 10},      {0, 20, 10, 30},
                             {10, 0, 9, 10},  {0, 10, 10, 9},  {0, 0, 1LL << 40, 10}};
  for (const tagRECT& r : outside) {
    int category = 7, direction = 7;
    float confidence = 7;
    EXPECT_EQ(VOMBCNN_script_orientation(script.get(), nullptr, page.pixels.data(), page.width, page.height, r,
                                         category, direction, confidence, 0, 1),
              0);
    EXPECT_EQ(category, -1);
    EXPECT_EQ(direction, -1);
    EXPECT_EQ(confidence, 0.0f);
  }
  int category, direction;
  float confidence;
  VOMBCNN_script_orientation(script.get(), nullptr, page.pixels.data(), page.width, page.height, tagRECT{0, 0, 59, 29},
                             category, direction, confidence, 0, 1);
  EXPECT_EQ(category, 10);  // the whole page is inside
}

TEST(VombFront, ParseLabelTable) {
  const int expected[][2] = {{0, 0},  {1, 2},  {2, 0},  {3, 3},  {4, 2},   {5, 1},  {6, 0},  {7, 2},  {10, 0},
                             {11, 2}, {12, 0}, {21, 2}, {23, 2}, {24, -1}, {25, 0}, {26, 2}, {27, 0}, {-1, -1}};
  for (const auto& e : expected) {
    int category = -9, direction = -9;
    ParseLabel(e[0], &category, &direction);
    EXPECT_EQ(category, e[0]);
    EXPECT_EQ(direction, e[1]) << e[0];
  }
  EXPECT_EQ(RotationLabel(0, 25), 1);
  EXPECT_EQ(RotationLabel(3, 25), 5);
  EXPECT_EQ(RotationLabel(24, 25), 24);
  EXPECT_EQ(RotationLabel(25, 27), 26);
  EXPECT_EQ(RotationLabel(26, 27), 25);
  EXPECT_EQ(RotationLabel(27, 29), 28);
  EXPECT_EQ(RotationLabel(28, 29), 27);
  EXPECT_EQ(RotationLabel(25, 26), 0);  // no partner
  EXPECT_EQ(RotationLabel(27, 28), 0);
}

TEST(VombFront, FixedBiasGolden) {
  const std::string dir = ModelDir("fixed_bias");
  cnn::Classifier c(dir + "/model/model.txt", dir + "/model/weights");
  const Golden in = ReadGolden(dir + "/golden/input.bin"), prob = ReadGolden(dir + "/golden/prob.bin");
  std::vector<Vomb::CMat<float>> samples;
  for (int i = 0; i < in.n; ++i) {
    Vomb::CMat<float> m(in.h, in.w, 1);
    std::copy_n(&in.values[static_cast<size_t>(i) * in.h * in.w], in.h * in.w, m.data);
    samples.push_back(m);
  }
  const auto& r = c.Classify(samples);
  for (int i = 0; i < in.n; ++i) {
    EXPECT_EQ(r[i][0].first, 10);
    for (const auto& [label, score] : r[i]) EXPECT_NEAR(score, prob.values[i * 25 + label], 1e-6f);
  }
}

TEST(VombFront, TwoThreadsOnTwoEnginesGiveTheSerialResults) {
  Engine a = Load("conv_net", "%s/model/model.txt");
  Engine b = Load("conv_net", "%s/model/model.txt");
  Page page;
  auto run = [&](CnnEngine* e, int offset) {
    std::vector<float> out;
    for (int i = 0; i < 40; ++i) {
      int category, direction;
      float confidence;
      tagRECT r = page.rect;
      r.left += i % 7;
      VOMBCNN_script_orientation(e, nullptr, page.pixels.data(), page.width, page.height, r, category, direction,
                                 confidence, offset, 1 + i % 3);
      out.push_back(static_cast<float>(category));
      out.push_back(confidence);
    }
    return out;
  };
  const std::vector<float> serialA = run(a.get(), 0), serialB = run(b.get(), 3);
  std::vector<float> threadA, threadB;
  std::thread ta([&] { threadA = run(a.get(), 0); });
  std::thread tb([&] { threadB = run(b.get(), 3); });
  ta.join();
  tb.join();
  EXPECT_EQ(threadA, serialA);
  EXPECT_EQ(threadB, serialB);
}

TEST(VombFront, RefusedPatternsAndPaths) {
  const std::string dir = ModelDir("fixed_bias");
  const std::string longDir = dir + std::string(1100, '/');
  struct Case {
    std::string directory;
    const char* pattern;
  } cases[] = {{dir, "%s/model/%s.txt"},
               {dir, "model.txt"},
               {dir, "%s/model/nothing.txt"},
               {longDir, "%s/model/model.txt"},
               {dir, "%d/model.txt"}};
  for (const Case& c : cases) {
    try {
      VOMBCNN_Release(VOMBCNN_Init(c.directory.c_str(), c.pattern));
      ADD_FAILURE() << c.pattern;
    } catch (int code) {
      EXPECT_EQ(code, 55);
    }
  }
  // The same directory with slashes that still fit loads.
  Engine ok(VOMBCNN_Init((dir + "//").c_str(), "%s/model/model.txt"));
  EXPECT_NE(ok, nullptr);
}

}  // namespace
