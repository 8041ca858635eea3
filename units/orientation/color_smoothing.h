// Colour background smoothing: the page's dominant colours are found as
// clusters by a three-level histogram analysis of a sampled grid (blue, then
// green inside each blue cluster, then red inside each of those), and every
// pixel that clearly belongs to a cluster takes the cluster's colour.
// Built into libturnsense3 (which exports i3ColorSmoothing and logs) and
// libtoneflat (which wraps it and logs nothing).
#ifndef DRAVN_COLOR_SMOOTHING_H
#define DRAVN_COLOR_SMOOTHING_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "I3ipImageInfo.h"
#include "opcv.h"

namespace colorsmooth {

enum {
  I3IP_BCSMTH_SUCCESS = 0,
  I3IP_BCSMTH_INVALID_PARAM = 1,
  I3IP_BCSMTH_NO_MEMORY = 2,
  I3IP_BCSMTH_NO_CLUSTER = 3,
};
enum { I3IP_IMAGE_AREA_UNKNOWN = -1, I3IP_IMAGE_AREA_BACKGROUND = 0, I3IP_IMAGE_AREA_TEXT = 1 };

typedef struct _CLUSTERINFO {
  int32_t min, max, rpr;
} CLUSTERINFO;

typedef struct _CLUSTERINFORGB {
  CLUSTERINFO clusterInfo[3];  // R, G, B
  int32_t elements;
  int32_t Yrpr, Srpr, Ymin, Smin;
  int32_t flag;
} CLUSTERINFORGB;

typedef std::vector<CLUSTERINFO> CIVCT;
typedef std::vector<CLUSTERINFORGB> CIRGBVCT;

// A sampled pixel: where it is, and its value, kept so that the deeper
// levels need not go back to the page.
struct Position {
  int32_t x, y;
  uint8_t rgb[3];
};
// 256 buckets of the sampled positions whose value in one channel is the
// bucket's level.
typedef std::vector<Position> Bucket;
typedef Bucket Histogram[256];

// Where the unit's log lines go; null (libtoneflat) writes none.
typedef void (*LogFunction)(int level, const char* format, ...);
extern LogFunction g_pfnLog;
// The colour median of the background-removal mode, bound by the library
// that carries this code; null leaves the source pixels.
extern decltype(&IPPShare_ippiFilterMedianColor_8u_C3R) g_pfnFilterMedianColor;

int i3ColorSmoothing(I3ipImageInfo* src, int smoother, bool whiteBackground, bool removeBackground, int binsens,
                     I3ipImageInfo* dst);
int ColorSmoothing(I3ipImageInfo* src, int smoother, bool whitening, bool removeBackground, int BinSens,
                   I3ipImageInfo* dst);
// 0, or 3 when no cluster was found; `biggest` indexes `out`.
int ColorAnalysis(const I3ipImageInfo* image, int smoother, bool removeBackground, CIRGBVCT* out, size_t* biggest);

// Histogram and cluster steps.
void GetDensity(const Histogram& histogram, int* density);
void SmoothHistogram(const int* pSrc, int* pDst);
void MarkPeaks(const int* data, int elements, bool* flags);
void MergePeaks(bool* peaks, int elements);
int GetClusterMinLevel(const int* pDensity, int peak, int border);
int GetClusterMaxLevel(const int* pDensity, int peak, int border);
void ModifyClusterInfo(CLUSTERINFO* range, int smoother);
void RepairBrokenClusters(const int* density, CIVCT* clusters);
void RepairBrokenClustersIdtc(int smoother, const int* density, CIVCT* clusters);
bool RepairBrokenClustersIdtc2(int times, int smoother, const int* density, CIVCT* clusters);
void MergeClusters(CIVCT* clusters);
void BorderClusters(const int* pDensity, CIVCT* clusters);
// False for a range whose buckets hold no position (its colour is unknown).
bool GetClusterInfoRGB(const I3ipImageInfo* image, const Histogram& histogram, const CLUSTERINFO& range,
                       CLUSTERINFORGB* out);
bool IsDarkCluster(const CLUSTERINFORGB& cluster);
bool IsSimilarColor(const uint8_t* pixel, const CLUSTERINFORGB& cluster);
bool CheckNeighborColor(const uint8_t* pixel, int x, int y, int iw, int ih, int bpl, const CLUSTERINFORGB& cluster);
int CheckFlags5x5(const int8_t* flags, int flagWidth);

// The per-pixel replacement: SmoothingProcess paints decided pixels in
// their cluster's colour, SmoothingProcess_White paints those of the
// biggest cluster white. SmoothPixels is both; `direct` walks the clusters
// pixel by pixel as stated instead of through the cluster masks.
void SmoothingProcess(const I3ipImageInfo* src, const CIRGBVCT& clusters, I3ipImageInfo* dst);
void SmoothingProcess_White(const I3ipImageInfo* src, const CIRGBVCT& clusters, size_t biggest, I3ipImageInfo* dst);
void SmoothPixels(const I3ipImageInfo* src, const CIRGBVCT& clusters, size_t biggest, bool whitening,
                  I3ipImageInfo* dst, bool direct = false);
// 0, or 34 when the flag map cannot be had.
int DoRemoveBackground(const I3ipImageInfo* src, CIRGBVCT* clusters, int BinSens, I3ipImageInfo* dst);

}  // namespace colorsmooth

#endif
