// The classifier's model text and its weight files. The input is the
// model text; after a line "%%weights" the rest is the weight file
// "fuzz.bin", beside the fixtures' weights. A model that loads classifies
// one blank sample when its input is small.
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "cnn_classifier.h"
#include "fuzz_support.h"

namespace {

const std::string& WeightDir() {
  static const std::string dir = [] {
    const std::string d = fuzz::Dir() + "/weights";
    mkdir(d.c_str(), 0700);
    for (const char* model : {"conv_net", "fixed_bias"}) {
      const std::string from = std::string(DRAVN_SOURCE_DIR) + "/tests/fixtures/cnn_models/" + model + "/model/weights/";
      for (const char* name : {"bn_mean.bin", "bn_scale.bin", "bn_var.bin", "conv1_b.bin", "conv1_w.bin",
                               "conv2_b.bin", "conv2_w.bin", "fc_b.bin", "bias10.bin", "bias11.bin", "bias35.bin"}) {
        std::ifstream in(from + name, std::ios::binary);
        if (!in) continue;
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fuzz::WriteFile(std::string("weights/") + name, bytes);
      }
    }
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& weights = WeightDir();
  static const char kMark[] = "%%weights\n";
  const char* text = reinterpret_cast<const char*>(data);
  const char* mark = static_cast<const char*>(memmem(text, size, kMark, sizeof kMark - 1));
  const size_t textSize = mark ? static_cast<size_t>(mark - text) : size;
  const std::string model = fuzz::WriteFile("model.txt", text, textSize);
  if (mark) {
    const size_t at = textSize + sizeof kMark - 1;
    fuzz::WriteFile("weights/fuzz.bin", data + at, size - at);
  } else {
    unlink((weights + "/fuzz.bin").c_str());
  }
  try {
    cnn::Classifier c(model, weights);
    const long long cells = static_cast<long long>(c.m_channels) * c.m_height * c.m_width;
    if (cells > 0 && cells <= 4096) {
      Vomb::CMat<float> sample(c.m_height, c.m_width, c.m_channels);
      c.Classify(sample);
    }
  } catch (int) {
  }
  return 0;
}
