// model.dat, the text detector's boosted stages: loaded as the orientation
// unit loads it, then slid over a small strip of known pixels.
#include <vector>

#include "fuzz_support.h"
#include "text_detector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::WriteFile("model.dat", data, size);
  std::string dir = fuzz::Dir();
  STRONGCLASSIFIER* d = TDInit(&dir[0]);
  if (!d) return 0;
  // A strip with strokes, so that the stages' features see contrast.
  const int width = 48, height = 20;
  std::vector<unsigned char> strip(static_cast<size_t>(width) * height, 235);
  for (int y = 5; y < 15; ++y)
    for (int x = 4; x < 44; x += 6) strip[static_cast<size_t>(y) * width + x] = 20;
  int count = 0;
  float contrast = 0;
  delete[] TextDetection(d, strip.data(), width, height, count, contrast);
  TDRelease(d);
  return 0;
}
