#ifndef I3IP_IMAGE_INFO_H
#define I3IP_IMAGE_INFO_H

#include <stdint.h>

/* The image record that the image-processing units take and return. */
typedef struct I3ipImageInfo {
  uint32_t Size;       /* 40 */
  uint8_t DataType;
  uint8_t Bpp;         /* 1, 8 or 24 */
  uint8_t Boundary;
  uint8_t MarginSize;
  uint16_t Dpi;
  int32_t EndorserCount;
  uint32_t Width;
  uint32_t Height;
  uint32_t Bpl;
  uint32_t DataSize;
  unsigned char* Data; /* rows top to bottom; 24-bit pixels R, G, B */
} I3ipImageInfo;

#ifdef __cplusplus
static_assert(sizeof(I3ipImageInfo) == 40, "I3ipImageInfo is a 40-byte record");
#endif

/* Unit result codes. */
#define I3IP_OK 0
#define I3IP_ERR_MEMORY 34
#define I3IP_ERR_ABORTED 35
#define I3IP_ERR_ARGUMENT 36
#define I3IP_ERR_ENGINE 47

#endif
