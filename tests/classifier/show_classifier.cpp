// scripts/demo: the network engine on its tiny test models. A patch through the
// two fixed-bias classifiers (script and rotation) and the random-weight net,
// then the one-stage text detector on strokes, rules and a blank strip.
#include <cstdio>
#include <string>
#include <vector>

#include "opcv.h"
#include "text_detector.h"
#include "vomb_cnn.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: show_classifier <tests/fixtures/cnn_models>\n");
    return 2;
  }
  const std::string root = argv[1];
  gIPPShare_cblas_sgemm = OPCV_cblas_sgemm;
  std::vector<unsigned char> page(60 * 30);
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<unsigned char>((i * i * 7) % 251);
  try {
    const std::string fixed = root + "/fixed_bias", net = root + "/conv_net";
    CnnEngine* script = VOMBCNN_Init(fixed.c_str(), "%s/model/model.txt");
    CnnEngine* rotation = VOMBCNN_Init(fixed.c_str(), "%s/model/rotate_model.txt");
    CnnEngine* random = VOMBCNN_Init(net.c_str(), "%s/model/model.txt");
    for (int windows : {1, 3}) {
      int category, direction;
      float confidence;
      VOMBCNN_script_orientation(script, rotation, page.data(), 60, 30, tagRECT{5, 3, 44, 22}, category, direction,
                                 confidence, 0, windows);
      std::printf("  fixed-bias pair, %d window(s): %s, direction %d, confidence %.4f\n", windows, CATEGORY[category],
                  direction, confidence);
      VOMBCNN_script_orientation(random, nullptr, page.data(), 60, 30, tagRECT{5, 3, 44, 22}, category, direction,
                                 confidence, 0, windows);
      std::printf("  random-weight net, %d window(s): %s, direction %d, confidence %.4f\n", windows, CATEGORY[category],
                  direction, confidence);
    }
    VOMBCNN_Release(script);
    VOMBCNN_Release(rotation);
    VOMBCNN_Release(random);
  } catch (int code) {
    std::printf("  engine refused: %d\n", code);
    return 1;
  }
  std::string dir = root + "/detector";
  STRONGCLASSIFIER* d = TDInit(dir.data());
  if (!d) return 1;
  const char* names[] = {"vertical strokes", "horizontal rules", "blank"};
  for (int kind = 0; kind < 3; ++kind) {
    const int width = 45, height = 18;
    std::vector<unsigned char> strip(width * height, 200);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        if (kind == 0) strip[y * width + x] = (x / 2) % 2 ? 255 : 0;
        if (kind == 1) strip[y * width + x] = (y / 2) % 2 ? 255 : 0;
      }
    int count = 0;
    float contrast = 0;
    WINDOWRESULT* w = TextDetection(d, strip.data(), width, height, count, contrast);
    std::printf("  text detector, %s: %d windows, scores", names[kind], count);
    for (int i = 0; i < count; ++i) std::printf(" %+.0f", w[i].score);
    std::printf(", mean contrast %.1f\n", contrast);
    delete[] w;
  }
  TDRelease(d);
  return 0;
}
