#include "model_groups.h"

#include <cstring>

namespace devwatch {
namespace {

struct Prefix {
  const char* text;
  size_t length;
};

// The three models of the oldest lines; no device table lists them.
constexpr Prefix kGroupA[] = {{"Oldvan", 6}, {"Marlo21", 7}, {"Marlo31", 7}};

// Older qv generations, compared over their whole names.
#define DRAVN_OLDER_QV                                                                                             \
  {"DunmoD1200", 10}, {"DunmoD1600", 10}, {"Tavrin3T1000", 12}, {"Tavrin3T2000", 12}, {"Tavrin3T3000", 12},        \
      {"Tavrin3T4000", 12}, {"Tavrin3T5000", 12}, {"Tavrin3T6000", 12}, {"Tavrin4T1000", 12}, {"Tavrin4T2000", 12}, \
      {"Tavrin4T3000", 12}, {"Tavrin4T4000", 12}, {"Tavrin4LA110", 12}, {"Tavrin4LA120", 12}, {"Tavrin4LA130", 12}, \
      {"Tavrin4LA140", 12}, {"Tavrin4LA150", 12}, {"Tavrin4LA160", 12}, {"Tavrin4LA170", 12}, {"Tavrin4LA180", 12}, \
      {"ZemblZ350", 9}
#define DRAVN_NEWER_QV                                                                                        \
  {"Tv5A100", 7}, {"Tv5A200", 7}, {"Tv5A300", 7}, {"Tv5A400", 7}, {"Tv5E100", 7}, {"Tv5E150", 7}, {"Tv5E200", 7}, \
      {"Tv5E250", 7}, {"Tv5E300", 7}, {"Tv5E350", 7}, {"Tv5E400", 7}, {"Tv5E450", 7}, {"Tv5E500", 7},             \
      {"Tv5E550", 7}, {"Sx3K700", 7}
// The older RK-series models: the Docuvane line, whose scanners answer the
// group's texts (their own backend reads the settings with "DEBUG,E2T,RED  W").
#define DRAVN_OLDER_RK {"DocuvaneRK50", 12}, {"DocuvaneRK70", 12}, {"DocuvaneRK90", 12}

constexpr Prefix kGroupW[] = {DRAVN_OLDER_QV,
                              DRAVN_NEWER_QV,
                              {"Selko2S4", 8},
                              {"Selko2S5", 8},
                              {"Selko2S6", 8},
                              {"SelkoS1", 7},
                              {"SelkoS2", 7},
                              {"SelkoS3", 7},
                              DRAVN_OLDER_RK,
                              {"VelmorakVK3000", 14},
                              {"VelmorakVK5000", 14},
                              {"VelmorakVK6000", 14},
                              {"BrennaB", 7}};
constexpr Prefix kGroupN[] = {{"Tavrin4LA190", 12}, {"Tavrin4LA200", 12}};
constexpr Prefix kGroupF7[] = {DRAVN_NEWER_QV};
constexpr Prefix kGroupF6[] = {DRAVN_OLDER_QV, DRAVN_OLDER_RK};

#undef DRAVN_OLDER_QV
#undef DRAVN_NEWER_QV
#undef DRAVN_OLDER_RK

template <size_t N>
bool Matches(const char* device, const Prefix (&group)[N]) {
  if (!device) return false;
  for (const Prefix& p : group)
    if (strncmp(device, p.text, p.length) == 0) return true;
  return false;
}

void Put(std::vector<unsigned char>* out, const char* text) { out->insert(out->end(), text, text + kDiagTextSize); }

}  // namespace

EepromGroup EepromGroupOf(const char* device) {
  if (Matches(device, kGroupA)) return EepromGroup::A;
  if (Matches(device, kGroupW)) return EepromGroup::W;
  return EepromGroup::Other;
}

bool InGroupN(const char* device) { return Matches(device, kGroupN); }
bool InGroupF7(const char* device) { return Matches(device, kGroupF7); }
bool InGroupF6(const char* device) { return Matches(device, kGroupF6); }

bool BuildWriteRecord(EepromGroup group, const unsigned char* data, unsigned length, unsigned offset,
                      std::vector<unsigned char>* record) {
  record->clear();
  if (group == EepromGroup::W) {
    if (length > 0xFFFF || offset > 0xFFFF) return false;
    Put(record, "DEBUG,E2T,WRT  W");
    record->push_back(static_cast<unsigned char>(offset >> 8));
    record->push_back(static_cast<unsigned char>(offset));
    record->push_back(static_cast<unsigned char>(length >> 8));
    record->push_back(static_cast<unsigned char>(length));
  } else {
    if (offset > 0xFF || length > 0xFF || offset + length > kEepromImageSize) return false;
    Put(record, group == EepromGroup::A ? "DEBUG,H3T,WRT   " : "DEBUG,E2T,WRT   ");
    record->push_back(static_cast<unsigned char>(offset));
    record->push_back(static_cast<unsigned char>(length));
  }
  record->insert(record->end(), data, data + length);
  return true;
}

}  // namespace devwatch
