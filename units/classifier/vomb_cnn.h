// Front end of the network engine: text patches in, script and direction out.
#ifndef DRAVN_VOMB_CNN_H
#define DRAVN_VOMB_CNN_H

#include <cstdint>
#include <vector>

#include "cnn_classifier.h"
#include "vomb_mat.h"

extern "C" const char* CATEGORY[25];

struct tagRECT {
  int64_t left, top, right, bottom;  // inclusive
};

struct CnnEngine {
  cnn::Classifier* classifier = nullptr;
  int height = 0;
  int width = 0;
  int votes = 0;
};

// Throws kLoadFailed (55) for a missing or broken model, an over-long path, or
// a network of fewer than the 25 script labels.
CnnEngine* VOMBCNN_Init(const char* directory, const char* modelPattern);
void VOMBCNN_Release(CnnEngine* engine);
// A rotation engine may serve a script engine only when its labels map into
// the script engine's: 0 when they fit, 55 otherwise (checked at load).
int VOMBCNN_CheckRotation(const CnnEngine* engine, const CnnEngine* rotation);

int VOMBCNN_script_orientation(CnnEngine* engine, CnnEngine* rotation, unsigned char* page, int width, int height,
                               tagRECT rect, int& category, int& direction, float& confidence, int offset, int windows);
int VOMBCNN_script_orientation_squeezeimage(CnnEngine* engine, CnnEngine* rotation, unsigned char* page, int width,
                                            int height, tagRECT rect, int& category, int& direction, float& confidence,
                                            int offset, int windows, float squeeze);

std::vector<Vomb::CMat<float>> NormalizeTest(const Vomb::CMat<unsigned char>& patch, Vomb::CSize<int> input,
                                             int windows, int offset);
std::vector<Vomb::CMat<float>> NormalizeTest_Squeezeimage(const Vomb::CMat<unsigned char>& patch,
                                                          Vomb::CSize<int> input, int windows, int offset,
                                                          float squeeze);
void PredictByOffsetAndConfidence(CnnEngine* engine, CnnEngine* rotation, std::vector<Vomb::CMat<float>>& windows,
                                  int* label, float* confidence, bool useRotation);
void ParseLabel(int label, int* category, int* direction);

// Label of the script classifier that rotation label j counts for.
int RotationLabel(int j, int rotationOutputs);

#endif
