// Table-driven checks of the setting accessors over the host image: each
// case names the active model, the image bytes before, the call, and what
// must follow: the result, every image byte that changed, every bit of the
// six modified-field sets, and the changed flag.
#ifndef DRAVN_TESTS_MQCONTROL_SETTINGS_TEST_UTIL_H
#define DRAVN_TESTS_MQCONTROL_SETTINGS_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "dev_set_ctrl.h"
#include "field_merge.h"
#include "mqcontrol_context.h"

namespace settings_test {

enum SetId { VA, VB, P, D2, T3, R, kSetCount };

inline uint8_t* SetOf(SetId id) {
  switch (id) {
    case VA:
      return g_VantorAmodFlags;
    case VB:
      return g_VantorBmodFlags;
    case P:
      return g_PilvomodFlags;
    case D2:
      return g_DunmoMe2modFlags;
    case T3:
      return g_Tavrin3modFlags;
    default:
      return g_RTOSmodFlags;
  }
}
inline size_t SizeOf(SetId id) {
  static const size_t kSizes[] = {13, 13, 35, 32, 32, 52};
  return kSizes[id];
}
inline const char* NameOf(SetId id) {
  static const char* kNames[] = {"VantorA", "VantorB", "Pilvo", "DunmoMe2", "Tavrin3", "RTOS"};
  return kNames[id];
}

// Makes the name the active model, as initlibrary does.
class ActiveModel {
 public:
  explicit ActiveModel(const char* name) : m_name(name ? name : "") {
    g_cpActiveScannerName = name ? &m_name[0] : nullptr;
  }
  ~ActiveModel() { g_cpActiveScannerName = nullptr; }
  ActiveModel(const ActiveModel&) = delete;
  ActiveModel& operator=(const ActiveModel&) = delete;

 private:
  std::string m_name;
};

inline void ResetState() {
  std::memset(g_byEEPData, 0, sizeof g_byEEPData);
  for (int s = 0; s < kSetCount; ++s) std::memset(SetOf(SetId(s)), 0, SizeOf(SetId(s)));
  g_CDevSetCtrl.SetModified(0);
  std::memset(g_Tavrin3FirmVer, 0, sizeof g_Tavrin3FirmVer);
}

using Bytes = std::vector<std::pair<int, int>>;
struct MarkBits {
  SetId set;
  int byte;
  int bits;
};

struct Case {
  const char* model;
  const char* what;
  std::function<int()> call;
  Bytes before;
  int result;
  Bytes after;  // every image byte that differs afterwards, with its value
  std::vector<MarkBits> marks;
  int flag;
  // When given: the layout's merge over the image as it was before must
  // carry every changed bit, so the marks cover what the setter changed.
  const MergeLayout* merge = nullptr;
};

#define CALL(expr) [] { return g_CDevSetCtrl.expr; }

inline void Check(const Case& c) {
  SCOPED_TRACE(std::string(c.model ? c.model : "(none)") + ": " + c.what);
  ResetState();
  ActiveModel active(c.model);
  for (const auto& b : c.before) g_byEEPData[b.first] = static_cast<uint8_t>(b.second);
  uint8_t before[kEepromImageSize];
  std::memcpy(before, g_byEEPData, sizeof before);
  uint8_t expected[kEepromImageSize];
  std::memcpy(expected, g_byEEPData, sizeof expected);
  for (const auto& a : c.after) expected[a.first] = static_cast<uint8_t>(a.second);
  EXPECT_EQ(c.call(), c.result);
  for (int k = 0; k < kEepromImageSize; ++k) EXPECT_EQ(g_byEEPData[k], expected[k]) << "image byte " << k;
  for (int s = 0; s < kSetCount; ++s) {
    std::vector<uint8_t> want(SizeOf(SetId(s)), 0);
    for (const MarkBits& m : c.marks)
      if (m.set == s) want[m.byte] |= static_cast<uint8_t>(m.bits);
    for (size_t k = 0; k < want.size(); ++k)
      EXPECT_EQ(SetOf(SetId(s))[k], want[k]) << NameOf(SetId(s)) << " byte " << k;
  }
  EXPECT_EQ(g_CDevSetCtrl.IsSettingChanged(), c.flag);
  if (c.merge) {
    const uint8_t* flags = c.merge == &kTavrin3Layout    ? g_Tavrin3modFlags
                           : c.merge == &kDunmoMe2Layout ? g_DunmoMe2modFlags
                           : c.merge == &kRTOSLayout     ? g_RTOSmodFlags
                           : c.merge == &kPilvoLayout    ? g_PilvomodFlags
                                                         : nullptr;
    if (flags)
      MergeFields(*c.merge, flags, g_byEEPData, before);
    else
      MergeVantor(g_VantorAmodFlags, g_VantorBmodFlags, g_byEEPData, before);
    EXPECT_EQ(std::memcmp(before, g_byEEPData, sizeof before), 0) << "the merge loses an edited bit";
  }
}

inline void CheckAll(const std::vector<Case>& cases) {
  for (const Case& c : cases) Check(c);
}

}  // namespace settings_test

#endif
