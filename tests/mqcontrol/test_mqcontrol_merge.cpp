// The field merge of each modified-field set, over a source image that
// differs from the device table in every bit.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "field_merge.h"

namespace {

struct Images {
  uint8_t source[512];
  uint8_t device[512];
  Images() {
    for (int k = 0; k < 512; ++k) {
      source[k] = static_cast<uint8_t>(k * 37 + 11);
      device[k] = static_cast<uint8_t>(~source[k]);
    }
  }
};

// offset -> bits that came from the source.
std::map<int, uint8_t> Taken(const MergeLayout& layout, const std::vector<uint8_t>& flags) {
  Images im;
  uint8_t out[512];
  std::memcpy(out, im.device, 512);
  MergeFields(layout, flags.data(), im.source, out);
  std::map<int, uint8_t> taken;
  for (int k = 0; k < 512; ++k) {
    uint8_t fromSource = static_cast<uint8_t>(~(out[k] ^ im.source[k]));
    // Every bit is either the device's or the source's, by construction.
    if (fromSource) taken[k] = fromSource;
  }
  return taken;
}

std::map<int, uint8_t> Always(const MergeLayout& layout) {
  return Taken(layout, std::vector<uint8_t>(layout.flagBytes, 0));
}

const MergeLayout* const kLayouts[] = {&kVantorLayout, &kPilvoLayout, &kDunmoMe2Layout, &kTavrin3Layout, &kRTOSLayout};

TEST(FieldMerge, ClearSetSendsOnlyTheAlwaysBytes) {
  struct Case {
    const MergeLayout* layout;
    size_t bytes;
    int keptBit6Of181;
  } cases[] = {{&kVantorLayout, 46, 1}, {&kPilvoLayout, 45, 1}, {&kDunmoMe2Layout, 4, 0},
               {&kTavrin3Layout, 5, 0}, {&kRTOSLayout, 6, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.layout->name);
    std::map<int, uint8_t> always = Always(*c.layout);
    EXPECT_EQ(always.size(), c.bytes);
    if (c.keptBit6Of181) {
      EXPECT_EQ(always[181], 0xBF);
    }
    EXPECT_EQ(always.count(328), c.layout == &kTavrin3Layout || c.layout == &kRTOSLayout ? 0u : 1u);
  }
  EXPECT_EQ(Always(kPilvoLayout).count(203), 0u);
  EXPECT_EQ(Always(kVantorLayout).count(203), 1u);
}

// Each flag bit alone brings exactly its mask and nothing else; a two-bit
// flag is tried with only its upper bit.
TEST(FieldMerge, EachFlagBitBringsExactlyItsField) {
  for (const MergeLayout* layout : kLayouts) {
    SCOPED_TRACE(layout->name);
    std::map<int, uint8_t> always = Always(*layout);
    for (size_t k = 0; k < layout->fieldCount; ++k) {
      const MergeField& f = layout->fields[k];
      std::vector<uint8_t> flags(layout->flagBytes, 0);
      uint8_t upper = f.flagBits;
      while (upper & (upper - 1)) upper &= upper - 1;
      flags[f.flagByte] = upper;
      std::map<int, uint8_t> taken = Taken(*layout, flags);
      std::map<int, uint8_t> expected = always;
      expected[f.offset] |= f.mask;
      EXPECT_EQ(taken, expected) << "flag byte " << int(f.flagByte) << " bits " << int(f.flagBits);
    }
  }
}

// Fields named by the layouts, as (flag byte, flag bits, offset, mask).
TEST(FieldMerge, FieldsOfTheLayouts) {
  struct Case {
    const MergeLayout* layout;
    int flagByte, flagBits, offset, mask;
  } cases[] = {
      {&kVantorLayout, 12, 0x01, 79, 0xFF},   {&kVantorLayout, 7, 0x10, 182, 0x60},
      {&kPilvoLayout, 13, 0x04, 352, 0xC0},   {&kPilvoLayout, 17, 0x01, 353, 0x03},
      {&kPilvoLayout, 27, 0x01, 371, 0xFF},   {&kPilvoLayout, 32, 0x80, 177, 0x80},
      {&kDunmoMe2Layout, 21, 0x02, 180, 0xC0}, {&kDunmoMe2Layout, 31, 0x01, 197, 0x0F},
      {&kTavrin3Layout, 13, 0x01, 328, 0x06}, {&kTavrin3Layout, 19, 0x04, 220, 0xC0},
      {&kRTOSLayout, 24, 0x10, 427, 0xFF},    {&kRTOSLayout, 30, 0x08, 407, 0xFF},
      {&kRTOSLayout, 49, 0x02, 160, 0xE0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.layout->name) + " " + std::to_string(c.offset));
    std::vector<uint8_t> flags(c.layout->flagBytes, 0);
    flags[c.flagByte] = static_cast<uint8_t>(c.flagBits);
    std::map<int, uint8_t> taken = Taken(*c.layout, flags);
    std::map<int, uint8_t> always = Always(*c.layout);
    EXPECT_EQ(taken[c.offset] & ~always[c.offset], c.mask);
  }
}

TEST(FieldMerge, BitsThatAlwaysKeepTheDevicesValue) {
  std::vector<uint8_t> all(kPilvoLayout.flagBytes, 0xFF);
  std::map<int, uint8_t> taken = Taken(kPilvoLayout, all);
  EXPECT_EQ(taken[166], 0xF7);
  EXPECT_EQ(taken[181], 0xBF);
  std::vector<uint8_t> allV(13, 0xFF);
  EXPECT_EQ(Taken(kVantorLayout, allV)[181], 0xBF);
}

TEST(FieldMerge, ThirtyTwoBitFlagsAreWholeWords) {
  struct Case {
    const MergeLayout* layout;
    int flagByte, first, last;
  } cases[] = {{&kTavrin3Layout, 24, 53, 57}, {&kTavrin3Layout, 28, 359, 359}, {&kRTOSLayout, 32, 53, 57}};
  for (const Case& c : cases) {
    for (int b = 0; b < 4; ++b) {
      SCOPED_TRACE(std::string(c.layout->name) + " byte " + std::to_string(c.flagByte + b));
      std::vector<uint8_t> flags(c.layout->flagBytes, 0);
      flags[c.flagByte + b] = 0x40;
      std::map<int, uint8_t> taken = Taken(*c.layout, flags);
      std::map<int, uint8_t> expected = Always(*c.layout);
      for (int o = c.first; o <= c.last; ++o) expected[o] = 0xFF;
      EXPECT_EQ(taken, expected);
    }
  }
  // The RTOS word at 44-47 is not read by the merge.
  std::vector<uint8_t> flags(52, 0);
  std::memset(flags.data() + 44, 0xFF, 4);
  EXPECT_EQ(Taken(kRTOSLayout, flags), Always(kRTOSLayout));
}

TEST(FieldMerge, VantorTakesAFieldFromSetAOrB) {
  Images im;
  uint8_t a[13] = {}, b[13] = {};
  a[12] = 0x01;  // byte 79
  b[6] = 0x01;   // byte 207, bits 0-4
  uint8_t out[512];
  std::memcpy(out, im.device, 512);
  MergeVantor(a, b, im.source, out);
  EXPECT_EQ(out[79], im.source[79]);
  EXPECT_EQ(out[207], (im.device[207] & 0xE0) | (im.source[207] & 0x1F));
  EXPECT_EQ(out[210], im.device[210]);
}

}  // namespace
