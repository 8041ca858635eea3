// Recording stand-ins for the image libraries' entries, installed into the
// backend's bound pointers. Each records its arguments, answers the scripted
// code and, on success, does a small, predictable version of its work.
#ifndef DRAVN_TESTS_PIPELINE_UNIT_FAKES_H
#define DRAVN_TESTS_PIPELINE_UNIT_FAKES_H

#include <deque>
#include <string>
#include <vector>

#include "I3ipImageInfo.h"
#include "fsip_records.h"

namespace fakes {

// The library records are packed; kept 8-aligned here so that their
// fields can be compared by reference.
struct ControlCall {
  fsipctl_request request;
  fsipctl_image input;
  std::vector<unsigned char> lut;
};
struct FilterCall {
  alignas(8) FSIP_S_IMAGEINFO in;
  alignas(8) FSIP_S_IMAGEFILTER filter;
  alignas(8) FSIP_S_IMAGEEMPHASIS emphasis;
  bool hasOut;
};
struct DropoutCall {
  alignas(8) FSIP_S_IMAGEINFO in;
  alignas(8) FSIP_S_DROPOUTCOLOREX params;
  bool hasBinarization = false;
  alignas(8) FSIP_S_BINARIZATIONEX binarization;
  bool hasSdtc = false;
  alignas(8) FSIP_S_SDTCEX sdtc;
  bool hasErrorDiffusion = false;
  alignas(8) FSIP_S_ERROR_DIFFUSION errorDiffusion;
  bool hasPreFilter = false;
  alignas(8) FSIP_S_IMAGEFILTER preFilter;
  alignas(8) FSIP_S_IMAGEEMPHASIS emphasis;
  std::vector<unsigned char> pixels;  // the page as it came in
};
struct UnitCall {
  I3ipImageInfo in;
  std::vector<unsigned char> pixels;
  int a = 0, b = 0, c = 0;  // the scalar arguments in order
};
struct MergeCall {
  I3ipImageInfo first, second;
  int layout, flip, fill;
};
struct TurnCall {
  _P2IIMG page;
};

// What the next calls answer. Queues run out into the defaults.
struct Script {
  std::deque<int> controlCodes;       // default 0
  std::deque<int> blankVerdicts;      // default 0
  int cropWidth = 0, cropHeight = 0;  // crop result; 0: the input's size
  int filterCode = 0;
  int dropoutCode = 0;
  bool dropoutLeavesOutput = false;  // a failure with an output buffer
  int smoothingCode = 0;
  bool smoothingNoPixels = false;
  std::deque<int> turnCodes;    // default 0
  std::deque<int> turnAnswers;  // out[0], default 0
  unsigned char turnReady = 1;
  int binCode = 0;
  bool binNoPixels = false;
  unsigned char binReady = 1;
  int splitCode = 0;
  int mergeCode = 0;
};

extern Script script;
extern std::vector<std::string> calls;  // entry names in call order
extern std::vector<ControlCall> control;
extern std::vector<FilterCall> filter;
extern std::vector<DropoutCall> dropout;
extern std::vector<UnitCall> smoothing, binarization, split;
extern std::vector<MergeCall> merge;
extern std::vector<TurnCall> turn;

// Binds every entry (nullptr-free) and clears the records; Uninstall
// leaves every pointer null.
void Install();
void Uninstall();
// Leaves only the listed libimgforge entries bound ("fsip_control",
// "fsip_ImageFilter", "fsip_DropoutColorEx", "MergeImage").
void KeepImgforge(const std::vector<std::string>& names);

}  // namespace fakes

#endif
