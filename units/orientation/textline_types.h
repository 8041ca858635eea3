// Records that the orientation pipeline's line stages pass between them:
// components and the labelling result, text lines, line crops and blocks.
#ifndef DRAVN_ORIENTATION_TEXTLINE_TYPES_H
#define DRAVN_ORIENTATION_TEXTLINE_TYPES_H

#include <cstdint>

namespace turnsense {

// Codes that travel through the pipeline (the driver throws them).
constexpr int kNoMemory = 0xffff;
constexpr int kNoiseFailed = 0xfffe;
constexpr int kLimitExceeded = 0xfffc;
constexpr int kLineRejected = 0xfffa;

// Inclusive box, 64-bit as the unit's line records carry it.
struct tagRECT {
  int64_t left, top, right, bottom;
};

// Inclusive box of a label, 32-bit.
struct rect {
  int32_t left, top, right, bottom;
};

struct CC {
  int32_t label;  // 1-based
  tagRECT box;
  int32_t width;
  int32_t height;
  uint8_t used;
  uint8_t noise;
};

struct CC_IMG {
  int32_t* pixel_counts;  // by label
  rect* boxes;            // by label
  int32_t* label_map;     // row-major, 0 for paper
  int32_t* status;        // by label: 0 kept, negative removed
  int32_t label_count;
  int32_t width;
  int32_t height;
};

struct TEXTLINE {
  tagRECT box;
  tagRECT core;
  int32_t width;
  int32_t height;
  float reserved0;
  float elongation;
  uint8_t block_mark;
  int32_t line_index;
  uint8_t selected;
  uint8_t taken;
  uint8_t underlined;
  uint8_t rule_left, rule_right, rule_above, rule_below;
  int32_t rule_above_gap, rule_below_gap, rule_left_gap, rule_right_gap;
  float reserved1;
  int32_t member_total;
  int32_t member_core;
  uint8_t valid;
  uint8_t merged;
  int32_t verdict;
  float text_score;
  float text_windows;
  int32_t windows;
  float detector_value;
  int32_t orientation;  // 0 horizontal, 1 vertical
  float reserved2[2];
  uint8_t reserved3;
  float reserved4[2];
  int32_t* member_list;
};

struct MERGE_RECT {
  int32_t horizontal[1000];
  int32_t vertical[1000];
  int32_t horizontal_count;
  int32_t vertical_count;
  int32_t left, top, right, bottom;
};

struct TEXT_IMAGE {
  int32_t width;
  int32_t height;
  uint8_t* binary;  // ink 0
  uint8_t* grey;
  int32_t vertical;
  tagRECT box;
  int32_t factor;  // page pixels per crop pixel
  float validity;
  uint8_t mark;
};

struct TEXT_PARA {
  int32_t count;
  int32_t lines[200];
  uint8_t flag;
  int64_t left, top, right, bottom;
  float mean_thickness;
};

}  // namespace turnsense

#endif
