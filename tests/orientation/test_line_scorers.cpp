// The per-line scorers against a recording classifier: which image, engine
// pair, patch start and window count each one asks about, and what it makes
// of the answers. The scorers' binarization runs through the staged
// libhelper.so and libopencv.
#include <gtest/gtest.h>

#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "../binarization/engine_fixture.h"
#include "failing_new.h"
#include "line_patches.h"
#include "line_recognition.h"
#include "line_scorers.h"
#include "recording_classifier.h"

using namespace turnsense;

namespace {

char g_engineTags[4];
CnnEngine* Engine(int i) { return reinterpret_cast<CnnEngine*>(&g_engineTags[i]); }

enum Paper { kPlain, kTextured, kDark };

// A page (factor 1) with one line of 20 glyphs, 16 pixels apart, on paper of
// the given kind. The eighth glyph is faint: Otsu's threshold loses it, the
// engine's binarization keeps some of it, so the two two-level crops differ
// and a patch start shows which of them it came from. A vertical line is
// drawn to read upwards, as the crop's quarter turn expects.
struct LinePage {
  int w, h;
  bool vertical;
  std::vector<uint8_t> px;
  TEXTLINE line{};
  tagRECT cut;  // what the scorers cut: one pixel more across the line

  explicit LinePage(Paper paper, bool isVertical = false, bool glyphs = true, int glyphWidth = 10, int glyphRows = 14)
      : w(isVertical ? 120 : 400), h(isVertical ? 400 : 120), vertical(isVertical) {
    px.resize(size_t(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        px[size_t(y) * w + x] = paper == kPlain ? 225 : paper == kDark ? 55 : ((x / 2 + y / 2) % 2 ? 180 : 240);
    const uint8_t ink = paper == kDark ? 5 : 30;
    // Along the line u runs 20..339, across it v runs 40..59.
    for (int k = 0; glyphs && k < 20; ++k)
      for (int v = 43; v < 43 + glyphRows; ++v)
        for (int u = 24 + 16 * k; u < 24 + 16 * k + glyphWidth; ++u) Put(u, v, k == 7 ? 150 : ink);
    line.orientation = vertical ? 1 : 0;
    const int64_t across = 43 + glyphRows + 2;
    line.box = vertical ? tagRECT{40, 20, across, 339} : tagRECT{20, 40, 339, across};
    cut = vertical ? tagRECT{39, 20, across + 1, 339} : tagRECT{20, 39, 339, across + 1};
  }
  void Put(int u, int v, uint8_t value) {
    if (vertical)
      px[size_t(359 - u) * w + v] = value;
    else
      px[size_t(v) * w + u] = value;
  }
  // The crop of the rows (along u) from..to across the line, turned to read left to right.
  cv::Mat Crop(int64_t from, int64_t to) const {
    const tagRECT r = vertical ? tagRECT{from, cut.top, to, cut.bottom} : tagRECT{cut.left, from, cut.right, to};
    const cv::Mat page(h, w, CV_8UC1, const_cast<uint8_t*>(px.data()));
    cv::Mat out = page(cv::Rect(int(r.left), int(r.top), int(r.right - r.left + 1), int(r.bottom - r.top + 1))).clone();
    if (vertical) cv::rotate(out, out, cv::ROTATE_90_CLOCKWISE);
    return out;
  }
  cv::Mat Grey() const { return vertical ? Crop(cut.left, cut.right) : Crop(cut.top, cut.bottom); }
};

// What a recorded image is, against the expected grey crop: "G" the crop,
// "B2" its Otsu image, "~B2" that inverted, "B1" another two-level image. The
// labelling whitens a two-level image's frame, so only the inside counts.
std::string Kind(const recording::Call& c, const cv::Mat& grey) {
  if (c.w != grey.cols || c.h != grey.rows) return "size " + std::to_string(c.w) + "x" + std::to_string(c.h);
  if (std::equal(c.image.begin(), c.image.end(), grey.data)) return "G";
  cv::Mat otsu;
  cv::threshold(grey, otsu, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  bool same = true, inverted = true, twoLevel = true;
  for (int y = 1; y < c.h - 1; ++y)
    for (int x = 1; x < c.w - 1; ++x) {
      const uint8_t v = c.image[size_t(y) * c.w + x], o = otsu.at<uint8_t>(y, x);
      same &= v == o, inverted &= v == 255 - o, twoLevel &= v == 0 || v == 255;
    }
  return same ? "B2" : inverted ? "~B2" : twoLevel ? "B1" : "?";
}

// "pair image start/windows" per call, e.g. "1 G 132/1".
std::string Calls(const cv::Mat& grey) {
  std::string out;
  for (const recording::Call& c : recording::calls) {
    const int pair = c.script == Engine(0) && c.rotation == Engine(1)   ? 1
                     : c.script == Engine(2) && c.rotation == Engine(3) ? 2
                                                                        : 0;
    EXPECT_TRUE(c.left == 0 && c.top == 0 && c.right == c.w - 1 && c.bottom == c.h - 1) << "the whole crop";
    out += (out.empty() ? "" : ", ") + std::to_string(pair) + " " + Kind(c, grey) + " " + std::to_string(c.start) +
           "/" + std::to_string(c.windows);
  }
  return out;
}

// Where GetPatchPos puts the patch on a recorded two-level image.
int CentreStart(const recording::Call& c) {
  std::vector<uint8_t> image = c.image;
  int start = -1;
  GetPatchPos(image.data(), c.w, c.h, start);
  return start;
}

int Single(const LinePage& page, bool validate, LineAnswer& a, int& answered, int& wide) {
  auto fn = validate ? BaselineScore_cnn : BaselineScore_cnn_novalidate;
  TEXTLINE line = page.line;
  return fn(Engine(0), Engine(1), Engine(2), Engine(3), const_cast<uint8_t*>(page.px.data()), page.w, page.h, line, 1,
            nullptr, nullptr, 0, a.confidence, a.category, a.direction, answered, wide);
}

using SixScorer = decltype(&BaselineScore_cnn_combine_complex);

int Six(SixScorer fn, const LinePage& page, LineAnswer* answers, int& answered) {
  return fn(Engine(0), Engine(1), Engine(2), Engine(3), const_cast<uint8_t*>(page.px.data()), page.w, page.h, page.line,
            1, nullptr, nullptr, 0, answers, answered);
}

int ThreePatch(const LinePage& page, LineAnswer* answers, int& effective, int validate) {
  return BaselineScore_cnn_3patch_complex(Engine(0), Engine(1), Engine(2), Engine(3),
                                          const_cast<uint8_t*>(page.px.data()), page.w, page.h, page.line,
                                          page.line.orientation, 1, nullptr, nullptr, 1, answers, effective, validate);
}

class Scorers : public BoundEngine {
 protected:
  void SetUp() override { recording::Reset(); }
};

}  // namespace

TEST_F(Scorers, OnePatchTakesItsImageAndPairFromThePaper) {
  // Plain paper: the grey crop with the first pair, the start found on the
  // Otsu image (which lost the faint glyph at 116, so 132 is nearest the
  // centre). Textured: the engine's image with the second pair and its own
  // start. Dark: the Otsu image with the second pair.
  struct Case {
    Paper paper;
    const char* image;
    int pair;
  };
  for (const Case& c : {Case{kPlain, "G", 1}, Case{kTextured, "B1", 2}, Case{kDark, "B2", 2}})
    for (bool vertical : {false, true})
      for (bool validate : {true, false}) {
        SCOPED_TRACE(std::to_string(c.paper) + (vertical ? " vertical" : " horizontal") +
                     (validate ? "" : " unvalidated"));
        recording::Reset();
        const LinePage page(c.paper, vertical);
        LineAnswer a{};
        int answered = 0, wide = 7;
        ASSERT_EQ(Single(page, validate, a, answered, wide), 0);
        ASSERT_EQ(recording::calls.size(), 1u);
        const recording::Call& call = recording::calls[0];
        const int start = c.paper == kTextured ? CentreStart(call) : 132;
        EXPECT_EQ(Calls(page.Grey()), std::to_string(c.pair) + " " + c.image + " " + std::to_string(start) + "/1");
        if (c.paper == kTextured) {
          EXPECT_NE(start, 132) << "the engine's image keeps part of the faint glyph";
        }
        EXPECT_EQ(call.squeeze, 0.0f);
        EXPECT_EQ(a.category, 10);
        EXPECT_EQ(a.direction, vertical ? 1 : 0);
        EXPECT_EQ(answered, 1);
        // The characters cover far more than a third of the line.
        EXPECT_EQ(wide, validate ? 1 : 0);
      }
}

TEST_F(Scorers, TwoEnginesAskTheEngineImageFirstWithThreeWindows) {
  const LinePage page(kPlain);
  recording::answer = [](const recording::Call&, size_t i) {
    return recording::Answer{i == 0 ? 11 : 10, i == 0 ? 2 : 0, 0.5f};
  };
  LineAnswer answers[2] = {};
  int answered = 0;
  ASSERT_EQ(
      BaselineScore_cnn_combine_v1(Engine(0), Engine(1), Engine(2), Engine(3), const_cast<uint8_t*>(page.px.data()),
                                   page.w, page.h, page.line, 1, nullptr, nullptr, 0, answers, answered),
      0);
  // Mode 1: the first window of 84 columns holding the most glyph width, at the first glyph.
  EXPECT_EQ(Calls(page.Grey()), "2 B1 4/3, 1 G 4/3");
  EXPECT_EQ(answers[1].direction, 2);
  EXPECT_EQ(answers[1].category, 11);
  EXPECT_EQ(answers[0].direction, 0);
  EXPECT_EQ(answered, 1);
}

TEST_F(Scorers, SixPatchesTakeCentreLeftAndRightOnBothImages) {
  struct Case {
    const char* name;
    SixScorer fn;
    const char* calls;
  };
  // Equal speck counts (none) keep the Otsu image; without validation the
  // engine's image is taken; reversed, the inverted Otsu image, whose only
  // component is the paper, so every start is its left edge.
  const Case cases[] = {
      {"complex", BaselineScore_cnn_combine_complex, "1 G 132/1, 2 B2 132/1, 1 G 4/1, 2 B2 4/1, 1 G 164/1, 2 B2 164/1"},
      {"unvalidated", BaselineScore_cnn_combine_complex_novalidate,
       "1 G 132/1, 2 B1 132/1, 1 G 4/1, 2 B1 4/1, 1 G 164/1, 2 B1 164/1"},
      {"reverse", BaselineScore_cnn_combine_complex_reverse,
       "1 G 1/1, 2 ~B2 1/1, 1 G 1/1, 2 ~B2 1/1, 1 G 1/1, 2 ~B2 1/1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recording::Reset();
    const LinePage page(kPlain);
    LineAnswer answers[6] = {};
    int answered = 0;
    ASSERT_EQ(Six(c.fn, page, answers, answered), 0);
    EXPECT_EQ(Calls(page.Grey()), c.calls);
  }
}

TEST_F(Scorers, SpecksOnTheOtsuImageMakeTheComplexScorerUseTheEngineImage) {
  LinePage page(kPlain);
  // Mid-grey dots on the paper: Otsu's threshold (between ink and paper)
  // keeps them as specks; the engine's binarization drops them.
  for (int u = 30; u < 330; u += 9) page.Put(u, 41, 90);
  LineAnswer answers[6] = {};
  int answered = 0;
  ASSERT_EQ(Six(BaselineScore_cnn_combine_complex, page, answers, answered), 0);
  ASSERT_EQ(recording::calls.size(), 6u);
  for (size_t i = 1; i < 6; i += 2) EXPECT_EQ(Kind(recording::calls[i], page.Grey()), "B1") << i;
}

TEST_F(Scorers, AVerticalLineTurnsEveryDirectionOnePlace) {
  for (int d : {-1, 0, 1, 2, 3})
    for (bool vertical : {false, true}) {
      SCOPED_TRACE(std::to_string(d) + (vertical ? " vertical" : " horizontal"));
      const LinePage page(kPlain, vertical, true, 4, 20);
      const int want = d == -1 ? -1 : vertical ? (d + 1) % 4 : d;
      recording::Reset();
      recording::answer = [d](const recording::Call&, size_t) { return recording::Answer{10, d, 0.9f}; };
      LineAnswer one{}, six[6], three[3];
      int answered = 0, wide = 0, effective = 0;
      ASSERT_EQ(Single(page, true, one, answered, wide), 0);
      EXPECT_EQ(one.direction, want);
      EXPECT_EQ(answered, d == -1 ? 0 : 1);
      answered = 0;
      ASSERT_EQ(Six(BaselineScore_cnn_combine_complex_reverse, page, six, answered), 0);
      for (const LineAnswer& a : six) EXPECT_EQ(a.direction, want);
      EXPECT_EQ(answered, d == -1 ? 0 : 1);
      ASSERT_EQ(ThreePatch(page, three, effective, 1), 0);
      for (const LineAnswer& a : three) EXPECT_EQ(a.direction, want);
      EXPECT_EQ(effective, d == -1 ? 0 : 1);
    }
}

TEST_F(Scorers, ALineWithoutTextAnswersBackgroundAndLeavesTheAnsweredFlag) {
  // 60 x 22 and blank: neither long enough nor holding characters.
  for (int preset : {0, 1}) {
    SCOPED_TRACE(preset);
    recording::Reset();
    LinePage page(kPlain, false, false);
    page.line.box.right = 79;
    LineAnswer one{0.5f, 3, 2}, six[6], three[3];
    for (LineAnswer& a : six) a = {0.5f, 3, 2};
    int answered = preset, wide = 7;
    ASSERT_EQ(Single(page, true, one, answered, wide), 0);
    EXPECT_EQ(one.category, 24);
    EXPECT_EQ(one.direction, -1);
    EXPECT_EQ(answered, preset);
    EXPECT_EQ(wide, 0);
    for (SixScorer fn : {BaselineScore_cnn_combine_complex, BaselineScore_cnn_combine_complex_reverse}) {
      ASSERT_EQ(Six(fn, page, six, answered), 0);
      for (const LineAnswer& a : six) EXPECT_TRUE(a.category == 24 && a.direction == -1);
      EXPECT_EQ(answered, preset);
    }
    // The three-patch scorer's test is the band's height: 14 rows are too few.
    const LinePage band(kPlain);
    int effective = preset;
    ASSERT_EQ(ThreePatch(band, three, effective, 1), 0);
    for (const LineAnswer& a : three) EXPECT_TRUE(a.category == 24 && a.direction == -1);
    EXPECT_EQ(effective, preset);
    EXPECT_TRUE(recording::calls.empty());
  }
}

TEST_F(Scorers, ThreePatchesSqueezeTheTextBandWithTheFirstPair) {
  // Glyphs 4 wide on a band of their 14 rows, whose white frame leaves 12:
  // height / width 3 on every one, squeezed by 3 / 1.7.
  for (bool vertical : {false, true}) {
    SCOPED_TRACE(vertical ? "vertical" : "horizontal");
    recording::Reset();
    const LinePage page(kPlain, vertical, true, 4);
    LineAnswer three[3];
    int effective = 0;
    ASSERT_EQ(ThreePatch(page, three, effective, 0), 0);
    ASSERT_EQ(recording::calls.size(), 3u);
    // The band: the 14 glyph rows, not the widened line.
    const cv::Mat band = page.Crop(43, 56);
    for (const recording::Call& c : recording::calls) {
      EXPECT_EQ(Kind(c, band), "G");
      EXPECT_EQ(c.script, Engine(0));
      EXPECT_EQ(c.rotation, Engine(1));
      EXPECT_EQ(c.windows, 1);
      EXPECT_NEAR(c.squeeze, 3.0f / 1.7f, 1e-5);
    }
    // Patch width (81 x 14) / 21 = 54 on a crop 320 wide: the glyphs nearest
    // the targets 133 (centre), 26 (left) and 186 (right).
    EXPECT_EQ(recording::calls[0].start, 132);
    EXPECT_EQ(recording::calls[1].start, 20);
    EXPECT_EQ(recording::calls[2].start, 180);
  }
}

TEST_F(Scorers, ARaisedCodeEndsTheScorerWithWhatItHadWritten) {
  const LinePage page(kPlain);
  recording::raiseAt = 2;
  LineAnswer six[6];
  for (LineAnswer& a : six) a = {0.0f, 24, -1};
  int answered = 0;
  ASSERT_EQ(Six(BaselineScore_cnn_combine_complex, page, six, answered), 0);
  EXPECT_EQ(recording::calls.size(), 3u);
  EXPECT_EQ(six[0].direction, 0);
  EXPECT_EQ(six[1].direction, 0);
  EXPECT_EQ(six[2].direction, -1);
  EXPECT_EQ(answered, 0) << "the scorer ended before its answers were summed up";
}

TEST_F(Scorers, ACropOffThePageIsRefusedWithItsCode) {
  LinePage page(kPlain);
  page.line.box.right = 500;
  LineAnswer a{0.5f, 3, 2};
  int answered = 0, wide = 7;
  EXPECT_EQ(Single(page, true, a, answered, wide), kLimitExceeded);
  EXPECT_EQ(a.direction, 2);
  EXPECT_EQ(wide, 7);
  EXPECT_TRUE(recording::calls.empty());
}

TEST_F(Scorers, ThreePatchesKeepTheWholeLineWhenItsBandComesOutEmpty) {
  // A blank line one row thick: its three rows are equally light, so both
  // band edges move past each other.
  LinePage page(kPlain, false, false);
  page.line.box = {20, 50, 339, 50};
  LineAnswer three[3];
  int effective = 0;
  ASSERT_EQ(ThreePatch(page, three, effective, 0), 0);
  ASSERT_EQ(recording::calls.size(), 3u);
  for (const recording::Call& c : recording::calls) EXPECT_EQ(Kind(c, page.Crop(49, 51)), "G");
  EXPECT_EQ(effective, 1);
}

TEST_F(Scorers, EveryFailedAllocationEndsInNoMemoryAndFreesWhatWasTaken) {
  const LinePage page(kTextured, true, true, 4, 20);
  uint8_t* px = const_cast<uint8_t*>(page.px.data());
  const std::vector<std::pair<const char*, std::function<int()>>> scorers = {
      {"single",
       [&] {
         LineAnswer a{};
         int answered = 0, wide = 0;
         return Single(page, true, a, answered, wide);
       }},
      {"two engines",
       [&] {
         LineAnswer two[2];
         int answered = 0;
         return BaselineScore_cnn_combine_v1(Engine(0), Engine(1), Engine(2), Engine(3), px, page.w, page.h, page.line,
                                             1, nullptr, nullptr, 0, two, answered);
       }},
      {"complex",
       [&] {
         LineAnswer six[6];
         int answered = 0;
         return Six(BaselineScore_cnn_combine_complex, page, six, answered);
       }},
      {"three patches",
       [&] {
         LineAnswer three[3];
         int effective = 0;
         return ThreePatch(page, three, effective, 1);
       }},
  };
  for (const auto& s : scorers) {
    SCOPED_TRACE(s.first);
    int failures = 0, absorbed = 0;
    for (long n = 0;; ++n) {
      recording::Reset();
      failing_new::FailAt(n);
      const int rc = s.second();
      if (!failing_new::Disarm()) {
        EXPECT_EQ(rc, 0);
        break;
      }
      ++failures;
      // The binarization engine answers its own failures by leaving its image as it was.
      if (rc == 0) {
        ++absorbed;
        continue;
      }
      EXPECT_EQ(rc, kNoMemory) << "allocation " << n;
    }
    EXPECT_GT(failures, 5);
    EXPECT_LT(absorbed, failures);
  }
}

namespace {

struct PageVote {
  int rc, direction, effective, tie, few;
  float slots[5];
  int counters[25];
};

// Four copies of the page's line through the vote with the shipped scorers.
// failAt: the allocation inside the vote to fail (-1: none).
PageVote VoteOnPage(const LinePage& page, long failAt = -1) {
  std::vector<TEXTLINE> lines(4, page.line);
  std::vector<TEXT_IMAGE> crops(4);
  for (TEXT_IMAGE& c : crops) c = TEXT_IMAGE{}, c.validity = 1.0f;
  PageVote v{};
  float confidence = 0;
  long start = 0;
  if (failAt >= 0) failing_new::FailAt(failAt);
  v.rc = orient_identify_cnn(Engine(0), Engine(1), Engine(2), Engine(3), const_cast<uint8_t*>(page.px.data()), page.w,
                             page.h, lines.data(), crops.data(), 4, 1, nullptr, nullptr, confidence, v.direction, start,
                             8, v.effective, v.tie, v.slots, v.few, v.counters);
  return v;
}

}  // namespace

TEST_F(Scorers, APageOfUpsideDownLinesVotesHalfATurnAndAVerticalOneThreeQuarters) {
  recording::answer = [](const recording::Call&, size_t) { return recording::Answer{11, 2, 0.9f}; };
  for (bool vertical : {false, true}) {
    SCOPED_TRACE(vertical ? "vertical" : "horizontal");
    const PageVote v = VoteOnPage(LinePage(kPlain, vertical));
    EXPECT_EQ(v.rc, 0);
    const int want = vertical ? 3 : 2;
    EXPECT_EQ(v.direction, want);
    EXPECT_EQ(v.effective, 4);
    EXPECT_NEAR(v.slots[want], 0.9f, 1e-6);
    EXPECT_EQ(v.counters[11], 4);
  }
}

TEST_F(Scorers, TheVoteAnswersNoMemoryWhenAScorerRunsOut) {
  const LinePage page(kPlain);
  int failures = 0;
  for (long n = 0;; ++n) {
    recording::Reset();
    recording::calls.reserve(64);
    const PageVote v = VoteOnPage(page, n);
    if (!failing_new::Disarm()) {
      EXPECT_EQ(v.rc, 0);
      break;
    }
    failures += v.rc == kNoMemory;
    EXPECT_TRUE(v.rc == 0 || v.rc == kNoMemory) << v.rc;
  }
  EXPECT_GT(failures, 20);
}
