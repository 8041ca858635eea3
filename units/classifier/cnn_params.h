// Parameter records of the layers, read from one module of the model text.
#ifndef DRAVN_CNN_PARAMS_H
#define DRAVN_CNN_PARAMS_H

#include <string>
#include <vector>

#include "cnn_options.h"

namespace cnn {

std::vector<std::string> SplitNames(const std::string& value, char separator);

// Fills count values from a weight file: a 4-byte header, then exactly
// count little-endian floats. A missing file or any other size throws kLoadFailed.
void LoadParameters(const std::string& path, float* destination, int count);
// The same test of presence and size alone, before a blob is allocated for
// the file: a model cannot make the engine allocate more than its files hold.
void CheckParameterFile(const std::string& path, long long count);

struct LayerParams {
  std::string name, type;
  std::vector<std::string> inputs, outputs;
  void SetParams(const OptionsParser& options, int position);
};

struct WeightParams {
  std::string weights, biases;
  void SetParams(const OptionsParser& options, int position);
};

struct WindowParams {
  int windowHeight = 0, windowWidth = 0, heightStride = 0, widthStride = 0;
  void SetParams(const OptionsParser& options, int position);
};

struct PaddingParams {
  int left = 0, right = 0, top = 0, bottom = 0;
  void SetParams(const OptionsParser& options, int position);
};

struct DataLayerParams : LayerParams {
  int channels = 0, height = 0, width = 0;
  void SetParams(const OptionsParser& options, int position);
};

struct ConvLayerParams : LayerParams, WeightParams, WindowParams, PaddingParams {
  int filters = 0;
  void SetParams(const OptionsParser& options, int position);
};

struct PoolLayerParams : LayerParams, WindowParams, PaddingParams {
  std::string poolType;
  void SetParams(const OptionsParser& options, int position);
};

struct FullConnLayerParams : LayerParams, WeightParams {
  int filters = 0;
  void SetParams(const OptionsParser& options, int position);
};

struct NeuronLayerParams : LayerParams {
  std::string neuronType;
  void SetParams(const OptionsParser& options, int position);
};

struct BatchNormLayerParams : LayerParams {
  std::string means, variances, nums;
  float epsilon = 1e-5f;
  void SetParams(const OptionsParser& options, int position);
};

}  // namespace cnn

#endif
