// Edge sampling of the deskew-and-crop engine: every 2 mm a row and a
// column of the analysis image (page bright, backing near black) is
// smoothed, differentiated and searched from both ends for the first
// rising step into the page, stepping over thin streaks.
#include <cstdlib>

#include "I3ipDeskewCropping.h"

namespace i3ipdc {

namespace {

constexpr int kEdgeStep = 4096;   // 16 grey levels, times 256
constexpr unsigned kBright = 32768;  // 128 grey levels
constexpr int kStreakLevel = 767;  // about 3 grey levels

}  // namespace

unsigned GetAverage(const unsigned char* p, int bpl, int /*size*/) {
  unsigned sum = 0;
  for (int dy = -1; dy <= 1; ++dy) {
    const unsigned char* r = p + static_cast<ptrdiff_t>(dy) * bpl;
    sum += r[-1] + r[0] + r[1];
  }
  return sum * 256 / 9;
}

void GetLocalAverageRow(const I3ipImageInfo* img, int row, int size, int from, int to, unsigned* profile) {
  const unsigned char* r = img->Data + static_cast<size_t>(row) * img->Bpl;
  for (int x = from; x <= to; ++x) profile[x] = GetAverage(r + x, static_cast<int>(img->Bpl), size);
}

void GetLocalAverageColumn(const I3ipImageInfo* img, int column, int size, int from, int to, unsigned* profile) {
  for (int y = from; y <= to; ++y)
    profile[y] = GetAverage(img->Data + static_cast<size_t>(y) * img->Bpl + column, static_cast<int>(img->Bpl), size);
}

void GetAverageRow(const I3ipImageInfo* img, int row, int size, unsigned* profile) {
  const int w = static_cast<int>(img->Width);
  GetLocalAverageRow(img, row, size, 1, w - 2, profile);
  profile[0] = profile[1];
  profile[w - 1] = profile[w - 2];
}

void GetAverageColumn(const I3ipImageInfo* img, int column, int size, unsigned* profile) {
  const int h = static_cast<int>(img->Height);
  GetLocalAverageColumn(img, column, size, 1, h - 2, profile);
  profile[0] = profile[1];
  profile[h - 1] = profile[h - 2];
}

void GetLocalGradient(const unsigned* profile, int from, int to, int* gradient) {
  for (int j = from; j <= to; ++j)
    gradient[j] = static_cast<int>(profile[j + 1]) - static_cast<int>(profile[j - 1]);
}

void GetGradient(const unsigned* profile, int n, int* gradient) {
  if (n <= 0) return;
  GetLocalGradient(profile, 1, n - 2, gradient);
  gradient[0] = 0;
  gradient[n - 1] = 0;
}

bool IsPeak(const int* values, int i, bool /*forward*/, bool* isMax) {
  const int v = values[i];
  const int left = values[i - 1] == v ? values[i - 2] : values[i - 1];
  const int right = values[i + 1] == v ? values[i + 2] : values[i + 1];
  if (v > left && v > right) {
    *isMax = true;
    return true;
  }
  if (v < left && v < right) {
    *isMax = false;
    return true;
  }
  return false;
}

// A strong step that IsPeak may judge: its neighbours' neighbours exist
// because the gradient's ends are zero.
static bool StrongPeak(const int* gradient, int i, bool* isMax) {
  return std::abs(gradient[i]) > kEdgeStep && IsPeak(gradient, i, true, isMax);
}

bool IsStreak(const unsigned* profile, const int* gradient, int /*n*/, int start, int end, bool forward, int index,
              bool wantMax, int* skip) {
  const int half = std::abs(gradient[index]) >> 1;
  const auto mean16 = [&](int from) {
    unsigned sum = 0;
    for (int k = 0; k < 16; ++k) sum += profile[from + k];
    return static_cast<int>(sum >> 4);
  };
  bool isMax = false;
  if (forward) {
    if (index - 15 <= start) return false;
    for (int j = index + 1; j <= index + 7 && j < end; ++j) {
      if (!(std::abs(gradient[j]) > half && IsPeak(gradient, j, true, &isMax) && isMax != wantMax)) continue;
      if (j + 15 >= end) return false;
      if (std::abs(mean16(index - 15) - mean16(j)) > kStreakLevel) return false;
      *skip = j - index;
      return true;
    }
    return false;
  }
  if (index + 15 >= end) return false;
  for (int j = index - 1; j >= index - 7 && j > start; --j) {
    if (!(std::abs(gradient[j]) > half && IsPeak(gradient, j, false, &isMax) && isMax != wantMax)) continue;
    if (j - 15 <= start) return false;
    if (std::abs(mean16(index) - mean16(j - 15)) > kStreakLevel) return false;
    *skip = index - j;
    return true;
  }
  return false;
}

void GetEdge(const unsigned* profile, const int* gradient, int n, int start, int end, int minGap, bool streakTest,
             int* first, int* last) {
  *first = -1;
  *last = -1;
  bool isMax = false;
  for (int i = start; i <= end; ++i) {
    if (profile[i - 1] > kBright && profile[i + 1] > kBright) break;
    if (!StrongPeak(gradient, i, &isMax) || !isMax) continue;
    int skip = 0;
    if (streakTest && IsStreak(profile, gradient, n, start, end, true, i, true, &skip)) {
      i += skip;
      continue;
    }
    *first = i;
    break;
  }
  for (int i = end; i >= start; --i) {
    if (profile[i - 1] > kBright && profile[i + 1] > kBright) return;
    if (!StrongPeak(gradient, i, &isMax) || isMax) continue;
    int skip = 0;
    if (streakTest && IsStreak(profile, gradient, n, start, end, false, i, false, &skip)) {
      i -= skip;
      continue;
    }
    if (*first == -1 || i - *first >= minGap) *last = i;
    return;
  }
}

namespace {

template <bool kRows>
void SampleEdges(const I3ipImageInfo* img, unsigned* profile, int* gradient, PointList* near, PointList* far) {
  const int along = static_cast<int>(kRows ? img->Width : img->Height);
  const int across = static_cast<int>(kRows ? img->Height : img->Width);
  if (along < 3) return;
  const int minGap = static_cast<int>(img->Dpi * 10 / 25.4);
  for (int k = 1;; ++k) {
    const int pos = static_cast<int>(k * img->Dpi * 2 / 25.4);
    if (pos >= across - 1) break;
    if (pos <= 0) continue;
    if (kRows)
      GetAverageRow(img, pos, 3, profile);
    else
      GetAverageColumn(img, pos, 3, profile);
    GetGradient(profile, along, gradient);
    int first, last;
    GetEdge(profile, gradient, along, 1, along - 2, minGap, kRows, &first, &last);
    if (first != -1) near->push_back(kRows ? tagPOINT{first, pos} : tagPOINT{pos, first});
    if (last != -1) far->push_back(kRows ? tagPOINT{last, pos} : tagPOINT{pos, last});
  }
}

}  // namespace

void GetEdgeHorz(const I3ipImageInfo* img, unsigned* profile, int* gradient, PointList* left, PointList* right) {
  SampleEdges<true>(img, profile, gradient, left, right);
}

void GetEdgeVert(const I3ipImageInfo* img, unsigned* profile, int* gradient, PointList* top, PointList* bottom) {
  SampleEdges<false>(img, profile, gradient, top, bottom);
}

}  // namespace i3ipdc
