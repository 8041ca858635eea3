// The family and legacy model groups that steer the consumables and timer
// rules of the settings library.
#ifndef DRAVN_MQCONTROL_QUORRA_GROUPS_H
#define DRAVN_MQCONTROL_QUORRA_GROUPS_H

#include <cstdint>
#include <cstring>

#include "ft_device_group.h"
#include "model_catalog.h"

namespace quorra {

// Older models that no family test names, in the groups whose counter and
// timer rules they share.
enum Legacy { L1, L2, L3, L4, L5, L6, L7, L8, L9, L10, kLegacyGroups };
// At most four names a group; the rest of a row is null.
inline constexpr const char* kLegacyNames[kLegacyGroups][4] = {
    {"QuillQ300"},
    {"DunmoC1200", "DunmoC1600"},
    {"QuillQ10", "QuillQ20", "QuillQ30", "QuillQ40"},
    {"QuillQ60", "QuillQ70"},
    {"QuillQ410", "QuillQ420"},
    {"QuillQ510", "QuillQ520", "QuillQ530", "QuillQ540"},
    {"QuillQ610", "QuillQ620"},
    {"QuillQ710", "QuillQ720"},
    {"QuillQ810"},
    // One of L6's models: only a power-saving model reads its timer.
    {"QuillQ540"},
};

inline const char* Name(const char* model) { return model ? model : ""; }

inline bool InLegacy(const char* model, Legacy group) {
  for (const char* n : kLegacyNames[group])
    if (n && std::strcmp(Name(model), n) == 0) return true;
  return false;
}

template <size_t N>
inline bool InCatalog(const char* model, const dravn::CatalogModel (&models)[N]) {
  for (const dravn::CatalogModel& m : models)
    if (std::strcmp(Name(model), m.model) == 0 || (m.altModel && std::strcmp(Name(model), m.altModel) == 0))
      return true;
  return false;
}

// The family and legacy groups of one model, asked once per step.
struct Groups {
  explicit Groups(const char* m) : model(m) {}
  const char* model;
  FtDeviceGroup g;
  bool L(Legacy l) const { return InLegacy(model, l); }
  // Tavrin3 and Tavrin4 of their own lists, without the Tavrin4LA models.
  bool T3() const { return InCatalog(model, dravn::kTavrin3Models); }
  bool T4() const { return InCatalog(model, dravn::kTavrin4Models); }
  bool LA() const { return g.IsTavrin4LA(); }
  bool Docu() const { return g.IsDocuvane(); }
  bool T5() const { return g.IsTavrin5(); }
  bool T5E() const { return g.IsTavrin5E(); }
  bool Dunmo() const { return g.IsDunmo(); }
  bool Me2() const { return g.IsDunmoMe2(); }
  bool Vantor() const { return g.IsVantor(); }
  bool Pilvo() const { return g.IsPilvo(); }
  bool Saldex() const { return g.IsSaldex(); }
  bool Saldex3() const { return g.IsSaldex3(); }
  bool Gorlan() const { return g.IsGorlan(); }
  bool Zembl() const { return g.IsZembl(); }
  bool Feyra2() const { return g.IsFeyra2(); }
  bool Ruvik() const { return g.IsRuvik(); }
  bool Ruvik2() const { return g.IsRuvik2(); }
  bool Rtos() const { return g.IsRTOS(); }
  bool SeriesA() const { return g.IsVelmorakSeriesA(); }
  bool VA() const { return g.IsVelmorakModelA(); }
  bool VB() const { return g.IsVelmorakModelB(); }
  bool VC() const { return g.IsVelmorakModelC(); }
  bool VD() const { return g.IsVelmorakModelD(); }
  bool VE() const { return g.IsVelmorakModelE(); }
  bool VF() const { return g.IsVelmorakModelF(); }
  bool Selko() const { return g.IsSelkoFamily(); }
  bool Brenna() const { return g.IsBrenna(); }
  // The families whose roller and pick counters sit at 124/125 and 60/61.
  bool TavrinCounters() const { return LA() || Saldex() || T3() || T4() || Brenna() || Docu(); }
  bool Wide() const { return LA() || Docu() || T5() || T4() || T5E() || Gorlan() || Saldex3(); }
};

inline uint16_t U16(const unsigned char* p, int at) { return static_cast<uint16_t>(p[at] | p[at + 1] << 8); }

}  // namespace quorra

#endif
