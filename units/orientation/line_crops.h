// Crops of single text lines (two-level and grey) and the checks on them.
#ifndef DRAVN_ORIENTATION_LINE_CROPS_H
#define DRAVN_ORIENTATION_LINE_CROPS_H

#include <cstdint>

#include "textline_types.h"

namespace turnsense {

// Page inputs of the extractors: the full grey page and the decimated
// pages (D1, D2 two-level, G grey) at factor s.
struct CropPages {
  uint8_t** full;
  int full_width, full_height;
  uint8_t** d1;
  uint8_t** d2;
  uint8_t** grey;
  int width, height;  // decimated
  int s;
};

int original_text_line_extraction(void* engine, uint8_t** full, void* unused, int full_width, int full_height,
                                  uint8_t** d1, uint8_t** d2, uint8_t** grey, int width, int height, int s,
                                  TEXTLINE line, TEXT_IMAGE* out, const char* text1, const char* text2, int extra);
int original_text_line_extraction_Pavix_nline_v1(void* engine, uint8_t** full, void* unused1, void* unused2,
                                                 int full_width, int full_height, uint8_t** d1, uint8_t** d2,
                                                 uint8_t** grey, int width, int height, int s, TEXTLINE line,
                                                 TEXT_IMAGE* out, int length_selector, const char* text1,
                                                 const char* text2, int extra);

int binary_simliarity(uint8_t** reference, uint8_t** other, int width, int height, tagRECT box, int s,
                      const uint8_t* crop, int crop_width, int crop_height, int r, float* similarity,
                      const char* text1 = nullptr, const char* text2 = nullptr);
int binary_simliarity_samesize(uint8_t** reference, uint8_t** other, int width, int height, tagRECT box,
                               const uint8_t* crop, int crop_width, int crop_height, float* similarity,
                               const char* text1 = nullptr, const char* text2 = nullptr);
int is_over_segmented(const uint8_t* image, int width, int height);
int is_over_segmented(uint8_t** rows, int width, int height, tagRECT box);
bool is_bad_layer(uint8_t** d1, uint8_t** d2, int64_t left, int64_t right, int64_t top, int64_t bottom);
void rightboundary_check_margin(uint8_t** rows, int width, int height, tagRECT& area, tagRECT box, int64_t margin);
void botboundary_check_margin(uint8_t** rows, int width, int height, tagRECT& area, tagRECT box, int64_t margin);

// Frees both crops of a record and clears their pointers.
void release_text_image(TEXT_IMAGE* crop);

}  // namespace turnsense

#endif
