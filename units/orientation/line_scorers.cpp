// The per-line CNN scorers: one line cut from the grey page, two two-level
// versions of it, and the classifier asked about one or more patches.
#include "line_scorers.h"

#include <algorithm>
#include <memory>
#include <new>
#include <opencv2/imgproc.hpp>

#include "driver.h"
#include "line_patches.h"
#include "scorer_images.h"
#include "unit_log.h"
#include "vomb_cnn.h"

namespace turnsense {

int ScorerImages::Prepare(const uint8_t* page, int width, int height, const TEXTLINE& line, int orientation, int factor,
                          bool cropBand) {
  const int64_t s = factor;
  const tagRECT& b = line.box;
  tagRECT r;
  if (orientation == 1)
    r = {std::max<int64_t>(0, (b.left - 1) * s), b.top * s, std::min<int64_t>(width - 1, (b.right + 1) * s),
         b.bottom * s};
  else
    r = {b.left * s, std::max<int64_t>(0, (b.top - 1) * s), b.right * s,
         std::min<int64_t>(height - 1, (b.bottom + 1) * s)};
  tagRECT band;
  int rc = GetBaseLine(page, width, height, r, band, orientation);
  if (rc) return rc;
  // A profile too flat to leave any row inside the band keeps the whole line.
  if (cropBand && band.top <= band.bottom && band.left <= band.right) r = band;
  uint8_t* cut = nullptr;
  rc = ImgCrop(cut, w, h, page, width, height, r, orientation);
  grey.reset(cut);
  if (rc) return rc;
  const size_t n = size_t(w) * size_t(h);
  engine.reset(new uint8_t[n]());
  otsu.reset(new uint8_t[n]());
  int params[kBinParams] = {};
  params[2] = 25, params[8] = 5, params[9] = 4, params[11] = 1, params[13] = 10, params[14] = 50, params[15] = 50;
  int results[kBinResults] = {}, kernel[kBinKernel] = {};
  TBinaryOrientation(grey.get(), engine.get(), h, w, 4, params, 7, results, kernel);
  for (size_t i = 0; i < n; ++i)
    if (engine[i] == 1) engine[i] = 255;
  const cv::Mat g(h, w, CV_8UC1, grey.get());
  cv::Mat o(h, w, CV_8UC1, otsu.get());
  cv::threshold(g, o, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  return 0;
}

void ScorerImages::Classify(CnnEngine* script, CnnEngine* rotation, uint8_t* image, int start, int windows,
                            LineAnswer& out, float squeeze) const {
  const ::tagRECT whole{0, 0, w - 1, h - 1};
  if (squeeze > 0)
    VOMBCNN_script_orientation_squeezeimage(script, rotation, image, w, h, whole, out.category, out.direction,
                                            out.confidence, start, windows, squeeze);
  else
    VOMBCNN_script_orientation(script, rotation, image, w, h, whole, out.category, out.direction, out.confidence, start,
                               windows);
}

void FinishAnswers(LineAnswer* answers, int count, bool vertical, int& answered) {
  for (int i = 0; i < count; ++i) {
    int& d = answers[i].direction;
    if (d == -1) continue;
    answered = 1;
    // The crop of a vertical line was turned a quarter turn clockwise.
    if (vertical) d = (d + 1) % 4;
  }
}

void NoText(LineAnswer* answers, int count) {
  for (int i = 0; i < count; ++i) answers[i].category = 24, answers[i].direction = -1;
}

namespace {

// Runs one scorer's body over its images: memory failure gives 65535, an
// integer raised by the classifier ends it with the status held (0).
template <class Body>
int Guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    I3Log(I3LOG_ERROR, "bad memory allocation");
    return kNoMemory;
  } catch (int) {
    return 0;
  }
}

int Single(bool validate, CnnEngine* s1, CnnEngine* r1, CnnEngine* s2, CnnEngine* r2, uint8_t* page, int width,
           int height, const TEXTLINE& line, int factor, float& confidence, int& category, int& direction,
           int& answered, int& wide) {
  ScorerImages img;
  return Guarded([&] {
    if (int rc = img.Prepare(page, width, height, line, line.orientation, factor, false)) return rc;
    int cls = 0;
    Iscomplex_background(img.grey.get(), img.otsu.get(), img.engine.get(), img.w, img.h, &cls);
    wide = 0;
    LineAnswer a{confidence, category, direction};
    if (validate && !CheckTextvalidate(img.engine.get(), img.w, img.h, wide)) {
      category = 24, direction = -1;
      return 0;
    }
    uint8_t* patchImage = cls == 1 ? img.engine.get() : img.otsu.get();
    int start = 0;
    GetPatchPos(patchImage, img.w, img.h, start);
    // Plain paper: the grey crop; textured or dark paper: the two-level one.
    if (cls == 0)
      img.Classify(s1, r1, img.grey.get(), start, 1, a);
    else
      img.Classify(s2, r2, patchImage, start, 1, a);
    FinishAnswers(&a, 1, line.orientation == 1, answered);
    confidence = a.confidence, category = a.category, direction = a.direction;
    return 0;
  });
}

enum class Complex { kValidate, kNoValidate, kReverse };

int SixPatches(Complex kind, CnnEngine* s1, CnnEngine* r1, CnnEngine* s2, CnnEngine* r2, uint8_t* page, int width,
               int height, const TEXTLINE& line, int factor, LineAnswer* answers, int& answered) {
  ScorerImages img;
  return Guarded([&] {
    if (int rc = img.Prepare(page, width, height, line, line.orientation, factor, false)) return rc;
    uint8_t* b1 = img.engine.get();
    uint8_t* b2 = img.otsu.get();
    const size_t n = size_t(img.w) * size_t(img.h);
    if (kind == Complex::kReverse)
      for (size_t i = 0; i < n; ++i) b2[i] = uint8_t(255 - b2[i]);
    if (kind != Complex::kNoValidate) {
      int flag = 0;
      if (!CheckTextvalidate(b1, img.w, img.h, flag)) {
        NoText(answers, 6);
        return 0;
      }
    }
    uint8_t* b = b1;
    if (kind == Complex::kReverse)
      b = b2;
    else if (kind == Complex::kValidate && BinNoiseNumber(b2, img.w, img.h) <= BinNoiseNumber(b1, img.w, img.h))
      b = b2;
    decltype(&GetPatchPos) const where[3] = {GetPatchPos, GetPatchPos_left, GetPatchPos_right};
    for (int k = 0; k < 3; ++k) {
      int start = 0;
      where[k](b2, img.w, img.h, start, 0);
      img.Classify(s1, r1, img.grey.get(), start, 1, answers[2 * k]);
      img.Classify(s2, r2, b, start, 1, answers[2 * k + 1]);
    }
    FinishAnswers(answers, 6, line.orientation == 1, answered);
    return 0;
  });
}

}  // namespace

int BaselineScore_cnn(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2, CnnEngine* rotation2, uint8_t* grey,
                      int width, int height, TEXTLINE line, int factor, char*, char*, int, float& confidence,
                      int& category, int& direction, int& answered, int& wide) {
  return Single(true, script1, rotation1, script2, rotation2, grey, width, height, line, factor, confidence, category,
                direction, answered, wide);
}

int BaselineScore_cnn_novalidate(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2, CnnEngine* rotation2,
                                 uint8_t* grey, int width, int height, TEXTLINE line, int factor, char*, char*, int,
                                 float& confidence, int& category, int& direction, int& answered, int& wide) {
  return Single(false, script1, rotation1, script2, rotation2, grey, width, height, line, factor, confidence, category,
                direction, answered, wide);
}

int BaselineScore_cnn_combine_v1(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2, CnnEngine* rotation2,
                                 uint8_t* grey, int width, int height, TEXTLINE line, int factor, char*, char*, int,
                                 LineAnswer answers[2], int& answered) {
  ScorerImages img;
  return Guarded([&] {
    if (int rc = img.Prepare(grey, width, height, line, line.orientation, factor, false)) return rc;
    int cls = 0;
    Iscomplex_background(img.grey.get(), img.otsu.get(), img.engine.get(), img.w, img.h, &cls);
    int start = 0;
    GetPatchPos(img.engine.get(), img.w, img.h, start, 1);
    img.Classify(script2, rotation2, img.engine.get(), start, 3, answers[1]);
    GetPatchPos(img.otsu.get(), img.w, img.h, start, 1);
    img.Classify(script1, rotation1, img.grey.get(), start, 3, answers[0]);
    FinishAnswers(answers, 2, line.orientation == 1, answered);
    return 0;
  });
}

int BaselineScore_cnn_combine_complex(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2,
                                      CnnEngine* rotation2, uint8_t* grey, int width, int height, TEXTLINE line,
                                      int factor, char*, char*, int, LineAnswer answers[6], int& answered) {
  return SixPatches(Complex::kValidate, script1, rotation1, script2, rotation2, grey, width, height, line, factor,
                    answers, answered);
}

int BaselineScore_cnn_combine_complex_novalidate(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2,
                                                 CnnEngine* rotation2, uint8_t* grey, int width, int height,
                                                 TEXTLINE line, int factor, char*, char*, int, LineAnswer answers[6],
                                                 int& answered) {
  return SixPatches(Complex::kNoValidate, script1, rotation1, script2, rotation2, grey, width, height, line, factor,
                    answers, answered);
}

int BaselineScore_cnn_combine_complex_reverse(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2,
                                              CnnEngine* rotation2, uint8_t* grey, int width, int height, TEXTLINE line,
                                              int factor, char*, char*, int, LineAnswer answers[6], int& answered) {
  return SixPatches(Complex::kReverse, script1, rotation1, script2, rotation2, grey, width, height, line, factor,
                    answers, answered);
}

}  // namespace turnsense
