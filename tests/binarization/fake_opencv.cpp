// A libopencv stand-in that exports the twelve primitives the binarization
// unit requires, except the one named by FAKE_OMIT (0-11).
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#define PRIM(i, name) \
  FAKE_EXPORT int name() { return 0; }

#if FAKE_OMIT != 0
PRIM(0, IPPShare_ippiConvert_8u16s_C1R)
#endif
#if FAKE_OMIT != 1
PRIM(1, IPPShare_ippiDilate_8u_C1R)
#endif
#if FAKE_OMIT != 2
PRIM(2, IPPShare_ippiErode_8u_C1R)
#endif
#if FAKE_OMIT != 3
PRIM(3, IPPShare_ippiFilter_16s_C1R)
#endif
#if FAKE_OMIT != 4
PRIM(4, IPPShare_ippiFilter_8u_C1R)
#endif
#if FAKE_OMIT != 5
PRIM(5, IPPShare_ippiFilterMedian_8u_C1R)
#endif
#if FAKE_OMIT != 6
PRIM(6, IPPShare_ippiFilterMedianCross_8u_C1R)
#endif
#if FAKE_OMIT != 7
PRIM(7, IPPShare_ippiFilterMedianWeightedCenter3x3_8u_C1R)
#endif
#if FAKE_OMIT != 8
PRIM(8, OPCV_ippiResizeSqrPixel_8u_C1R)
#endif
#if FAKE_OMIT != 9
PRIM(9, IPPShare_ippiSet_8u_C1R)
#endif
#if FAKE_OMIT != 10
PRIM(10, IPPShare_ippiThreshold_LTVal_16s_C1IR)
#endif
#if FAKE_OMIT != 11
PRIM(11, IPPShare_ippiThreshold_LTVal_8u_C1IR)
#endif
