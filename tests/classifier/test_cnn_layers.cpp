// Layers against the numpy goldens, batch resizing, ranking and the normalisers.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "classifier_test.h"
#include "cnn_classifier.h"

using namespace classifier_test;

namespace {

// Goldens come from float32 numpy with another summation order.
constexpr float kTolerance = 2e-5f;

std::vector<Vomb::CMat<float>> Samples(const Golden& g, int count) {
  std::vector<Vomb::CMat<float>> out;
  for (int i = 0; i < count; ++i) {
    Vomb::CMat<float> m(g.h, g.w, 1);
    const int k = i % g.n;
    std::copy_n(&g.values[static_cast<size_t>(k) * g.h * g.w], g.h * g.w, m.data);
    out.push_back(m);
  }
  return out;
}

void ExpectBlob(const cnn::CnnMatrix& blob, const Golden& g, const std::string& name) {
  ASSERT_EQ(blob.num, g.n) << name;
  ASSERT_EQ(blob.channels, g.c) << name;
  ASSERT_EQ(blob.height, g.h) << name;
  ASSERT_EQ(blob.width, g.w) << name;
  for (size_t i = 0; i < g.values.size(); ++i)
    ASSERT_NEAR(blob.data[i], g.values[i], kTolerance * std::max(1.0f, std::fabs(g.values[i]))) << name << " " << i;
}

struct ConvNet : ::testing::Test {
  std::string dir = ModelDir("conv_net");
  cnn::Classifier classifier{dir + "/model/model.txt", dir + "/model/weights"};
  Golden input = ReadGolden(dir + "/golden/data.bin");
};

TEST_F(ConvNet, EveryBlobMatchesTheReference) {
  classifier.Classify(Samples(input, 3));
  const char* blobs[] = {"c1", "p1", "r1", "cat", "bn", "c2", "s2", "p2", "fc", "prob"};
  for (const char* name : blobs) {
    const cnn::CnnMatrix* blob = classifier.m_net->Blob(name);
    ASSERT_NE(blob, nullptr) << name;
    ExpectBlob(*blob, ReadGolden(dir + "/golden/" + name + ".bin"), name);
  }
  // Shapes that the edge rules decide: the last max window holds one row and
  // one column (11 x 13 -> 6 x 7), the average windows reach into padding.
  EXPECT_EQ(classifier.m_net->Blob("p1")->height, 6);
  EXPECT_EQ(classifier.m_net->Blob("p1")->width, 7);
  EXPECT_EQ(classifier.m_net->Blob("cat")->channels, 8);
  // The in-place activation shares its blob.
  const cnn::Layer* relu = classifier.m_net->m_layers[2];
  EXPECT_EQ(relu->m_inputs[0], relu->m_outputs[0]);
  EXPECT_EQ(classifier.m_times.size(), classifier.m_net->m_layers.size());
}

TEST_F(ConvNet, RankingIsBestFirstOverAllOutputs) {
  const std::vector<cnn::Ranking>& r = classifier.Classify(Samples(input, 3));
  const Golden prob = ReadGolden(dir + "/golden/prob.bin");
  ASSERT_EQ(r.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(r[i].size(), 25u);
    std::vector<bool> seen(25, false);
    for (size_t k = 0; k < r[i].size(); ++k) {
      if (k > 0) {
        EXPECT_GE(r[i][k - 1].second, r[i][k].second);
      }
      seen[r[i][k].first] = true;
      EXPECT_NEAR(r[i][k].second, prob.values[i * 25 + r[i][k].first], kTolerance);
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 25);
  }
  const cnn::Ranking one = classifier.Classify(Samples(input, 1)[0]);
  EXPECT_EQ(one.size(), 25u);
}

TEST_F(ConvNet, BatchOfThreeThenFiveResizesEveryBlob) {
  const std::vector<cnn::Ranking> three = classifier.Classify(Samples(input, 3));
  const std::vector<cnn::Ranking> five = classifier.Classify(Samples(input, 5));
  for (const auto& kv : classifier.m_net->m_blobs) EXPECT_EQ(kv.second->num, 5) << kv.first;
  ASSERT_EQ(five.size(), 5u);
  for (int i = 0; i < 5; ++i)
    for (int k = 0; k < 25; ++k) {
      EXPECT_EQ(five[i][k].first, three[i % 3][k].first);
      EXPECT_FLOAT_EQ(five[i][k].second, three[i % 3][k].second);
    }
}

cnn::OptionsParser DataOnly(int channels) {
  cnn::OptionsParser p;
  p.Parse({"[data]", "type=data", "outputs=data", "channels=" + std::to_string(channels), "height=3", "width=4"});
  return p;
}

cnn::LayerParams Params(const std::string& type, std::vector<std::string> in, std::vector<std::string> out) {
  cnn::LayerParams p;
  p.name = type;
  p.type = type;
  p.inputs = std::move(in);
  p.outputs = std::move(out);
  return p;
}

TEST(CnnLayers, ConcatSixteenAndThirtyTwo) {
  cnn::Net net(DataOnly(1));
  cnn::CnnMatrix* a = net.AddBlob("a");
  cnn::CnnMatrix* b = net.AddBlob("b");
  a->Resize(2, 16, 3, 4);
  b->Resize(2, 32, 3, 4);
  for (long long i = 0; i < a->Count(); ++i) a->data[i] = static_cast<float>(i);
  for (long long i = 0; i < b->Count(); ++i) b->data[i] = -static_cast<float>(i) - 1;
  cnn::ConcatLayer cat(Params("concat", {"a", "b"}, {"ab"}), net);
  cat.Forward();
  const cnn::CnnMatrix& out = *net.Blob("ab");
  EXPECT_EQ(out.channels, 48);
  EXPECT_EQ(out.num, 2);
  // Sample 1 is its 16 planes of a, then its 32 planes of b.
  EXPECT_EQ(out.data[48 * 12 + 0], a->data[16 * 12]);
  EXPECT_EQ(out.data[48 * 12 + 16 * 12], b->data[32 * 12]);
}

TEST(CnnLayers, RotateTwiceIsIdentityAndNeuronWorksInPlace) {
  cnn::Net net(DataOnly(1));
  cnn::CnnMatrix* x = net.AddBlob("x");
  x->Resize(2, 3, 5, 7);
  for (long long i = 0; i < x->Count(); ++i) x->data[i] = static_cast<float>(i % 11) - 5;
  const std::vector<float> original(x->data, x->data + x->Count());
  cnn::RotateLayer once(Params("rotate", {"x"}, {"y"}), net);
  cnn::RotateLayer twice(Params("rotate", {"y"}, {"z"}), net);
  once.Forward();
  twice.Forward();
  EXPECT_EQ(net.Blob("y")->data[0], original[34]);  // the first pixel takes the last of its plane
  EXPECT_EQ(std::vector<float>(net.Blob("z")->data, net.Blob("z")->data + x->Count()), original);

  cnn::NeuronLayerParams relu;
  static_cast<cnn::LayerParams&>(relu) = Params("neuron", {"x"}, {"x"});
  relu.neuronType = "RELU";
  cnn::NeuronLayer layer(relu, net);
  layer.Forward();
  for (long long i = 0; i < x->Count(); ++i) EXPECT_EQ(x->data[i], std::max(original[i], 0.0f));
  EXPECT_EQ(x->num, 2);
}

TEST(CnnLayers, Normalisers) {
  // Three interleaved channels, two rows of two pixels.
  unsigned char pixels[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  Vomb::CMat<unsigned char> m(2, 2, 3, 6, pixels);
  std::vector<float> out(12);
  cnn::LinearNormalizer(2, -1).Normalize(m, out.data(), 3, 2, 2);
  EXPECT_EQ(out, (std::vector<float>{1, 7, 13, 19, 3, 9, 15, 21, 5, 11, 17, 23}));
  cnn::MeanSubNormalizer().Normalize(m, out.data(), 3, 2, 2);
  EXPECT_EQ(out, (std::vector<float>{-4.5f, -1.5f, 1.5f, 4.5f, -4.5f, -1.5f, 1.5f, 4.5f, -4.5f, -1.5f, 1.5f, 4.5f}));
  cnn::Normalizer().Normalize(m, out.data(), 3, 2, 2);
  EXPECT_EQ(out, (std::vector<float>{1, 4, 7, 10, 2, 5, 8, 11, 3, 6, 9, 12}));
  std::vector<float> untouched(12, 42.0f);
  cnn::CharNormalizer().Normalize(m, untouched.data(), 3, 2, 2);
  EXPECT_EQ(untouched, std::vector<float>(12, 42.0f));
}

}  // namespace
