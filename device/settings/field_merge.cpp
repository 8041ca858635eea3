#include "field_merge.h"

#include <cstring>

uint8_t g_VantorAmodFlags[13];
uint8_t g_VantorBmodFlags[13];
uint8_t g_PilvomodFlags[35];
uint8_t g_DunmoMe2modFlags[32];
uint8_t g_Tavrin3modFlags[32];
uint8_t g_RTOSmodFlags[52];

namespace {

// Field shapes that recur across the layouts.
#define NIB(f, o) {f, 0x01, o, 0x0F}, {f, 0x02, o, 0xF0}
#define WHOLE4(f, o) {f, 0x01, o, 0xFF}, {f, 0x02, o + 1, 0xFF}, {f, 0x04, o + 2, 0xFF}, {f, 0x08, o + 3, 0xFF}
#define SIX_BITS(f, o) \
  {f, 0x01, o, 0x02}, {f, 0x02, o, 0x04}, {f, 0x04, o, 0x08}, {f, 0x08, o, 0x10}, {f, 0x10, o, 0x60}, {f, 0x20, o, 0x80}
#define FIVE_BITS(f, o) {f, 0x01, o, 0x06}, {f, 0x02, o, 0x10}, {f, 0x04, o, 0x20}, {f, 0x08, o, 0x40}, {f, 0x10, o, 0x80}
#define THREE_BITS(f, o) {f, 0x01, o, 0x03}, {f, 0x02, o, 0x08}, {f, 0x04, o, 0x10}
// Vantor flag bytes 0-11, which the Pilvo set shares.
#define VANTOR_COMMON                                                                                             \
  {0, 0x01, 180, 0x01}, {0, 0x02, 180, 0x02}, {1, 0x01, 193, 0x80}, {1, 0x02, 193, 0x30}, {1, 0x04, 193, 0x02},   \
      {2, 0x01, 48, 0xFF}, {2, 0x02, 49, 0x80}, {2, 0x04, 49, 0x7F}, {3, 0x01, 160, 0x01}, {3, 0x02, 160, 0xE0}, \
      NIB(4, 161), {5, 0x01, 162, 0x80}, {5, 0x02, 162, 0x07}, {6, 0x01, 207, 0x1F}, SIX_BITS(7, 182),            \
      {8, 0x01, 210, 0x02}, {8, 0x02, 210, 0x08}, NIB(9, 211), NIB(10, 216), NIB(11, 217)

const MergeField kVantorFields[] = {VANTOR_COMMON, {12, 0x01, 79, 0xFF}};

const MergeField kPilvoFields[] = {
    VANTOR_COMMON,
    FIVE_BITS(12, 203),
    {13, 0x01, 352, 0x01}, {13, 0x06, 352, 0xC0},
    {14, 0x01, 354, 0x03}, {14, 0x02, 354, 0x08}, {14, 0x04, 354, 0x30},
    {15, 0x01, 355, 0x0F}, {15, 0x02, 355, 0x80},
    {16, 0x01, 360, 0x3F}, {16, 0x02, 360, 0x80},
    {17, 0x03, 353, 0x03}, {17, 0x04, 353, 0x08}, {17, 0x08, 353, 0x30},
    {18, 0x01, 368, 0xFF}, {19, 0x01, 369, 0xFF}, {20, 0x01, 370, 0xFF}, {21, 0x01, 372, 0xFF},
    {22, 0x01, 373, 0xFF}, {23, 0x01, 374, 0xFF}, {24, 0x01, 376, 0xFF}, {25, 0x01, 377, 0xFF},
    {26, 0x01, 378, 0xFF}, {27, 0x01, 371, 0xFF}, {28, 0x01, 375, 0xFF}, {29, 0x01, 379, 0xFF},
    // Bit 3 of byte 166 always keeps the device's value.
    {30, 0x01, 166, 0x01}, {30, 0x02, 166, 0x02}, {30, 0x04, 166, 0x04}, {30, 0x08, 166, 0x10},
    {30, 0x10, 166, 0x20}, {30, 0x20, 166, 0x40}, {30, 0x40, 166, 0x80},
    {31, 0x01, 118, 0xFF},
    {32, 0x01, 177, 0x01}, {32, 0x02, 177, 0x02}, {32, 0x04, 177, 0x04}, {32, 0x08, 177, 0x08},
    {32, 0x10, 177, 0x10}, {32, 0x20, 177, 0x20}, {32, 0x40, 177, 0x40}, {32, 0x80, 177, 0x80},
    {33, 0x01, 178, 0x20}, {33, 0x02, 178, 0x40}, {33, 0x04, 178, 0x80},
    {34, 0x01, 331, 0x01}, {34, 0x06, 331, 0x30},
};

const MergeField kDunmoMe2Fields[] = {
    THREE_BITS(0, 208), NIB(1, 216), NIB(2, 217), NIB(3, 214), NIB(4, 215), NIB(5, 211),
    {6, 0x01, 210, 0x02}, {6, 0x02, 210, 0x70},
    {7, 0x01, 187, 0xFF}, {8, 0x01, 190, 0xFF},
    {9, 0x01, 192, 0x01}, {9, 0x02, 192, 0x10}, {9, 0x04, 192, 0x20}, {9, 0x08, 192, 0x40},
    FIVE_BITS(10, 203),
    {11, 0x01, 48, 0xFF}, {11, 0x02, 49, 0x80}, {11, 0x04, 49, 0x7F},
    {12, 0x01, 198, 0xFF}, {13, 0x01, 199, 0xFF},
    SIX_BITS(14, 182),
    {15, 0x01, 207, 0x1F},
    {16, 0x01, 128, 0x01}, {16, 0x02, 128, 0xE0},
    {17, 0x01, 177, 0x01},
    {18, 0x01, 178, 0x80}, {18, 0x02, 178, 0x07},
    NIB(19, 129),
    {20, 0x01, 41, 0x03},
    {21, 0x01, 180, 0x01}, {21, 0x06, 180, 0xC0},
    {22, 0x01, 218, 0x1F}, {22, 0x02, 218, 0x80},
    {23, 0x01, 219, 0x1F}, {23, 0x02, 219, 0x80},
    {24, 0x01, 220, 0x07}, {24, 0x02, 220, 0x70},
    {25, 0x01, 221, 0x07}, {25, 0x02, 221, 0x70},
    {26, 0x01, 222, 0x07}, {26, 0x02, 222, 0x70},
    {27, 0x01, 62, 0xFF}, {27, 0x02, 63, 0xFF},
    {28, 0x01, 60, 0xFF}, {28, 0x02, 61, 0xFF},
    {29, 0x01, 204, 0xFF}, {30, 0x01, 118, 0xFF}, {31, 0x01, 197, 0x0F},
};

const MergeField kTavrin3Fields[] = {
    NIB(0, 27), NIB(1, 28), THREE_BITS(2, 29), NIB(3, 43), NIB(4, 50),
    {5, 0x01, 52, 0x10}, {6, 0x01, 41, 0xFF}, {7, 0x01, 42, 0xFF}, {8, 0x01, 224, 0x80},
    {9, 0x01, 225, 0xFF}, {10, 0x01, 227, 0xFF},
    NIB(11, 322), NIB(12, 323), FIVE_BITS(13, 328),
    {14, 0x01, 329, 0x0F}, {15, 0x01, 337, 0x02},
    SIX_BITS(16, 338),
    {17, 0x01, 344, 0x1F}, {17, 0x02, 344, 0x20},
    {18, 0x01, 345, 0x03},
    {19, 0x01, 220, 0x01}, {19, 0x06, 220, 0xC0},
    {20, 0x01, 336, 0x80}, {20, 0x02, 336, 0x40}, {20, 0x04, 336, 0x20},
    {21, 0x01, 60, 0xFF}, {21, 0x02, 61, 0xFF},
    {22, 0x01, 124, 0xFF}, {22, 0x02, 125, 0xFF},
};

const MergeField kRTOSFields[] = {
    NIB(0, 266), NIB(1, 265), THREE_BITS(2, 271), NIB(3, 264), NIB(4, 263),
    {5, 0x01, 329, 0x08},
    WHOLE4(6, 452), WHOLE4(7, 468), WHOLE4(8, 464),
    {9, 0x01, 284, 0x01}, {9, 0x02, 284, 0x10}, {9, 0x04, 284, 0x20}, {9, 0x08, 284, 0x40},
    {10, 0x01, 274, 0xFF}, {10, 0x02, 275, 0xFF},
    {11, 0x01, 280, 0xFF}, {11, 0x02, 281, 0xFF},
    NIB(12, 296), NIB(13, 297), FIVE_BITS(14, 299),
    {15, 0x01, 270, 0x0F}, {16, 0x01, 289, 0x02},
    SIX_BITS(17, 292),
    {18, 0x01, 295, 0x1F}, {18, 0x02, 295, 0x20},
    {19, 0x01, 290, 0x03},
    {20, 0x01, 220, 0x01}, {20, 0x06, 220, 0xC0},
    {21, 0x01, 341, 0x80}, {21, 0x02, 341, 0x40}, {21, 0x04, 341, 0x20},
    {22, 0x01, 342, 0xFF}, {23, 0x01, 372, 0x40},
    {24, 0x01, 424, 0x80}, {24, 0x02, 424, 0x7F}, {24, 0x04, 425, 0xFF}, {24, 0x08, 426, 0xFF}, {24, 0x10, 427, 0xFF},
    WHOLE4(25, 472),
    {26, 0x01, 307, 0x3F}, {26, 0x02, 307, 0x80},
    {27, 0x01, 269, 0x30},
    WHOLE4(28, 388), WHOLE4(29, 400), WHOLE4(30, 404),
    {36, 0x01, 334, 0x02}, {37, 0x01, 335, 0x03}, {38, 0x01, 339, 0x80}, {39, 0x01, 340, 0xFF},
    {40, 0x01, 328, 0x01}, {48, 0x01, 364, 0x03},
    {49, 0x01, 160, 0x01}, {49, 0x02, 160, 0xE0},
};

const MergeWord kTavrin3Words[] = {{24, 53, 57}, {28, 359, 359}};
const MergeWord kRTOSWords[] = {{32, 53, 57}};

// Byte 181 keeps the device's bit 6 in both families.
#define VANTOR_PILVO_ALWAYS_HEAD                                                                                     \
  {60, 0xFF}, {61, 0xFF}, {62, 0xFF}, {63, 0xFF}, {64, 0xFF}, {65, 0xFF}, {70, 0xFF}, {71, 0xFF}, {72, 0xFF},     \
      {86, 0xFF}, {117, 0xFF}, {122, 0xFF}, {123, 0xFF}, {124, 0xFF}, {125, 0xFF}, {181, 0xBF}, {183, 0xFF},     \
      {184, 0xFF}, {185, 0xFF}, {186, 0xFF}, {187, 0xFF}, {188, 0xFF}, {189, 0xFF}, {190, 0xFF}, {191, 0xFF},    \
      {192, 0xFF}, {194, 0xFF}, {195, 0xFF}, {196, 0xFF}, {197, 0xFF}, {198, 0xFF}, {199, 0xFF}, {200, 0xFF},    \
      {201, 0xFF}, {202, 0xFF}
#define VANTOR_PILVO_ALWAYS_TAIL \
  {204, 0xFF}, {205, 0xFF}, {206, 0xFF}, {208, 0xFF}, {212, 0xFF}, {218, 0xFF}, {220, 0xFF}, {221, 0xFF}, {223, 0xFF}, {328, 0xFF}

const AlwaysByte kVantorAlways[] = {VANTOR_PILVO_ALWAYS_HEAD, {203, 0xFF}, VANTOR_PILVO_ALWAYS_TAIL};
const AlwaysByte kPilvoAlways[] = {VANTOR_PILVO_ALWAYS_HEAD, VANTOR_PILVO_ALWAYS_TAIL};
const AlwaysByte kDunmoMe2Always[] = {{86, 0xFF}, {183, 0xFF}, {202, 0xFF}, {328, 0xFF}};
const AlwaysByte kTavrin3Always[] = {{64, 0xFF}, {230, 0xFF}, {248, 0xFF}, {280, 0xFF}, {335, 0xFF}};
const AlwaysByte kRTOSAlways[] = {{230, 0xFF}, {267, 0xFF}, {268, 0xFF}, {298, 0xFF}, {338, 0xFF}, {352, 0xFF}};

template <typename T, size_t N>
constexpr size_t Count(const T (&)[N]) {
  return N;
}

}  // namespace

#define LAYOUT(name, bytes, fields, words, wordCount, always) \
  {name, bytes, fields, Count(fields), words, wordCount, always, Count(always)}

const MergeLayout kVantorLayout = LAYOUT("Vantor", 13, kVantorFields, nullptr, 0, kVantorAlways);
const MergeLayout kPilvoLayout = LAYOUT("Pilvo", 35, kPilvoFields, nullptr, 0, kPilvoAlways);
const MergeLayout kDunmoMe2Layout = LAYOUT("DunmoMe2", 32, kDunmoMe2Fields, nullptr, 0, kDunmoMe2Always);
const MergeLayout kTavrin3Layout = LAYOUT("Tavrin3", 32, kTavrin3Fields, kTavrin3Words, 2, kTavrin3Always);
const MergeLayout kRTOSLayout = LAYOUT("RTOS", 52, kRTOSFields, kRTOSWords, 1, kRTOSAlways);

void MergeFields(const MergeLayout& layout, const uint8_t* flags, const uint8_t* source, uint8_t* destination) {
  for (size_t k = 0; k < layout.fieldCount; ++k) {
    const MergeField& f = layout.fields[k];
    if (flags[f.flagByte] & f.flagBits)
      destination[f.offset] = static_cast<uint8_t>((destination[f.offset] & ~f.mask) | (source[f.offset] & f.mask));
  }
  for (size_t k = 0; k < layout.wordCount; ++k) {
    const MergeWord& w = layout.words[k];
    uint32_t word;
    std::memcpy(&word, flags + w.flagByte, sizeof word);
    if (word) std::memcpy(destination + w.first, source + w.first, w.last - w.first + 1u);
  }
  for (size_t k = 0; k < layout.alwaysCount; ++k) {
    const AlwaysByte& a = layout.always[k];
    destination[a.offset] = static_cast<uint8_t>((destination[a.offset] & ~a.mask) | (source[a.offset] & a.mask));
  }
}

void MergeVantor(const uint8_t* flagsA, const uint8_t* flagsB, const uint8_t* source, uint8_t* destination) {
  uint8_t either[sizeof g_VantorAmodFlags];
  for (size_t k = 0; k < sizeof either; ++k) either[k] = flagsA[k] | flagsB[k];
  MergeFields(kVantorLayout, either, source, destination);
}
