#include "line_scorers.h"

namespace turnsense {

int GetBaseLine(const uint8_t*, int, int, const tagRECT& in, tagRECT& out, int) {
  out = in;
  return 0;
}

int ImgCrop(uint8_t*& crop, int& cropWidth, int& cropHeight, const uint8_t*, int, int, tagRECT, int) {
  crop = nullptr, cropWidth = cropHeight = 0;
  return kLimitExceeded;
}

float ResizeImgCrop(uint8_t*& crop, int& cropWidth, int& cropHeight, const uint8_t*, int, int, tagRECT, int, int) {
  crop = nullptr, cropWidth = cropHeight = 0;
  return 65535.0f;
}

void Iscomplex_background(const uint8_t*, const uint8_t*, const uint8_t*, int, int, int*) {}

int BinNoiseNumber(uint8_t*, int, int) { return 0; }

int BaselineScore_cnn(CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int, TEXTLINE, int, char*, char*,
                      int, float&, int&, int&, int&, int&) {
  return kLimitExceeded;
}
int BaselineScore_cnn_novalidate(CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int, TEXTLINE, int,
                                 char*, char*, int, float&, int&, int&, int&, int&) {
  return kLimitExceeded;
}
int BaselineScore_cnn_combine_v1(CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int, TEXTLINE, int,
                                 char*, char*, int, LineAnswer*, int&) {
  return kLimitExceeded;
}
int BaselineScore_cnn_combine_complex(CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int, TEXTLINE,
                                      int, char*, char*, int, LineAnswer*, int&) {
  return kLimitExceeded;
}
int BaselineScore_cnn_combine_complex_novalidate(CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int,
                                                 TEXTLINE, int, char*, char*, int, LineAnswer*, int&) {
  return kLimitExceeded;
}
int BaselineScore_cnn_combine_complex_reverse(CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int,
                                              TEXTLINE, int, char*, char*, int, LineAnswer*, int&) {
  return kLimitExceeded;
}

}  // namespace turnsense
