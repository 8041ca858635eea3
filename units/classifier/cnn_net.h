// The network: layers in module order over named data blobs.
#ifndef DRAVN_CNN_NET_H
#define DRAVN_CNN_NET_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cnn_kernels.h"
#include "cnn_params.h"

namespace cnn {

struct CnnMatrix {
  int num = 0, channels = 0, height = 0, width = 0;
  float* data = nullptr;

  CnnMatrix() = default;
  CnnMatrix(const CnnMatrix&) = delete;
  CnnMatrix& operator=(const CnnMatrix&) = delete;
  ~CnnMatrix() { delete[] data; }
  long long Count() const { return static_cast<long long>(num) * channels * height * width; }
  // Sets the sizes; the data is reallocated only when the element count changes.
  void Resize(int n, int c, int h, int w);
};

class Net;

class Layer {
 public:
  Layer(const LayerParams& params, Net& net);
  virtual ~Layer() = default;
  virtual void Reshape() = 0;
  virtual void Forward() = 0;

  std::string m_name, m_type;
  std::vector<std::string> m_inputNames, m_outputNames;
  std::vector<CnnMatrix*> m_inputs, m_outputs;

 protected:
  // Layers that cannot work in place refuse an output blob that is one of their inputs.
  void RequireDistinctOutput() const;
};

class DataLayer : public Layer {
 public:
  DataLayer(const DataLayerParams& params, Net& net);
  void Reshape() override {}
  void Forward() override {}
  int m_channels, m_height, m_width;
};

class ConvLayer : public Layer {
 public:
  ConvLayer(const ConvLayerParams& params, Net& net);
  ~ConvLayer() override;
  void Reshape() override;
  void Forward() override;
  ConvLayerParams m_params;
  CnnMatrix m_weights, m_bias, m_columns;
  crs_matrix* m_sparse = nullptr;
};

class PoolLayer : public Layer {
 public:
  PoolLayer(const PoolLayerParams& params, Net& net);
  void Reshape() override;
  void Forward() override;
  PoolLayerParams m_params;
};

class FullConnLayer : public Layer {
 public:
  FullConnLayer(const FullConnLayerParams& params, Net& net);
  ~FullConnLayer() override;
  void Reshape() override;
  void Forward() override;
  FullConnLayerParams m_params;
  CnnMatrix m_weights, m_bias;
  crs_matrix* m_sparse = nullptr;
};

class NeuronLayer : public Layer {
 public:
  NeuronLayer(const NeuronLayerParams& params, Net& net);
  void Reshape() override;
  void Forward() override;
  std::string m_neuronType;
};

class SoftmaxLayer : public Layer {
 public:
  SoftmaxLayer(const LayerParams& params, Net& net);
  void Reshape() override;
  void Forward() override;
};

class ConcatLayer : public Layer {
 public:
  ConcatLayer(const LayerParams& params, Net& net);
  void Reshape() override;
  void Forward() override;
};

class RotateLayer : public Layer {
 public:
  RotateLayer(const LayerParams& params, Net& net);
  void Reshape() override;
  void Forward() override;
};

class BatchNormLayer : public Layer {
 public:
  BatchNormLayer(const BatchNormLayerParams& params, Net& net);
  void Reshape() override;
  void Forward() override;
  CnnMatrix m_mean, m_variance, m_scale;
  float m_epsilon;
};

class Net {
 public:
  // Builds every layer of the model; a model the engine cannot run throws kLoadFailed.
  explicit Net(const OptionsParser& options);
  ~Net();
  Net(const Net&) = delete;
  Net& operator=(const Net&) = delete;

  void Reshape();
  void ForwardTo(int k);
  void Forward() { ForwardTo(static_cast<int>(m_layers.size()) - 1); }
  void PrintNetInfo() const {}

  CnnMatrix* Blob(const std::string& name) const;
  CnnMatrix* AddBlob(const std::string& name);

  std::vector<Layer*> m_layers;
  std::map<std::string, CnnMatrix*> m_blobs;
};

Layer* GetLayer(const OptionsParser& options, int position, Net& net);

}  // namespace cnn

#endif
