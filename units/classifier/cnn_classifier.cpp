#include "cnn_classifier.h"

#include <algorithm>
#include <ctime>
#include <mutex>

namespace cnn {

namespace {

struct Lock {
  Lock() { pthread_mutex_lock(&mutex); }
  ~Lock() { pthread_mutex_unlock(&mutex); }
};

// Writes a planar sample from an interleaved matrix; a matrix of another
// shape fills only the overlap and leaves zeros, never writing past the blob.
template <class T, class F>
void ToPlanar(const Vomb::CMat<T>& source, float* destination, int channels, int height, int width, F value) {
  std::fill(destination, destination + static_cast<long long>(channels) * height * width, 0.0f);
  const int rows = std::min(source.rows, height), cols = std::min(source.cols, width);
  const int chans = std::min(source.channels, channels);
  for (int c = 0; c < chans; ++c)
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < cols; ++x)
        destination[(static_cast<long long>(c) * height + y) * width + x] =
            value(source.Row(y)[x * source.channels + c], c);
}

}  // namespace

void Normalizer::Normalize(const Vomb::CMat<unsigned char>& source, float* destination, int channels, int height,
                           int width) {
  ToPlanar(source, destination, channels, height, width, [](unsigned char v, int) { return static_cast<float>(v); });
}

void Normalizer::Normalize(const Vomb::CMat<float>& source, float* destination, int channels, int height, int width) {
  ToPlanar(source, destination, channels, height, width, [](float v, int) { return v; });
}

void LinearNormalizer::Normalize(const Vomb::CMat<unsigned char>& source, float* destination, int channels, int height,
                                 int width) {
  ToPlanar(source, destination, channels, height, width,
           [this](unsigned char v, int) { return static_cast<float>(v) * m_scale + m_offset; });
}

void MeanSubNormalizer::Normalize(const Vomb::CMat<unsigned char>& source, float* destination, int channels, int height,
                                  int width) {
  const std::vector<double> mean = source.Mean();
  ToPlanar(source, destination, channels, height, width,
           [&mean](unsigned char v, int c) { return static_cast<float>(v - mean[c]); });
}

Classifier::Classifier(const std::string& modelPath, const std::string& weightDir) {
  m_options.Parse(modelPath, weightDir);
  Init(m_options);
}

Classifier::Classifier(const OptionsParser& options) { Init(options); }

Classifier::~Classifier() { delete m_net; }

void Classifier::Init(const OptionsParser& options) {
  m_net = new Net(options);
  const CnnMatrix* data = DataBlob();
  // The front end feeds grey windows only.
  if (data->channels != 1) {
    delete m_net;
    m_net = nullptr;
    throw kLoadFailed;
  }
  m_channels = data->channels;
  m_height = data->height;
  m_width = data->width;
  for (const Layer* layer : m_net->m_layers) m_times.emplace_back(layer->m_name, 0.0);
}

int Classifier::OutputCount() const { return m_net->m_layers.back()->m_outputs[0]->channels; }

void Classifier::SetBatchNumber(int n) {
  CnnMatrix* data = DataBlob();
  if (data->num == n) return;
  data->Resize(n, m_channels, m_height, m_width);
  m_net->Reshape();
}

ClassifyTally g_classifyTally;

const std::vector<Ranking>& Classifier::Classify(const std::vector<Vomb::CMat<float>>& samples) {
  Lock lock;
  timespec start{}, end{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
  SetBatchNumber(static_cast<int>(samples.size()));
  const long long size = static_cast<long long>(m_channels) * m_height * m_width;
  Normalizer base;
  Normalizer& normalizer = m_normalizer ? *m_normalizer : base;
  for (size_t i = 0; i < samples.size(); ++i)
    normalizer.Normalize(samples[i], DataBlob()->data + static_cast<long long>(i) * size, m_channels, m_height,
                         m_width);
  ClassifyPrefilled();
  ++g_classifyTally.batches;
  g_classifyTally.windows += long(samples.size());
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
  g_classifyTally.seconds += double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) * 1e-9;
  return m_results;
}

Ranking Classifier::Classify(const Vomb::CMat<float>& sample) {
  std::vector<Vomb::CMat<float>> one{sample};
  return Classify(one).at(0);
}

void Classifier::ClassifyPrefilled() {
  for (size_t i = 0; i < m_net->m_layers.size(); ++i) {
    const clock_t start = clock();
    m_net->m_layers[i]->Forward();
    m_times[i].second += static_cast<double>(clock() - start) / 1e6 * 1000;
  }
  const CnnMatrix& out = *m_net->m_layers.back()->m_outputs[0];
  const int n = out.num, k = out.channels;
  m_results.assign(n, Ranking(k));
  for (int i = 0; i < n; ++i) {
    Ranking& r = m_results[i];
    for (int j = 0; j < k; ++j) r[j] = {j, out.data[i * static_cast<long long>(k) + j]};
    std::sort(r.begin(), r.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  }
}

}  // namespace cnn
