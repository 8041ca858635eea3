// Boosted text detector: a cascade of small decision trees over oriented
// gradient features, slid along a grey strip of one text line.
#ifndef DRAVN_TEXT_DETECTOR_H
#define DRAVN_TEXT_DETECTOR_H

#include <cstdint>

struct SUBWINDOW {
  int unused0, unused1, x, y, w, h, unused2;
};

struct FEATUREPOSITION {
  int topLeft, topRight, bottomLeft, bottomRight, w, h, area;
};

struct FEATURE {
  SUBWINDOW rect;
  FEATUREPOSITION pos;
  int channel;
  int count;  // length of the two arrays
  int unused0, unused1, unused2, unused3;
  int* array0;
  int* array1;
};

struct TREEENTRY {
  int feature;
  float threshold;
  int left, right;
};

struct WEAKCLASSIFIER {
  int value;
  int featureCount;
  FEATURE* features;
  int treeCount;
  TREEENTRY* tree;
  int leafCount;
  float* leaves;
  float tail[10];  // stage threshold at 1, pass score at 6, reject score at 8
  float Threshold() const { return tail[1]; }
  float PassScore() const { return tail[6]; }
  float RejectScore() const { return tail[8]; }
};

struct STRONGCLASSIFIER {
  int header;
  int stageCount;
  int width;   // window width W
  int height;  // window height H
  WEAKCLASSIFIER* stages;
};

struct WINDOWRESULT {
  int left, right, top, bottom;
  float score;
};

STRONGCLASSIFIER* TDInit(char* directory);
void TDRelease(void* detector);
WINDOWRESULT* TextDetection(STRONGCLASSIFIER* detector, unsigned char* grey, int width, int height, int& count,
                            float& meanContrast);
void GenIntMap(const unsigned char* grey, int width, int height, int* sum, int64_t* squareSum);
void GenGradMap(const unsigned char* grey, int width, int height, float** maps, int channels);
FEATUREPOSITION GenPosition(const SUBWINDOW& rect, int width);

#endif
