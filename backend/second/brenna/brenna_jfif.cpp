// The JFIF header put before a Brenna face's bare scan data.
#include "brenna_jfif.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace {

unsigned char* Put16(unsigned char* p, unsigned int v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
  return p + 2;
}

unsigned char* PutBytes(unsigned char* p, std::initializer_list<unsigned char> bytes) {
  for (unsigned char b : bytes) *p++ = b;
  return p;
}

// One 8-bit quantisation table: its id, then its entries in zig-zag order.
unsigned char* PutQuantTable(unsigned char* p, unsigned char id, const unsigned char* natural) {
  *p++ = id;
  for (int k = 0; k < 64; ++k) p[g_byZigZag[k]] = natural[k];
  return p + 64;
}

}  // namespace

const unsigned char* BrennaJpegTable(unsigned int number) {
  static const unsigned char* const kTables[7] = {byDefSendJPEG1, byDefSendJPEG2, byDefSendJPEG3, byDefSendJPEG4,
                                                  byDefSendJPEG5, byDefSendJPEG6, byDefSendJPEG7};
  return number >= 1 && number <= 7 ? kTables[number - 1] : byDefSendJPEG5;
}

int SetJFIFHeader(int grey, unsigned int width, unsigned int lines, unsigned int xDensity, unsigned int yDensity,
                  unsigned char sampling, const unsigned char* tables, unsigned char* out) {
  const int length = grey ? kBrennaJfifGreyLength : kBrennaJfifColourLength;
  if (!out) return length;
  unsigned char* p = out;
  p = PutBytes(p, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x00, 0x01});
  p = Put16(p, xDensity);
  p = Put16(p, yDensity);
  p = PutBytes(p, {0x00, 0x00, 0xFF, 0xC0, 0x00, static_cast<unsigned char>(grey ? 0x0B : 0x11), 0x08});
  p = Put16(p, lines & 0xFFFF);
  p = Put16(p, width & 0xFFFF);
  if (grey)
    p = PutBytes(p, {0x01, 0x00, sampling, 0x00});
  else
    p = PutBytes(p, {0x03, 0x00, sampling, 0x00, 0x01, 0x11, 0x01, 0x02, 0x11, 0x01});
  p = PutBytes(p, {0xFF, 0xDB, 0x00, 0x84});
  p = PutQuantTable(p, 0x00, tables);
  p = PutQuantTable(p, 0x01, tables + 64);
  memcpy(p, gDHT, sizeof gDHT);
  Put16(p + 2, 0x01A2);
  p += sizeof gDHT;
  if (grey)
    PutBytes(p, {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x00, 0x00, 0x00, 0x3F, 0x00});
  else
    PutBytes(p, {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x00, 0x00, 0x01, 0x11, 0x02, 0x11, 0x00, 0x3F, 0x00});
  return length;
}
