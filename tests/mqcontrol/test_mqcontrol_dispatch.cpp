// The family dispatch of settings and the default layout: which layout
// each family reaches in each dispatch order, the settings with orders of
// their own, and the default layout's encodings and result conventions.
#include <gtest/gtest.h>

#include <climits>

#include "settings_test_util.h"

// Tables are laid out by hand, one case a row.
// clang-format off
namespace {

using namespace settings_test;

// The place each layout gives one probe setting of an order: the byte and
// value it writes and the set it marks (none for the default layout's own
// unmarked fields).
struct Place {
  int offset;
  int value;
  std::vector<MarkBits> marks;
};
struct Probe {
  const char* order;
  std::function<int()> call;
  Place dunmoMe2, tavrin3, rtos, byDefault;
};

const std::vector<Probe>& Probes() {
  static const std::vector<Probe> probes = {
      {"A", CALL(SetDoubleFeedMode(3)), {208, 0x18, {{D2, 0, 0x06}}}, {29, 0x18, {{T3, 2, 0x06}}},
       {271, 0x18, {{R, 2, 0x06}}}, {208, 0x18, {}}},
      {"B", CALL(SetPrePickMode(2)), {210, 0x02, {{D2, 6, 0x01}}}, {52, 0x10, {{T3, 5, 0x01}}},
       {329, 0x08, {{R, 5, 0x01}}}, {210, 0x02, {{VA, 8, 0x01}, {VB, 8, 0x01}, {P, 8, 0x01}}}},
      {"C", CALL(SetSensorMode(0, 1)), {192, 0x20, {{D2, 9, 0x04}}}, {224, 0x80, {{T3, 8, 0x01}}},
       {284, 0x20, {{R, 9, 0x04}}}, {192, 0x40, {}}},
      {"D", CALL(SetMFignore(2)), {203, 0x06, {{D2, 10, 0x01}}}, {328, 0x06, {{T3, 13, 0x01}}},
       {299, 0x06, {{R, 14, 0x01}}}, {203, 0x06, {{P, 12, 0x01}}}},
      {"E", CALL(SetManualTimeout(5)), {207, 5, {{D2, 15, 0x01}}}, {344, 5, {{T3, 17, 0x01}}}, {295, 5, {{R, 18, 0x01}}},
       {207, 6, {{VA, 6, 0x01}, {VB, 6, 0x01}, {P, 6, 0x01}}}},
      {"F", CALL(SetPickRetry(2)), {197, 3, {{D2, 31, 0x01}}}, {329, 3, {{T3, 14, 0x01}}}, {270, 3, {{R, 15, 0x01}}},
       {197, 3, {}}},
  };
  return probes;
}

// The merge that the write runs for the model, when it runs one: what a
// setter changes must reach the device through it. (The Saldex and
// Docuvane models keep a few settings in the default layout, which the
// Tavrin merge does not carry; those rows are not checked against it.)
const MergeLayout* MergeOf(const char* model) {
  if (!model) return nullptr;
  std::string m = model;
  if (m == "Vantor410" || m == "Vantor520") return &kVantorLayout;
  if (m == "Pilvo700" || m == "pilvo700") return &kPilvoLayout;
  if (m.rfind("DunmoMe2", 0) == 0 || m.rfind("dunmoMe2", 0) == 0) return &kDunmoMe2Layout;
  if (m.rfind("Tavrin", 0) == 0 || m == "Saldex800" || m.rfind("Docuvane", 0) == 0) return &kTavrin3Layout;
  if (m.rfind("Tv5", 0) == 0 || m.rfind("Gorlan", 0) == 0 || m == "Sx3K700" || m == "VelmorakVK5000" ||
      m == "VelmorakVK6000")
    return &kRTOSLayout;
  return nullptr;
}

// Every case checked, and its changes also against the model's merge.
// (Some settings a model does not have land where its merge does not
// look; the tables of such cases use CheckAll.)
void CheckAllMerged(std::vector<Case> cases) {
  for (Case& c : cases) {
    c.merge = MergeOf(c.model);
    Check(c);
  }
}

// Model and the layout it reaches in orders A to F: D DunmoMe2, T Tavrin3,
// R RTOS, - default.
TEST(FamilyDispatch, OrdersAToF) {
  struct Row {
    const char* model;
    const char* layouts;
  } rows[] = {
      {"DunmoMe2M30", "DDDDDD"},  {"dunmoMe2M30", "DDDDDD"},  {"dunmoMe2M40", "DDDDDD"},
      {"Tavrin3T1000", "TTTTTT"}, {"Tavrin4T2000", "TTTTTT"}, {"Tavrin4LA110", "TTTTTT"},
      {"Saldex800", "T-TT-T"},    {"DocuvaneRK50", "TTT--T"}, {"Feyra2F90", "--T---"},
      {"Tv5A100", "RRRRRR"},      {"Tv5E100", "RRRRRR"},      {"GorlanG150", "RRRRRR"},
      {"Sx3K700", "RRRRRR"},      {"VelmorakVK5000", "RRRRRR"}, {"VelmorakVK6000", "RRRRRR"},
      {"Vantor410", "------"},    {"Vantor520", "------"},    {"vantor630", "------"},
      {"Pilvo700", "------"},     {"pilvo700", "------"},     {"DunmoD1200", "------"},
      {"VelmorakVK1000", "------"}, {"ZemblZ350", "------"}, {"SelkoS150", "------"},
      {"NoSuchModel", "------"},  {nullptr, "------"},
  };
  for (const Row& row : rows) {
    for (size_t k = 0; k < Probes().size(); ++k) {
      const Probe& probe = Probes()[k];
      const char layout = row.layouts[k];
      const Place& place = layout == 'D'   ? probe.dunmoMe2
                           : layout == 'T' ? probe.tavrin3
                           : layout == 'R' ? probe.rtos
                                           : probe.byDefault;
      Check({row.model, probe.order, probe.call, {}, 0, {{place.offset, place.value}}, place.marks, 1,
             layout == '-' && MergeOf(row.model) == &kTavrin3Layout ? nullptr : MergeOf(row.model)});
    }
  }
}

constexpr const char* kNone = "NoSuchModel";
constexpr const char* kVantorA = "Vantor410";
constexpr const char* kVantorB = "Vantor520";
constexpr const char* kVantorOther = "vantor630";
constexpr const char* kPilvo = "Pilvo700";
constexpr const char* kDunmo = "DunmoD1200";
constexpr const char* kDunmoMe2 = "DunmoMe2M30";
constexpr const char* kTavrin3 = "Tavrin3T1000";
constexpr const char* kTavrin4 = "Tavrin4T1000";
constexpr const char* kTavrin4LA = "Tavrin4LA110";
constexpr const char* kDocuvane = "DocuvaneRK50";
constexpr const char* kSaldex = "Saldex800";
constexpr const char* kTavrin5 = "Tv5A100";
constexpr const char* kTavrin5E = "Tv5E100";
constexpr const char* kGorlan = "GorlanG150";
constexpr const char* kZembl = "ZemblZ350";

TEST(FamilyDispatch, KouchiModeAndAutoCropBoundary) {
  CheckAllMerged({
      {kTavrin5, "kouchi RTOS set bit reads 0", CALL(GetKouchiMode()), {{338, 0x80}}, 0, {}, {}, 0},
      {kTavrin5, "kouchi RTOS clear reads 1", CALL(GetKouchiMode()), {{335, 0x80}}, 1, {}, {}, 0},
      {kTavrin4LA, "kouchi Tavrin4LA", CALL(GetKouchiMode()), {{335, 0x80}}, 0, {}, {}, 0},
      {kDocuvane, "kouchi Docuvane", CALL(GetKouchiMode()), {{335, 0x80}}, 0, {}, {}, 0},
      {kTavrin3, "kouchi other reads 1", CALL(GetKouchiMode()), {{335, 0x80}, {338, 0x80}}, 1, {}, {}, 0},
      {kTavrin5, "kouchi 2 refused", CALL(SetKouchiMode(2)), {}, -1, {}, {}, 0},
      {kTavrin5, "kouchi 1 clears 0x88", CALL(SetKouchiMode(1)), {{338, 0xFF}}, 0, {{338, 0x77}}, {}, 1},
      {kTavrin5, "kouchi 0 sets 0x88", CALL(SetKouchiMode(0)), {}, 0, {{338, 0x88}}, {}, 1},
      {kDocuvane, "kouchi 0 Docuvane", CALL(SetKouchiMode(0)), {}, 0, {{335, 0x80}}, {}, 1},
      {kTavrin3, "kouchi other writes nothing", CALL(SetKouchiMode(1)), {}, 0, {}, {}, 1},
      {kDunmoMe2, "boundary DunmoMe2", CALL(SetAutoCropBoundary(1)), {}, 0, {{182, 0x80}}, {{D2, 14, 0x20}}, 1},
      {kDunmoMe2, "boundary DunmoMe2 2: flag all the same", CALL(SetAutoCropBoundary(2)), {}, 0, {}, {}, 1},
      {kPilvo, "boundary Pilvo clear reads 1", CALL(GetAutoCropBoundary()), {}, 1, {}, {}, 0},
      {kPilvo, "boundary Pilvo 0 sets", CALL(SetAutoCropBoundary(0)), {}, 0, {{182, 0x80}}, {{P, 7, 0x20}}, 1},
      {kPilvo, "boundary Pilvo 2 refused", CALL(SetAutoCropBoundary(2)), {}, -1, {}, {}, 0},
      {kTavrin4LA, "boundary Tavrin4LA 1 sets", CALL(SetAutoCropBoundary(1)), {}, 0, {{338, 0x80}}, {{T3, 16, 0x20}}, 1},
      {kTavrin4, "boundary Tavrin4 reads the bit", CALL(GetAutoCropBoundary()), {{338, 0x80}}, 1, {}, {}, 0},
      {kTavrin3, "boundary Tavrin3 1 clears", CALL(SetAutoCropBoundary(1)), {{338, 0x80}}, 0, {{338, 0x00}},
       {{T3, 16, 0x20}}, 1},
      {kTavrin3, "boundary Tavrin3 clear reads 1", CALL(GetAutoCropBoundary()), {}, 1, {}, {}, 0},
      {kTavrin3, "boundary Tavrin3 5 leaves the bit", CALL(SetAutoCropBoundary(5)), {}, 0, {}, {{T3, 16, 0x20}}, 1},
      {kVantorA, "boundary Vantor A reads 0", CALL(GetAutoCropBoundary()), {{182, 0x82}}, 0, {}, {}, 0},
      {kVantorA, "boundary Vantor A writes nothing", CALL(SetAutoCropBoundary(1)), {}, 0, {}, {}, 1},
      {kVantorB, "boundary Vantor B 3", CALL(SetAutoCropBoundary(3)), {{182, 0xFF}}, 0, {{182, 0x7F}},
       {{VB, 7, 0x21}}, 1},
      {kVantorB, "boundary Vantor B 1", CALL(SetAutoCropBoundary(1)), {{182, 0x02}}, 0, {{182, 0x80}},
       {{VB, 7, 0x21}}, 1},
      {kVantorB, "boundary Vantor B reads 3", CALL(GetAutoCropBoundary()), {{182, 0x82}}, 3, {}, {}, 0},
      {kVantorB, "boundary Vantor B reads 1", CALL(GetAutoCropBoundary()), {{182, 0x80}}, 1, {}, {}, 0},
      {kVantorOther, "boundary other Vantor reads 0", CALL(GetAutoCropBoundary()), {{182, 0x80}}, 0, {}, {}, 0},
      {kVantorOther, "boundary other Vantor writes nothing", CALL(SetAutoCropBoundary(1)), {}, 0, {}, {}, 1},
      {kTavrin5, "boundary RTOS", CALL(SetAutoCropBoundary(1)), {}, 0, {{292, 0x80}}, {{R, 17, 0x20}}, 1},
      {kTavrin5, "boundary RTOS reads", CALL(GetAutoCropBoundary()), {{292, 0x80}}, 1, {}, {}, 0},
      {kDunmo, "boundary other", CALL(SetAutoCropBoundary(1)), {}, 0, {{182, 0x80}}, {{VA, 7, 0x20}, {VB, 7, 0x20}}, 1},
      {kDunmo, "boundary other 3 refused", CALL(SetAutoCropBoundary(3)), {}, -1, {}, {}, 0},
  });
}

TEST(FamilyDispatch, MultifeedMemoryAndOverscan) {
  CheckAllMerged({
      {kSaldex, "memory Saldex", CALL(SetMFmemory(0)), {}, 0, {{328, 0x80}}, {{T3, 13, 0x10}}, 1},
      {kDunmoMe2, "memory DunmoMe2", CALL(SetMFmemory(1)), {{203, 0x80}}, 0, {{203, 0x00}}, {{D2, 10, 0x10}}, 1},
      {kPilvo, "memory Pilvo 0", CALL(SetMFmemory(0)), {}, 0, {{203, 0x80}}, {{P, 12, 0x10}}, 1},
      {kPilvo, "memory Pilvo set bit reads 0", CALL(GetMFmemory()), {{203, 0x80}}, 0, {}, {}, 0},
      {kVantorB, "memory Vantor B 0", CALL(SetMFmemory(0)), {}, 0, {{203, 0x80}}, {}, 1},
      {kVantorB, "memory Vantor B 2 refused", CALL(SetMFmemory(2)), {}, -1, {}, {}, 0},
      {kVantorB, "memory Vantor B clear reads 1", CALL(GetMFmemory()), {}, 1, {}, {}, 0},
      {kVantorA, "memory Vantor A reads 0", CALL(GetMFmemory()), {}, 0, {}, {}, 0},
      {kVantorA, "memory Vantor A writes nothing", CALL(SetMFmemory(0)), {}, 0, {}, {}, 1},
      {kTavrin5, "memory RTOS", CALL(SetMFmemory(0)), {}, 0, {{299, 0x80}}, {{R, 14, 0x10}}, 1},
      {kDunmo, "memory other reads 0", CALL(GetMFmemory()), {}, 0, {}, {}, 0},
      {kDunmo, "memory other writes nothing", CALL(SetMFmemory(0)), {}, 0, {}, {}, 1},
      {kPilvo, "overscan Pilvo 2", CALL(SetOverscanControl(2)), {}, 0, {{118, 0x84}}, {{P, 31, 0x01}}, 1},
      {kPilvo, "overscan Pilvo reads 3", CALL(GetOverscanControl()), {{118, 0x88}}, 3, {}, {}, 0},
      {kPilvo, "overscan Pilvo enabled", CALL(IsOverscanControlEnable()), {{118, 0x84}}, 1, {}, {}, 0},
      {kPilvo, "overscan Pilvo 0x81 not enabled", CALL(IsOverscanControlEnable()), {{118, 0x81}}, 0, {}, {}, 0},
      {kTavrin5, "overscan RTOS 3", CALL(SetOverscanControl(3)), {}, 0, {{342, 0x88}}, {{R, 22, 0x01}}, 1},
      {kVantorA, "overscan Vantor 4", CALL(SetOverscanControl(4)), {}, 0, {{79, 0xFF}},
       {{VA, 12, 0x01}, {VB, 12, 0x01}}, 1},
      {kVantorA, "overscan Vantor 1 stores nothing", CALL(SetOverscanControl(1)), {}, 0, {},
       {{VA, 12, 0x01}, {VB, 12, 0x01}}, 1},
      {kVantorOther, "overscan Vantor reads 4", CALL(GetOverscanControl()), {{79, 0xFF}}, 4, {}, {}, 0},
      {kDunmoMe2, "overscan DunmoMe2 11", CALL(SetOverscanControl(11)), {}, 0, {{118, 0x8B}}, {{D2, 30, 0x01}}, 1},
      {kDunmoMe2, "overscan DunmoMe2 reads 11", CALL(GetOverscanControl()), {{118, 0x8B}}, 11, {}, {}, 0},
      {kGorlan, "overscan Gorlan 11", CALL(SetOverscanControl(11)), {}, 0, {{342, 0x80}}, {{R, 22, 0x01}}, 1},
      {kGorlan, "overscan Gorlan 1 stores nothing", CALL(SetOverscanControl(1)), {}, 0, {}, {{R, 22, 0x01}}, 1},
      {kGorlan, "overscan Gorlan 0x84 reads 0", CALL(GetOverscanControl()), {{342, 0x84}}, 0, {}, {}, 0},
      {kGorlan, "overscan Gorlan enabled", CALL(IsOverscanControlEnable()), {{342, 0x80}}, 1, {}, {}, 0},
      {kTavrin3, "overscan other does nothing", CALL(SetOverscanControl(1)), {}, 0, {}, {}, 0},
  });
}

TEST(FamilyDispatch, DropoutColour) {
  CheckAllMerged({
      {kDunmo, "Dunmo bits of 210", CALL(SetDropoutColor(2)), {{210, 0xFF}, {211, 0xFF}}, 0, {{210, 0x9F}, {211, 0x99}},
       {{VA, 9, 0x03}, {VB, 9, 0x03}, {P, 9, 0x03}}, 1},
      {kNone, "low bits of 210", CALL(SetDropoutColor(2)), {{210, 0xFF}, {211, 0xFF}}, 0, {{210, 0xF9}, {211, 0x99}},
       {{VA, 9, 0x03}, {VB, 9, 0x03}, {P, 9, 0x03}}, 1},
      {kVantorA, "Vantor leaves 210", CALL(SetDropoutColor(4)), {{210, 0xFF}, {211, 0x00}}, 0, {{211, 0x77}},
       {{VA, 9, 0x03}, {VB, 9, 0x03}, {P, 9, 0x03}}, 1},
      {kPilvo, "Pilvo leaves 210", CALL(SetDropoutColor(0)), {}, 0, {{211, 0x22}},
       {{VA, 9, 0x03}, {VB, 9, 0x03}, {P, 9, 0x03}}, 1},
      {kVantorOther, "other Vantor writes 210", CALL(SetDropoutColor(1)), {}, 0, {{210, 0x04}, {211, 0x44}},
       {{VA, 9, 0x03}, {VB, 9, 0x03}, {P, 9, 0x03}}, 1},
      {kNone, "5 refused", CALL(SetDropoutColor(5)), {}, -1, {}, {}, 0},
      {kVantorA, "code 7 reads 4 for type 1", CALL(GetDropoutColor()), {{211, 0x07}}, 4, {}, {}, 0},
      {kDunmo, "code 7 reads 3 otherwise", CALL(GetDropoutColor()), {{211, 0x07}}, 3, {}, {}, 0},
      {kDunmo, "code 2 reads 0", CALL(GetDropoutColor()), {{211, 0x02}}, 0, {}, {}, 0},
      {kDunmo, "code 1 reads 2", CALL(GetDropoutColor()), {{211, 0x01}}, 2, {}, {}, 0},
      {kDunmo, "code 4 reads 1", CALL(GetDropoutColor()), {{211, 0x04}}, 1, {}, {}, 0},
  });
  struct Row {
    const char* model;
    int type;
  } rows[] = {{kVantorA, 1}, {kVantorB, 1}, {"vantor410", 0}, {kVantorOther, 0}, {kPilvo, 1}, {"pilvo700", 1},
              {kTavrin3, 2}, {kTavrin4LA, 2}, {kSaldex, 2}, {kTavrin5, 2}, {kDocuvane, 2}, {kTavrin5E, 2},
              {kGorlan, 2}, {"Sx3K700", 2}, {"VelmorakVK5000", 0}, {kDunmo, 0}, {kDunmoMe2, 0}, {kNone, 0}};
  for (const Row& r : rows) {
    ActiveModel active(r.model);
    EXPECT_EQ(g_CDevSetCtrl.IsDropoutColorType(), r.type) << r.model;
  }
}

TEST(FamilyDispatch, DenseBackgroundOverUnderCropAndTabCrop) {
  CheckAllMerged({
      {kVantorA, "dense 0 stores code 0", CALL(SetDenseBackGround(0)), {{162, 0x87}}, 0, {{162, 0x80}},
       {{VA, 5, 0x02}, {VB, 5, 0x02}}, 1},
      {kVantorA, "dense code 0 reads 3", CALL(GetDenseBackGround()), {}, 3, {}, {}, 0},
      {kVantorA, "dense 1 stores code 2", CALL(SetDenseBackGround(1)), {}, 0, {{162, 0x02}},
       {{VA, 5, 0x02}, {VB, 5, 0x02}}, 1},
      {kVantorA, "dense code 2 reads 1", CALL(GetDenseBackGround()), {{162, 0x02}}, 1, {}, {}, 0},
      {kVantorA, "dense 6 does nothing", CALL(SetDenseBackGround(6)), {}, 0, {}, {}, 0},
      {kPilvo, "dense Pilvo 1 stores code 3", CALL(SetDenseBackGround(1)), {}, 0, {{162, 0x03}}, {{P, 5, 0x02}}, 1},
      {kPilvo, "dense Pilvo code 3 reads 1", CALL(GetDenseBackGround()), {{162, 0x03}}, 1, {}, {}, 0},
      {kPilvo, "dense Pilvo code 2 reads 3", CALL(GetDenseBackGround()), {{162, 0x02}}, 3, {}, {}, 0},
      {kDunmoMe2, "dense DunmoMe2 mapper", CALL(SetDenseBackGround(1)), {}, 0, {{178, 0x02}}, {{D2, 18, 0x02}}, 1},
      {kVantorA, "dense enable", CALL(SetDenseBackGroundEnable(2)), {}, 0, {{162, 0x80}},
       {{VA, 5, 0x01}, {VB, 5, 0x01}, {P, 5, 0x01}}, 1},
      {kVantorA, "over/under 5", CALL(SetOverUnderCrop(5)), {{161, 0x0A}}, 0, {{161, 0x1A}},
       {{VA, 4, 0x02}, {VB, 4, 0x02}}, 1},
      {kVantorA, "over/under nibble 1 reads 5", CALL(GetOverUnderCrop()), {{161, 0x1A}}, 5, {}, {}, 0},
      {kVantorA, "over/under nibble 9 reads as 0", CALL(GetOverUnderCrop()), {{161, 0x90}}, 4, {}, {}, 0},
      {kVantorA, "over/under nibble 15 reads as 0", CALL(GetOverUnderCrop()), {{161, 0xF0}}, 4, {}, {}, 0},
      {kVantorA, "over/under 8 does nothing", CALL(SetOverUnderCrop(8)), {}, 0, {}, {}, 0},
      {kPilvo, "over/under Pilvo 1", CALL(SetOverUnderCrop(1)), {}, 0, {{161, 0x8A}}, {{P, 4, 0x03}}, 1},
      {kPilvo, "over/under Pilvo 11", CALL(SetOverUnderCrop(11)), {}, 0, {{161, 0x82}}, {{P, 4, 0x03}}, 1},
      {kPilvo, "over/under Pilvo 12 does nothing", CALL(SetOverUnderCrop(12)), {}, 0, {}, {}, 0},
      {kDunmoMe2, "over/under DunmoMe2 mapper", CALL(SetOverUnderCrop(5)), {}, 0, {{129, 0x10}}, {{D2, 19, 0x02}}, 1},
      {kVantorA, "tab crop 1 keeps 0x1F", CALL(SetTabCropPosition(1)), {{160, 0x1F}}, 0, {{160, 0x9F}},
       {{VA, 3, 0x02}, {VB, 3, 0x02}}, 1},
      {kVantorA, "tab crop 2 clears 0xE0", CALL(SetTabCropPosition(2)), {{160, 0xFF}}, 0, {{160, 0x1F}},
       {{VA, 3, 0x02}, {VB, 3, 0x02}}, 1},
      {kVantorA, "tab crop bit 0x01 reads 0", CALL(GetTabCropPosition()), {{160, 0x01}}, 0, {}, {}, 0},
      {kVantorA, "tab crop 3 does nothing", CALL(SetTabCropPosition(3)), {}, 0, {}, {}, 0},
      {kPilvo, "tab crop Pilvo 2", CALL(SetTabCropPosition(2)), {{160, 0xFF}}, 0, {{160, 0x1F}}, {{P, 3, 0x03}}, 1},
      {kPilvo, "tab crop Pilvo reads 2", CALL(GetTabCropPosition()), {{160, 0x81}}, 2, {}, {}, 0},
      {kDunmoMe2, "tab crop DunmoMe2 mapper", CALL(SetTabCropPosition(2)), {}, 0, {{177, 0x01}},
       {{D2, 16, 0x02}, {D2, 17, 0x01}}, 1},
  });
  // The Pilvo read of byte 161.
  struct Row {
    int byte, value;
  } reads[] = {{0x8A, 1}, {0x89, 2}, {0x81, 10}, {0x82, 11}, {0x85, 6}, {0x10, 7}, {0x20, 8}, {0x30, 9},
               {0x50, 5}, {0x60, 4}, {0x70, 3}, {0x00, 6}, {0x40, 6}, {0x90, 6}, {0xF3, 6}};
  for (const Row& r : reads) {
    ResetState();
    ActiveModel active(kPilvo);
    g_byEEPData[161] = static_cast<uint8_t>(r.byte);
    EXPECT_EQ(g_CDevSetCtrl.GetOverUnderCrop(), r.value) << std::hex << r.byte;
  }
}

TEST(FamilyDispatch, ScanButtonPowerSwitchAndCounters) {
  CheckAll({
      {kTavrin3, "scan button Tavrin3 mapper", CALL(GetScanBtn()), {{203, 0x10}}, 1, {}, {}, 0},
      {kTavrin3, "scan button Tavrin3 set", CALL(SetScanBtn(0)), {}, 0, {}, {}, 1},
      {kSaldex, "scan button Saldex default", CALL(SetScanBtn(0)), {}, 0, {{203, 0x10}}, {{P, 12, 0x02}}, 1},
      {kDunmoMe2, "scan button DunmoMe2", CALL(SetScanBtn(0)), {}, 0, {{203, 0x10}}, {{D2, 10, 0x02}}, 1},
      {kTavrin5, "scan button RTOS", CALL(GetScanBtn()), {{203, 0x10}}, 1, {}, {}, 0},
      {kNone, "scan button 2 refused", CALL(SetScanBtn(2)), {}, -1, {}, {}, 0},
      {kNone, "scan button set bit reads 0", CALL(GetScanBtn()), {{203, 0x10}}, 0, {}, {}, 0},
      {kDunmoMe2, "power DunmoMe2", CALL(SetPowerSWControl(1)), {}, 0, {{180, 0x80}}, {{D2, 21, 0x02}}, 1},
      {kZembl, "power Zembl 1", CALL(SetPowerSWControl(1)), {}, 0, {{72, 1}}, {}, 1},
      {kZembl, "power Zembl 2 stores nothing", CALL(SetPowerSWControl(2)), {}, 0, {}, {}, 1},
      {kZembl, "power Zembl 1 reads 1", CALL(GetPowerSWControl()), {{72, 1}}, 1, {}, {}, 0},
      {kZembl, "power Zembl 2 reads 0", CALL(GetPowerSWControl()), {{72, 2}}, 0, {}, {}, 0},
      {kTavrin5, "power RTOS", CALL(SetPowerSWControl(2)), {}, 0, {{220, 0xC0}}, {{R, 20, 0x02}}, 1},
      {kVantorA, "power other models: Tavrin3 layout", CALL(SetPowerSWControl(2)), {}, 0, {{220, 0xC0}},
       {{T3, 19, 0x02}}, 1},
      {kVantorA, "power 0xC0 unlisted reads 0", CALL(GetPowerSWControl()), {{220, 0xC0}}, 0, {}, {}, 0},
      {"BrennaB700", "PR Brenna", CALL(GetADDR_PR_Counter()), {{198, 5}}, 20, {}, {}, 0},
      {"BrennaB700", "BR Brenna", CALL(GetADDR_BR_Counter()), {{199, 5}}, 3, {}, {}, 0},
      {"SelkoS150", "BR Selko", CALL(GetADDR_BR_Counter()), {{199, 5}}, 10, {}, {}, 0},
      {"Selko2S420", "PR Selko2 from the byte", CALL(GetADDR_PR_Counter()), {{198, 5}}, 5, {}, {}, 0},
      {kVantorA, "PR 0 reads 60", CALL(GetADDR_PR_Counter()), {}, 60, {}, {}, 0},
      {kVantorA, "PR low 8 bits", CALL(SetADDR_PR_Counter(300)), {}, 0, {{198, 44}}, {}, 1},
      {kVantorA, "BR", CALL(SetADDR_BR_Counter(9)), {}, 0, {{199, 9}}, {}, 1},
      {kSaldex, "PR Saldex mapper", CALL(GetADDR_PR_Counter()), {}, 10, {}, {}, 0},
      {kDunmoMe2, "PR DunmoMe2 mapper", CALL(GetADDR_PR_Counter()), {}, 25, {}, {}, 0},
      {kDunmoMe2, "PR DunmoMe2 refused: flag all the same", CALL(SetADDR_PR_Counter(256)), {}, 0, {}, {}, 1},
      {kTavrin5, "PR RTOS mapper", CALL(SetADDR_PR_Counter(1)), {}, 0, {{469, 0x00}, {470, 0x27}, {471, 0x10}},
       {{R, 7, 0x0F}}, 1},
  });
}

TEST(FamilyDispatch, DefaultLayoutEncodings) {
  CheckAll({
      {kPilvo, "pick retry Pilvo zero nibble", CALL(GetPickRetry(20)), {}, 2, {}, {}, 0},
      {kNone, "pick retry zero nibble", CALL(GetPickRetry(20)), {}, 11, {}, {}, 0},
      {kNone, "pick retry limit below nibble", CALL(GetPickRetry(5)), {{197, 0x07}}, 4, {}, {}, 0},
      {kNone, "pick retry nibble 13", CALL(GetPickRetry(20)), {{197, 0x0D}}, 11, {}, {}, 0},
      {kNone, "pick retry unchecked", CALL(SetPickRetry(20)), {{197, 0xF0}}, 0, {{197, 0xF5}}, {}, 1},
      {kVantorA, "timeout e 0", CALL(GetManualTimeout(5)), {}, 1, {}, {}, 0},
      {kVantorA, "timeout e 30, limit 5", CALL(GetManualTimeout(5)), {{207, 30}}, 4, {}, {}, 0},
      {kVantorA, "timeout e 30, limit 40", CALL(GetManualTimeout(40)), {{207, 30}}, 25, {}, {}, 0},
      {kVantorA, "timeout 40 unchecked", CALL(SetManualTimeout(40)), {{207, 0xE0}}, 0, {{207, 0xE9}},
       {{VA, 6, 0x01}, {VB, 6, 0x01}, {P, 6, 0x01}}, 1},
      {kVantorA, "Dunmo timeout", CALL(GetManualTimeoutDunmo(3)), {{207, 10}}, 3, {}, {}, 0},
      {kVantorA, "Dunmo timeout stored as is", CALL(SetManualTimeoutDunmo(33)), {}, 0, {{207, 1}}, {}, 1},
      {kDunmoMe2, "Dunmo timeout DunmoMe2 refused", CALL(SetManualTimeoutDunmo(13)), {}, 0, {}, {}, 1},
      {kVantorA, "cleaning 0 ignored", CALL(SetCleaningTerms(0)), {}, 0, {}, {}, 0},
      {kTavrin5, "cleaning 256 ignored", CALL(SetCleaningTerms(256)), {}, 0, {}, {}, 0},
      {kVantorA, "cleaning 7", CALL(SetCleaningTerms(7)), {}, 0, {{183, 7}}, {}, 1},
      {kVantorA, "cleaning 0 reads 10", CALL(GetCleaningTerms()), {}, 10, {}, {}, 0},
      {kTavrin5, "cleaning RTOS", CALL(SetCleaningTerms(7)), {}, 0, {{474, 0x1B}, {475, 0x58}}, {{R, 25, 0x0F}}, 1},
      {kDunmoMe2, "cleaning DunmoMe2", CALL(SetCleaningTerms(7)), {}, 0, {{183, 7}}, {}, 1},
      {kTavrin5, "message RTOS", CALL(SetCleaningMessage(1)), {}, 0, {{424, 0x80}}, {{R, 24, 0x01}}, 1},
      {kVantorA, "message default", CALL(SetCleaningMessage(3)), {}, 0, {{49, 0x80}},
       {{VA, 2, 0x02}, {VB, 2, 0x02}, {P, 2, 0x02}}, 1},
      {kDunmoMe2, "message DunmoMe2", CALL(SetCleaningMessage(3)), {}, 0, {{49, 0x80}}, {{D2, 11, 0x02}}, 1},
      {kTavrin5, "maintenance term RTOS", CALL(SetMaintenanceTerm(1)), {}, 0, {{307, 0x80}}, {{R, 26, 0x02}}, 1},
      {kPilvo, "maintenance term 2 clears", CALL(SetMaintenanceTerm(2)), {{360, 0x80}}, 0, {{360, 0x00}},
       {{P, 16, 0x02}}, 1},
      {kTavrin5, "maintenance value", CALL(SetMaintenanceValue(0x47)), {}, 0, {{307, 0x07}}, {{R, 26, 0x01}}, 1},
      {kPilvo, "maintenance value 0 reads 12", CALL(GetMaintenanceValue()), {{360, 0xC0}}, 12, {}, {}, 0},
      {kPilvo, "MF auto Pilvo", CALL(SetMFAuto(1)), {}, 1, {{203, 0x20}}, {{P, 12, 0x04}}, 1},
      {kTavrin5, "MF auto RTOS", CALL(SetMFAuto(1)), {}, 1, {{299, 0x20}}, {{R, 14, 0x04}}, 1},
      {kVantorA, "MF auto other", CALL(SetMFAuto(1)), {}, 1, {}, {}, 1},
      {kVantorA, "MF auto other reads 0", CALL(GetMFAuto()), {{203, 0x20}, {299, 0x20}}, 0, {}, {}, 0},
      {kTavrin5, "feed mode RTOS passes 1", CALL(SetFeedMode(1)), {}, 1, {{341, 0x80}}, {{R, 21, 0x01}}, 1},
      {kVantorA, "feed mode other: Tavrin3 layout", CALL(SetFeedMode(1)), {}, 1, {{336, 0x80}}, {{T3, 20, 0x01}}, 1},
      {kVantorA, "feed mode 2 passes 0", CALL(SetFeedMode(2)), {}, 0, {}, {}, 1},
      {kTavrin3, "paper protection Tavrin3", CALL(SetPaperProtection(1)), {}, 0, {{337, 0x02}}, {{T3, 15, 0x01}}, 1},
      {kTavrin5, "paper protection RTOS", CALL(SetPaperProtection(2)), {}, 0, {{289, 0x02}, {334, 0x02}},
       {{R, 16, 0x01}, {R, 36, 0x01}}, 1},
      {kVantorA, "paper protection default", CALL(SetPaperProtection(1)), {}, 0, {{353, 0x08}}, {{P, 17, 0x04}}, 1},
      {kVantorA, "paper protection 2 still marks", CALL(SetPaperProtection(2)), {}, 0, {}, {{P, 17, 0x04}}, 1},
      {kTavrin4LA, "PP level Tavrin3 layout", CALL(SetPPDetectionLevel(2)), {}, 0, {{345, 0x02}}, {{T3, 18, 0x01}}, 1},
      {kTavrin5E, "PP level Tavrin5E", CALL(SetPPDetectionLevel(2)), {}, 0, {{290, 0x03}}, {{R, 19, 0x01}}, 1},
      {kTavrin5, "PP level other RTOS: default", CALL(SetPPDetectionLevel(1)), {}, 0, {{353, 0x01}}, {{P, 17, 0x01}}, 1},
      {kPilvo, "PP level 5 still marks", CALL(SetPPDetectionLevel(5)), {{353, 0x02}}, 0, {}, {{P, 17, 0x01}}, 1},
      {kPilvo, "PP level reads 2", CALL(GetPPDetectionLevel()), {{353, 0x02}}, 2, {}, {}, 0},
      {kTavrin5, "PP level Ex RTOS", CALL(SetPPDetectionLevelEx(2, 1)), {}, 0, {{335, 0x03}}, {{R, 37, 0x01}}, 1},
      {kVantorA, "PP level Ex other", CALL(SetPPDetectionLevelEx(2, 1)), {}, 0, {}, {}, 0},
      {kVantorA, "PP level Ex other reads 0", CALL(GetPPDetectionLevelEx(1)), {{335, 0x03}}, 0, {}, {}, 0},
      {kTavrin5, "pick speed 2 RTOS", CALL(SetPickSpeedMode2(1)), {}, 0, {{269, 0x20}}, {{R, 27, 0x01}}, 1},
      {kTavrin5, "pick speed 2 RTOS 2 clears", CALL(SetPickSpeedMode2(2)), {{269, 0x30}}, 0, {{269, 0x00}},
       {{R, 27, 0x01}}, 1},
      {kVantorA, "pick speed 2 other", CALL(SetPickSpeedMode2(2)), {}, 0, {{193, 0x30}},
       {{VA, 1, 0x02}, {VB, 1, 0x02}, {P, 1, 0x02}}, 1},
      {kVantorA, "bus width", CALL(SetSCSIBusWidth(1)), {}, 0, {{182, 0x08}},
       {{VA, 7, 0x04}, {VB, 7, 0x04}, {P, 7, 0x04}}, 1},
      {kVantorA, "bus width 2 refused", CALL(SetSCSIBusWidth(2)), {}, -1, {}, {}, 0},
      {kDunmoMe2, "bus width DunmoMe2 2", CALL(SetSCSIBusWidth(2)), {}, 0, {}, {{D2, 14, 0x04}}, 1},
      {kVantorA, "papers after clean", CALL(GetPapersAfterClean()), {{48, 1}, {49, 0x80}}, 50, {}, {}, 0},
      {kVantorA, "frame ADF", CALL(SetDelFrameADF(1, -2, 3, 4)), {}, 0, {{216, 0xA1}, {217, 0x43}},
       {{VA, 10, 0x03}, {VB, 10, 0x03}, {P, 10, 0x03}, {VA, 11, 0x03}, {VB, 11, 0x03}, {P, 11, 0x03}}, 1},
      {kVantorA, "frame ADF unchanged", CALL(SetDelFrameADF(1, -2, 3, 4)), {{216, 0xA1}, {217, 0x43}}, 0, {}, {}, 0},
      {kVantorA, "frame ADF one byte", CALL(SetDelFrameADF(1, -2, 3, 5)), {{216, 0xA1}, {217, 0x43}}, 0, {{217, 0x53}},
       {{VA, 11, 0x03}, {VB, 11, 0x03}, {P, 11, 0x03}}, 1},
      {kVantorA, "frame FB", CALL(SetDelFrameFB(1, 2, 3, 4)), {}, 0, {{214, 0x21}, {215, 0x43}}, {}, 1},
      {kTavrin3, "frame FB mapper refusal passed", CALL(SetDelFrameFB(16, 0, 0, 0)), {}, 0, {}, {}, 1},
      {kTavrin3, "frame FB mapper accepts", CALL(SetDelFrameFB(1, 0, 0, 0)), {}, 1, {{27, 0x01}},
       {{T3, 0, 0x03}, {T3, 1, 0x03}}, 1},
      // Unchecked values at the ends of the int range: the stored bits are
      // those of the value modulo 2^32, and nothing overflows.
      {kNone, "frame ADF b INT_MIN", CALL(SetDelFrameADF(0, INT_MIN, 0, 0)), {}, 0, {{216, 0x80}},
       {{VA, 10, 0x03}, {VB, 10, 0x03}, {P, 10, 0x03}}, 1},
      {kVantorA, "frame ADF INT_MAX", CALL(SetDelFrameADF(INT_MAX, INT_MAX, INT_MAX, INT_MAX)), {}, 0,
       {{216, 0xFF}, {217, 0xFF}},
       {{VA, 10, 0x03}, {VB, 10, 0x03}, {P, 10, 0x03}, {VA, 11, 0x03}, {VB, 11, 0x03}, {P, 11, 0x03}}, 1},
      {kVantorA, "frame FB INT_MAX", CALL(SetDelFrameFB(INT_MAX, INT_MAX, INT_MAX, INT_MAX)), {}, 0,
       {{214, 0xFF}, {215, 0xFF}}, {}, 1},
      {kNone, "pick retry INT_MAX", CALL(SetPickRetry(INT_MAX)), {{197, 0xF5}}, 0, {{197, 0xF0}}, {}, 1},
      {kNone, "pick retry, limit INT_MIN", CALL(GetPickRetry(INT_MIN)), {{197, 0x07}}, INT_MAX, {}, {}, 0},
      {kVantorA, "timeout INT_MAX", CALL(SetManualTimeout(INT_MAX)), {{207, 0xFF}}, 0, {{207, 0xE0}},
       {{VA, 6, 0x01}, {VB, 6, 0x01}, {P, 6, 0x01}}, 1},
      {kVantorA, "timeout, limit INT_MIN", CALL(GetManualTimeout(INT_MIN)), {{207, 3}}, INT_MAX, {}, {}, 0},
      {kTavrin3, "Tavrin3 pick retry, limit INT_MIN", CALL(GetPickRetry(INT_MIN)), {}, INT_MAX, {}, {}, 0},
      {kDunmoMe2, "DunmoMe2 pick retry, limit INT_MIN", CALL(GetPickRetry(INT_MIN)), {}, INT_MAX, {}, {}, 0},
      {kTavrin5, "RTOS pick retry, limit INT_MIN", CALL(GetPickRetry(INT_MIN)), {}, INT_MAX, {}, {}, 0},
      {kTavrin5, "RTOS feed time, limit INT_MIN", CALL(GetManualFeedTimeSetting(INT_MIN)), {{295, 3}}, INT_MAX, {}, {},
       0},
      {kNone, "sensor mode type 2", CALL(SetSensorMode(2, 1)), {}, 0, {{192, 0x10}}, {}, 1},
      {kNone, "sensor mode type 3 refused", CALL(SetSensorMode(3, 1)), {}, -1, {}, {}, 0},
      {kNone, "sensor mode 2 refused", CALL(SetSensorMode(1, 2)), {}, -1, {}, {}, 0},
      {kNone, "sensor mode type 3 reads 0", CALL(GetSensorMode(3)), {{192, 0xFF}}, 0, {}, {}, 0},
      {kNone, "sensor start", CALL(SetSensorAreaStart(1, 101)), {}, 0, {{187, 50}}, {}, 1},
      {kNone, "sensor start unchanged", CALL(SetSensorAreaStart(1, 101)), {{187, 50}}, 0, {}, {}, 0},
      {kNone, "sensor start type 3 refused", CALL(SetSensorAreaStart(3, 101)), {}, -1, {}, {}, 0},
      {kNone, "sensor end", CALL(SetSensorAreaEnd(2, 300)), {{188, 50}}, 0, {{191, 100}}, {}, 1},
      {kNone, "sensor end other type", CALL(GetSensorAreaEnd(7)), {{186, 10}, {189, 20}, {188, 99}}, 60, {}, {}, 0},
      {"Feyra2F90", "sensor mode Feyra2: Tavrin3 layout", CALL(SetSensorMode(2, 1)), {}, 0, {{224, 0x80}},
       {{T3, 8, 0x01}}, 1},
      {kNone, "mf initial, second 1", CALL(SetMFinital(1, 1)), {}, 0, {{203, 0x40}}, {{P, 12, 0x08}}, 0},
      {kNone, "mf initial, second 0", CALL(SetMFinital(1, 0)), {}, 0, {{203, 0x40}}, {{P, 12, 0x08}}, 1},
      {kNone, "mf initial 2 does nothing", CALL(SetMFinital(2, 0)), {}, 0, {}, {}, 0},
      {kTavrin3, "mf initial mapped, second 1", CALL(SetMFinital(1, 1)), {}, 0, {{328, 0x40}}, {{T3, 13, 0x08}}, 0},
      {kNone, "mf ignore 5 still marks", CALL(SetMFignore(5)), {}, 0, {}, {{P, 12, 0x01}}, 1},
      {kNone, "check length equal leaves flag", CALL(SetDoubleFeedChkLengh(1)), {{208, 0x01}}, 0, {}, {}, 0},
      {kNone, "check length 3 refused", CALL(SetDoubleFeedChkLengh(3)), {}, -1, {}, {}, 0},
      {kNone, "check length 2", CALL(SetDoubleFeedChkLengh(2)), {{208, 0x01}}, 0, {{208, 0x02}}, {}, 1},
      {kNone, "double feed 4 refused", CALL(SetDoubleFeedMode(4)), {}, -1, {}, {}, 0},
      {kNone, "pre-pick 3 refused", CALL(SetPrePickMode(3)), {}, -1, {}, {}, 0},
      {kNone, "pre-pick clear reads 1", CALL(GetPrePickMode()), {}, 1, {}, {}, 0},
      {kTavrin5, "pick pressure: DunmoMe2 layout always", CALL(SetPickPressure(2)), {}, 0, {{41, 0x02}},
       {{D2, 20, 0x01}}, 1},
      {kVantorA, "tatesuji level: RTOS layout always", CALL(SetTatesujiLevel(64)), {}, 0, {{340, 64}}, {{R, 39, 0x01}}, 1},
      {kVantorA, "tatesuji level refused: flag all the same", CALL(SetTatesujiLevel(3)), {}, 0, {}, {}, 1},
      {kVantorA, "start-up mode: RTOS layout", CALL(SetStartupMode(1)), {}, 0, {{220, 0x01}}, {{R, 20, 0x01}}, 1},
      {kVantorA, "USB speed: RTOS layout", CALL(SetUsbMaxSpeed(0)), {}, 0, {{328, 0x01}}, {{R, 40, 0x01}}, 1},
      {kVantorA, "manual feed setting: RTOS layout", CALL(SetManualFeedSetting(1)), {}, 0, {{295, 0x20}},
       {{R, 18, 0x02}}, 1},
  });
}

}  // namespace
// clang-format on
