/* libopencv: the system's image primitives under IPP-style names, its page
   record with rotation, deskew and resize, and JPEG compression and reading.

   Images are caller buffers: a pointer, a step in bytes between rows and a
   region size. Neighbourhood entries read a source area around the region
   (for a mask of mw x mh cells, hw = mw/2 and hh = mh/2: roi.width + 2hw by
   roi.height + 2hh pixels) that the caller provides; nothing outside it is
   read and nothing outside the destination region is written. No entry lets
   an exception out: primitives answer 0, -4 (memory, or no result) or -5
   (argument), page-record and JPEG entries 0, -50 (parameter), -108
   (memory), -2 (depth) or -3 (angle). No entry keeps state or changes
   process-wide settings. */
#ifndef DRAVN_IMAGEOPS_OPCV_H
#define DRAVN_IMAGEOPS_OPCV_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t Ipp8u;
typedef int16_t Ipp16s;
typedef int32_t Ipp32s;
typedef float Ipp32f;
typedef int32_t IppStatus;

typedef struct {
  int32_t width;
  int32_t height;
} IppiSize;

/* The anchor of a mask or kernel, counted from its top-left cell. */
typedef struct {
  int32_t x;
  int32_t y;
} IppiPoint;

typedef struct {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
} IppiRect;

enum _IppiMaskSize { ippMskSize3x3 = 33, ippMskSize5x5 = 55 };
typedef enum _IppiMaskSize IppiMaskSize;

#define ippStsNoErr ((IppStatus)0)
#define ippStsMemAllocErr ((IppStatus)-4)
#define ippStsBadArgErr ((IppStatus)-5)

/* ---- primitives looked up by the binarization and orientation units ---- */

IppStatus IPPShare_ippiConvert_8u16s_C1R(const Ipp8u* src, int srcStep, Ipp16s* dst, int dstStep, IppiSize roi);
/* Saturates to 0..255. */
IppStatus IPPShare_ippiConvert_16s8u_C1R(const Ipp16s* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi);

/* dst(x, y) = max (dilate) or min (erode) of src(x - anchor.x + j,
   y - anchor.y + i) over the mask cells (i, j) whose byte is non-zero; the
   mask is maskSize.height rows of maskSize.width bytes. */
IppStatus IPPShare_ippiDilate_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                     const Ipp8u* mask, IppiSize maskSize, IppiPoint anchor);
IppStatus IPPShare_ippiErode_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                    const Ipp8u* mask, IppiSize maskSize, IppiPoint anchor);

/* Median of the m x m window whose top-left pixel is src(x - anchor.x,
   y - anchor.y); the mask must be square and odd. C3R: per channel. */
IppStatus IPPShare_ippiFilterMedian_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                           IppiSize maskSize, IppiPoint anchor);
IppStatus IPPShare_ippiFilterMedian_8u_C3R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                           IppiSize maskSize, IppiPoint anchor);

/* Median of the plus-shaped cells centred on the pixel: 5 cells for mask 33,
   9 cells (two each way) for mask 55. */
IppStatus IPPShare_ippiFilterMedianCross_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                                IppiMaskSize mask);
/* Mask 33 only: the pixel of the 3 x 3 window whose summed distance
   (|dR| + |dG| + |dB|) to the other eight is least; on a tie the first in
   row order. */
IppStatus IPPShare_ippiFilterMedianColor_8u_C3R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                                IppiMaskSize mask);
/* Median of the 3 x 3 window with the centre counted `weight` times (3 or 5). */
IppStatus IPPShare_ippiFilterMedianWeightedCenter3x3_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                            IppiSize roi, int weight);

/* Bilinear resize of the source region by the factors (interpolation and
   buffer are not used); the shifts, rounded, move the result right and down
   (positive: the destination region moves and narrows) or drop its first
   columns and rows (negative). The copy is clipped to the destination
   region. */
IppStatus OPCV_ippiResizeSqrPixel_8u_C1R(const Ipp8u* src, IppiSize srcSize, int srcStep, IppiRect srcRoi, Ipp8u* dst,
                                         int dstStep, IppiRect dstRoi, double xFactor, double yFactor, double xShift,
                                         double yShift, int interpolation, Ipp8u* buffer);

IppStatus IPPShare_ippiSet_8u_C1R(Ipp8u value, Ipp8u* dst, int dstStep, IppiSize roi);

/* In place: every pixel less than or equal to threshold becomes value. */
IppStatus IPPShare_ippiThreshold_LTVal_16s_C1IR(Ipp16s* srcDst, int step, IppiSize roi, Ipp16s threshold, Ipp16s value);
IppStatus IPPShare_ippiThreshold_LTVal_8u_C1IR(Ipp8u* srcDst, int step, IppiSize roi, Ipp8u threshold, Ipp8u value);

enum { CblasRowMajor = 101, CblasColMajor = 102 };
enum { CblasNoTrans = 111, CblasTrans = 112, CblasConjTrans = 113 };
/* C := alpha op(A) op(B) + beta C in single precision. */
void OPCV_cblas_sgemm(int order, int transA, int transB, int M, int N, int K, float alpha, const float* A, int lda,
                      const float* B, int ldb, float beta, float* C, int ldc);

/* dst(x, y) = saturate(round(sum over i < kh, j < kw of kernel[i kw + j] *
   src(x + anchor.x - j, y + anchor.y - i) / divisor)). */
IppStatus IPPShare_ippiFilter_16s_C1R(const Ipp16s* src, int srcStep, Ipp16s* dst, int dstStep, IppiSize roi,
                                      const Ipp32s* kernel, IppiSize kernelSize, IppiPoint anchor, int divisor);
IppStatus IPPShare_ippiFilter_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                     const Ipp32s* kernel, IppiSize kernelSize, IppiPoint anchor, int divisor);
IppStatus IPPShare_ippiFilter_8u_C3R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                     const Ipp32s* kernel, IppiSize kernelSize, IppiPoint anchor, int divisor);

/* One bit per pixel, most significant bit first, starting srcBitOffset bits
   into the first byte of each row: bit 1 gives 255, bit 0 gives 0. */
IppStatus IPPShare_ippiConvert_1u8u_C1R(const Ipp8u* src, int srcStep, int srcBitOffset, Ipp8u* dst, int dstStep,
                                        IppiSize roi);
/* Bit 1 for a pixel above threshold, 0 otherwise (noise, seed and dither
   type are not used); bits outside the region keep their values. */
IppStatus IPPShare_ippiReduceBits_8u1u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, int dstBitOffset,
                                           IppiSize roi, int noise, int seed, int ditherType, Ipp8u threshold);

/* step = 2 width rounded up to 64; release with IPPShare_ippiFree. */
Ipp16s* IPPShare_ippiMalloc_16s_C1(int width, int height, int* step);
void IPPShare_ippiFree(void* p);
IppStatus IPPShare_ippStaticInit(void);
IppStatus IppInit(void);

/* ---- page record ---- */

/* Depth 1, 8, 24 (R, G, B), 32 or 40; size = height x rowBytes. */
typedef struct {
  uint8_t* baseAddr;
  int32_t depth;
  int32_t width;
  int32_t height;
  int32_t rowBytes;
  int32_t size;
} VKIMG;

typedef struct {
  int32_t top;
  int32_t left;
  int32_t bottom;
  int32_t right;
} VkRect;

/* Image description, reached through a handle: width, height and depth for
   the page entries and readers, resolutions in dots per inch for the
   compressors. */
typedef struct {
  int32_t width;    /* offset 0 */
  int32_t height;   /* offset 4 */
  int32_t hRes;     /* offset 8 */
  int32_t vRes;     /* offset 12 */
  int32_t dataSize; /* offset 16, not used */
  int16_t depth;    /* offset 20 */
  int16_t reserved;
} VkImageDesc;

/* Rows: depth 1 (width + 7)/8, 8 and 40 width, 32 4 x width, each rounded
   up to 16 bytes; 24 3 x width (ForUnite: rounded up to 4 bytes). A depth
   outside that list or a page beyond 2^31 bytes is -50; -108 when memory is
   short; *out is null on every failure. */
int16_t CreateNewVKIMGPtr(VKIMG** out, const VkRect* rect, int32_t depth);
int16_t CreateNewVKIMGPtrForUnite(VKIMG** out, const VkRect* rect, int32_t depth);
void DisposeVKIMG(VKIMG* image);
void VkSetRect(VkRect* rect, int32_t left, int32_t top, int32_t right, int32_t bottom);

void VkMac_ippiGetRotateShift(double xCenter, double yCenter, double angle, double* xShift, double* yShift);
/* dst(x, y) = the source region rotated counter-clockwise by angle degrees
   about its origin, at (x - xShift, y - yShift); bilinear, fill 0. */
int16_t VkMac_ippiRotate_8u_C1R(const Ipp8u* src, IppiSize srcSize, int srcStep, IppiRect srcRoi, Ipp8u* dst,
                                int dstStep, IppiRect dstRoi, double angle, double xShift, double yShift,
                                int interpolation);
int16_t VkMac_ippiRotate_8u_C3R(const Ipp8u* src, IppiSize srcSize, int srcStep, IppiRect srcRoi, Ipp8u* dst,
                                int dstStep, IppiRect dstRoi, double angle, double xShift, double yShift,
                                int interpolation);

/* Rotations about the page centre into a page of the description's size;
   fillWhite paints the uncovered corners white in colour pages. */
int16_t DeskewImageWithIPP(const VKIMG* src, VkImageDesc** desc, VKIMG** out, int interpolation, int fillWhite,
                           double angle);
/* Keeps `area` (page coordinates of the rotated page) as the new page. */
int16_t DeskewImageWithIPPEx(const VKIMG* src, VkImageDesc** desc, VKIMG** out, int interpolation, int fillWhite,
                             const VkRect* area, double angle);
/* Rotates about (xCenter, yCenter); `area` is counted from that point. */
int16_t DeskewImageWithIPPExWithShirftPoint(const VKIMG* src, VkImageDesc** desc, VKIMG** out, int interpolation,
                                            int fillWhite, const VkRect* area, double angle, double xCenter,
                                            double yCenter);
/* 90 and -270 clockwise, 180 and -180, 270 and -90 counter-clockwise; the
   description receives the new width and height. */
int16_t RotateImageWithIPP(const VKIMG* src, VkImageDesc** desc, VKIMG** out, double angle);
/* Rotates src about its centre into a new page of dstRecord's size and
   depth, centres aligned; dstRecord is pointed at the new pixels too (its
   former pixels stay the caller's). -1001 on failure. */
int16_t UniteImageIplRotateImage(VKIMG* dstRecord, const VKIMG* src, VKIMG** out, double angle);
int16_t ResizeImageWithIPPEx(const VKIMG* src, VKIMG** out, int32_t fromResolution, int32_t toResolution);

/* ---- JPEG ---- */

/* Quality codes 0, 286, 389, 450, 788; the new block is the caller's
   (free). Pages of depth 8 or 24 (R, G, B). */
int16_t CompressJPEG(const VKIMG* image, int32_t resolution, int32_t quality, uint8_t** out, uint32_t* outSize);
int16_t CompressJPEGWithIPP(const VKIMG* image, VkImageDesc** resolution, int32_t quality, uint8_t** out,
                            uint32_t* outSize);
int16_t CompressJPEGEx(const VKIMG* image, VkImageDesc** resolution, int32_t quality, uint8_t** out, uint32_t* outSize);
int16_t CompressJPEGWithIPPEx(const VKIMG* image, VkImageDesc** resolution, int32_t quality, uint8_t** out,
                              uint32_t* outSize);

/* Grey streams give depth 8, colour ones depth 24 in R, G, B order; the
   description receives width, height and depth. */
int16_t ReadJPEG(const uint8_t* data, uint32_t length, VkImageDesc** desc, VKIMG** out);
int16_t ReadJPEGWithIPP(const uint8_t* data, uint32_t length, VkImageDesc** desc, VKIMG** out);
/* Always R, G, B; the stream must have the description's width and height. */
int16_t ReadSplitJPEG(const uint8_t* data, uint32_t length, VkImageDesc** desc, VKIMG** out);

/* ---- further primitives ---- */

Ipp8u* IPPMini_ippiMalloc_8u_C3(int width, int height, int* step);
void IPPMini_ippiFree(void* p);
IppStatus IPPMini_ippStaticInit(void);
IppStatus IPPShare_ippiRGBToYUV_8u_C3R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi);
IppStatus IPPShare_ippiYUVToRGB_8u_C3R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi);
IppStatus IPPMini_ippiRGBToYUV_8u_C3P3R(const Ipp8u* src, int srcStep, Ipp8u* const planes[3], int planeStep,
                                        IppiSize roi);
IppStatus IPPMini_ippiYUVToRGB_8u_P3C3R(const Ipp8u* const planes[3], int planeStep, Ipp8u* dst, int dstStep,
                                        IppiSize roi);
IppStatus IPPMini_ippiCopy_8u_C3P3R(const Ipp8u* src, int srcStep, Ipp8u* const planes[3], int planeStep, IppiSize roi);
IppStatus IPPMini_ippiCopy_8u_P3C3R(const Ipp8u* const planes[3], int planeStep, Ipp8u* dst, int dstStep, IppiSize roi);
IppStatus IPPMini_ippiFilterMin_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                       IppiSize mask, IppiPoint anchor);
IppStatus IPPMini_ippiFilterMax_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                       IppiSize mask, IppiPoint anchor);
IppStatus IPPMini_ippiFilterMedian_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                          IppiSize mask, IppiPoint anchor);
/* In place; the mask's area around the region is read, and only the region
   changes. */
IppStatus IPPMini_ippiFilterBox_8u_C3IR(Ipp8u* srcDst, int step, IppiSize roi, IppiSize mask, IppiPoint anchor);
/* Square odd kernel; colour sigma sqrt(valSquareSigma), space sigma
   sqrt(posSquareSigma); reads kernel/2 pixels around the region. */
IppStatus OPCV_ippiFilterBilateral_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                          IppiSize kernel, float valSquareSigma, float posSquareSigma);
IppStatus IPPMini_ippiResize_8u_C3R(const Ipp8u* src, IppiSize srcSize, int srcStep, IppiRect srcRoi, Ipp8u* dst,
                                    int dstStep, IppiSize dstRoiSize, double xFactor, double yFactor,
                                    int interpolation);
IppStatus IPPMini_ippiFilter32f_8u_C3R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                       const Ipp32f* kernel, IppiSize kernelSize, IppiPoint anchor);

/* Bilateral noise reduction of a plane whose step is its width: mode 2 a
   5 x 5 kernel over the plane less 2 pixels each side, else 3 x 3 less 1;
   squared sigmas 96 x strength (1 for strength 0). Border pixels of dst are
   left as they were. */
IppStatus DeosNr(const Ipp8u* src, Ipp8u* dst, IppiSize size, int mode, int strength);
/* DeosNr on each plane of a 3-channel page: 1 null source, 2 null
   destination, 3 bad size, else the planes' status; the border keeps the
   source's pixels. */
int DeosNrRGB(const Ipp8u* src, Ipp8u* dst, int width, int height, int mode, int strength);
/* Three (2r + 1)^2 float kernels, the first for the third channel; the page
   less an r-pixel border is convolved, the border of dst takes the source's
   pixels. */
bool Convolution24(const Ipp8u* src, Ipp8u* dst, IppiSize size, int radius, const float* kernels);
bool Convolution24MonoFilter(const Ipp8u* src, Ipp8u* dst, IppiSize size, int radius, const float* kernel);
/* DCT of the n x n values taken as one sequence of n^2 (inverse for sign < 0). */
void ddct(int sign, double** rows, int n);

#ifdef __cplusplus
}
#endif

#endif
