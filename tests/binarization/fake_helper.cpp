// Stand-ins for libhelper.so that the binding and the threshold step are
// tested with. FAKE_OMIT leaves one of the eight names out (0-7);
// FAKE_INIT_FAILS makes i3Helper_InitIPP answer 0. Every form records its
// calls in `fake_record`, and the edge call adds `fake_hist1`/`fake_hist2`.
#include <cstdint>
#include <cstring>

#include "i3helper.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

struct FakeRecord {
  int init_calls, free_calls, edge_calls, binarize_calls;
  int src_step, edge1_step, edge2_step, width, height, flag, t1, t2, t3, mode;
  int bin_threshold, bin_width, bin_height, bin_mode, bin_dst_step;
  int edge_answer;  // what the edge call returns
};

FAKE_EXPORT FakeRecord fake_record = {};
FAKE_EXPORT int fake_hist1[64] = {};
FAKE_EXPORT int fake_hist2[64] = {};

#if FAKE_OMIT != 0
FAKE_EXPORT int i3Helper_SumFilter8u() { return 0; }
#endif
#if FAKE_OMIT != 1
FAKE_EXPORT int i3Helper_BinarizeTo8u() { return 0; }
#endif
#if FAKE_OMIT != 2
FAKE_EXPORT int i3Helper_BinarizeTo8uCombined(const uint8_t*, int, const uint8_t*, const uint8_t*, uint8_t threshold,
                                              const I3HelperSize* size, int mode, uint8_t* dst, int dstStep) {
  FakeRecord& r = fake_record;
  ++r.binarize_calls;
  r.bin_threshold = threshold;
  r.bin_width = size->width;
  r.bin_height = size->height;
  r.bin_mode = mode;
  r.bin_dst_step = dstStep;
  for (int y = 0; y < size->height; ++y) std::memset(dst + y * dstStep, 1, size_t(size->width));
  return 0;
}
#endif
#if FAKE_OMIT != 3
FAKE_EXPORT int i3Helper_GetEdgeThreshold16s8u() { return 0; }
#endif
#if FAKE_OMIT != 4
FAKE_EXPORT uint8_t i3Helper_GetEdgeThreshold8u8u(const uint8_t*, int srcStep, uint8_t*, int edge1Step, uint8_t*,
                                                   int edge2Step, const I3HelperSize* size, uint8_t flag, int t1, int t2,
                                                   int t3, int* hist1, int* hist2, int mode) {
  FakeRecord& r = fake_record;
  ++r.edge_calls;
  r.src_step = srcStep;
  r.edge1_step = edge1Step;
  r.edge2_step = edge2Step;
  r.width = size->width;
  r.height = size->height;
  r.flag = flag;
  r.t1 = t1;
  r.t2 = t2;
  r.t3 = t3;
  r.mode = mode;
  for (int i = 0; i < 64; ++i) hist1[i] += fake_hist1[i], hist2[i] += fake_hist2[i];
  return uint8_t(r.edge_answer);
}
#endif
#if FAKE_OMIT != 5
FAKE_EXPORT int i3Helper_SumFilter8u16s() { return 0; }
#endif
#if FAKE_OMIT != 6
FAKE_EXPORT uint8_t i3Helper_InitIPP() {
  ++fake_record.init_calls;
#ifdef FAKE_INIT_FAILS
  return 0;
#else
  return 1;
#endif
}
#endif
#if FAKE_OMIT != 7
FAKE_EXPORT int i3Helper_FreeIPP() {
  ++fake_record.free_calls;
  return 0;
}
#endif
