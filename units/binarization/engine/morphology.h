// Erosion and dilation of the engine's 0/1 byte image (0 black): erosion
// grows black, dilation grows white.
#ifndef DRAVN_BIN_MORPHOLOGY_H
#define DRAVN_BIN_MORPHOLOGY_H

#include <cstdint>

int imageErodeFIpp(const uint8_t* src, uint8_t* dst, int height, int width, int size);
int imageDilateFIpp(const uint8_t* src, uint8_t* dst, int height, int width, int size);
int imageTextLine1LErodeF(const uint8_t* src, uint8_t* dst, int height, int width, int size);
int imageTextLine2LErodeF(const uint8_t* src, uint8_t* dst, int height, int width, int size);
int imageTextLine1LDilateF(const uint8_t* src, uint8_t* dst, int height, int width, int size);
int imageTextLine2LDilateF(const uint8_t* src, uint8_t* dst, int height, int width, int size);
int CouplayFilterIpp(const uint8_t* src, uint8_t* dst, int height, int width, int size);
int LineFilterIpp(const uint8_t* src, uint8_t* dst, int height, int width, int size);

// Small black specks. Margins: {left, right, top, bottom}.
struct _MARGINPTXYSIZE {
  int left, right, top, bottom;
};
struct _LabelArea {
  int x, y, width, height;
};
int RemoveObjectNew(const uint8_t* src, uint8_t* dst, int height, int width, _LabelArea box, int size,
                    _MARGINPTXYSIZE margins);
int RemoveStainNew(const uint8_t* src, uint8_t* dst, int height, int width, int size, _MARGINPTXYSIZE margins);

// The older forms, which only the older filters use. A square window of
// size x size pixels, rows then columns; a pixel whose window leaves the
// page keeps what dst held. Size 0 or below: nothing. 0, or -1 when memory
// is short.
int imageErodeF(const uint8_t* src, uint8_t* dst, int height, int width, int size);
int imageDilateF(const uint8_t* src, uint8_t* dst, int height, int width, int size);
// Two-pass 8-connected labelling of a 32-bit plane in which 1 marks the
// background (filled from the byte image first when src is given, white
// being the background): background 0, components numbered from 2, joined
// ones taking the smaller number. -1 for a plane too large to number.
int GetbwlabelOld(const uint8_t* src, uint32_t* labels, int height, int width);
// dst := src inside the margins, and pixels of labels whose box is at most
// min(size, longer side) pixels each way white. -1 when a label passes what
// a plane of this size can hold.
int RemoveObject(const uint8_t* src, uint8_t* dst, const uint32_t* labels, int height, int width, int size,
                 _MARGINPTXYSIZE margins);
int RemoveStain(const uint8_t* src, uint8_t* dst, int height, int width, int size, _MARGINPTXYSIZE margins);
int CouplayFilter(const uint8_t* src, uint8_t* dst, int height, int width, int size);
int LineFilter(const uint8_t* src, uint8_t* dst, int height, int width, int size);
// With c = (int)(size x 0.5 - 0.5): the top c + 1 rows and left c + 1
// columns, the bottom and right size - c - 1, take value.
void Set4SideMemery(uint8_t* data, int height, int width, int size, int value);
#endif
