// Model identity, family tests and the per-model tables, driven directly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ft_device_group.h"
#include "model_catalog.h"
#include "mqcontrol_context.h"

namespace {

// Makes the name the active model, as initlibrary does.
class ActiveModel {
 public:
  explicit ActiveModel(const std::string& name) : m_name(name) { g_cpActiveScannerName = m_name.data(); }
  ~ActiveModel() { g_cpActiveScannerName = nullptr; }

 private:
  std::string m_name;
};

using GroupTest = int (FtDeviceGroup::*)() const;

std::vector<std::string> AllWrittenForms() {
  std::vector<std::string> names;
  for (const dravn::CatalogModel& m : dravn::kAllModels) {
    names.push_back(m.model);
    if (m.altModel) names.push_back(m.altModel);
  }
  return names;
}

int CountModels(GroupTest test) {
  int n = 0;
  for (const dravn::CatalogModel& m : dravn::kAllModels) {
    ActiveModel active(m.model);
    n += (FtDeviceGroup().*test)();
  }
  return n;
}

int CountForms(GroupTest test) {
  int n = 0;
  for (const std::string& name : AllWrittenForms()) {
    ActiveModel active(name);
    n += (FtDeviceGroup().*test)();
  }
  return n;
}

TEST(FtDeviceGroup, MembersPerTestOverTheCatalogue) {
  struct Case {
    const char* name;
    GroupTest test;
    int models;
    int forms;
  } cases[] = {
      {"Dunmo", &FtDeviceGroup::IsDunmo, 2, 2},
      {"DunmoMe2", &FtDeviceGroup::IsDunmoMe2, 3, 5},
      {"Vantor", &FtDeviceGroup::IsVantor, 3, 4},
      {"Pilvo", &FtDeviceGroup::IsPilvo, 1, 2},
      {"Saldex", &FtDeviceGroup::IsSaldex, 1, 1},
      {"Ruvik", &FtDeviceGroup::IsRuvik, 2, 2},
      {"Ruvik2", &FtDeviceGroup::IsRuvik2, 1, 1},
      {"VelmorakSeriesA", &FtDeviceGroup::IsVelmorakSeriesA, 4, 4},
      {"Velmorak", &FtDeviceGroup::IsVelmorak, 6, 6},
      {"Tavrin5", &FtDeviceGroup::IsTavrin5, 4, 4},
      {"Tavrin5E", &FtDeviceGroup::IsTavrin5E, 10, 10},
      {"Feyra2", &FtDeviceGroup::IsFeyra2, 1, 1},
      {"Zembl", &FtDeviceGroup::IsZembl, 1, 1},
      {"Docuvane", &FtDeviceGroup::IsDocuvane, 3, 3},
      {"Tavrin4LA", &FtDeviceGroup::IsTavrin4LA, 10, 10},
      {"Tavrin4", &FtDeviceGroup::IsTavrin4, 14, 14},
      {"Tavrin3", &FtDeviceGroup::IsTavrin3, 20, 20},
      {"SelkoFamily", &FtDeviceGroup::IsSelkoFamily, 6, 6},
      {"Saldex3", &FtDeviceGroup::IsSaldex3, 1, 1},
      {"Gorlan", &FtDeviceGroup::IsGorlan, 2, 2},
      {"RTOS", &FtDeviceGroup::IsRTOS, 19, 19},
      {"Brenna", &FtDeviceGroup::IsBrenna, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CountModels(c.test), c.models);
    EXPECT_EQ(CountForms(c.test), c.forms);
  }
  GroupTest single[] = {&FtDeviceGroup::IsVelmorakModelA, &FtDeviceGroup::IsVelmorakModelB,
                   &FtDeviceGroup::IsVelmorakModelC, &FtDeviceGroup::IsVelmorakModelD,
                   &FtDeviceGroup::IsVelmorakModelE, &FtDeviceGroup::IsVelmorakModelF};
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(CountModels(single[k]), 1);
    ActiveModel active(dravn::kVelmorakModels[k].model);
    EXPECT_EQ((FtDeviceGroup().*single[k])(), 1);
  }
}

TEST(FtDeviceGroup, ComparisonIsExactAndWhole) {
  const GroupTest all[] = {&FtDeviceGroup::IsDunmo, &FtDeviceGroup::IsDunmoMe2, &FtDeviceGroup::IsVantor,
                      &FtDeviceGroup::IsPilvo, &FtDeviceGroup::IsVelmorak, &FtDeviceGroup::IsTavrin3,
                      &FtDeviceGroup::IsSelkoFamily, &FtDeviceGroup::IsRTOS, &FtDeviceGroup::IsBrenna,
                      &FtDeviceGroup::IsDocuvane, &FtDeviceGroup::IsRuvik, &FtDeviceGroup::IsGorlan};
  // The case of one letter changed where that form is not listed; the whole
  // device string; the empty name; a longer name cut to the field.
  for (const std::string& name : std::vector<std::string>{"tavrin4LA110", "Tavrin4la110", "Vantor630", "dunmoMe2M30x", "Tavrin4LA110:001:002",
                                 "", "BrennaB70", std::string(60, 'A')}) {
    SCOPED_TRACE(name);
    ActiveModel active(name);
    for (GroupTest t : all) EXPECT_EQ((FtDeviceGroup().*t)(), 0);
  }
  // No active model at all.
  for (GroupTest t : all) EXPECT_EQ((FtDeviceGroup().*t)(), 0);
}

TEST(FtDeviceGroup, NestingAndVelmorakE) {
  {
    ActiveModel active("Tavrin4LA150");
    FtDeviceGroup g;
    EXPECT_EQ(g.IsTavrin4LA(), 1);
    EXPECT_EQ(g.IsTavrin4(), 1);
    EXPECT_EQ(g.IsTavrin3(), 1);
  }
  {
    ActiveModel active("Tavrin4T2000");
    FtDeviceGroup g;
    EXPECT_EQ(g.IsTavrin4LA(), 0);
    EXPECT_EQ(g.IsTavrin4(), 1);
    EXPECT_EQ(g.IsTavrin3(), 1);
  }
  ActiveModel active(dravn::kVelmorakModels[4].model);
  FtDeviceGroup g;
  EXPECT_EQ(g.IsVelmorak(), 1);
  EXPECT_EQ(g.IsRTOS(), 1);
  EXPECT_EQ(g.IsVelmorakSeriesA(), 0);
}

TEST(FtDeviceID, ValueOperations) {
  FtDeviceID a("Pilvo700"), b(a), empty(nullptr);
  EXPECT_EQ(a == b, 1);
  EXPECT_EQ(a.Compare("Pilvo700"), 1);
  EXPECT_EQ(a.Compare("pilvo700"), 0);
  EXPECT_EQ(a != "Pilvo700", 0);
  EXPECT_EQ(a != "Pilvo70", 1);
  a = static_cast<const char*>(nullptr);  // leaves the name
  EXPECT_STREQ(static_cast<char*>(a), "Pilvo700");
  a = a;
  EXPECT_STREQ(static_cast<char*>(a), "Pilvo700");
  a = "X";
  EXPECT_STREQ(static_cast<char*>(a), "X");
  // The rest of the field is zero after a shorter name replaces a longer.
  char* field = static_cast<char*>(a);
  for (int k = 1; k < FtDeviceID::kNameSize; ++k) EXPECT_EQ(field[k], 0) << k;
  EXPECT_STREQ(static_cast<char*>(empty), "");
}

TEST(ModelTables, SameModelsInBothAndTelltaleValues) {
  int nSupport = 0, nValues = 0;
  const SupportFuncRow* s = SupportFuncTable(&nSupport);
  const DevValueRow* v = DevValueTable(&nValues);
  ASSERT_EQ(nSupport, nValues);
  ASSERT_EQ(static_cast<size_t>(nSupport), AllWrittenForms().size());
  for (int k = 0; k < nSupport; ++k) {
    EXPECT_STREQ(s[k].model, v[k].model);
    EXPECT_EQ(v[k].values[5], 512) << v[k].model;
    for (int f : s[k].flags) EXPECT_TRUE(f == 0 || f == 1);
  }
  EXPECT_EQ(LookupSupportFunction("Tavrin4LA110", 12), 0);
  EXPECT_EQ(LookupSupportFunction("Tavrin4LA110", -1), 0);
  EXPECT_EQ(LookupDeviceValue("Tavrin4LA110", 9), -1);
  EXPECT_EQ(LookupDeviceValue("Tavrin4LA110", 2), 280);
  EXPECT_EQ(LookupDeviceValue("Tv5E100", 2), 230);
  EXPECT_EQ(LookupDeviceValue("DunmoMe2M30", 4), 115);
  EXPECT_EQ(LookupDeviceValue("vantor410", 4), 121);
  EXPECT_EQ(LookupSupportFunction("Unknown", 0), 0);
  EXPECT_EQ(LookupDeviceValue("Unknown", 5), -1);
  EXPECT_EQ(LookupDeviceValue(nullptr, 5), -1);
}

TEST(SopSettingInit, WithoutTheReaderPowerOffTimerIsOne) {
  ActiveModel active("Tv5E100");
  void* saved = g_vpDevwatch;
  g_vpDevwatch = nullptr;
  g_cIniInfo = {5, 5, 5, 5, 5, 5, 5};
  SopSettingInit();
  EXPECT_EQ(g_cIniInfo.TotalCounter, 0);
  EXPECT_EQ(g_cIniInfo.PowerSaving, 0);
  EXPECT_EQ(g_cIniInfo.Pause, 0);
  EXPECT_EQ(g_cIniInfo.SaveRestore, 0);
  EXPECT_EQ(g_cIniInfo.PowerOffTimer, 1);
  EXPECT_EQ(g_cIniInfo.VendorId, 0);
  EXPECT_EQ(g_cIniInfo.IgnoreEnergyStar3, 0);
  g_vpDevwatch = saved;
}

}  // namespace

// A settings reader of this program's own, found by name through a handle
// on the program, records the keys asked for.
std::vector<std::string> g_keys;
std::string g_path;
extern "C" __attribute__((visibility("default"))) int dvwc_GetXMLSettings(const char* model, const char* key,
                                                                          short defaultValue, const char* path) {
  g_keys.push_back(std::string(model) + "/" + key + "=" + std::to_string(defaultValue));
  g_path = path;
  return static_cast<int>(g_keys.size()) * 10;
}

namespace {

TEST(SopSettingInit, ReadsTheKeysInOrderAndSkipsIgnoreEnergyStar3ForSelko2) {
  void* saved = g_vpDevwatch;
  g_vpDevwatch = dlopen(nullptr, RTLD_NOW);
  ASSERT_NE(g_vpDevwatch, nullptr);
  {
    ActiveModel active("Tv5E100");
    g_keys.clear();
    SopSettingInit();
    EXPECT_EQ(g_keys, (std::vector<std::string>{"Tv5E100/TotalCounter=0", "Tv5E100/PowerSaving=0", "Tv5E100/Pause=0",
                                                "Tv5E100/SaveRestore=0", "Tv5E100/PowerOffTimer=1",
                                                "Tv5E100/VendorId=0", "Tv5E100/IgnoreEnergyStar3=0"}));
    EXPECT_EQ(g_cIniInfo.TotalCounter, 10);
    EXPECT_EQ(g_cIniInfo.PowerOffTimer, 50);
    EXPECT_EQ(g_cIniInfo.IgnoreEnergyStar3, 70);
    EXPECT_NE(g_path.find("/consumablessettings.xml"), std::string::npos);
  }
  for (const dravn::CatalogModel& m : dravn::kSelko2Models) {
    ActiveModel active(m.model);
    g_keys.clear();
    SopSettingInit();
    EXPECT_EQ(g_keys.size(), 6u) << m.model;
    EXPECT_EQ(g_cIniInfo.IgnoreEnergyStar3, 0);
  }
  dlclose(g_vpDevwatch);
  g_vpDevwatch = saved;
}

}  // namespace
