// Per-line recognition of one driver pass: the scorers' answers voted into
// five direction slots, with re-recognition stages when the votes are thin.
#include "line_recognition.h"

#include <algorithm>
#include <ctime>
#include <new>
#include <vector>

#include "line_patches.h"
#include "line_votes.h"
#include "scorer_images.h"
#include "unit_log.h"
#include "vomb_cnn.h"

namespace turnsense {

const LineScorers kLineScorers = {BaselineScore_cnn,
                                  BaselineScore_cnn_novalidate,
                                  BaselineScore_cnn_combine_v1,
                                  BaselineScore_cnn_combine_complex,
                                  BaselineScore_cnn_combine_complex_novalidate,
                                  BaselineScore_cnn_combine_complex_reverse,
                                  BaselineScore_cnn_3patch_complex};

float checkratio(uint8_t* binary, int width, int height) {
  std::vector<float> ratios;
  for (const CropComponent& c : CropComponents(binary, width, height))
    if (c.width >= height / 8 && c.height >= height / 3) ratios.push_back(float(c.height) / float(c.width));
  if (ratios.empty()) return 1.0f;
  std::sort(ratios.begin(), ratios.end());
  const float r = ratios[ratios.size() / 2];
  double variance = 0;
  for (float q : ratios) variance += double(q - r) * double(q - r);
  variance /= double(ratios.size());
  if ((r > 2 && variance < 1.2) || (r > 3.2 && variance < 2)) return r / 1.7f;
  return 1.0f;
}

int BaselineScore_cnn_3patch_complex(CnnEngine* script1, CnnEngine* rotation1, CnnEngine*, CnnEngine*, uint8_t* grey,
                                     int width, int height, TEXTLINE line, int orientation, int factor, char*, char*,
                                     int, LineAnswer answers[3], int& effective, int validate) {
  ScorerImages img;
  try {
    if (int rc = img.Prepare(grey, width, height, line, orientation, factor, true)) return rc;
    const float squeeze = checkratio(img.otsu.get(), img.w, img.h);
    int unused = 0;
    if (validate == 1 && !CheckTextvalidate_v1(img.engine.get(), img.w, img.h, unused)) {
      NoText(answers, 3);
      return 0;
    }
    decltype(&GetPatchPos) const where[3] = {GetPatchPos, GetPatchPos_left, GetPatchPos_right};
    for (int k = 0; k < 3; ++k) {
      int start = 0;
      where[k](img.otsu.get(), img.w, img.h, start, 0);
      img.Classify(script1, rotation1, img.grey.get(), start, 1, answers[k], squeeze);
    }
    FinishAnswers(answers, 3, orientation == 1, effective);
  } catch (const std::bad_alloc&) {
    I3Log(I3LOG_ERROR, "bad memory allocation");
    return kNoMemory;
  } catch (int) {
  }
  return 0;
}

namespace {

const char kTag[] = "Turnsense3::orient_identify_cnn";

enum Stage { kFirst, kNoEffective, kReRecognize, kTwoEngines, kReverse, kAfterReverse };

struct Tally {
  int32_t counts[5];
  double sums[5];  // averages once a stage has ended
  int best, second;
  double bestSum, secondSum;

  void Reset(int bestStart) {
    std::fill(counts, counts + 5, 0);
    std::fill(sums, sums + 5, 0.0);
    best = bestStart, second = 0;
    bestSum = secondSum = 0;
  }
  // The leader or runner-up may still be the empty slot -1.
  int Count(int slot) const { return slot >= 0 && slot < 5 ? counts[slot] : 0; }
  double Avg(int slot) const { return slot >= 0 && slot < 5 ? sums[slot] : 0.0; }
};

struct Pass {
  const LineScorers& scorers;
  CnnEngine* engines[4];
  uint8_t* grey;
  int width, height;
  TEXTLINE* lines;
  TEXT_IMAGE* crops;
  int examined;  // U
  int factor;
  char* text1;
  char* text2;
  int32_t* counters;
  Tally tally;
  int effective = 0;  // E of the last stage run

  void LogLine(int number, const TEXTLINE& l, const char* scorer, const LineAnswer& a) const {
    const char* name = a.category >= 0 && a.category < 25 && CATEGORY[a.category] ? CATEGORY[a.category] : "";
    const int64_t s = factor;
    if (a.direction == -1)
      I3Log(I3LOG_TRACE, "%s %d          ,%d   ,%d   ,%d   ,%d   ,%s   ,%s   ,-   ,%lf   ", kTag, number,
            int(l.box.left * s), int(l.box.top * s), int((l.box.right - l.box.left + 1) * s),
            int((l.box.bottom - l.box.top + 1) * s), scorer, name, double(a.confidence));
    else
      I3Log(I3LOG_TRACE, "%s %d          ,%d   ,%d   ,%d   ,%d   ,%s   ,%s   ,%d   ,%lf   ", kTag, number,
            int(l.box.left * s), int(l.box.top * s), int((l.box.right - l.box.left + 1) * s),
            int((l.box.bottom - l.box.top + 1) * s), scorer, name, a.direction * 90, double(a.confidence));
  }

  // One stage over the examined lines; 0 or a scorer's code.
  int Run(Stage stage, int validate) {
    static const char* const kHeading[] = {
        "%s text lines info:",
        "%s No effective lines , re-recognize, text lines info:",
        "%s re-recognize, text lines info:",
        "%s re_recognize_with2engine, text lines info:",
        "%s re_recognize_reverse, text lines info:",
        "%s No effective lines after re_recognize_reverse, re_recognize, text lines info:"};
    I3Log(I3LOG_TRACE, kHeading[stage], kTag);
    const bool few = examined < 4;
    const bool single = (stage == kFirst || stage == kNoEffective) && !few;
    if (single)
      I3Log(I3LOG_TRACE,
            "%s text_line_No, PosX, PosY, width, height, CNN Func, category, direction, confidence:", kTag);
    else
      I3Log(I3LOG_TRACE,
            "%s text_line_No, PosX, PosY, width, height, CNN Func,  category, direction, confidence:", kTag);
    effective = 0;
    for (int i = 0; i < examined; ++i) {
      if (crops && crops[i].validity == 0) continue;
      const TEXTLINE& line = lines[i];
      LineAnswer answers[6];
      std::fill(answers, answers + 6, LineAnswer{0.0f, 24, -1});
      int answered = 0, doubling = 1, results = 6, rc = 0;
      const char* name = "";
      CnnEngine* const* e = engines;
      switch (stage) {
        case kFirst:
        case kNoEffective:
          if (single) {
            name = stage == kFirst ? "BaselineScore_cnn" : "BaselineScore_cnn_novalidate";
            results = 1;
            auto fn = stage == kFirst ? scorers.single : scorers.singleNoValidate;
            rc = fn(e[0], e[1], e[2], e[3], grey, width, height, line, factor, text1, text2, 0, answers[0].confidence,
                    answers[0].category, answers[0].direction, answered, doubling);
          } else if (stage == kFirst) {
            name = "BaselineScore_cnn_combine_complex";
            I3Log(I3LOG_TRACE, "%s 3 patch with 2 engine:", kTag);
            rc = scorers.complex(e[0], e[1], e[2], e[3], grey, width, height, line, factor, text1, text2, 0, answers,
                                 answered);
          } else {
            name = "BaselineScore_cnn_combine_complex_novalidate";
            I3Log(I3LOG_TRACE, "%s recongize 3 patch with 2 engine:", kTag);
            rc = scorers.complexNoValidate(e[0], e[1], e[2], e[3], grey, width, height, line, factor, text1, text2, 0,
                                           answers, answered);
          }
          break;
        case kReRecognize:
          name = "BaselineScore_cnn_3patch_complex";
          results = 3;
          I3Log(I3LOG_TRACE, "re-recongnize with 3 patch:");
          rc = scorers.threePatch(e[0], e[1], e[2], e[3], grey, width, height, line, line.orientation, factor, text1,
                                  text2, i + 1, answers, answered, validate);
          break;
        case kTwoEngines:
        case kAfterReverse:
          name = "BaselineScore_cnn_combine_v1";
          results = 2;
          if (stage == kAfterReverse) I3Log(I3LOG_TRACE, "%s with 2 engine:", kTag);
          rc = scorers.twoEngines(e[0], e[1], e[2], e[3], grey, width, height, line, factor, text1, text2, 0, answers,
                                  answered);
          break;
        case kReverse:
          name = "BaselineScore_cnn_combine_complex_reverse";
          I3Log(I3LOG_TRACE, "%s re-recognize 3 patch with 2 engine:", kTag);
          rc = scorers.complexReverse(e[0], e[1], e[2], e[3], grey, width, height, line, factor, text1, text2, 0,
                                      answers, answered);
          break;
      }
      if (rc) {
        if (rc == kNoMemory)
          I3Log(I3LOG_ERROR, "%s bad memory allocation", kTag);
        else
          I3Log(I3LOG_ERROR, "%s invalid input of texture direction", kTag);
        return rc;
      }
      effective += answered;
      int categories[6];
      for (int k = 0; k < results; ++k) {
        LineAnswer& a = answers[k];
        categories[k] = a.category;
        if (a.direction >= 0 && a.direction < 5)
          voteByConfidence(tally.counts, tally.sums, tally.best, tally.bestSum, tally.second, tally.secondSum,
                           a.direction, a.confidence, doubling);
        else
          a.direction = -1;
        LogLine(i + 1, line, name, a);
      }
      // A single answer names the line's script; the other scorers' answers all count.
      add_language_score(counters, categories, width, line, factor, results - 1);
    }
    for (int k = 0; k < 5; ++k)
      if (tally.sums[k] != 0) tally.sums[k] /= tally.counts[k];
    return 0;
  }

  void Publish(int& direction, int& effectiveLines, float slots[5]) const {
    direction = tally.bestSum == 0 ? -1 : tally.best;
    effectiveLines = effective;
    for (int k = 0; k < 5; ++k) slots[k] = float(tally.sums[k]);
  }
};

}  // namespace

int orient_identify_cnn_with(const LineScorers& scorers, CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2,
                             CnnEngine* rotation2, uint8_t* grey, int width, int height, TEXTLINE* lines,
                             TEXT_IMAGE* crops, int lineCount, int factor, char* text1, char* text2, float& confidence,
                             int& direction, long& startTime, int maxLines, int& effectiveLines, int& tie,
                             float slots[5], int& fewLines, int categoryCounters[25]) {
  startTime = long(clock());
  const int m = maxLines;
  const int U = lines ? std::max(0, std::min(lineCount, m)) : 0;
  Pass p{scorers, {script1, rotation1, script2, rotation2},
         grey,    width,
         height,  lines,
         crops,   U,
         factor,  text1,
         text2,   categoryCounters,
         {},      0};
  I3Log(I3LOG_TRACE, "%s confidence on entry %f", kTag, double(confidence));
  tie = 0, fewLines = 0;
  Tally& t = p.tally;
  try {
    t.Reset(-1);
    if (U < 4) fewLines = 1;
    if (int rc = p.Run(kFirst, 0)) return rc;
    p.Publish(direction, effectiveLines, slots);
    if (p.effective == 0 && U > m / 4) {
      if (int rc = p.Run(kNoEffective, 0)) return rc;
      p.Publish(direction, effectiveLines, slots);
    }

    int E = p.effective, b = t.best, s = t.second;
    if ((E == 0 || E == 2) && t.Count(b) + t.Count(s) == E && t.Count(b) == t.Count(s) && t.Avg(b) < 1.25 * t.Avg(s))
      tie = 1;

    bool R = (E == 2 && t.Count(b) == 1 && t.Count(s) == 1 && t.Avg(s) < 2.0) ||
             (E == 3 && t.Count(s) == 1 && t.Avg(s) >= 0.9 && t.Avg(b) < 2.5) ||
             (E == 3 && t.Count(s) == 2 && t.Avg(b) < 1.25 * t.Avg(s));
    const bool many = U > 3 * m / 4;
    if (many && t.Avg(b) != 0) {
      if (t.Avg(b) < 1.25 * t.Avg(s))
        R = true;
      else if (!(t.Count(s) < (2 * t.Count(b)) / 5) && (t.Avg(b) < 3.5 * t.Avg(s) || E < 4))
        R = true;
    }
    const bool clear = many && t.Avg(b) != 0 && t.Avg(b) >= 1.25 * t.Avg(s) && t.Count(s) >= (2 * t.Count(b)) / 5 &&
                       t.Avg(b) >= 3.5 * t.Avg(s) && E >= 4;
    bool W = clear ? false : (E == 0 && 3 * m / 4 <= U && U <= m);
    if (U == 5 && E == 1 && t.Avg(b) < 1.0) W = true;
    const bool V = m / 2 <= U && U < 3 * m / 4 && E == 0;

    if (R) {
      t.Reset(0);
      if (int rc = p.Run(kReRecognize, checkHeight(lines, U, factor))) return rc;
      p.Publish(direction, effectiveLines, slots);
      const double lead = t.Avg(t.best);
      if (W && (p.effective == 0 || (p.effective == 1 && 0.8 < lead && lead < 0.85))) {
        t.Reset(-1);
        if (int rc = p.Run(kTwoEngines, 0)) return rc;
        p.Publish(direction, effectiveLines, slots);
      }
      return 0;
    }
    if (W) {
      t.Reset(-1);
      if (int rc = p.Run(kTwoEngines, 0)) return rc;
      p.Publish(direction, effectiveLines, slots);
    }
    if (V) {
      t.Reset(0);
      if (int rc = p.Run(kReverse, 0)) return rc;
      p.Publish(direction, effectiveLines, slots);
      if (p.effective == 0) {
        t.Reset(-1);
        if (int rc = p.Run(kAfterReverse, 0)) return rc;
        p.Publish(direction, effectiveLines, slots);
        // Only a verdict that no other direction contradicts stands.
        if (t.Avg(t.second) != 0) {
          direction = -1;
          std::fill(slots, slots + 5, 0.0f);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    I3Log(I3LOG_ERROR, "%s bad memory allocation", kTag);
    return kNoMemory;
  }
  return 0;
}

int orient_identify_cnn(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2, CnnEngine* rotation2,
                        uint8_t* grey, int width, int height, TEXTLINE* lines, TEXT_IMAGE* crops, int lineCount,
                        int factor, char* text1, char* text2, float& confidence, int& direction, long& startTime,
                        int maxLines, int& effectiveLines, int& tie, float slots[5], int& fewLines,
                        int categoryCounters[25]) {
  return orient_identify_cnn_with(kLineScorers, script1, rotation1, script2, rotation2, grey, width, height, lines,
                                  crops, lineCount, factor, text1, text2, confidence, direction, startTime, maxLines,
                                  effectiveLines, tie, slots, fewLines, categoryCounters);
}

}  // namespace turnsense
