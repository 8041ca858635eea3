// JPEG decoding of device pages held in memory, through the JPEG library
// bound at run time (the front end's own JPEG library is never used).
#ifndef DRAVN_COMMON_JPEG_DECODE_H
#define DRAVN_COMMON_JPEG_DECODE_H

// clang-format off
#include <cstddef>
#include <cstdio>  // jpeglib.h needs size_t and FILE declared first
#include <jpeglib.h>
// clang-format on

#include "dravn_paths.h"
#include "image_params.h"

// A compressed page face; width and height replace those of its header.
struct JPEGINFO {
  unsigned int uiDataSize;
  unsigned short usWidth;
  unsigned short usHeight;
};
static_assert(sizeof(JPEGINFO) == 8, "JPEGINFO is passed as an 8-byte record");

extern void* g_pLibjpeg;
// Result of LoadLibjpeg8, kept by the backends' init.
extern bool g_bLibjpeg;

// Opens libDir "/libjpeg.so" and binds the eight decoder entries.
bool LoadLibjpeg8(const char* libDir = DRAVN_LIB_DIR);
void UnLoadLibjpeg8();

// Serves a page held in memory to the decompressor; null data or a zero
// length is a library error (JERR_INPUT_EMPTY) through its error manager.
void kelo_jpeg_memory_src(j_decompress_ptr cinfo, const unsigned char* data, unsigned long length);

// Second backend: decodes info.uiDataSize bytes at data into rows of
// info.usWidth x info.usHeight pixels; rows the data does not reach stay
// white (0xFF). A new buffer (free() it), or null.
unsigned char* ReadDataFromJpeg(const unsigned char* data, JPEGINFO info);

// The same with every byte of the result, the white included, passed
// through a 256-entry table as its row is decoded: one pass over the page
// where decoding and a table would take two.
unsigned char* ReadDataFromJpegMapped(const unsigned char* data, JPEGINFO info, const unsigned char* table);

// The same into the caller's buffer of `capacity` bytes; a page that does
// not fit is refused, never written past. out, or null; the buffer stays
// the caller's either way.
unsigned char* ReadDataFromJpegMappedInto(const unsigned char* data, JPEGINFO info, const unsigned char* table,
                                          unsigned char* out, size_t capacity);

// Main backend: decodes receivedLength bytes into face.iPixelsPerLine x
// face.iLines pixels. A new buffer (free() it), or null.
unsigned char* ReadDataFromJpeg(const unsigned char* data, unsigned int receivedLength, QV_IMAGEDATA_PARAMETERS face);

// Writes the face's lines and pixels per line into the baseline frame
// header; true when one was found and patched. Whatever the result, data
// that ends in a restart marker is made to end in an end-of-image marker.
bool UpdateJPEGParam(unsigned char* data, unsigned int length, KELO_IMAGEDATA_PARAMETERS params);

#endif
