// The model groups that choose the EEPROM and flash sub-command texts, and
// the write records of dvwc_WriteEEPROM.
#ifndef DRAVN_DEVWATCH_MODEL_GROUPS_H
#define DRAVN_DEVWATCH_MODEL_GROUPS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace devwatch {

enum class EepromGroup { A, W, Other };

// Each test compares the front of the device string with the group's
// model-name prefixes, case-sensitively.
EepromGroup EepromGroupOf(const char* device);  // A first, then W
bool InGroupN(const char* device);
bool InGroupF7(const char* device);
bool InGroupF6(const char* device);

constexpr size_t kDiagTextSize = 16;
constexpr size_t kEepromImageSize = 512;

// The SEND DIAGNOSTIC data of one EEPROM write: group W carries offset and
// length big-endian in 16 bits each, the others in one byte each, so for
// them an offset or length above 255, or a write past the image, is
// refused (false) rather than cut.
bool BuildWriteRecord(EepromGroup group, const unsigned char* data, unsigned length, unsigned offset,
                      std::vector<unsigned char>* record);

}  // namespace devwatch

#endif
