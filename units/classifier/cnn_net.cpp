#include "cnn_net.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "opcv.h"

namespace cnn {

namespace {

[[noreturn]] void Refuse() { throw kLoadFailed; }

void Require(bool ok) {
  if (!ok) Refuse();
}

void CheckWindow(const WindowParams& w, const PaddingParams& p) {
  Require(w.windowHeight >= 1 && w.windowWidth >= 1 && w.heightStride >= 1 && w.widthStride >= 1);
  Require(p.left >= 0 && p.right >= 0 && p.top >= 0 && p.bottom >= 0);
}

// Output size of a pooling axis: rounded up, so the last window may be partial.
int PoolSize(int pad0, int size, int pad1, int window, int stride) {
  return static_cast<int>(std::ceil(static_cast<float>(pad0 + size + pad1 - window) / stride + 1));
}

}  // namespace

void CnnMatrix::Resize(int n, int c, int h, int w) {
  const long long count = static_cast<long long>(n) * c * h * w;
  if (n < 0 || c < 0 || h < 0 || w < 0) throw std::bad_array_new_length();
  if (count != Count() || (!data && count > 0)) {
    delete[] data;
    data = nullptr;
    data = new float[static_cast<size_t>(count)]();
  }
  num = n;
  channels = c;
  height = h;
  width = w;
}

Layer::Layer(const LayerParams& params, Net& net)
    : m_name(params.name), m_type(params.type), m_inputNames(params.inputs), m_outputNames(params.outputs) {
  for (const std::string& name : m_inputNames) {
    CnnMatrix* blob = net.Blob(name);
    Require(blob != nullptr);
    m_inputs.push_back(blob);
  }
  Require(!m_outputNames.empty());
  for (const std::string& name : m_outputNames) {
    CnnMatrix* blob = net.Blob(name);
    m_outputs.push_back(blob ? blob : net.AddBlob(name));
  }
}

void Layer::RequireDistinctOutput() const {
  for (CnnMatrix* out : m_outputs) Require(std::find(m_inputs.begin(), m_inputs.end(), out) == m_inputs.end());
}

DataLayer::DataLayer(const DataLayerParams& params, Net& net)
    : Layer(params, net), m_channels(params.channels), m_height(params.height), m_width(params.width) {
  // Windows are small; a size beyond 16 M values is a broken model, and the
  // layers' int sizes stay clear of overflow below it.
  Require(m_channels >= 1 && m_height >= 1 && m_width >= 1 &&
          static_cast<long long>(m_channels) * m_height * m_width <= (1 << 24));
  m_outputs[0]->Resize(1, m_channels, m_height, m_width);
}

ConvLayer::ConvLayer(const ConvLayerParams& params, Net& net) : Layer(params, net), m_params(params) {
  Require(m_inputs.size() == 1 && m_params.filters >= 1);
  CheckWindow(m_params, m_params);
  RequireDistinctOutput();
  const CnnMatrix& in = *m_inputs[0];
  CheckParameterFile(m_params.weights, static_cast<long long>(m_params.filters) * in.channels * m_params.windowHeight *
                                           m_params.windowWidth);
  CheckParameterFile(m_params.biases, m_params.filters);
  m_weights.Resize(m_params.filters, in.channels, m_params.windowHeight, m_params.windowWidth);
  m_bias.Resize(1, 1, 1, m_params.filters);
  LoadParameters(m_params.weights, m_weights.data, static_cast<int>(m_weights.Count()));
  LoadParameters(m_params.biases, m_bias.data, m_params.filters);
  m_sparse =
      crs_matrix_create(m_weights.data, m_params.filters, in.channels * m_params.windowHeight * m_params.windowWidth);
  Reshape();
}

ConvLayer::~ConvLayer() { crs_matrix_free(m_sparse); }

void ConvLayer::Reshape() {
  const CnnMatrix& in = *m_inputs[0];
  const ConvLayerParams& p = m_params;
  const int oh = (p.top + in.height + p.bottom - p.windowHeight) / p.heightStride + 1;
  const int ow = (p.left + in.width + p.right - p.windowWidth) / p.widthStride + 1;
  Require(p.top + in.height + p.bottom >= p.windowHeight && p.left + in.width + p.right >= p.windowWidth);
  Require(in.channels == m_weights.channels);
  m_outputs[0]->Resize(in.num, p.filters, oh, ow);
  m_columns.Resize(1, 1, in.channels * p.windowHeight * p.windowWidth, oh * ow);
}

void ConvLayer::Forward() {
  const CnnMatrix& in = *m_inputs[0];
  CnnMatrix& out = *m_outputs[0];
  const ConvLayerParams& p = m_params;
  const int plane = out.height * out.width;
  const int depth = m_columns.height;
  for (int s = 0; s < in.num; ++s) {
    float* o = out.data + static_cast<long long>(s) * p.filters * plane;
    for (int j = 0; j < p.filters; ++j)
      std::fill(o + static_cast<long long>(j) * plane, o + static_cast<long long>(j + 1) * plane, m_bias.data[j]);
    ImageToCol(in.data + static_cast<long long>(s) * in.channels * in.height * in.width, m_columns.data, in.channels,
               in.height, in.width, p.left, p.right, p.top, p.bottom, p.windowHeight, p.windowWidth, p.heightStride,
               p.widthStride);
    gIPPShare_cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, p.filters, plane, depth, 1.0f, m_weights.data,
                          depth, m_columns.data, plane, 1.0f, o, plane);
  }
}

PoolLayer::PoolLayer(const PoolLayerParams& params, Net& net) : Layer(params, net), m_params(params) {
  Require(m_inputs.size() == 1);
  CheckWindow(m_params, m_params);
  RequireDistinctOutput();
  Reshape();
  // Rounding up can leave a last window with no pixel of the plane in it;
  // such a model has no defined output there.
  const CnnMatrix& in = *m_inputs[0];
  const CnnMatrix& out = *m_outputs[0];
  const PoolLayerParams& p = m_params;
  for (int oy = 0; oy < out.height; ++oy) {
    const int y0 = oy * p.heightStride - p.top;
    Require(y0 < in.height && y0 + p.windowHeight > 0);
  }
  for (int ox = 0; ox < out.width; ++ox) {
    const int x0 = ox * p.widthStride - p.left;
    Require(x0 < in.width && x0 + p.windowWidth > 0);
  }
}

void PoolLayer::Reshape() {
  const CnnMatrix& in = *m_inputs[0];
  const PoolLayerParams& p = m_params;
  const int oh = PoolSize(p.top, in.height, p.bottom, p.windowHeight, p.heightStride);
  const int ow = PoolSize(p.left, in.width, p.right, p.windowWidth, p.widthStride);
  Require(oh >= 1 && ow >= 1);
  m_outputs[0]->Resize(in.num, in.channels, oh, ow);
}

void PoolLayer::Forward() {
  const CnnMatrix& in = *m_inputs[0];
  CnnMatrix& out = *m_outputs[0];
  const PoolLayerParams& p = m_params;
  auto kernel = p.poolType == "MAX" ? MaxPooling : p.poolType == "AVE" ? AveragePooling : nullptr;
  if (!kernel) return;
  const long long inPlane = static_cast<long long>(in.height) * in.width;
  const long long outPlane = static_cast<long long>(out.height) * out.width;
  for (long long k = 0; k < static_cast<long long>(in.num) * in.channels; ++k)
    kernel(in.data + k * inPlane, out.data + k * outPlane, in.height, in.width, out.height, out.width, p.left, p.top,
           p.windowHeight, p.windowWidth, p.heightStride, p.widthStride);
}

FullConnLayer::FullConnLayer(const FullConnLayerParams& params, Net& net) : Layer(params, net), m_params(params) {
  Require(m_inputs.size() == 1 && m_params.filters >= 1);
  RequireDistinctOutput();
  const CnnMatrix& in = *m_inputs[0];
  const int length = in.channels * in.height * in.width;
  CheckParameterFile(m_params.weights, static_cast<long long>(m_params.filters) * length);
  CheckParameterFile(m_params.biases, m_params.filters);
  m_weights.Resize(1, 1, m_params.filters, length);
  m_bias.Resize(1, 1, 1, m_params.filters);
  LoadParameters(m_params.weights, m_weights.data, static_cast<int>(m_weights.Count()));
  LoadParameters(m_params.biases, m_bias.data, m_params.filters);
  m_sparse = crs_matrix_create(m_weights.data, m_params.filters, length);
  Reshape();
}

FullConnLayer::~FullConnLayer() { crs_matrix_free(m_sparse); }

void FullConnLayer::Reshape() {
  const CnnMatrix& in = *m_inputs[0];
  Require(static_cast<long long>(in.channels) * in.height * in.width == m_weights.width);
  m_outputs[0]->Resize(in.num, m_params.filters, 1, 1);
}

void FullConnLayer::Forward() {
  const CnnMatrix& in = *m_inputs[0];
  CnnMatrix& out = *m_outputs[0];
  const int o = m_params.filters;
  const int length = m_weights.width;
  for (int s = 0; s < in.num; ++s)
    std::memcpy(out.data + static_cast<long long>(s) * o, m_bias.data, sizeof(float) * o);
  gIPPShare_cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, in.num, o, length, 1.0f, in.data, length,
                        m_weights.data, length, 1.0f, out.data, o);
}

NeuronLayer::NeuronLayer(const NeuronLayerParams& params, Net& net)
    : Layer(params, net), m_neuronType(params.neuronType) {
  Require(m_inputs.size() == 1);
  Reshape();
}

void NeuronLayer::Reshape() {
  const CnnMatrix& in = *m_inputs[0];
  if (m_outputs[0] != &in) m_outputs[0]->Resize(in.num, in.channels, in.height, in.width);
}

void NeuronLayer::Forward() {
  const CnnMatrix& in = *m_inputs[0];
  const long long n = in.Count();
  if (m_neuronType == "RELU") {
    if (m_outputs[0] == &in) {
      // In place: the plain form lets the compiler vectorise without alias checks.
      for (float *p = in.data, *end = in.data + n; p != end; ++p) *p = *p > 0.0f ? *p : 0.0f;
    } else {
      for (long long i = 0; i < n; ++i) m_outputs[0]->data[i] = std::max(in.data[i], 0.0f);
    }
  } else if (m_neuronType == "SIGMOID") {
    float* out = m_outputs[0]->data;
    for (long long i = 0; i < n; ++i) out[i] = 1.0f / (1.0f + std::exp(-in.data[i]));
  }
}

SoftmaxLayer::SoftmaxLayer(const LayerParams& params, Net& net) : Layer(params, net) {
  Require(m_inputs.size() == 1);
  Reshape();
}

void SoftmaxLayer::Reshape() {
  const CnnMatrix& in = *m_inputs[0];
  if (m_outputs[0] != &in) m_outputs[0]->Resize(in.num, in.channels, in.height, in.width);
}

void SoftmaxLayer::Forward() {
  const CnnMatrix& in = *m_inputs[0];
  const long long length = static_cast<long long>(in.channels) * in.height * in.width;
  for (int s = 0; s < in.num; ++s) {
    const float* x = in.data + s * length;
    float* y = m_outputs[0]->data + s * length;
    const float m = *std::max_element(x, x + length);
    float sum = 0.0f;
    for (long long j = 0; j < length; ++j) sum += (y[j] = std::exp(x[j] - m));
    for (long long j = 0; j < length; ++j) y[j] /= sum;
  }
}

ConcatLayer::ConcatLayer(const LayerParams& params, Net& net) : Layer(params, net) {
  Require(!m_inputs.empty());
  RequireDistinctOutput();
  Reshape();
}

void ConcatLayer::Reshape() {
  const CnnMatrix& first = *m_inputs[0];
  int channels = 0;
  for (const CnnMatrix* in : m_inputs) {
    Require(in->num == first.num && in->height == first.height && in->width == first.width);
    channels += in->channels;
  }
  m_outputs[0]->Resize(first.num, channels, first.height, first.width);
}

void ConcatLayer::Forward() {
  float* out = m_outputs[0]->data;
  for (int s = 0; s < m_inputs[0]->num; ++s)
    for (const CnnMatrix* in : m_inputs) {
      const long long block = static_cast<long long>(in->channels) * in->height * in->width;
      std::memcpy(out, in->data + s * block, sizeof(float) * block);
      out += block;
    }
}

RotateLayer::RotateLayer(const LayerParams& params, Net& net) : Layer(params, net) {
  Require(m_inputs.size() == 1);
  RequireDistinctOutput();
  Reshape();
}

void RotateLayer::Reshape() {
  const CnnMatrix& in = *m_inputs[0];
  m_outputs[0]->Resize(in.num, in.channels, in.height, in.width);
}

void RotateLayer::Forward() {
  const CnnMatrix& in = *m_inputs[0];
  const long long plane = static_cast<long long>(in.height) * in.width;
  for (long long k = 0; k < static_cast<long long>(in.num) * in.channels; ++k) {
    const float* src = in.data + k * plane;
    float* dst = m_outputs[0]->data + k * plane;
    for (long long i = 0; i < plane; ++i) dst[i] = src[plane - 1 - i];  // a half turn reverses the plane
  }
}

BatchNormLayer::BatchNormLayer(const BatchNormLayerParams& params, Net& net)
    : Layer(params, net), m_epsilon(params.epsilon) {
  Require(m_inputs.size() == 1);
  const int channels = m_inputs[0]->channels;
  m_mean.Resize(1, 1, 1, channels);
  m_variance.Resize(1, 1, 1, channels);
  m_scale.Resize(1, 1, 1, 1);
  LoadParameters(params.means, m_mean.data, channels);
  LoadParameters(params.variances, m_variance.data, channels);
  LoadParameters(params.nums, m_scale.data, 1);
  Reshape();
}

void BatchNormLayer::Reshape() {
  const CnnMatrix& in = *m_inputs[0];
  Require(in.channels == m_mean.width);
  if (m_outputs[0] != &in) m_outputs[0]->Resize(in.num, in.channels, in.height, in.width);
}

void BatchNormLayer::Forward() {
  const CnnMatrix& in = *m_inputs[0];
  const long long plane = static_cast<long long>(in.height) * in.width;
  const float s = m_scale.data[0];
  for (int n = 0; n < in.num; ++n)
    for (int j = 0; j < in.channels; ++j) {
      const float mean = m_mean.data[j] / s;
      const float denom = std::sqrt(m_variance.data[j] / s + m_epsilon);
      const long long base = (static_cast<long long>(n) * in.channels + j) * plane;
      for (long long i = 0; i < plane; ++i) m_outputs[0]->data[base + i] = (in.data[base + i] - mean) / denom;
    }
}

Layer* GetLayer(const OptionsParser& options, int position, Net& net) {
  const std::string type = options.GetOption<std::string>(position, "type");
  auto build = [&](auto params, auto make) -> Layer* {
    params.SetParams(options, position);
    return make(params);
  };
  if (type == "data") return build(DataLayerParams{}, [&](const DataLayerParams& p) { return new DataLayer(p, net); });
  if (type == "conv") return build(ConvLayerParams{}, [&](const ConvLayerParams& p) { return new ConvLayer(p, net); });
  if (type == "pool") return build(PoolLayerParams{}, [&](const PoolLayerParams& p) { return new PoolLayer(p, net); });
  if (type == "fc")
    return build(FullConnLayerParams{}, [&](const FullConnLayerParams& p) { return new FullConnLayer(p, net); });
  if (type == "neuron")
    return build(NeuronLayerParams{}, [&](const NeuronLayerParams& p) { return new NeuronLayer(p, net); });
  if (type == "softmax") return build(LayerParams{}, [&](const LayerParams& p) { return new SoftmaxLayer(p, net); });
  if (type == "concat") return build(LayerParams{}, [&](const LayerParams& p) { return new ConcatLayer(p, net); });
  if (type == "rotate") return build(LayerParams{}, [&](const LayerParams& p) { return new RotateLayer(p, net); });
  if (type == "batch_norm")
    return build(BatchNormLayerParams{}, [&](const BatchNormLayerParams& p) { return new BatchNormLayer(p, net); });
  return nullptr;
}

Net::Net(const OptionsParser& options) {
  try {
    // The layers multiply through the unit's bound product.
    Require(gIPPShare_cblas_sgemm != nullptr);
    Require(options.ModuleCount() >= 2);
    for (int position = 1; position < options.ModuleCount(); ++position) {
      // The data layer comes first and only there: the classifier sizes its blob as the batch.
      const bool isData = options.GetOption<std::string>(position, "type") == "data";
      Require(isData == (position == 1));
      Layer* layer = GetLayer(options, position, *this);
      Require(layer != nullptr);  // an unknown type would leave a gap in the chain
      m_layers.push_back(layer);
    }
  } catch (...) {
    for (Layer* layer : m_layers) delete layer;
    for (auto& kv : m_blobs) delete kv.second;
    throw;
  }
}

Net::~Net() {
  for (Layer* layer : m_layers) delete layer;
  for (auto& kv : m_blobs) delete kv.second;
}

CnnMatrix* Net::Blob(const std::string& name) const {
  auto it = m_blobs.find(name);
  return it == m_blobs.end() ? nullptr : it->second;
}

CnnMatrix* Net::AddBlob(const std::string& name) {
  auto blob = std::make_unique<CnnMatrix>();
  CnnMatrix* raw = blob.get();
  m_blobs[name] = blob.release();
  return raw;
}

void Net::Reshape() {
  for (size_t i = 1; i < m_layers.size(); ++i) m_layers[i]->Reshape();
}

void Net::ForwardTo(int k) {
  for (int i = 1; i <= k && i < static_cast<int>(m_layers.size()); ++i) m_layers[i]->Forward();
}

}  // namespace cnn
