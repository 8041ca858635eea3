// The colour clusters of a page: blue levels of a sampled grid, then green
// inside each blue cluster, then red inside each of those.
#include <algorithm>

#include "color_smoothing.h"

namespace colorsmooth {

LogFunction g_pfnLog = nullptr;

#define CS_LOG(level, ...)                      \
  do {                                          \
    if (g_pfnLog) g_pfnLog(level, __VA_ARGS__); \
  } while (0)

namespace {

enum { LOG_ERROR = 1, LOG_INFO = 4, LOG_TRACE = 64 };

struct HistogramStats {
  int density[256];
  bool peaks[256];
};

void Empty(Histogram& histogram) {
  for (Bucket& bucket : histogram) bucket.clear();
}

void LogRanges(const char* step, int color, const CIVCT& clusters) {
  int number = 0;
  for (const CLUSTERINFO& c : clusters)
    CS_LOG(LOG_TRACE, "ColorSmoothing [color=%d No%d] %s : (min=%d rpr=%d max=%d)", color, ++number, step, c.min, c.rpr,
           c.max);
}

// Density, peaks and the clusters of one filled histogram (steps shared by
// every level). `level` is -1 for the main level, else the sub level.
int ExtractClusters(const Histogram& histogram, int64_t samples, double share, int border, int smoother, int level,
                    bool idtc, int color, HistogramStats* stats, CIVCT* out) {
  out->clear();
  int raw[256];
  GetDensity(histogram, raw);
  SmoothHistogram(raw, stats->density);
  std::fill(stats->peaks, stats->peaks + 256, false);
  MarkPeaks(stats->density, 256, stats->peaks);
  MergePeaks(stats->peaks, 256);
  const int threshold = static_cast<int>(static_cast<double>(samples >> 8) * share + 0.5);
  for (int n = 0; n < 256; ++n) {
    if (stats->density[n] < threshold || !stats->peaks[n]) continue;
    CLUSTERINFO c{GetClusterMinLevel(stats->density, n, border), GetClusterMaxLevel(stats->density, n, border), n};
    if (level < 0)
      CS_LOG(LOG_TRACE, "ColorSmoothing [main] : (density[n]=%d min=%d rpr=%d max=%d)", stats->density[n], c.min, c.rpr,
             c.max);
    else
      CS_LOG(LOG_TRACE, "ColorSmoothing [sub%d] : (density[n]=%d min=%d rpr=%d max=%d)", level, stats->density[n],
             c.min, c.rpr, c.max);
    n = c.max;
    if (smoother > 0) ModifyClusterInfo(&c, smoother);
    out->push_back(c);
  }
  if (out->empty()) return I3IP_BCSMTH_NO_CLUSTER;
  if (idtc) LogRanges("Modify", color, *out);
  return I3IP_BCSMTH_SUCCESS;
}

// The two repair passes of the background-removal mode: the second, which
// spares dark clusters, only when the first joined nothing.
void RepairIdtc(int smoother, const int* density, CIVCT* clusters) {
  if (!RepairBrokenClustersIdtc2(1, smoother, density, clusters))
    RepairBrokenClustersIdtc2(2, smoother, density, clusters);
}

class Analysis {
 public:
  Analysis(const I3ipImageInfo* image, int smoother, bool idtc) : m_image(image), m_smoother(smoother), m_idtc(idtc) {}

  int Run(CIRGBVCT* out) {
    CIVCT mainClusters;
    const int rc = AnalyzeMainColor(&mainClusters);
    if (rc != I3IP_BCSMTH_SUCCESS) return rc;
    CS_LOG(LOG_INFO, "ColorSmoothing Number of Main Color Clusters: %d", static_cast<int>(mainClusters.size()));
    for (const CLUSTERINFO& mainCluster : mainClusters) {
      CS_LOG(LOG_INFO, "ColorSmoothing Main Color Cluster: (min=%d rpr=%d max=%d)", mainCluster.min, mainCluster.rpr,
             mainCluster.max);
      Empty(m_green);
      CIVCT sub1;
      if (AnalyzeSubColor(1, m_blue, mainCluster, m_green, &sub1) != I3IP_BCSMTH_SUCCESS) {
        CS_LOG(LOG_INFO, "ColorSmoothing No Sub Color#1 Cluster");
        continue;
      }
      CS_LOG(LOG_INFO, "ColorSmoothing Number of Sub Color#1 Clusters: %d", static_cast<int>(sub1.size()));
      for (const CLUSTERINFO& greenCluster : sub1) {
        CS_LOG(LOG_INFO, "ColorSmoothing Sub Color#1 Cluster: (min=%d rpr=%d max=%d)", greenCluster.min,
               greenCluster.rpr, greenCluster.max);
        Empty(m_red);
        CIVCT sub2;
        if (AnalyzeSubColor(2, m_green, greenCluster, m_red, &sub2) != I3IP_BCSMTH_SUCCESS) {
          CS_LOG(LOG_INFO, "ColorSmoothing No Sub Color#2 Cluster");
          continue;
        }
        CS_LOG(LOG_INFO, "ColorSmoothing Number of Sub Color#2 Clusters: %d", static_cast<int>(sub2.size()));
        for (const CLUSTERINFO& redCluster : sub2) {
          CS_LOG(LOG_INFO, "ColorSmoothing Sub Color#2 Cluster: (min=%d rpr=%d max=%d)", redCluster.min, redCluster.rpr,
                 redCluster.max);
          CLUSTERINFORGB rgb;
          if (GetClusterInfoRGB(m_image, m_red, redCluster, &rgb)) out->push_back(rgb);
        }
      }
    }
    return out->empty() ? I3IP_BCSMTH_NO_CLUSTER : I3IP_BCSMTH_SUCCESS;
  }

 private:
  int AnalyzeMainColor(CIVCT* clusters) {
    const int step = std::max(1, static_cast<int>(m_image->Dpi * 8.0 / 300.0));
    int64_t samples = 0;
    for (int64_t y = static_cast<int64_t>(m_image->Height) - 1; y >= 0; y -= step) {
      const uint8_t* row = m_image->Data + static_cast<size_t>(y) * m_image->Bpl;
      for (uint32_t x = 0; x < m_image->Width; x += static_cast<uint32_t>(step)) {
        const uint8_t* pixel = row + 3 * static_cast<size_t>(x);
        m_blue[pixel[2]].push_back(
            Position{static_cast<int32_t>(x), static_cast<int32_t>(y), {pixel[0], pixel[1], pixel[2]}});
        ++samples;
      }
    }
    const double share = m_idtc ? 0.52 : 0.75;
    if (m_idtc)
      CS_LOG(LOG_TRACE, "ColorSmoothing Sampling [main] : (Stp=%d samples=%d peakslice=%d)", step,
             static_cast<int>(samples), static_cast<int>(static_cast<double>(samples >> 8) * share + 0.5));
    int rc = ExtractClusters(m_blue, samples, share, m_idtc ? 0 : 1, m_smoother, -1, m_idtc, 2, &m_stats, clusters);
    if (rc != I3IP_BCSMTH_SUCCESS) return rc;
    if (m_idtc) {
      RepairIdtc(m_smoother, m_stats.density, clusters);
      LogRanges("Repair", 2, *clusters);
      BorderClusters(m_stats.density, clusters);
      LogRanges("Border", 2, *clusters);
    } else {
      RepairBrokenClusters(m_stats.density, clusters);
      if (m_smoother >= 1) MergeClusters(clusters);
    }
    return I3IP_BCSMTH_SUCCESS;
  }

  // Channel `level` (1 green, 2 red: byte 2 - level of the pixel) over the
  // parent cluster's own positions.
  int AnalyzeSubColor(int level, const Histogram& parent, const CLUSTERINFO& range, Histogram& child, CIVCT* clusters) {
    const int channel = 2 - level;
    int64_t samples = 0;
    for (int n = std::max(range.min, 0); n <= std::min(range.max, 255); ++n)
      for (const Position& at : parent[n]) {
        child[at.rgb[channel]].push_back(at);
        ++samples;
      }
    if (m_idtc) {
      CS_LOG(LOG_TRACE, "ColorSmoothing [sub%d] : (samples=%d)", level, static_cast<int>(samples));
      CS_LOG(LOG_TRACE, "ColorSmoothing Sampling [sub%d] : (samples=%d peakslice=%d)", level, static_cast<int>(samples),
             static_cast<int>(static_cast<double>(samples >> 8) * 0.75 + 0.5));
    }
    int rc =
        ExtractClusters(child, samples, 0.75, m_idtc ? 0 : 1, m_smoother, level, m_idtc, channel, &m_stats, clusters);
    if (rc != I3IP_BCSMTH_SUCCESS) return rc;
    if (m_idtc) {
      RepairIdtc(m_smoother, m_stats.density, clusters);
      LogRanges("Repair", channel, *clusters);
      if (m_smoother >= 1) MergeClusters(clusters);
      BorderClusters(m_stats.density, clusters);
      LogRanges("Border", channel, *clusters);
    } else {
      RepairBrokenClusters(m_stats.density, clusters);
      if (m_smoother > 0) MergeClusters(clusters);
    }
    return I3IP_BCSMTH_SUCCESS;
  }

  const I3ipImageInfo* m_image;
  int m_smoother;
  bool m_idtc;
  HistogramStats m_stats;
  Histogram m_blue, m_green, m_red;
};

}  // namespace

int ColorAnalysis(const I3ipImageInfo* image, int smoother, bool removeBackground, CIRGBVCT* out, size_t* biggest) {
  out->clear();
  const int rc = Analysis(image, smoother, removeBackground).Run(out);
  if (rc != I3IP_BCSMTH_SUCCESS) return rc;
  size_t big = 0;
  for (size_t i = 1; i < out->size(); ++i)
    if ((*out)[i].elements > (*out)[big].elements) big = i;
  *biggest = big;
  const bool bigIsDark = IsDarkCluster((*out)[big]);
  if (smoother < 0)
    for (size_t i = 0; i < out->size(); ++i)
      if (i != big || bigIsDark)
        for (CLUSTERINFO& range : (*out)[i].clusterInfo) ModifyClusterInfo(&range, smoother);
  return I3IP_BCSMTH_SUCCESS;
}

}  // namespace colorsmooth
