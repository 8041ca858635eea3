#include "orient_driver.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <cstring>
#include <memory>
#include <new>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "driver.h"
#include "labelling.h"
#include "line_checks.h"
#include "line_crops.h"
#include "line_recognition.h"
#include "line_scorers.h"
#include "line_selection.h"
#include "local_binarise.h"
#include "page_blocks.h"
#include "page_rows.h"
#include "text_lines.h"
#include "unit_log.h"

namespace turnsense {

DriverStages g_driverStages;
const int* g_ccth = nullptr;

namespace {

// Hands the thread's processor time since the last lap to a stage (a busy
// machine does not inflate it).
class Laps {
 public:
  void To(double& stage) {
    const double now = Now();
    stage += now - m_last;
    m_last = now;
  }

 private:
  static double Now() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
  }
  double m_last = Now();
};

constexpr const char* kTag = "Turnsense3::auto_orientation_Pavix_v2";
constexpr int kMaxLines = 8;
constexpr int kGroupMismatch = -10000;

// The engine's fixed block for the orientation binarisation.
struct OrientationBlock {
  int params[kBinParams] = {};
  int results[kBinResults] = {};
  int kernel[kBinKernel] = {};
  OrientationBlock() {
    params[2] = 25, params[8] = 5, params[9] = 4, params[11] = 1;
    params[13] = 10, params[14] = 50, params[15] = 50;
  }
};

std::vector<uint8_t*> Rows(uint8_t* image, int width, int height) {
  std::vector<uint8_t*> rows(size_t(std::max(height, 0)));
  for (int y = 0; y < height; ++y) rows[size_t(y)] = image + size_t(y) * width;
  return rows;
}

void Resize(const uint8_t* src, int width, int height, uint8_t* dst, int dw, int dh) {
  const cv::Mat in(height, width, CV_8UC1, const_cast<uint8_t*>(src));
  cv::Mat out(dh, dw, CV_8UC1, dst);
  cv::resize(in, out, cv::Size(dw, dh), 0, 0, cv::INTER_LINEAR);
}

}  // namespace

int get_decimate_rate_size(int dpi, int width, int height) {
  if (dpi > 300) return 6;
  return std::min(3, (std::min(width, height) + 749) / 750);
}

void img_decimate_integer_fast_padding(const uint8_t* src, uint8_t* copy, int width, int height, int stride,
                                       uint8_t* dst, int dw, int dh) {
  const int f = dw > 0 ? width / dw : 1;
  const bool inPlace = copy == src;  // the caller's page is the work copy (stride = width)
  int sampled = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = src + size_t(y) * stride;
    if (!inPlace) std::memcpy(copy + size_t(y) * width, row, size_t(width));
    // A sampled row is read while the copy still has it in the cache.
    if (y % f != 0 || y / f >= dh) continue;
    uint8_t* out = dst + size_t(y / f) * dw;
    for (int x = 0; x < dw; ++x) out[x] = row[size_t(x) * f];
    sampled = y / f + 1;
  }
  // On a page a few pixels wide, f can exceed the rows' factor: the rows
  // past the page's last take its last.
  for (int y = sampled; y < dh && height > 0; ++y) {
    const uint8_t* row = src + size_t(height - 1) * stride;
    uint8_t* out = dst + size_t(y) * dw;
    for (int x = 0; x < dw; ++x) out[x] = row[size_t(x) * f];
  }
}

float texture_background_detection_density(const uint8_t* binary, int width, int height) {
  const int bw = width / 7, bh = height / 7;
  if (bw <= 0 || bh <= 0) return 0.0f;
  float sum = 0;
  for (int by = 1; by <= 5; ++by)
    for (int bx = 1; bx <= 5; ++bx) {
      int across = 0, down = 0;
      for (int y = by * bh; y < (by + 1) * bh; ++y)
        for (int x = bx * bw; x < (bx + 1) * bw; ++x) {
          const size_t i = size_t(y) * width + x;
          if (binary[i] != 0) continue;
          across += binary[i - 1] != 0;
          down += binary[i - size_t(width)] != 0;
        }
      sum += float(std::max(across, down)) / float(bw * bh);
    }
  return sum / 25.0f;
}

int cal_variance(const uint8_t* grey, const uint8_t* binary, int width, int height) {
  double sum = 0, squares = 0;
  size_t n = 0;
  for (size_t i = 0, end = size_t(width) * height; i < end; ++i)
    if (binary[i] != 0) {
      sum += grey[i];
      squares += double(grey[i]) * grey[i];
      ++n;
    }
  if (n == 0) return 0;
  const double mean = sum / double(n);
  return int(squares / double(n) - mean * mean);
}

// 3 x 3 box mean of `copy` into the page's inner pixels: sums down three
// rows, then along three of those sums. Works in place too (page == copy):
// the two source rows above the one being written are kept aside.
void smoothing(uint8_t* page, const uint8_t* copy, int width, int height) {
  if (width < 3 || height < 3) return;
  const size_t w = size_t(width);
  std::vector<uint8_t> above(copy, copy + w), row(copy + w, copy + 2 * w);
  std::vector<uint16_t> columns(w);
  for (int y = 1; y + 1 < height; ++y) {
    const uint8_t* below = copy + size_t(y + 1) * w;
    for (size_t x = 0; x < w; ++x) columns[x] = uint16_t(above[x] + row[x] + below[x]);
    uint8_t* out = page + size_t(y) * w;
    for (size_t x = 1; x + 1 < w; ++x) out[x] = uint8_t((columns[x - 1] + columns[x] + columns[x + 1]) / 9);
    above.swap(row);
    row.assign(below, below + w);
  }
}

// The mean of the nine pixels two apart in a 5 x 5 window.
void smoothing_5(uint8_t* page, const uint8_t* copy, int width, int height) {
  for (int y = 2; y + 2 < height; ++y)
    for (int x = 2; x + 2 < width; ++x) {
      int sum = 0;
      for (int dy = -2; dy <= 2; dy += 2)
        for (int dx = -2; dx <= 2; dx += 2) sum += copy[size_t(y + dy) * width + x + dx];
      page[size_t(y) * width + x] = uint8_t(sum / 9);
    }
}

int texture_background_detection(uint8_t* page, uint8_t* copy, int width, int height, int dpi, int stride,
                                 bool& textured, int& f, uint8_t*& decimated, uint8_t*& binary) {
  f = get_decimate_rate_size(dpi, width, height);
  const int dw = width / f, dh = height / f;
  if (dw <= 0 || dh <= 0) return kLimitExceeded;
  const size_t n = size_t(dw) * dh;
  std::unique_ptr<uint8_t[]> grey(new uint8_t[n]), bin(new uint8_t[n]);
  img_decimate_integer_fast_padding(page, copy, width, height, stride, grey.get(), dw, dh);
  AdaptiveSauvola_parallel(dw, dh, grey.get(), bin.get(), 15, 0.1, 64);
  const float density = texture_background_detection_density(bin.get(), dw, dh);
  const int variance = cal_variance(grey.get(), bin.get(), dw, dh);
  // Nearly empty, even paper: Sauvola finds speckle where there is none.
  if ((density < 0.0111f && variance <= 36) ||
      (density >= 0.026f && density <= 0.0263f && variance >= 67 && variance <= 69)) {
    Resize(copy, width, height, grey.get(), dw, dh);
    GlobalOtsu(dw, dh, grey.get(), bin.get());
  }
  textured = density > 0.144f;
  if (textured) {
    // The page is the packed copy from here on (stride = width).
    if (f == 4) {
      std::vector<uint8_t> before(copy, copy + size_t(width) * height);
      smoothing_5(copy, before.data(), width, height);
    } else {
      smoothing(copy, copy, width, height);
    }
    if (page != copy)
      for (int y = 0; y < height; ++y) std::memcpy(page + size_t(y) * stride, copy + size_t(y) * width, size_t(width));
    std::vector<uint8_t> full(size_t(width) * height);
    OrientationBlock block;
    TBinaryOrientation(copy, full.data(), height, width, 4, block.params, 7, block.results, block.kernel);
    for (uint8_t& v : full) v = v ? 255 : 0;
    Resize(full.data(), width, height, bin.get(), dw, dh);
  }
  decimated = grey.release();
  binary = bin.release();
  return 0;
}

int GetCentLine(const uint8_t* grey, int width, int, tagRECT box, tagRECT& out, int orientation) {
  out = box;
  const bool across = orientation == 0;  // a horizontal line: the profile runs down its rows
  const int64_t lo = across ? box.top : box.left, hi = across ? box.bottom : box.right;
  const int64_t thickness = hi - lo + 1;
  if (thickness <= 0) return 0;
  std::vector<int64_t> profile;
  try {
    profile.assign(size_t(thickness), 0);
  } catch (const std::bad_alloc&) {
    I3Log(I3LOG_ERROR, "%s bad memory allocation", "Turnsense3::GetCentLine");
    return kNoMemory;
  }
  int64_t total = 0;
  for (int64_t i = lo; i <= hi; ++i) {
    int64_t sum = 0;
    if (across)
      for (int64_t x = box.left; x <= box.right; ++x) sum += 255 - grey[size_t(i) * width + size_t(x)];
    else
      for (int64_t y = box.top; y <= box.bottom; ++y) sum += 255 - grey[size_t(y) * width + size_t(i)];
    profile[size_t(i - lo)] = sum;
    total += sum;
  }
  const int64_t mean = total / thickness, limit = thickness / 6;
  int64_t first = 0, last = thickness - 1;
  if (profile[0] <= mean) {
    first = limit + 1;
    for (int64_t k = 1; k <= limit && k < thickness; ++k)
      if (profile[size_t(k)] > mean) {
        first = k;
        break;
      }
  }
  if (profile[size_t(thickness - 1)] <= mean) {
    last = thickness - 2 - limit;
    for (int64_t k = 1; k <= limit && thickness - 1 - k >= 0; ++k)
      if (profile[size_t(thickness - 1 - k)] > mean) {
        last = thickness - 1 - k;
        break;
      }
  }
  if (across)
    out.top = lo + first, out.bottom = lo + last;
  else
    out.left = lo + first, out.right = lo + last;
  return 0;
}

int TextureAnalysis(STRONGCLASSIFIER* detector, const uint8_t* grey, int width, int height, TEXTLINE** lines,
                    int count, int f, const char*, const char*, int orientation) {
  for (int i = 0; i < count; ++i) {
    TEXTLINE& line = *lines[i];
    tagRECT box{line.box.left * f, line.box.top * f, line.box.right * f, line.box.bottom * f};
    tagRECT centre{};
    const int rc = GetCentLine(grey, width, height, box, centre, orientation);
    if (rc != 0) return rc;
    if (orientation == 0) {
      const int64_t widen = (box.bottom - box.top + 1) / 4;
      box.top = std::max<int64_t>(0, box.top - widen);
      box.bottom = std::min<int64_t>(height - 1, box.bottom + widen);
    } else {
      const int64_t widen = (box.right - box.left + 1) / 4;
      box.left = std::max<int64_t>(0, box.left - widen);
      box.right = std::min<int64_t>(width - 1, box.right + widen);
    }
    uint8_t* crop = nullptr;
    int cw = 0, ch = 0;
    const float scale = ResizeImgCrop(crop, cw, ch, grey, width, height, box, 18, orientation);
    std::unique_ptr<uint8_t[]> owned(crop);
    if (scale == 65535.0f || !crop) return kNoMemory;
    int windows = 0;
    float contrast = 0;
    std::unique_ptr<WINDOWRESULT[]> found(TextDetection(detector, crop, cw, ch, windows, contrast));
    float sum = 0, text = 0;
    if (found)
      for (int k = 0; k < windows; ++k) {
        sum += found[size_t(k)].score;
        if (found[size_t(k)].score > 0.5f) text += 1;
      }
    else
      windows = 0;
    line.text_score = windows > 0 ? sum / float(windows) : 0.0f;
    line.text_windows = text;
    line.windows = windows;
    line.detector_value = contrast;
  }
  return 0;
}

void RankLines(float* scores, int* order, int first_count, int total) {
  auto sortRange = [&](int begin, int end) {
    for (int i = begin; i < end; ++i)
      for (int j = i + 1; j < end; ++j)
        if (scores[j] > scores[i]) {
          std::swap(scores[i], scores[j]);
          std::swap(order[i], order[j]);
        }
  };
  sortRange(0, first_count);
  sortRange(first_count, total);
  if (first_count > 0 && total > first_count && scores[first_count] > 5 * scores[0]) {
    const int at = std::min(first_count, 8) - 1;
    std::swap(scores[at], scores[first_count]);
    std::swap(order[at], order[first_count]);
  }
}

int LinesHandedOn(int pass, const float* scores, int count) {
  if (pass != 0 || count != 4) return count;
  int n = 0;
  for (int i = 0; i < 4; ++i) n += scores[i] > scores[0] / 6.0f;
  return n;
}

bool PassSettles(const PassResult& p) {
  return p.direction != -1 && p.effective != 0 && (p.effective >= 4 || (p.effective == 3 && p.few != 1));
}

void MergePasses(const PassResult* passes, int& direction, int& confidence) {
  const PassResult &p0 = passes[0], &p1 = passes[1];
  if (p0.direction == -1 && p1.direction == -1) {
    direction = -1, confidence = 0;
    return;
  }
  if ((p0.tie != 0) != (p1.tie != 0)) {
    const bool takeSecond = p0.tie ? p1.effective >= 1 : p0.effective == 0;
    direction = takeSecond ? p1.direction : p0.direction;
    confidence = 0;
    return;
  }
  int best = -1;
  float bestSum = 0;
  for (int s = 0; s < 5; ++s) {
    const float sum = p0.slots[s] + p1.slots[s];
    if (sum > 0 && (best < 0 || sum > bestSum)) best = s, bestSum = sum;
  }
  direction = best;
  confidence = best < 0 ? 0 : int(bestSum * 1000 * 0.5);
}

int UnitQuarterTurn(int direction, int confidence) {
  return confidence <= 99999 && direction >= 0 && direction <= 3 ? direction : 0;
}

float TextAreaScore(float score, int crop_width, int crop_height, int crop_factor, int f, int box_top,
                    int page_height) {
  if (crop_width == 0 || crop_height == 0) return score;
  const double w = crop_width, h = crop_height;
  const double shape = double(int(std::min(w / h, h / w) * w * h * crop_factor));
  const double place = 1.0 - std::sqrt(double(f) * box_top / page_height);
  return float(shape * 0.3 + place * double(score));
}

namespace {

// One axis of the text area: a very long side is shrunk and a very short one
// widened about its middle, then the span is moved inside [0, limit).
void FitSpan(int& lo, int& hi, int limit) {
  const int length = hi - lo;
  if (length > 600) {
    const int cut = (length - 600) / 2 + 1;
    lo += cut, hi -= cut;
  } else if (length <= 89) {
    const int grow = (90 - length) / 2 + 1;
    lo -= grow, hi += grow;
  }
  if (lo < 0) hi -= lo, lo = 0;
  if (hi > limit) lo -= hi - limit, hi = limit;
}

}  // namespace

I3ipRect TextArea(const tagRECT& box, int f, int width, int height) {
  int left = int(box.left) * f, right = int(box.right) * f, top = int(box.top) * f, bottom = int(box.bottom) * f;
  FitSpan(left, right, width);
  FitSpan(top, bottom, height);
  if (left < 0 || top < 0 || right < 0 || bottom < 0) return I3ipRect{0, 0, 0, 0};
  return I3ipRect{top, bottom, left, right};
}

double NoiseDropLimit(int dw, int dh, int dpi, int ccth, int f) {
  const double s = dpi * (ccth / 10.0 / 72.0) / f;
  return s > 0 ? double(dw) * dh / (s * s) : 0.0;
}

int calc_mode_language(int* counts, bool merge) {
  if (merge) {
    static const int kFold[][2] = {{1, 0},   {3, 2},   {4, 2},   {5, 2},   {8, 2},   {9, 2},   {11, 10}, {13, 12},
                                   {15, 14}, {17, 16}, {19, 18}, {21, 20}, {23, 22}};
    for (const auto& f : kFold) {
      counts[f[1]] += counts[f[0]];
      counts[f[0]] = 0;
    }
  }
  int best = -1;
  for (int i = 0; i < 25; ++i)
    if (counts[i] > 0 && (best < 0 || counts[i] > counts[best])) best = i;
  return best;
}

namespace {

struct CropsOwner {
  std::vector<TEXT_IMAGE> crops;
  ~CropsOwner() {
    for (TEXT_IMAGE& c : crops) release_text_image(&c);
  }
};

// What the whole page offers every pass.
struct Page {
  uint8_t* work;  // full-size grey, packed
  int width, height, f, dw, dh;
  OcrEngine* engine;
  const char* text1;
  const char* text2;
  int extra;
  int dpi;
  bool textArea;
  I3ipRect* area;
};

// One pass over the decimated grey and binary; fills `result` and the
// category counters. Throws the stage codes.
void RunPass(int pass, const Page& page, uint8_t* grey, uint8_t* raw, AD_OUTPUT& out, PassResult& result,
             int* counters) {
  Laps laps;
  const int w = page.dw, h = page.dh;
  const size_t n = size_t(w) * h;
  // The page's maps are kept blocks (the next page finds them mapped).
  PageBlock cleanBlock(n), mapBlock(n * sizeof(int32_t)), countBlock((n / 2 + 2) * sizeof(int32_t));
  uint8_t* clean = cleanBlock.get();
  std::memcpy(clean, raw, n);
  // The labelling writes the whole map and the counts of the labels it
  // gives; nothing reads a count past them.
  int32_t* map = mapBlock.as<int32_t>();
  int32_t* pixelCounts = countBlock.as<int32_t>();
  pixelCounts[0] = 0;
  CLbl lbl;
  const int labels = lbl.LabelingScan8(w, h, clean, map, pixelCounts);
  if (labels == 0 && n > 0) {
    // A page without ink labels nothing; one without memory also answers 0.
    bool ink = false;
    for (size_t i = 0; i < n; ++i) ink = ink || clean[i] == 0;
    if (ink) throw kNoMemory;
  }
  std::vector<rect> boxes(size_t(labels) + 1, rect{0, 0, 0, 0});
  lbl.GetBound(w, h, map, labels, boxes.data());
  std::vector<int32_t> status(size_t(labels) + 1, 0);
  CC_IMG cc{pixelCounts, boxes.data(), map, status.data(), labels, w, h};

  if (noise_cc_removal_v1(clean, w, h, cc, 0) != 0) throw kNoiseFailed;
  const int ccth = g_ccth ? *g_ccth : 0;
  if (ccth != 0) {
    // Rising size levels, for as long as a level still drops more components
    // than a page of this size holds noise; a level past the page's size
    // can drop nothing more.
    const double limit = NoiseDropLimit(w, h, page.dpi, ccth, page.f);
    auto dropped = [&] {
      int n = 0;
      for (int k = 1; k <= labels; ++k) n += status[size_t(k)] < 0;
      return n;
    };
    int before = dropped();
    for (int level = 1; level <= std::max(w, h); ++level) {
      if (noise_cc_removal_v1(clean, w, h, cc, level) != 0) throw kNoiseFailed;
      const int now = dropped();
      if (now - before <= limit) break;
      before = now;
    }
  }
  std::vector<CC> ccs(static_cast<size_t>(labels));
  for (int k = 1; k <= labels; ++k) {
    const rect& b = boxes[size_t(k)];
    ccs[size_t(k - 1)] = CC{k,     tagRECT{b.left, b.top, b.right, b.bottom}, b.right - b.left + 1, b.bottom - b.top + 1,
                            0,     uint8_t(status[size_t(k)] != 0)};
  }

  std::vector<int32_t*> labelRows(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) labelRows[size_t(y)] = map + size_t(y) * w;
  TEXTLINE* built[2] = {nullptr, nullptr};
  int builtCount[2] = {0, 0};
  const int rc = cc2textline(ccs.data(), labels, &built[0], &builtCount[0], &built[1], &builtCount[1],
                             labelRows.data(), clean, w, h, page.extra, &out.hint, page.text1, page.text2,
                             false);
  std::unique_ptr<TEXTLINE[]> own0(built[0]), own1(built[1]);
  if (rc != 0) throw rc;

  std::vector<uint8_t*> cleanRows = Rows(clean, w, h), rawRows = Rows(raw, w, h), greyRows = Rows(grey, w, h);
  std::vector<uint8_t*> fullRows = Rows(page.work, page.width, page.height);
  std::vector<TEXTLINE> verified[2];
  for (int o = 0; o < 2; ++o) {
    verified[o].resize(size_t(builtCount[o]));
    for (TEXTLINE& t : verified[o]) {
      std::memset(&t, 0, sizeof t);
      init_textline(&t);
    }
    int kept = 0;
    textline_verification(cleanRows.data(), w, h, built[o], builtCount[o], verified[o].data(), &kept, o);
    verified[o].resize(size_t(kept));
  }
  own0.reset(), own1.reset();

  std::vector<TEXTLINE*> picked[2] = {std::vector<TEXTLINE*>(verified[0].size() + 1),
                                      std::vector<TEXTLINE*>(verified[1].size() + 1)};
  int pickedCount[2] = {0, 0};
  if (pass == 0)
    textline_selection_v3(page.work, page.width, page.height, greyRows.data(), cleanRows.data(), w, h, cc, page.f,
                          verified[0].data(), int(verified[0].size()), verified[1].data(), int(verified[1].size()),
                          out.hint, picked[0].data(), &pickedCount[0], picked[1].data(), &pickedCount[1]);
  else
    textline_selection_v2(page.work, page.width, page.height, greyRows.data(), cleanRows.data(), w, h, page.f,
                          verified[0].data(), int(verified[0].size()), verified[1].data(), int(verified[1].size()),
                          out.hint, picked[0].data(), &pickedCount[0], picked[1].data(), &pickedCount[1]);

  laps.To(g_driverStages.lines);

  CropsOwner crops[2];
  int survivors[2] = {0, 0};
  for (int o = 0; o < 2; ++o) {
    TextureAnalysis(page.engine->detector1, page.work, page.width, page.height, picked[o].data(), pickedCount[o],
                    page.f, page.text1, page.text2, o);
    laps.To(g_driverStages.texture);
    crops[o].crops.assign(size_t(pickedCount[o]), TEXT_IMAGE{});
    for (int i = 0; i < pickedCount[o]; ++i) {
      TEXTLINE& line = *picked[o][size_t(i)];
      TEXT_IMAGE& crop = crops[o].crops[size_t(i)];
      if (pass == 0) {
        const int r = original_text_line_extraction_Pavix_nline_v1(
            page.engine, fullRows.data(), nullptr, nullptr, page.width, page.height, cleanRows.data(), rawRows.data(),
            greyRows.data(), w, h, page.f, line, &crop, 0, page.text1, page.text2, page.extra);
        if (r >= 1 && r <= 3) ++out.extracted[r - 1];
        ++out.pass_lines[0];
      } else {
        original_text_line_extraction(page.engine, fullRows.data(), nullptr, page.width, page.height,
                                      cleanRows.data(), rawRows.data(), greyRows.data(), w, h, page.f, line, &crop,
                                      page.text1, page.text2, page.extra);
        ++out.pass_lines[1];
        if (line.text_windows != 0 && crop.validity != 0.0f) barcode_removal(&crop);
      }
      if (line.text_windows == 0) crop.validity = 0.0f;
      if (crop.validity != 0.0f && is_multi_line_v2(cleanRows.data(), w, h, line.box)) crop.validity = 0.0f;
      survivors[o] += crop.validity != 0.0f;
    }
    laps.To(g_driverStages.crops);
  }

  // Gather: the hinted orientation first.
  const int firstGroup = out.hint == 0 ? 0 : 1;
  std::vector<TEXTLINE> list;
  CropsOwner listCrops;
  for (int g : {firstGroup, 1 - firstGroup})
    for (int i = 0; i < pickedCount[g]; ++i) {
      TEXT_IMAGE& crop = crops[g].crops[size_t(i)];
      if (crop.validity == 0.0f) continue;
      listCrops.crops.push_back(crop);
      crop = TEXT_IMAGE{};  // the list owns the buffers now
      list.push_back(*picked[g][size_t(i)]);
      list.back().orientation = g;
    }
  if (int(list.size()) != survivors[0] + survivors[1]) {
    I3Log(I3LOG_TRACE, "%s horizontal plus vertical text lines number not equal total text lines number", kTag);
    throw kGroupMismatch;
  }

  const int count = int(list.size());
  std::vector<float> scores(static_cast<size_t>(count));
  std::vector<int> order(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    TEXT_IMAGE& crop = listCrops.crops[size_t(i)];
    const TEXTLINE& line = list[size_t(i)];
    float size = 0;
    likelyhood_size(crop.binary, crop.width, crop.height, crop.factor, &size);
    scores[size_t(i)] = size * std::min(line.text_windows, 9.0f) * line.text_score * line.detector_value;
    if (page.textArea)
      scores[size_t(i)] = TextAreaScore(scores[size_t(i)], crop.width, crop.height, crop.factor, page.f,
                                        int(line.box.top), page.height);
    order[size_t(i)] = i;
  }
  RankLines(scores.data(), order.data(), survivors[firstGroup], count);
  if (page.textArea) {
    const I3ipRect area = count == 0 || scores[0] <= 0
                              ? I3ipRect{0, 0, 0, 0}
                              : TextArea(list[size_t(order[0])].box, page.f, page.width, page.height);
    I3Log(I3LOG_INFO, "Extracted text area for PM (l,t,r,b): %d, %d, %d, %d.", area.left, area.top, area.right,
          area.bottom);
    if (page.area) *page.area = area;
    laps.To(g_driverStages.crops);
    return;
  }
  const int handed = LinesHandedOn(pass, scores.data(), count);
  laps.To(g_driverStages.crops);
  if (handed == 0) return;

  std::vector<TEXTLINE> lines(static_cast<size_t>(handed));
  std::vector<TEXT_IMAGE> ranked(static_cast<size_t>(handed));
  for (int i = 0; i < handed; ++i) {
    lines[size_t(i)] = list[size_t(order[size_t(i)])];
    ranked[size_t(i)] = listCrops.crops[size_t(order[size_t(i)])];
    ranked[size_t(i)].validity = scores[size_t(i)];
  }
  float confidence = 0;
  long start = 0;
  const int rr = orient_identify_cnn(page.engine->script1, page.engine->rotation1, page.engine->script2,
                                     page.engine->rotation2, page.work, page.width, page.height, lines.data(),
                                     ranked.data(), handed, page.f, const_cast<char*>(page.text1),
                                     const_cast<char*>(page.text2), confidence, result.direction, start, kMaxLines,
                                     result.effective, result.tie, result.slots, result.few, counters);
  laps.To(g_driverStages.recognition);
  if (rr != 0) throw rr;
}

}  // namespace

}  // namespace turnsense

using namespace turnsense;

int auto_orientation_Pavix_v2(OcrEngine* engine, uint8_t* grey, uint8_t*, int width, int height, int stride, int dpi,
                              AD_OUTPUT& out, const char* text1, const char* text2, int extra, bool text_area,
                              I3ipRect* area, bool grey_is_work) {
  PassResult passes[2];
  int counters[25] = {};
  int result = 0;
  std::unique_ptr<uint8_t[]> decimated, binary;
  try {
    Laps laps;
    // The work copy is written whole before it is read; a caller whose page
    // is its own to spend lends it instead.
    std::unique_ptr<uint8_t[]> owned;
    uint8_t* work = grey;
    if (!grey_is_work || stride != width) {
      owned.reset(new uint8_t[size_t(width) * height]);
      work = owned.get();
    }
    bool textured = false;
    int f = 1;
    uint8_t *d = nullptr, *b = nullptr;
    if (texture_background_detection(grey, work, width, height, dpi, stride, textured, f, d, b) != 0)
      throw kNoMemory;
    decimated.reset(d), binary.reset(b);
    laps.To(g_driverStages.background);
    const Page page{work,  width, height, f,     width / f, height / f, engine,
                    text1, text2, extra,  dpi, text_area, area};
    const size_t n = size_t(page.dw) * page.dh;
    for (int p = 0; p < 2; ++p) {
      if (p == 1) {
        Laps inverting;
        InvertBytes(decimated.get(), n);
        InvertBytes(work, size_t(width) * height);
        const int rc = AdaptiveSauvola_parallel(page.dw, page.dh, decimated.get(), binary.get(), 15, 0.1, 64);
        inverting.To(g_driverStages.background);
        if (rc != 0) throw rc;
      }
      RunPass(p, page, decimated.get(), binary.get(), out, passes[p], counters);
      if (p == 0 && (text_area || PassSettles(passes[0]))) break;
    }
  } catch (const std::bad_alloc&) {
    I3Log(I3LOG_ERROR, "%s bad memory allocation", kTag);
    result = kNoMemory;
  } catch (int code) {
    result = code;
  }
  MergePasses(passes, out.direction, out.confidence);
  out.pass_direction[0] = passes[0].direction;
  out.pass_direction[1] = passes[1].direction;
  out.language = calc_mode_language(counters, true);
  I3Log(I3LOG_TRACE, "%s Image total confidence:", kTag);
  I3Log(I3LOG_TRACE, "%s degrees,           0,   90,  180,   270, -1", kTag);
  I3Log(I3LOG_TRACE, "%s confidence,         %lf,   %lf,  %lf,   %lf,   %lf", kTag,
        double(passes[0].slots[0] + passes[1].slots[0]), double(passes[0].slots[1] + passes[1].slots[1]),
        double(passes[0].slots[2] + passes[1].slots[2]), double(passes[0].slots[3] + passes[1].slots[3]),
        double(passes[0].slots[4] + passes[1].slots[4]));
  return result;
}

int auto_page_direction_detection_Pavix3(OcrEngine* engine, OcrEngine*, uint8_t* grey, uint8_t* aux, int width,
                                         int height, int stride, int dpi, float, int*, int* direction,
                                         int* confidence, float*, long&, char* text1, char* text2, int extra,
                                         int* language, bool grey_is_work) {
  AD_OUTPUT out{};
  const int rc = auto_orientation_Pavix_v2(engine, grey, aux, width, height, stride, dpi, out, text1, text2, extra,
                                           false, nullptr, grey_is_work);
  *direction = out.direction;
  *confidence = out.confidence;
  *language = out.language;
  return rc;
}
