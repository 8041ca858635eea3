// The scan offsets and vertical magnifications of the active scanner,
// between the settings image and the record consutool shows and changes.
#ifndef DRAVN_MQCONTROL_OFFSET_DATA_H
#define DRAVN_MQCONTROL_OFFSET_DATA_H

#include <cstddef>
#include <cstdint>

struct kelo_offset_data {
  int32_t flatbedMain;
  int32_t flatbedSub;
  int32_t adfFrontMain;
  int32_t adfFrontSub;
  int32_t adfBackMain;
  int32_t adfBackSub;
  int32_t adfFrontEnd;
  int32_t adfBackEnd;
  int32_t flatbedMagnification;
  int32_t adfMagnification;
  uint8_t flatbed;
  uint8_t modelFlag;
  uint8_t endOfPageSupported;
  uint8_t offsetsSupported;
};
static_assert(sizeof(kelo_offset_data) == 44, "the offsets record crosses the boundary by copy");

void GetOffSetDataOf(kelo_offset_data* data);
int SetOffSetDataOf(const kelo_offset_data* data);

// The codecs of the image: two signed 3-bit offsets a byte, and a signed
// magnification with a 5- or 6-bit magnitude.
int OffsetOfNibble(unsigned nibble);
unsigned NibbleOfOffset(int value);
int MagnificationOfByte(unsigned char b, int magnitudeBits);
unsigned char ByteOfMagnification(int value);

#endif
