#include <gtest/gtest.h>

#include <map>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "labelling.h"

using namespace turnsense;

namespace {

struct Picture {
  int w, h;
  std::vector<uint8_t> px;  // ink 0
};

Picture Draw(const std::vector<std::string>& rows) {
  Picture p{int(rows[0].size()), int(rows.size()), {}};
  for (const auto& r : rows)
    for (char c : r) p.px.push_back(c == '#' ? 0 : 255);
  return p;
}

// Our labels must be those of OpenCV's 8-connected labelling, renumbered
// by each component's first pixel in raster order.
void ExpectSameAsOpenCv(const Picture& in, const std::vector<int32_t>& ours, int n) {
  Picture framed = in;
  CLbl().RemoveEdgePixels(framed.w, framed.h, framed.px.data());
  cv::Mat ink(framed.h, framed.w, CV_8UC1);
  for (int i = 0; i < framed.w * framed.h; ++i) ink.data[i] = framed.px[size_t(i)] == 0;
  cv::Mat ref;
  const int cv_n = cv::connectedComponents(ink, ref, 8, CV_32S) - 1;
  ASSERT_EQ(n, cv_n);
  std::map<int, int> to_ours;
  int next = 1;
  for (int i = 0; i < framed.w * framed.h; ++i) {
    const int r = reinterpret_cast<int32_t*>(ref.data)[i];
    if (r == 0) {
      ASSERT_EQ(ours[size_t(i)], 0);
      continue;
    }
    auto it = to_ours.find(r);
    if (it == to_ours.end()) it = to_ours.emplace(r, next++).first;
    ASSERT_EQ(ours[size_t(i)], it->second) << "pixel " << i;
  }
}

Picture Random(int w, int h, unsigned seed, double ink) {
  std::mt19937 rng(seed);
  std::bernoulli_distribution d(ink);
  Picture p{w, h, std::vector<uint8_t>(size_t(w) * h)};
  for (auto& v : p.px) v = d(rng) ? 0 : 255;
  return p;
}

}  // namespace

TEST(Labelling, WholePageAndPixelListAgreeWithOpenCv) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const Picture p = Random(37 + int(seed) * 5, 29 + int(seed) * 3, seed, 0.25 + 0.08 * seed);
    Picture a = p;
    std::vector<int32_t> map(a.px.size(), -7), counts(a.px.size() + 1, 0);
    const int n = CLbl().LabelingScan8(a.w, a.h, a.px.data(), map.data(), counts.data());
    ExpectSameAsOpenCv(p, map, n);

    Picture b = p;
    std::vector<int32_t> pos(b.px.size()), map2(b.px.size(), 0), counts2(b.px.size() + 1, 0);
    const int listed = CachePixels2(b.w, b.h, b.px.data(), 0, pos.data());
    const int n2 = LabelObjects2(listed, pos.data(), b.w, b.px.data(), map2.data(), counts2.data());
    ASSERT_EQ(n2, n);
    for (int i = 0; i < listed; ++i) ASSERT_EQ(map2[size_t(pos[size_t(i)])], map[size_t(pos[size_t(i)])]);
    for (int k = 1; k <= n; ++k) ASSERT_EQ(counts2[size_t(k)], counts[size_t(k)]);

    std::vector<rect> boxes(size_t(n) + 1), boxes2(size_t(n) + 1);
    CLbl().GetBound(a.w, a.h, map.data(), n, boxes.data());
    BoundObjects2(listed, pos.data(), b.w, map2.data(), n, boxes2.data());
    for (int k = 1; k <= n; ++k) {
      EXPECT_EQ(boxes[size_t(k)].left, boxes2[size_t(k)].left);
      EXPECT_EQ(boxes[size_t(k)].bottom, boxes2[size_t(k)].bottom);
    }
  }
}

TEST(Labelling, ShapesFramesAndEmptyPages) {
  // A U whose arms meet only in a lower row, a stroke pair touching at a
  // corner, ink on the frame.
  // clang-format off
  Picture p = Draw({"#...........",
                    "..#...#.....",
                    "..#...#..#..",
                    "..#...#...#.",
                    "..#####.....",
                    "............",
                    "..........##"});
  // clang-format on
  std::vector<int32_t> map(p.px.size()), counts(p.px.size() + 1, 0);
  const int n = CLbl().LabelingScan8(p.w, p.h, p.px.data(), map.data(), counts.data());
  ASSERT_EQ(n, 2);                         // U, and the diagonal pair; frame ink gone
  EXPECT_EQ(map[size_t(1 * p.w + 2)], 1);  // left arm
  EXPECT_EQ(map[size_t(1 * p.w + 6)], 1);  // right arm joins it
  EXPECT_EQ(map[size_t(2 * p.w + 9)], 2);
  EXPECT_EQ(map[size_t(3 * p.w + 10)], 2);  // corner touch
  EXPECT_EQ(map[size_t(6 * p.w + 10)], 0);  // frame row
  EXPECT_EQ(p.px[0], 255);
  EXPECT_EQ(counts[1], 11);
  EXPECT_EQ(counts[2], 2);

  Picture empty = Draw({"....", "....", "...."});
  std::vector<int32_t> m2(12), c2(4, 42);
  EXPECT_EQ(CLbl().LabelingScan8(4, 3, empty.px.data(), m2.data(), c2.data()), 0);
  EXPECT_EQ(c2[1], 42);

  Picture flat = Draw({"####", "####"});
  std::vector<int32_t> pos(8, -1);
  EXPECT_EQ(CachePixels2(4, 2, flat.px.data(), 0, pos.data()), 0);
  EXPECT_EQ(pos[0], -1);
  EXPECT_EQ(flat.px[5], 255);
}
