#include "ft_device_group.h"

#include <cstring>
#include <initializer_list>

#include "model_catalog.h"
#include "mqcontrol_context.h"

FtDeviceID::FtDeviceID(const char* text) {
  std::memset(m_name, 0, sizeof m_name);
  if (text) SetText(text);
}
FtDeviceID::FtDeviceID(const FtDeviceID& other) { std::memcpy(m_name, other.m_name, sizeof m_name); }
FtDeviceID::~FtDeviceID() = default;

FtDeviceID& FtDeviceID::operator=(const FtDeviceID& other) {
  if (this != &other) std::memcpy(m_name, other.m_name, sizeof m_name);
  return *this;
}

FtDeviceID& FtDeviceID::operator=(const char* text) {
  if (text) SetText(text);
  return *this;
}

// A text longer than the field is cut to 49 characters; no listed model
// name comes near that length, so a cut name matches nothing.
void FtDeviceID::SetText(const char* text) {
  std::memset(m_name, 0, sizeof m_name);
  std::strncpy(m_name, text, sizeof m_name - 1);
}

int FtDeviceID::operator==(const FtDeviceID& other) const { return std::strcmp(m_name, other.m_name) == 0; }
int FtDeviceID::operator!=(const FtDeviceID& other) const { return !(*this == other); }
int FtDeviceID::operator!=(const char* text) const { return !(*this == FtDeviceID(text)); }
int FtDeviceID::Compare(const char* text) const { return text && std::strcmp(m_name, text) == 0; }
FtDeviceID::operator char*() { return m_name; }

FtDeviceGroup::FtDeviceGroup() {
  // With no active model the name stays empty, which no list holds.
  if (g_cpActiveScannerName) m_id = g_cpActiveScannerName;
}
FtDeviceGroup::FtDeviceGroup(const FtDeviceGroup& other) : m_id(other.m_id) {}
FtDeviceGroup::~FtDeviceGroup() = default;
FtDeviceGroup& FtDeviceGroup::operator=(const FtDeviceGroup& other) {
  if (this != &other) m_id = other.m_id;
  return *this;
}
int FtDeviceGroup::operator==(const FtDeviceGroup& other) const { return m_id == other.m_id; }
int FtDeviceGroup::operator!=(const FtDeviceGroup& other) const { return m_id != other.m_id; }

namespace {

// The group lists are the catalogue's family arrays, each model under every
// written form it is known by.
template <std::size_t N>
int InList(const FtDeviceID& id, const dravn::CatalogModel (&models)[N]) {
  for (const dravn::CatalogModel& m : models) {
    if (id == FtDeviceID(m.model)) return 1;
    if (m.altModel && id == FtDeviceID(m.altModel)) return 1;
  }
  return 0;
}

int IsOne(const FtDeviceID& id, const dravn::CatalogModel& m) {
  return id == FtDeviceID(m.model) || (m.altModel && id == FtDeviceID(m.altModel));
}

}  // namespace

using namespace dravn;

int FtDeviceGroup::IsDunmo() const { return InList(m_id, kDunmoModels); }
int FtDeviceGroup::IsDunmoMe2() const { return InList(m_id, kDunmoMe2Models); }
int FtDeviceGroup::IsVantor() const { return InList(m_id, kVantorModels); }
int FtDeviceGroup::IsPilvo() const { return InList(m_id, kPilvoModels); }
int FtDeviceGroup::IsSaldex() const { return InList(m_id, kSaldexModels); }
int FtDeviceGroup::IsRuvik() const { return InList(m_id, kRuvikModels); }
int FtDeviceGroup::IsRuvik2() const { return IsOne(m_id, kRuvikModels[0]); }
int FtDeviceGroup::IsVelmorakModelA() const { return IsOne(m_id, kVelmorakModels[0]); }
int FtDeviceGroup::IsVelmorakModelB() const { return IsOne(m_id, kVelmorakModels[1]); }
int FtDeviceGroup::IsVelmorakModelC() const { return IsOne(m_id, kVelmorakModels[2]); }
int FtDeviceGroup::IsVelmorakModelD() const { return IsOne(m_id, kVelmorakModels[3]); }
int FtDeviceGroup::IsVelmorakModelE() const { return IsOne(m_id, kVelmorakModels[4]); }
int FtDeviceGroup::IsVelmorakModelF() const { return IsOne(m_id, kVelmorakModels[5]); }
int FtDeviceGroup::IsVelmorakSeriesA() const {
  return IsVelmorakModelA() || IsVelmorakModelB() || IsVelmorakModelC() || IsVelmorakModelD();
}
int FtDeviceGroup::IsVelmorak() const { return InList(m_id, kVelmorakModels); }
int FtDeviceGroup::IsTavrin5() const { return InList(m_id, kTavrin5Models); }
int FtDeviceGroup::IsTavrin5E() const { return InList(m_id, kTavrin5EModels); }
int FtDeviceGroup::IsFeyra2() const { return InList(m_id, kFeyra2Models); }
int FtDeviceGroup::IsZembl() const { return InList(m_id, kZemblModels); }
int FtDeviceGroup::IsDocuvane() const { return InList(m_id, kDocuvaneModels); }
int FtDeviceGroup::IsTavrin4LA() const { return InList(m_id, kTavrin4LAModels); }
int FtDeviceGroup::IsTavrin4() const { return InList(m_id, kTavrin4Models) || IsTavrin4LA(); }
int FtDeviceGroup::IsTavrin3() const { return InList(m_id, kTavrin3Models) || IsTavrin4(); }
int FtDeviceGroup::IsSelkoFamily() const { return InList(m_id, kSelkoModels) || InList(m_id, kSelko2Models); }
int FtDeviceGroup::IsSaldex3() const { return InList(m_id, kSaldex3Models); }
int FtDeviceGroup::IsGorlan() const { return InList(m_id, kGorlanModels); }
int FtDeviceGroup::IsRTOS() const {
  return IsTavrin5() || IsVelmorakModelE() || IsVelmorakModelF() || IsTavrin5E() || IsGorlan() || IsSaldex3();
}
int FtDeviceGroup::IsBrenna() const { return InList(m_id, kBrennaModels); }
