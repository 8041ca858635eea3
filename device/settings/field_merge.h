// The modified-field sets and the merge that carries only the host's edited
// fields (and each family's "always" bytes) into the device's own table.
#ifndef DRAVN_MQCONTROL_FIELD_MERGE_H
#define DRAVN_MQCONTROL_FIELD_MERGE_H

#include <cstddef>
#include <cstdint>

// One flag bit (or two-bit pair) and the image bits it covers.
struct MergeField {
  uint8_t flagByte;
  uint8_t flagBits;
  uint16_t offset;
  uint8_t mask;
};
// A 32-bit flag over four flag bytes, selecting a run of image bytes.
struct MergeWord {
  uint8_t flagByte;
  uint16_t first;
  uint16_t last;
};
struct AlwaysByte {
  uint16_t offset;
  uint8_t mask;
};

struct MergeLayout {
  const char* name;
  size_t flagBytes;
  const MergeField* fields;
  size_t fieldCount;
  const MergeWord* words;
  size_t wordCount;
  const AlwaysByte* always;
  size_t alwaysCount;
};

extern const MergeLayout kVantorLayout;
extern const MergeLayout kPilvoLayout;
extern const MergeLayout kDunmoMe2Layout;
extern const MergeLayout kTavrin3Layout;
extern const MergeLayout kRTOSLayout;

extern uint8_t g_VantorAmodFlags[13];
extern uint8_t g_VantorBmodFlags[13];
extern uint8_t g_PilvomodFlags[35];
extern uint8_t g_DunmoMe2modFlags[32];
extern uint8_t g_Tavrin3modFlags[32];
extern uint8_t g_RTOSmodFlags[52];

// destination := source in every field whose flag is set and in the
// "always" bytes; every other bit keeps the destination's value.
void MergeFields(const MergeLayout& layout, const uint8_t* flags, const uint8_t* source, uint8_t* destination);
// The Vantor merge takes a field when its bit is set in set A or in set B.
void MergeVantor(const uint8_t* flagsA, const uint8_t* flagsB, const uint8_t* source, uint8_t* destination);

#endif
