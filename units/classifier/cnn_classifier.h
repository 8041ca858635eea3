// Classifier: a parsed model and its network, ranking each sample's outputs.
#ifndef DRAVN_CNN_CLASSIFIER_H
#define DRAVN_CNN_CLASSIFIER_H

#include <pthread.h>

#include <string>
#include <utility>
#include <vector>

#include "cnn_net.h"
#include "cnn_options.h"
#include "vomb_mat.h"

// Serialises every batch classification of the process.
extern "C" pthread_mutex_t mutex;

namespace cnn {

extern pthread_mutex_t* m_hMutex;

class Normalizer {
 public:
  virtual void Normalize(const Vomb::CMat<unsigned char>& source, float* destination, int channels, int height,
                         int width);
  virtual void Normalize(const Vomb::CMat<float>& source, float* destination, int channels, int height, int width);
};

class LinearNormalizer : public Normalizer {
 public:
  LinearNormalizer(float scale, float offset) : m_scale(scale), m_offset(offset) {}
  void Normalize(const Vomb::CMat<unsigned char>& source, float* destination, int channels, int height,
                 int width) override;
  using Normalizer::Normalize;
  float m_scale, m_offset;
};

class MeanSubNormalizer : public Normalizer {
 public:
  void Normalize(const Vomb::CMat<unsigned char>& source, float* destination, int channels, int height,
                 int width) override;
  using Normalizer::Normalize;
};

class CharNormalizer : public Normalizer {
 public:
  void Normalize(const Vomb::CMat<unsigned char>&, float*, int, int, int) override {}
  using Normalizer::Normalize;
};

using Ranking = std::vector<std::pair<int, float>>;

// Batches classified, their windows and the processor time they took, over every
// classifier of the process: what the benchmarks report per page.
struct ClassifyTally {
  long batches = 0;
  long windows = 0;
  double seconds = 0;
};
extern ClassifyTally g_classifyTally;

class Classifier {
 public:
  Classifier(const std::string& modelPath, const std::string& weightDir);
  explicit Classifier(const OptionsParser& options);
  ~Classifier();
  Classifier(const Classifier&) = delete;
  Classifier& operator=(const Classifier&) = delete;

  void SetBatchNumber(int n);
  const std::vector<Ranking>& Classify(const std::vector<Vomb::CMat<float>>& samples);
  Ranking Classify(const Vomb::CMat<float>& sample);
  void ClassifyPrefilled();
  void PrintTimeConsumption(int) const {}

  // Outputs per sample: the channel count of the last layer's first output.
  int OutputCount() const;

  OptionsParser m_options;
  Net* m_net = nullptr;
  int m_channels = 0, m_height = 0, m_width = 0;
  Normalizer* m_normalizer = nullptr;
  std::vector<Ranking> m_results;
  std::vector<std::pair<std::string, double>> m_times;

 private:
  void Init(const OptionsParser& options);
  CnnMatrix* DataBlob() const { return m_net->m_layers[0]->m_outputs[0]; }
};

}  // namespace cnn

#endif
