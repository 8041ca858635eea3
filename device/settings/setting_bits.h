// Bit and field access to the host settings image, and the marks that tell
// the merge which fields the host changed. Shared by the accessors and the
// three layout mappers.
#ifndef DRAVN_MQCONTROL_SETTING_BITS_H
#define DRAVN_MQCONTROL_SETTING_BITS_H

#include <cstdint>

#include "field_merge.h"
#include "mqcontrol_context.h"

namespace settings {

inline uint8_t Byte(int offset) { return g_byEEPData[offset]; }
inline void SetByte(int offset, int value) { g_byEEPData[offset] = static_cast<uint8_t>(value); }
inline int Bit(int offset, uint8_t mask) { return (g_byEEPData[offset] & mask) ? 1 : 0; }
inline int Bits(int offset, uint8_t mask) { return g_byEEPData[offset] & mask; }
inline void PutBits(int offset, uint8_t mask, int value) {
  g_byEEPData[offset] = static_cast<uint8_t>((g_byEEPData[offset] & ~mask) | (value & mask));
}
inline void PutBit(int offset, uint8_t mask, bool on) { PutBits(offset, mask, on ? mask : 0); }
// Writes the byte and tells whether it changed.
inline bool Update(int offset, int value) {
  uint8_t v = static_cast<uint8_t>(value);
  if (g_byEEPData[offset] == v) return false;
  g_byEEPData[offset] = v;
  return true;
}

inline uint32_t BE32(int offset) {
  const uint8_t* p = g_byEEPData + offset;
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline void PutBE32(int offset, uint32_t v) {
  for (int k = 0; k < 4; ++k) g_byEEPData[offset + k] = static_cast<uint8_t>(v >> (24 - 8 * k));
}
inline uint16_t BE16(int offset) { return static_cast<uint16_t>(g_byEEPData[offset] << 8 | g_byEEPData[offset + 1]); }
inline void PutBE16(int offset, uint32_t v) {
  g_byEEPData[offset] = static_cast<uint8_t>(v >> 8);
  g_byEEPData[offset + 1] = static_cast<uint8_t>(v);
}

inline void Mark(uint8_t* set, int flagByte, uint8_t bits) { set[flagByte] |= bits; }
// A two-bit flag (bit values 0x06) that the field's writers set to 01.
inline void MarkPair(uint8_t* set, int flagByte) {
  set[flagByte] = static_cast<uint8_t>((set[flagByte] & ~0x06) | 0x02);
}
inline void MarkVantor(int flagByte, uint8_t bits) {
  Mark(g_VantorAmodFlags, flagByte, bits);
  Mark(g_VantorBmodFlags, flagByte, bits);
}
inline void MarkVantorPilvo(int flagByte, uint8_t bits) {
  MarkVantor(flagByte, bits);
  Mark(g_PilvomodFlags, flagByte, bits);
}

// Lookup in a value map; a code the map does not hold reads as code 0 does.
template <int N>
int MapValue(const int (&map)[N], int code) {
  return (code >= 0 && code < N) ? map[code] : map[0];
}

// Several values reach the image unchecked; arithmetic on them is done
// modulo 2^32, so that no caller value can overflow.
inline int Wrap(unsigned v) { return static_cast<int>(v); }
inline int PlusOne(int v) { return Wrap(static_cast<unsigned>(v) + 1u); }
inline int MinusOne(int v) { return Wrap(static_cast<unsigned>(v) - 1u); }

// Field codecs that several layouts share at different places. Each Set
// answers whether it accepted the value; a refused value changes nothing.

inline bool SetFlag01(int offset, uint8_t mask, int value) {
  if (value != 0 && value != 1) return false;
  PutBit(offset, mask, value == 1);
  return true;
}
// "Inverted": 1 means the bit is clear.
inline int GetInverted(int offset, uint8_t mask) { return !Bit(offset, mask); }
inline bool SetInverted(int offset, uint8_t mask, int value) {
  if (value != 0 && value != 1) return false;
  PutBit(offset, mask, value == 0);
  return true;
}

// Double-feed mode in bits 0x18: 0x08 = 1, 0x10 = 2, 0x18 = 3.
inline int GetDoubleFeed(int offset) { return Bits(offset, 0x18) >> 3; }
inline bool SetDoubleFeed(int offset, int mode) {
  if (mode < 0 || mode > 3) return false;
  PutBits(offset, 0x18, mode << 3);
  return true;
}
// Double-feed check length in bits 0x03: 1 and 2, anything else 0.
inline int GetCheckLength(int offset) {
  int v = Bits(offset, 0x03);
  return v == 3 ? 0 : v;
}
inline bool SetCheckLength(int offset, int len) {
  if (len < 0 || len > 2) return false;
  PutBits(offset, 0x03, len);
  return true;
}
// Multifeed-ignore in bits 0x06: 0x04 = 1, 0x06 = 2.
inline int GetIgnoreCode(int offset) {
  int v = Bits(offset, 0x06);
  return v == 0x04 ? 1 : v == 0x06 ? 2 : 0;
}
inline bool SetIgnoreCode(int offset, int value) {
  static const int kCodes[] = {0x00, 0x04, 0x06};
  if (value < 0 || value > 2) return false;
  PutBits(offset, 0x06, kCodes[value]);
  return true;
}

// A high nibble in sign and magnitude: 8 + k is -k.
inline int SignedNibble(int nibble) { return nibble >= 8 ? -(nibble - 8) : nibble; }
inline int SignedNibbleCode(int value) {
  return value < 0 ? Wrap(((0u - static_cast<unsigned>(value)) & 7u) | 8u) : value;
}
inline int NibblePair(int low, int high) { return Wrap(static_cast<unsigned>(low) | static_cast<unsigned>(high) << 4); }
inline void Store(int* out, int value) {
  if (out) *out = value;
}
// A frame of four nibbles: a low and b high of one byte, c low and d high
// of another.
inline void GetFrame(int abByte, int cdByte, bool signedB, int* a, int* b, int* c, int* d) {
  int hi = Byte(abByte) >> 4;
  Store(a, Byte(abByte) & 0x0F);
  Store(b, signedB ? SignedNibble(hi) : hi);
  Store(c, Byte(cdByte) & 0x0F);
  Store(d, Byte(cdByte) >> 4);
}
inline bool SetFrame(int abByte, int cdByte, bool signedB, int a, int b, int c, int d) {
  auto nibble = [](int v) { return v >= 0 && v <= 15; };
  bool bOk = signedB ? (b >= -7 && b <= 7) : nibble(b);
  if (!nibble(a) || !bOk || !nibble(c) || !nibble(d)) return false;
  SetByte(abByte, NibblePair(a, signedB ? SignedNibbleCode(b) : b));
  SetByte(cdByte, NibblePair(c, d));
  return true;
}

// A sensor area: a start byte (half the position) and a length byte after it.
inline int GetAreaStart(int startByte) { return Byte(startByte) * 2; }
inline int GetAreaEnd(int startByte, int lengthByte) { return (Byte(startByte) + Byte(lengthByte)) * 2; }
inline bool SetAreaStart(int startByte, int pos) {
  if (pos < 0 || pos > 511) return false;
  SetByte(startByte, pos / 2);
  return true;
}
inline bool SetAreaEnd(int startByte, int lengthByte, int pos) {
  if (pos < 0 || pos > 511) return false;
  SetByte(lengthByte, pos / 2 - Byte(startByte));
  return true;
}

// Manual-feed time-out in the low 5 bits, 0..12.
inline int GetTimeout(int offset, int limit) {
  int e = Bits(offset, 0x1F);
  return limit < e ? limit : e;
}
inline bool SetTimeout(int offset, int t) {
  if (t < 0 || t > 12) return false;
  PutBits(offset, 0x1F, t);
  return true;
}
// Pick retry count in a low nibble, stored as count + 1.
inline bool SetRetryNibble(int offset, int n, int most) {
  if (n < 0 || n > most) return false;
  PutBits(offset, 0x0F, n + 1);
  return true;
}
inline int RetryCount(int d, int limit, int most) {
  if (limit > most) limit = most;
  return MinusOne(d < limit ? d : limit);
}

// Power switch control in bits 0xC0: 0 clears, 1 makes 0x80, 2 makes 0xC0.
inline bool SetPowerSwitch(int offset, int value, int most) {
  static const int kCodes[] = {0x00, 0x80, 0xC0};
  if (value < 0 || value > most) return false;
  PutBits(offset, 0xC0, kCodes[value]);
  return true;
}

// Tab-crop position in one byte: bit 0x01 = 2, bits 0xE0 equal to 0x80 = 1.
inline int GetTabCrop(int offset) {
  if (Bit(offset, 0x01)) return 2;
  return Bits(offset, 0xE0) == 0x80 ? 1 : 0;
}
inline bool SetTabCrop(int offset, int pos) {
  static const int kCodes[] = {0x00, 0x80, 0x01};
  if (pos < 0 || pos > 2) return false;
  PutBits(offset, 0xE1, kCodes[pos]);
  return true;
}

// Dropout colour over a code byte and the low nibble of the next byte.
inline bool SetDropoutPair(int codeByte, int colour, bool withCode3) {
  static const uint8_t kCodes[] = {0x22, 0x44, 0x11, 0x88, 0x77};
  if (colour < 0 || colour > 4 || (colour == 3 && !withCode3)) return false;
  SetByte(codeByte, kCodes[colour]);
  PutBits(codeByte + 1, 0x0F, kCodes[colour]);
  return true;
}
inline int DropoutOfNibble(int nibble, int codeFor7) {
  switch (nibble) {
    case 1:
      return 2;
    case 4:
      return 1;
    case 7:
      return codeFor7;
    default:
      return 0;
  }
}

// Level and PP-detection codes in bits 0x03 (0 = 0, 1 = 1, 3 = 2).
inline int GetLevelCode(int offset) {
  int v = Bits(offset, 0x03);
  return v == 1 ? 1 : v == 3 ? 2 : 0;
}
inline bool SetLevelCode(int offset, int level) {
  static const int kCodes[] = {0, 1, 3};
  if (level < 0 || level > 2) return false;
  PutBits(offset, 0x03, kCodes[level]);
  return true;
}

}  // namespace settings

#endif
