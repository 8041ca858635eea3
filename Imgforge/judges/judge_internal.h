// What the blank-page and colour-or-mono judges share: the checked view of
// a judge page, the margins and sampling of the edge counts, and the
// switches and log lines they read and write.
#ifndef DRAVN_IMGFORGE_JUDGE_INTERNAL_H
#define DRAVN_IMGFORGE_JUDGE_INTERNAL_H

#include <algorithm>
#include <cstdint>
#include <string>

#include "fsip_records.h"

// Answers of the P2i judges.
enum : int {
  P2I_ERR_PARAMETER = -1001,
  P2I_ERR_OUTOFMEMORY = -1002,
  P2I_ERR_PIXELTYPE = -1003,
};

extern "C" {
int P2iJugWhitePaper(_P2IIMG* page, int* level, void*, void*);
int P2iJugWhitePaper2(_P2IIMG* page, int* level, void*, void*, const char* doubleDistance, void*);
int P2iJugWhitePaper3(_P2IIMG* page, int* level, _P2IIMG* other, int* otherValue, P2IJDGWP_OPTION* option,
                      unsigned* notWhitePaperIndex);
int P2iGetBestDepth(_P2IIMG* page, int* level, void*, void*);
}

namespace judges {

// The part of a page that a judge reads: its region, at `origin`, rows
// `bpl` bytes apart.
struct WorkImage {
  const uint8_t* origin = nullptr;
  int64_t bpl = 0;
  int width = 0, height = 0;
  int xres = 0, yres = 0;
};

// The region of a page whose pixels, bytes per line and size cover what is
// read, at 25 dpi or more both ways; else P2I_ERR_PARAMETER. Resolutions
// below 25 dpi would make the millimetre unit 0, which the margins divide by.
int RegionOf(const _P2IIMG& page, int bytesPerPixel, WorkImage* out);

// The examined area inside a work image: margins of 4 mm, or 16 mm on a
// page 158 mm or wider, and never closer to the edge than the neighbour
// distance `reach`.
struct Area {
  int mx = 0, my = 0;                  // the margins
  int sx = 0, sy = 0, ex = 0, ey = 0;  // inclusive
  bool Empty() const { return sx >= ex || sy >= ey; }
  int Width() const { return ex - sx + 1; }
  int Height() const { return ey - sy + 1; }
};
int MarginOf(int pixels, int dotsPerMm);
Area ExaminedArea(const WorkImage& image, int reach);

// Neighbour distance by horizontal resolution, times the factor, truncated.
int NeighbourDistance(int xres, double factor);

// How much darker a pixel is than the lightest of its four neighbours at
// distance s; 0 when it is not darker than any. Pixels are `step` bytes
// apart and read through `grey`.
template <typename Grey>
inline int Contrast(const uint8_t* p, int64_t bpl, int s, int step, Grey grey) {
  const int64_t h = static_cast<int64_t>(s) * step, v = s * bpl;
  int m = grey(p - h);
  m = std::max(m, grey(p + h));
  m = std::max(m, grey(p - v));
  m = std::max(m, grey(p + v));
  const int c = grey(p);
  return m > c ? m - c : 0;
}
inline int Contrast(const uint8_t* p, int64_t bpl, int s) {
  return Contrast(p, bpl, s, 1, [](const uint8_t* q) { return static_cast<int>(*q); });
}
// Grey of an R, G, B pixel, as the colour road converts its pages.
inline int GreyOfRgb(const uint8_t* p) { return (77 * p[0] + 151 * p[1] + 28 * p[2]) >> 8; }

// The judges' switches, reread from fsip.conf on every call; ProcLog also
// sets the log writers' switch.
struct Switches {
  bool saveBitmap = false, procLog = false;
  int doCrop = 1;
};
Switches ReadSwitches(bool withDoCrop);

// One line of P2IJDGWP.log or P2IDEPTH.log (printf-style) when ProcLog is on.
void JudgeLog(const char* fileName, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A file of the log directory written whole: opened without following a
// link, mode 0777. False when it cannot be written.
bool WriteDumpFile(const std::string& name, const std::string& header, const uint8_t* data, size_t size);

}  // namespace judges

// The third judge's count and global threshold, reachable for tests.
namespace p2ijdgwp {

// Threshold of the histogram of every fourth pixel of every fourth row.
void img_hist_make(const judges::WorkImage& image, const judges::Area& area, double bins[256]);
int img_hist_bw(const double bins[256]);
int img_slice_make(const judges::WorkImage& image, const judges::Area& area, int* threshold);

// The counts of the extended judges. `zonesEverywhere` and `indexTop` make
// the form without a caller (zone thresholds on every page, index values up
// to 30); the third judge passes false and 45.
int img_gray2mono_imgall_uragami2(const judges::WorkImage& image, int countFactor, double factor,
                                  unsigned* notWhitePaperIndex);
int img_gray2mono_imgall_uragami(const judges::WorkImage& image, int countFactor, double factor,
                                 unsigned* notWhitePaperIndex);

}  // namespace p2ijdgwp

namespace p2idepth {

// Colour threshold and block size of a sensitivity level.
void LevelParameters(int level, int* threshold, int* blockSize);
// Reduction factor of a horizontal resolution.
int ReductionFactor(int xres);
int img_best_is_color(const _P2IIMG* reduced, int blockSize, int threshold);

}  // namespace p2idepth

#endif
