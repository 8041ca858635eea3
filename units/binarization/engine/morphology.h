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
#endif
