// A stand-in for the classifier front end: it records every call (engines,
// image, patch start, window count) and answers what the test scripted.
#ifndef DRAVN_TESTS_ORIENTATION_RECORDING_CLASSIFIER_H
#define DRAVN_TESTS_ORIENTATION_RECORDING_CLASSIFIER_H

#include <cstdint>
#include <functional>
#include <vector>

struct CnnEngine;

namespace recording {

struct Call {
  CnnEngine* script;
  CnnEngine* rotation;
  std::vector<uint8_t> image;  // what the classifier saw, w x h
  int w, h;
  int64_t left, top, right, bottom;
  int start, windows;
  float squeeze;  // 0 when not squeezed
};

struct Answer {
  int category, direction;
  float confidence;
};

// Calls since the last Reset, and the answer given to each (by call index);
// the default answers "Latin0", 0 degrees, confidence 0.9.
extern std::vector<Call> calls;
extern std::function<Answer(const Call&, size_t)> answer;
// An integer to raise from the call with this index (-1: none).
extern long raiseAt;
void Reset();

}  // namespace recording

#endif
