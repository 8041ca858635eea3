// The header that makes a Brenna face decodable: the scanner sends bare
// baseline scan data coded with the quantisation tables the backend sent it
// and the standard Huffman tables, and the backend puts the markers in
// front. Also the data blocks the class sends with those tables.
#ifndef DRAVN_SECOND_BRENNA_JFIF_H
#define DRAVN_SECOND_BRENNA_JFIF_H

#include <cstdint>

// JPEG-table blocks 1..7: tag placeholder, 01 84, luminance and chrominance
// quantisation tables in natural order.
extern const unsigned char byDefSendJPEG1[132];
extern const unsigned char byDefSendJPEG2[132];
extern const unsigned char byDefSendJPEG3[132];
extern const unsigned char byDefSendJPEG4[132];
extern const unsigned char byDefSendJPEG5[132];
extern const unsigned char byDefSendJPEG6[132];
extern const unsigned char byDefSendJPEG7[132];
// Tone-table blocks of the three channels (identity).
extern const unsigned char byDefSendGamma0[520];
extern const unsigned char byDefSendGamma1[520];
extern const unsigned char byDefSendGamma2[520];

// Natural index -> zig-zag position.
extern const unsigned char g_byZigZag[64];
// DHT segment of the four standard Huffman tables.
extern const unsigned char gDHT[420];

constexpr int kBrennaJfifColourLength = 607;
constexpr int kBrennaJfifGreyLength = 597;

// The JPEG-table block of table number n (1-7; any other number: 5).
const unsigned char* BrennaJpegTable(unsigned int number);

// Writes the header into `out` (when not null) and returns its length.
// `tables`: 128 bytes, luminance then chrominance, natural order.
int SetJFIFHeader(int grey, unsigned int width, unsigned int lines, unsigned int xDensity, unsigned int yDensity,
                  unsigned char sampling, const unsigned char* tables, unsigned char* out);

#endif
