// Model text, parameter records and weight files.
#include <gtest/gtest.h>

#include "classifier_test.h"
#include "cnn_options.h"
#include "cnn_params.h"

using namespace classifier_test;

namespace {

cnn::OptionsParser Parsed(const std::vector<std::string>& lines) {
  cnn::OptionsParser p;
  p.Parse(lines);
  return p;
}

TEST(CnnParser, LinesAsTable) {
  cnn::OptionsParser p;
  p.Parse({"weightDir=/w", "  votes = 3 ", "", "\t", "# [hidden]", "#x=1", "[data]", "a = b = c", "height=12ab",
           "width=abc", "lonely", "[conv]", "type=conv", "[data]", "type=data", "k=\r"});
  EXPECT_EQ(p.GetOption<int>("global", "votes"), 3);
  EXPECT_EQ(p.GetOption<std::string>("global", "weightDir"), "/w");
  EXPECT_FALSE(p.IsModuleExisted("hidden"));
  EXPECT_FALSE(p.IsOptionExisted("#x"));
  ASSERT_EQ(p.ModuleCount(), 4);  // global, data, conv, data listed again
  EXPECT_EQ(p.ModuleName(1), "data");
  EXPECT_EQ(p.ModuleName(2), "conv");
  EXPECT_EQ(p.ModuleName(3), "data");
  // The repeated module starts over: its first options are gone.
  EXPECT_FALSE(p.IsOptionExisted("data", "a"));
  EXPECT_EQ(p.GetOption<std::string>(1, "type"), "data");
  EXPECT_EQ(p.GetOption<std::string>("data", "k"), "\r");  // carriage returns stay

  cnn::OptionsParser q = Parsed({"[m]", "a = b = c", "height=12ab", "width=abc", "lonely", "empty="});
  EXPECT_EQ(q.GetOption<std::string>("m", "a"), "b=c");  // split at the first '='
  EXPECT_EQ(q.GetOption<int>("m", "height"), 12);
  EXPECT_EQ(q.GetOption<int>("m", "width"), 0);
  EXPECT_EQ(q.GetOption<std::string>("m", "lonely"), "lonely");
  EXPECT_EQ(q.GetOption<int>("m", "empty"), 0);
  EXPECT_TRUE(q.IsOptionExisted(1, "lonely"));
  EXPECT_FALSE(q.IsOptionExisted(7, "lonely"));
  // A missing module or key is a broken model.
  EXPECT_THROW(q.GetOption<int>("m", "nothing"), int);
  EXPECT_THROW(q.GetOption<int>("none", "a"), int);
  q.Clear();
  EXPECT_EQ(q.ModuleCount(), 1);
  EXPECT_FALSE(q.IsModuleExisted("m"));
}

TEST(CnnParser, FileGetsWeightDirFirstAndCrlfBreaksHeaders) {
  ScratchModel m("fixed_bias");
  m.Write("a.txt", "weightDir=/own\nvotes=2\n[data]\ntype=data\n");
  cnn::OptionsParser p;
  p.Parse(m.Path("a.txt"), "/given");
  EXPECT_EQ(p.GetOption<std::string>("global", "weightDir"), "/own");  // the file's own line wins

  m.Write("b.txt", "[data]\r\ntype=data\r\n");
  cnn::OptionsParser q;
  q.Parse(m.Path("b.txt"), "/given");
  EXPECT_EQ(q.GetOption<std::string>("global", "weightDir"), "/given");
  EXPECT_EQ(q.ModuleCount(), 1);  // "[data]\r" is no header
  EXPECT_EQ(q.GetOption<std::string>("global", "type"), "data\r");

  cnn::OptionsParser r;
  try {
    r.Parse(m.Path("missing.txt"), "/given");
    FAIL();
  } catch (int code) {
    EXPECT_EQ(code, 55);
  }
}

TEST(CnnParser, ParameterFallbacks) {
  struct Case {
    std::vector<std::string> lines;
    int window[4];   // height, width, height stride, width stride
    int padding[4];  // left, right, top, bottom
  } cases[] = {
      {{"windowSize=3", "windowStride=2"}, {3, 3, 2, 2}, {0, 0, 0, 0}},
      {{"windowHeight=3", "windowWidth=5", "windowSize=9", "heightStride=1", "widthStride=4", "windowStride=7"},
       {3, 5, 1, 4},
       {0, 0, 0, 0}},
      {{"paddingStart=1", "paddingEnd=2", "padding=9"}, {0, 0, 0, 0}, {1, 2, 1, 2}},
      {{"paddingLeft=1", "paddingRight=2", "paddingTop=3", "paddingBottom=4", "paddingStart=8"},
       {0, 0, 0, 0},
       {1, 2, 3, 4}},
      {{"padding=2"}, {0, 0, 0, 0}, {2, 2, 2, 2}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines{"[pool]", "type=pool"};
    lines.insert(lines.end(), c.lines.begin(), c.lines.end());
    cnn::OptionsParser p = Parsed(lines);
    cnn::WindowParams w;
    w.SetParams(p, 1);
    cnn::PaddingParams pad;
    pad.SetParams(p, 1);
    EXPECT_EQ(w.windowHeight, c.window[0]);
    EXPECT_EQ(w.windowWidth, c.window[1]);
    EXPECT_EQ(w.heightStride, c.window[2]);
    EXPECT_EQ(w.widthStride, c.window[3]);
    EXPECT_EQ(pad.left, c.padding[0]);
    EXPECT_EQ(pad.right, c.padding[1]);
    EXPECT_EQ(pad.top, c.padding[2]);
    EXPECT_EQ(pad.bottom, c.padding[3]);
  }
  // A first key of a group names its partners too.
  cnn::WindowParams w;
  EXPECT_THROW(w.SetParams(Parsed({"[m]", "windowHeight=3"}), 1), int);
}

TEST(CnnParser, NamesAndPaths) {
  cnn::OptionsParser p =
      Parsed({"weightDir=/w", "[c]", "type=conv", "inputs=a;b", "outputs=x;", "weights=cw.bin", "filters=2"});
  cnn::ConvLayerParams c;
  c.SetParams(p, 1);
  EXPECT_EQ(c.inputs, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(c.outputs, (std::vector<std::string>{"x", ""}));
  EXPECT_EQ(c.weights, "/w/cw.bin");
  EXPECT_EQ(c.biases, "");
  EXPECT_EQ(c.filters, 2);
  EXPECT_EQ(cnn::SplitNames("", ';').size(), 0u);
  EXPECT_EQ(cnn::SplitNames(";", ';'), (std::vector<std::string>{"", ""}));
  cnn::OptionsParser bare = Parsed({"[c]", "weights=cw.bin"});
  cnn::WeightParams wp;
  wp.SetParams(bare, 1);
  EXPECT_EQ(wp.weights, "cw.bin");  // no weight directory: no prefix
}

TEST(CnnParser, WeightFiles) {
  ScratchModel m("fixed_bias");
  const std::vector<float> values{1.5f, -2.25f, 0.0f, 3e-7f};
  m.Write("w.bin", FloatFile(values));
  std::vector<float> back(4, 9.0f);
  cnn::LoadParameters(m.Path("w.bin"), back.data(), 4);
  EXPECT_EQ(back, values);
  struct Case {
    std::string file;
    int count;
  } refused[] = {{"missing.bin", 4}, {"w.bin", 3}, {"w.bin", 5}, {"w.bin", -1}};
  for (const Case& c : refused) {
    try {
      cnn::LoadParameters(m.Path(c.file), back.data(), c.count);
      ADD_FAILURE() << c.file << " " << c.count;
    } catch (int code) {
      EXPECT_EQ(code, 55);
    }
  }
}

}  // namespace
