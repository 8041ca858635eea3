// Broken engine files are refused at load: code 55 or a null detector, never a crash.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "classifier_test.h"
#include "text_detector.h"
#include "unit_log.h"
#include "vomb_cnn.h"

using namespace classifier_test;

namespace {

void Replace(const ScratchModel& m, const std::string& file, const std::string& from, const std::string& to) {
  std::string text = m.Read(file);
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
  m.Write(file, text);
}

// Loads the script model of a scratch directory: 0, or the code it threw.
int LoadCode(const ScratchModel& m, const char* pattern = "%s/model/model.txt") {
  try {
    VOMBCNN_Release(VOMBCNN_Init(m.Dir().c_str(), pattern));
    return 0;
  } catch (int code) {
    return code;
  }
}

struct Case {
  const char* what;
  const char* model;
  std::function<void(const ScratchModel&)> breakIt;
  int code;
};

TEST(CnnRefusal, BrokenModelsAsTable) {
  const std::string fc24 = FloatFile(std::vector<float>(24 * 128, 1e-3f));
  const Case cases[] = {
      {"intact", "conv_net", [](const ScratchModel&) {}, 0},
      {"CRLF model text", "fixed_bias",
       [](const ScratchModel& m) {
         std::string t = m.Read("model/model.txt"), crlf;
         for (char c : t) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
         m.Write("model/model.txt", crlf);
       },
       55},
      {"unknown type", "conv_net",
       [](const ScratchModel& m) { Replace(m, "model/model.txt", "type=rotate", "type=rotat"); }, 55},
      {"missing input blob", "conv_net", [](const ScratchModel& m) { Replace(m, "model/model.txt", "p1;r1", "p1;r9"); },
       55},
      {"inputs ending in ';'", "conv_net",
       [](const ScratchModel& m) { Replace(m, "model/model.txt", "p1;r1", "p1;r1;"); }, 55},
      {"data channels 2", "conv_net",
       [](const ScratchModel& m) { Replace(m, "model/model.txt", "channels = 1", "channels = 2"); }, 55},
      {"data channels 2, weights to match", "conv_net",
       [](const ScratchModel& m) {
         Replace(m, "model/model.txt", "channels = 1", "channels = 2");
         m.Write("model/weights/conv1_w.bin", FloatFile(std::vector<float>(4 * 2 * 9, 0.1f)));
       },
       55},
      {"stride 0", "conv_net",
       [](const ScratchModel& m) { Replace(m, "model/model.txt", "windowStride=1", "windowStride=0"); }, 55},
      {"no stride keys", "conv_net", [](const ScratchModel& m) { Replace(m, "model/model.txt", "windowStride=1", ""); },
       55},
      {"negative padding", "conv_net",
       [](const ScratchModel& m) { Replace(m, "model/model.txt", "padding=1", "padding=-1"); }, 55},
      {"no height", "conv_net", [](const ScratchModel& m) { Replace(m, "model/model.txt", "height = 11", ""); }, 55},
      {"no biases key", "conv_net",
       [](const ScratchModel& m) { Replace(m, "model/model.txt", "biases=conv1_b.bin", ""); }, 55},
      {"missing weight file", "conv_net",
       [](const ScratchModel& m) { std::remove(m.Path("model/weights/fc_b.bin").c_str()); }, 55},
      {"short weight file", "conv_net",
       [](const ScratchModel& m) {
         std::string w = m.Read("model/weights/conv1_w.bin");
         m.Write("model/weights/conv1_w.bin", w.substr(0, w.size() - 4));
       },
       55},
      {"long weight file", "conv_net",
       [](const ScratchModel& m) { m.Write("model/weights/bn_var.bin", m.Read("model/weights/bn_var.bin") + "abcd"); },
       55},
      {"huge window", "conv_net",
       [](const ScratchModel& m) { Replace(m, "model/model.txt", "width = 13", "width = 130000000"); }, 55},
      {"a billion filters", "conv_net",
       [](const ScratchModel& m) { Replace(m, "model/model.txt", "filters=6", "filters=1000000000"); }, 55},
      {"in-place convolution", "conv_net",
       [](const ScratchModel& m) { Replace(m, "model/model.txt", "outputs=c2", "outputs=bn"); }, 55},
      {"second data layer", "conv_net",
       [](const ScratchModel& m) { Replace(m, "model/model.txt", "type=rotate", "type=data"); }, 55},
      {"K 24", "fixed_bias",
       [fc24](const ScratchModel& m) {
         Replace(m, "model/model.txt", "filters=25", "filters=24");
         m.Write("model/weights/fc_w.bin", fc24);
         m.Write("model/weights/bias10.bin", FloatFile(std::vector<float>(24, 0.0f)));
       },
       55},
      {"all-zero weight file", "fixed_bias",
       [](const ScratchModel& m) { m.Write("model/weights/fc_w.bin", FloatFile(std::vector<float>(25 * 128, 0.0f))); },
       0},
      {"pooling window wholly in padding", "conv_net",
       [](const ScratchModel& m) {
         Replace(m, "model/model.txt", "windowSize=3\nwindowStride=2\npadding=1",
                 "windowSize=3\nwindowStride=2\npaddingStart=1\npaddingEnd=4");
       },
       55},
  };
  for (const Case& c : cases) {
    ScratchModel m(c.model);
    c.breakIt(m);
    EXPECT_EQ(LoadCode(m), c.code) << c.what;
  }
}

TEST(CnnRefusal, RotationNetWithMoreOutputsThanTheScriptNet) {
  ScratchModel m("fixed_bias");
  Replace(m, "model/rotate_model.txt", "filters=25", "filters=26");
  Replace(m, "model/rotate_model.txt", "weights=fc_w.bin", "weights=fc26.bin");
  Replace(m, "model/rotate_model.txt", "biases=bias11.bin", "biases=bias26.bin");
  m.Write("model/weights/fc26.bin", FloatFile(std::vector<float>(26 * 128, 1e-3f)));
  m.Write("model/weights/bias26.bin", FloatFile(std::vector<float>(26, 0.0f)));
  CnnEngine* script = VOMBCNN_Init(m.Dir().c_str(), "%s/model/model.txt");
  CnnEngine* rotation = VOMBCNN_Init(m.Dir().c_str(), "%s/model/rotate_model.txt");
  EXPECT_EQ(VOMBCNN_CheckRotation(script, rotation), 55);
  EXPECT_EQ(VOMBCNN_CheckRotation(rotation, script), 0);
  EXPECT_EQ(VOMBCNN_CheckRotation(script, nullptr), 0);
  // Were it used anyway, label 25 of the rotation net has no slot: it is dropped, not written past the end.
  std::vector<unsigned char> page(40 * 20, 90);
  int category, direction;
  float confidence;
  VOMBCNN_script_orientation(script, rotation, page.data(), 40, 20, tagRECT{0, 0, 39, 19}, category, direction,
                             confidence, 0, 1);
  EXPECT_EQ(category, 10);
  VOMBCNN_Release(script);
  VOMBCNN_Release(rotation);
}

TEST(CnnRefusal, PoolingWindowInPaddingAloneAndUnbound) {
  ScratchModel m("fixed_bias");
  const char* text =
      "[data]\ntype=data\noutputs=data\nchannels=1\nheight=4\nwidth=4\n[pool]\ntype=pool\npoolType=MAX\n"
      "inputs=data\noutputs=p\nwindowSize=2\nwindowStride=2\npaddingStart=0\npaddingEnd=%d\n";
  for (int end : {0, 1, 3}) {
    char buf[512];
    std::snprintf(buf, sizeof buf, text, end);
    m.Write("pool.txt", buf);
    try {
      cnn::Classifier c(m.Path("pool.txt"), m.Path("model/weights"));
      EXPECT_EQ(end, 0);
      EXPECT_EQ(c.m_net->Blob("p")->height, 2);
    } catch (int code) {
      EXPECT_NE(end, 0);
      EXPECT_EQ(code, 55);
    }
  }
  // Without the bound product nothing can run: the net refuses to build.
  const SgemmFn bound = gIPPShare_cblas_sgemm;
  gIPPShare_cblas_sgemm = nullptr;
  EXPECT_THROW(cnn::Classifier(m.Path("pool.txt"), m.Path("model/weights")), int);
  gIPPShare_cblas_sgemm = bound;
}

// model.dat in the detector's layout, built field by field so each case can break one.
struct DetectorFile {
  int W = 20, H = 16, stages = 1, features = 1, arrayLength = 0, channel = 0, treeCount = 1, featureIndex = 0,
      left = -1, right = -2, leafCount = 3, rectX = 0, rectW = 20;
  size_t cut = 0;  // bytes dropped from the end
  std::string Bytes() const {
    std::string b;
    auto i32 = [&b](int v) { b.append(reinterpret_cast<const char*>(&v), 4); };
    auto f32 = [&b](float v) { b.append(reinterpret_cast<const char*>(&v), 4); };
    i32(W), i32(H), i32(0), i32(stages);
    for (int s = 0; s < std::min(std::max(stages, 0), 1); ++s) {  // one block, whatever the count says
      i32(0), i32(features);
      for (int f = 0; f < std::max(features, 0); ++f) {
        for (int v : {0, 0, rectX, 0, rectW, H, 0}) i32(v);
        i32(arrayLength), i32(0), i32(0), i32(channel), i32(0), i32(0);
        for (int k = 0; k < 2 * std::max(arrayLength, 0); ++k) i32(k);
      }
      i32(treeCount);
      for (int t = 0; t < std::max(treeCount, 0); ++t) i32(featureIndex), f32(1.0f), i32(left), i32(right);
      i32(leafCount);
      for (int l = 0; l < std::max(leafCount, 0); ++l) f32(static_cast<float>(l) / 2);
      for (float v : {0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, -1.0f, 0.0f}) f32(v);
    }
    return b.substr(0, b.size() - std::min(cut, b.size()));
  }
};

TEST(DetectorRefusal, BrokenFilesAsTable) {
  struct Case {
    const char* what;
    std::function<void(DetectorFile&)> breakIt;
    bool loads;
  } cases[] = {
      {"intact", [](DetectorFile&) {}, true},
      {"two features and arrays", [](DetectorFile& f) { f.features = 2, f.arrayLength = 3; }, true},
      {"truncated", [](DetectorFile& f) { f.cut = 4; }, false},
      {"header only", [](DetectorFile& f) { f.cut = 100000; }, false},
      {"negative feature count", [](DetectorFile& f) { f.features = -1; }, false},
      {"negative array length", [](DetectorFile& f) { f.arrayLength = -2; }, false},
      {"negative tree count", [](DetectorFile& f) { f.treeCount = -1; }, false},
      {"negative leaf count", [](DetectorFile& f) { f.leafCount = -5; }, false},
      {"no stage", [](DetectorFile& f) { f.stages = 0; }, false},
      {"huge stage count", [](DetectorFile& f) { f.stages = 1 << 30; }, false},
      {"three features", [](DetectorFile& f) { f.features = 3; }, false},
      {"no tree entry", [](DetectorFile& f) { f.treeCount = 0; }, false},
      {"feature index", [](DetectorFile& f) { f.featureIndex = 1; }, false},
      {"tree child index", [](DetectorFile& f) { f.right = 1; }, false},
      {"tree loop", [](DetectorFile& f) { f.right = 0; }, false},
      {"leaf index", [](DetectorFile& f) { f.right = -3; }, false},
      {"gradient channel", [](DetectorFile& f) { f.channel = 4; }, false},
      {"rectangle outside the window", [](DetectorFile& f) { f.rectX = 1; }, false},
      {"window height 17", [](DetectorFile& f) { f.H = 17; }, false},
      {"window width 1", [](DetectorFile& f) { f.W = 1, f.rectW = 1; }, false},
      {"window width 2^20", [](DetectorFile& f) { f.W = 1 << 20; }, false},
  };
  for (const Case& c : cases) {
    ScratchModel m("detector");
    DetectorFile file;
    c.breakIt(file);
    m.Write("model.dat", file.Bytes());
    std::string dir = m.Dir();
    STRONGCLASSIFIER* d = TDInit(dir.data());
    EXPECT_EQ(d != nullptr, c.loads) << c.what;
    if (d) {
      std::vector<unsigned char> strip(45 * 18);
      for (size_t i = 0; i < strip.size(); ++i) strip[i] = (i % 45 / 2) % 2 ? 255 : 0;
      int count;
      float contrast;
      delete[] TextDetection(d, strip.data(), 45, 18, count, contrast);
      EXPECT_EQ(count, 4);
    }
    TDRelease(d);
  }
  std::string longPath(300, 'a');
  EXPECT_EQ(TDInit(longPath.data()), nullptr);
}

TEST(DetectorRefusal, MissingFileIsLoggedThroughTheUnitLog) {
  ScratchModel m("detector");
  m.Write("unit.ini", "[COMMON]\nLogMode=1\n");
  I3LogInitFrom(m.Path("unit.ini").c_str(), (m.Dir() + "/").c_str(), "unit.log");
  std::string missing = m.Dir() + "/no-such-engine";
  EXPECT_EQ(TDInit(missing.data()), nullptr);
  I3LogInitFrom("/nonexistent.ini", "", "unit.log");  // the log off again for the other tests
  const std::string log = m.Read("unit.log");
  EXPECT_NE(log.find(", 0x01, Turnsense3::TDInit Can't find dictionary file(" + missing + "/model.dat)\n"),
            std::string::npos)
      << log;
}

}  // namespace
