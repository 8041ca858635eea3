#include "cnn_params.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace cnn {

namespace {

std::string WeightPrefix(const OptionsParser& options) {
  if (!options.IsOptionExisted("weightDir")) return std::string();
  return options.GetOption<std::string>(options.m_global, "weightDir") + "/";
}

std::string PathOf(const OptionsParser& options, int position, const std::string& key) {
  return WeightPrefix(options) + options.GetOption<std::string>(position, key);
}

}  // namespace

std::vector<std::string> SplitNames(const std::string& value, char separator) {
  std::vector<std::string> names;
  if (value.empty()) return names;
  size_t start = 0;
  for (;;) {
    const size_t cut = value.find(separator, start);
    names.push_back(value.substr(start, cut == std::string::npos ? std::string::npos : cut - start));
    if (cut == std::string::npos) break;
    start = cut + 1;
  }
  return names;
}

void CheckParameterFile(const std::string& path, long long count) {
  if (count < 0 || count > INT_MAX) throw kLoadFailed;
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in || in.tellg() != 4 + 4 * static_cast<std::streamoff>(count)) throw kLoadFailed;
}

void LoadParameters(const std::string& path, float* destination, int count) {
  if (count < 0) throw kLoadFailed;
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw kLoadFailed;
  // A file of another size belongs to another layer shape: refuse it rather
  // than run with a blob partly unfilled or shifted.
  const std::streamoff size = in.tellg();
  if (size != 4 + 4 * static_cast<std::streamoff>(count)) throw kLoadFailed;
  in.seekg(4);
  std::vector<unsigned char> bytes(static_cast<size_t>(count) * 4);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) throw kLoadFailed;
  for (int i = 0; i < count; ++i) {
    const unsigned char* b = &bytes[static_cast<size_t>(i) * 4];
    const uint32_t bits = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    std::memcpy(&destination[i], &bits, 4);
  }
}

void LayerParams::SetParams(const OptionsParser& options, int position) {
  name = options.ModuleName(position);
  type = options.GetOption<std::string>(position, "type");
  inputs.clear();
  outputs.clear();
  if (options.IsOptionExisted(position, "inputs"))
    inputs = SplitNames(options.GetOption<std::string>(position, "inputs"), options.m_separator);
  if (options.IsOptionExisted(position, "outputs"))
    outputs = SplitNames(options.GetOption<std::string>(position, "outputs"), options.m_separator);
}

void WeightParams::SetParams(const OptionsParser& options, int position) {
  weights = PathOf(options, position, "weights");
  biases = options.IsOptionExisted(position, "biases") ? PathOf(options, position, "biases") : std::string();
}

void WindowParams::SetParams(const OptionsParser& options, int position) {
  if (options.IsOptionExisted(position, "windowHeight")) {
    windowHeight = options.GetOption<int>(position, "windowHeight");
    windowWidth = options.GetOption<int>(position, "windowWidth");
  } else if (options.IsOptionExisted(position, "windowSize")) {
    windowHeight = windowWidth = options.GetOption<int>(position, "windowSize");
  }
  if (options.IsOptionExisted(position, "heightStride")) {
    heightStride = options.GetOption<int>(position, "heightStride");
    widthStride = options.GetOption<int>(position, "widthStride");
  } else if (options.IsOptionExisted(position, "windowStride")) {
    heightStride = widthStride = options.GetOption<int>(position, "windowStride");
  }
}

void PaddingParams::SetParams(const OptionsParser& options, int position) {
  if (options.IsOptionExisted(position, "paddingLeft")) {
    left = options.GetOption<int>(position, "paddingLeft");
    right = options.GetOption<int>(position, "paddingRight");
    top = options.GetOption<int>(position, "paddingTop");
    bottom = options.GetOption<int>(position, "paddingBottom");
  } else if (options.IsOptionExisted(position, "paddingStart")) {
    left = top = options.GetOption<int>(position, "paddingStart");
    right = bottom = options.GetOption<int>(position, "paddingEnd");
  } else if (options.IsOptionExisted(position, "padding")) {
    left = right = top = bottom = options.GetOption<int>(position, "padding");
  }
}

void DataLayerParams::SetParams(const OptionsParser& options, int position) {
  LayerParams::SetParams(options, position);
  channels = options.GetOption<int>(position, "channels");
  height = options.GetOption<int>(position, "height");
  width = options.GetOption<int>(position, "width");
}

void ConvLayerParams::SetParams(const OptionsParser& options, int position) {
  LayerParams::SetParams(options, position);
  WeightParams::SetParams(options, position);
  WindowParams::SetParams(options, position);
  PaddingParams::SetParams(options, position);
  filters = options.GetOption<int>(position, "filters");
}

void PoolLayerParams::SetParams(const OptionsParser& options, int position) {
  LayerParams::SetParams(options, position);
  WindowParams::SetParams(options, position);
  PaddingParams::SetParams(options, position);
  poolType = options.GetOption<std::string>(position, "poolType");
}

void FullConnLayerParams::SetParams(const OptionsParser& options, int position) {
  LayerParams::SetParams(options, position);
  WeightParams::SetParams(options, position);
  filters = options.GetOption<int>(position, "filters");
}

void NeuronLayerParams::SetParams(const OptionsParser& options, int position) {
  LayerParams::SetParams(options, position);
  neuronType = options.GetOption<std::string>(position, "neuronType");
}

void BatchNormLayerParams::SetParams(const OptionsParser& options, int position) {
  LayerParams::SetParams(options, position);
  means = PathOf(options, position, "means");
  variances = PathOf(options, position, "variances");
  nums = PathOf(options, position, "nums");
  epsilon = 1e-5f;
}

}  // namespace cnn
