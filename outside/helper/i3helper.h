/* Call shapes of the outside filter library libhelper.so, as the image units
   bind them by name. Steps are in bytes; sizes are passed by address. */
#ifndef DRAVN_I3HELPER_H
#define DRAVN_I3HELPER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
  int32_t width;
  int32_t height;
} I3HelperSize;

typedef uint8_t (*I3Helper_GetEdgeThreshold8u8u_t)(const uint8_t* src, int srcStep, uint8_t* edge1, int edge1Step,
                                                    uint8_t* edge2, int edge2Step, const I3HelperSize* size,
                                                    uint8_t flag, int t1, int t2, int t3, int* hist1, int* hist2,
                                                    int mode);
typedef int (*I3Helper_BinarizeTo8uCombined_t)(const uint8_t* src, int srcStep, const uint8_t* edge1,
                                               const uint8_t* edge2, uint8_t threshold, const I3HelperSize* size,
                                               int mode, uint8_t* dst, int dstStep);
typedef uint8_t (*I3Helper_InitIPP_t)(void);
typedef int (*I3Helper_FreeIPP_t)(void);
/* Bound but never called: any shape serves. */
typedef int (*I3Helper_Unused_t)(void);

#ifdef __cplusplus
}
#endif

#endif
