// The model catalogue: the one place that gives every supported scanner its
// USB ids and model text. Every device table of every deliverable, the
// default dravn.conf and the simulated scanners take them from here, so one
// device has one name everywhere.
//
// The catalogue holds identity only. What a table adds per row (device type
// numbers, option blocks, colour profiles, composed group tests such as the
// RTOS group or the Tavrin nesting) belongs to the subsystem that owns the
// table; such a table names its rows through these entries.
#ifndef DRAVN_COMMON_MODEL_CATALOG_H
#define DRAVN_COMMON_MODEL_CATALOG_H

#include <array>
#include <cstddef>

namespace dravn {

// One family per model; a model belongs to exactly one. Nested groups are
// composed by their users: Tavrin3 models plus Tavrin4 models plus Tavrin4LA
// models answer the Tavrin3 test, and the Selko family is Selko plus Selko2.
enum class Family {
  Docuvane,
  Selko,
  Selko2,
  Brenna,
  Dunmo,
  DunmoMe2,
  Tavrin3,
  Tavrin4,
  Tavrin4LA,
  Tavrin5,
  Tavrin5E,
  Vantor,
  Pilvo,
  Saldex,
  Saldex3,
  Ruvik,
  Velmorak,
  Feyra2,
  Zembl,
  Gorlan,
};

// The device tables that list a model (bits of CatalogModel::tables).
enum DeviceTable : unsigned {
  kMainTable = 1u << 0,       // main backend device table (ids, model text)
  kSecondTable = 1u << 1,     // second backend device table
  kCorvaneTable = 1u << 2,    // Corvane class product texts (deviceName)
  kCorvane5Table = 1u << 3,   // Corvane5 class product texts (deviceName, 7 characters)
  kSelkoNameTable = 1u << 4,  // names a Selko scanner may answer with (deviceName)
  kWatchTable = 1u << 5,      // device watch table of libdevwatch
  kDaemonTable = 1u << 6,     // scan-button daemon's device table
};

struct CatalogModel {
  int vendorId;
  int productId;
  const char* model;  // at most 21 characters, no '-', no blank, no ':'
  Family family;
  // The same model's other written form (the first letter of its series word
  // in the other case), which family lists carry beside the model text;
  // nullptr when the model has only one.
  const char* altModel;
  // The product name the scanner reports about itself (inquiry product
  // field, or the Selko name answer), at most 16 characters. It is the model
  // text wherever the reply format allows.
  const char* deviceName;
  unsigned tables;  // DeviceTable bits
};

constexpr int kVendorId = 0x2D4E;
// The maker's name as front ends list it beside the model.
constexpr const char kVendorText[] = "Moranti";

namespace detail {
constexpr unsigned kOwnTables = kMainTable | kCorvaneTable | kWatchTable | kDaemonTable;
constexpr unsigned kForwardedTables = kMainTable | kSecondTable | kWatchTable | kDaemonTable;
constexpr unsigned kOlderQvTables = kCorvaneTable | kWatchTable;
constexpr unsigned kNewerQvTables = kCorvane5Table | kWatchTable;
}  // namespace detail

// The main backend's own scanners.
constexpr CatalogModel kDocuvaneModels[3] = {
    {kVendorId, 0x1101, "DocuvaneRK50", Family::Docuvane, nullptr, "DocuvaneRK50", detail::kOwnTables},
    {kVendorId, 0x1102, "DocuvaneRK70", Family::Docuvane, nullptr, "DocuvaneRK70", detail::kOwnTables},
    {kVendorId, 0x1103, "DocuvaneRK90", Family::Docuvane, nullptr, "DocuvaneRK90", detail::kOwnTables},
};

// The second backend's families. The Selko2 ids are consecutive: the second
// backend tells the family by that range. A Selko scanner answers its name
// request with the family word and a two-digit number.
constexpr CatalogModel kSelkoModels[3] = {
    {kVendorId, 0x1201, "SelkoS150", Family::Selko, nullptr, "Selko15", detail::kForwardedTables | kSelkoNameTable},
    {kVendorId, 0x1202, "SelkoS250", Family::Selko, nullptr, "Selko25", detail::kForwardedTables | kSelkoNameTable},
    {kVendorId, 0x1203, "SelkoS350", Family::Selko, nullptr, "Selko35", detail::kForwardedTables | kSelkoNameTable},
};
constexpr CatalogModel kSelko2Models[3] = {
    {kVendorId, 0x1301, "Selko2S420", Family::Selko2, nullptr, "Selko2S420", detail::kForwardedTables},
    {kVendorId, 0x1302, "Selko2S520", Family::Selko2, nullptr, "Selko2S520", detail::kForwardedTables},
    {kVendorId, 0x1303, "Selko2S620", Family::Selko2, nullptr, "Selko2S620", detail::kForwardedTables},
};
constexpr CatalogModel kBrennaModels[1] = {
    {kVendorId, 0x1401, "BrennaB700", Family::Brenna, nullptr, "BrennaB700", detail::kForwardedTables},
};

// The qv series, older generations: driven by the Corvane class when a main
// backend table row names them, listed by the device watch table.
constexpr CatalogModel kDunmoModels[2] = {
    {kVendorId, 0x1501, "DunmoD1200", Family::Dunmo, nullptr, "DunmoD1200", detail::kOlderQvTables},
    {kVendorId, 0x1502, "DunmoD1600", Family::Dunmo, nullptr, "DunmoD1600", detail::kOlderQvTables},
};
constexpr CatalogModel kTavrin3Models[6] = {
    {kVendorId, 0x1601, "Tavrin3T1000", Family::Tavrin3, nullptr, "Tavrin3T1000", detail::kOlderQvTables},
    {kVendorId, 0x1602, "Tavrin3T2000", Family::Tavrin3, nullptr, "Tavrin3T2000", detail::kOlderQvTables},
    {kVendorId, 0x1603, "Tavrin3T3000", Family::Tavrin3, nullptr, "Tavrin3T3000", detail::kOlderQvTables},
    {kVendorId, 0x1604, "Tavrin3T4000", Family::Tavrin3, nullptr, "Tavrin3T4000", detail::kOlderQvTables},
    {kVendorId, 0x1605, "Tavrin3T5000", Family::Tavrin3, nullptr, "Tavrin3T5000", detail::kOlderQvTables},
    {kVendorId, 0x1606, "Tavrin3T6000", Family::Tavrin3, nullptr, "Tavrin3T6000", detail::kOlderQvTables},
};
constexpr CatalogModel kTavrin4Models[4] = {
    {kVendorId, 0x1611, "Tavrin4T1000", Family::Tavrin4, nullptr, "Tavrin4T1000", detail::kOlderQvTables},
    {kVendorId, 0x1612, "Tavrin4T2000", Family::Tavrin4, nullptr, "Tavrin4T2000", detail::kOlderQvTables},
    {kVendorId, 0x1613, "Tavrin4T3000", Family::Tavrin4, nullptr, "Tavrin4T3000", detail::kOlderQvTables},
    {kVendorId, 0x1614, "Tavrin4T4000", Family::Tavrin4, nullptr, "Tavrin4T4000", detail::kOlderQvTables},
};
constexpr CatalogModel kTavrin4LAModels[10] = {
    {kVendorId, 0x1621, "Tavrin4LA110", Family::Tavrin4LA, nullptr, "Tavrin4LA110", detail::kOlderQvTables},
    {kVendorId, 0x1622, "Tavrin4LA120", Family::Tavrin4LA, nullptr, "Tavrin4LA120", detail::kOlderQvTables},
    {kVendorId, 0x1623, "Tavrin4LA130", Family::Tavrin4LA, nullptr, "Tavrin4LA130", detail::kOlderQvTables},
    {kVendorId, 0x1624, "Tavrin4LA140", Family::Tavrin4LA, nullptr, "Tavrin4LA140", detail::kOlderQvTables},
    {kVendorId, 0x1625, "Tavrin4LA150", Family::Tavrin4LA, nullptr, "Tavrin4LA150", detail::kOlderQvTables},
    {kVendorId, 0x1626, "Tavrin4LA160", Family::Tavrin4LA, nullptr, "Tavrin4LA160", detail::kOlderQvTables},
    {kVendorId, 0x1627, "Tavrin4LA170", Family::Tavrin4LA, nullptr, "Tavrin4LA170", detail::kOlderQvTables},
    {kVendorId, 0x1628, "Tavrin4LA180", Family::Tavrin4LA, nullptr, "Tavrin4LA180", detail::kOlderQvTables},
    {kVendorId, 0x1629, "Tavrin4LA190", Family::Tavrin4LA, nullptr, "Tavrin4LA190", detail::kOlderQvTables},
    {kVendorId, 0x162A, "Tavrin4LA200", Family::Tavrin4LA, nullptr, "Tavrin4LA200", detail::kOlderQvTables},
};
constexpr CatalogModel kZemblModels[1] = {
    {kVendorId, 0x1D01, "ZemblZ350", Family::Zembl, nullptr, "ZemblZ350", detail::kOlderQvTables},
};

// The qv series, newer generation: seven-character names, which is all the
// Corvane5 class's product texts hold. The Saldex3 model has no Corvane5
// class row.
constexpr CatalogModel kTavrin5Models[4] = {
    {kVendorId, 0x1701, "Tv5A100", Family::Tavrin5, nullptr, "Tv5A100", detail::kNewerQvTables},
    {kVendorId, 0x1702, "Tv5A200", Family::Tavrin5, nullptr, "Tv5A200", detail::kNewerQvTables},
    {kVendorId, 0x1703, "Tv5A300", Family::Tavrin5, nullptr, "Tv5A300", detail::kNewerQvTables},
    {kVendorId, 0x1704, "Tv5A400", Family::Tavrin5, nullptr, "Tv5A400", detail::kNewerQvTables},
};
constexpr CatalogModel kTavrin5EModels[10] = {
    {kVendorId, 0x1711, "Tv5E100", Family::Tavrin5E, nullptr, "Tv5E100", detail::kNewerQvTables},
    {kVendorId, 0x1712, "Tv5E150", Family::Tavrin5E, nullptr, "Tv5E150", detail::kNewerQvTables},
    {kVendorId, 0x1713, "Tv5E200", Family::Tavrin5E, nullptr, "Tv5E200", detail::kNewerQvTables},
    {kVendorId, 0x1714, "Tv5E250", Family::Tavrin5E, nullptr, "Tv5E250", detail::kNewerQvTables},
    {kVendorId, 0x1715, "Tv5E300", Family::Tavrin5E, nullptr, "Tv5E300", detail::kNewerQvTables},
    {kVendorId, 0x1716, "Tv5E350", Family::Tavrin5E, nullptr, "Tv5E350", detail::kNewerQvTables},
    {kVendorId, 0x1717, "Tv5E400", Family::Tavrin5E, nullptr, "Tv5E400", detail::kNewerQvTables},
    {kVendorId, 0x1718, "Tv5E450", Family::Tavrin5E, nullptr, "Tv5E450", detail::kNewerQvTables},
    {kVendorId, 0x1719, "Tv5E500", Family::Tavrin5E, nullptr, "Tv5E500", detail::kNewerQvTables},
    {kVendorId, 0x171A, "Tv5E550", Family::Tavrin5E, nullptr, "Tv5E550", detail::kNewerQvTables},
};
constexpr CatalogModel kSaldex3Models[1] = {
    {kVendorId, 0x1911, "Sx3K700", Family::Saldex3, nullptr, "Sx3K700", kWatchTable},
};

// Models A to F in this order (the per-model tests and series A, models A to
// D, go by position). The device watch table lists C, E and F.
constexpr CatalogModel kVelmorakModels[6] = {
    {kVendorId, 0x1B01, "VelmorakVK1000", Family::Velmorak, nullptr, "VelmorakVK1000", 0},
    {kVendorId, 0x1B02, "VelmorakVK2000", Family::Velmorak, nullptr, "VelmorakVK2000", 0},
    {kVendorId, 0x1B03, "VelmorakVK3000", Family::Velmorak, nullptr, "VelmorakVK3000", kWatchTable},
    {kVendorId, 0x1B04, "VelmorakVK4000", Family::Velmorak, nullptr, "VelmorakVK4000", 0},
    {kVendorId, 0x1B05, "VelmorakVK5000", Family::Velmorak, nullptr, "VelmorakVK5000", kWatchTable},
    {kVendorId, 0x1B06, "VelmorakVK6000", Family::Velmorak, nullptr, "VelmorakVK6000", kWatchTable},
};

// Models that only the settings library's family lists know. Models A, B
// and C of DunmoMe2 in this order: A and C have both written forms, B only
// its lower-case one. Of the Vantor models, the first has both forms and the
// third only its lower-case one. The first Ruvik model is the Ruvik2 one.
constexpr CatalogModel kDunmoMe2Models[3] = {
    {kVendorId, 0x1511, "DunmoMe2M30", Family::DunmoMe2, "dunmoMe2M30", "DunmoMe2M30", 0},
    {kVendorId, 0x1512, "dunmoMe2M40", Family::DunmoMe2, nullptr, "dunmoMe2M40", 0},
    {kVendorId, 0x1513, "DunmoMe2M50", Family::DunmoMe2, "dunmoMe2M50", "DunmoMe2M50", 0},
};
constexpr CatalogModel kVantorModels[3] = {
    {kVendorId, 0x1801, "Vantor410", Family::Vantor, "vantor410", "Vantor410", 0},
    {kVendorId, 0x1802, "Vantor520", Family::Vantor, nullptr, "Vantor520", 0},
    {kVendorId, 0x1803, "vantor630", Family::Vantor, nullptr, "vantor630", 0},
};
constexpr CatalogModel kPilvoModels[1] = {
    {kVendorId, 0x1811, "Pilvo700", Family::Pilvo, "pilvo700", "Pilvo700", 0},
};
constexpr CatalogModel kSaldexModels[1] = {
    {kVendorId, 0x1901, "Saldex800", Family::Saldex, nullptr, "Saldex800", 0},
};
constexpr CatalogModel kRuvikModels[2] = {
    {kVendorId, 0x1A01, "RuvikR220", Family::Ruvik, nullptr, "RuvikR220", 0},
    {kVendorId, 0x1A02, "RuvikR120", Family::Ruvik, nullptr, "RuvikR120", 0},
};
constexpr CatalogModel kFeyra2Models[1] = {
    {kVendorId, 0x1C01, "Feyra2F90", Family::Feyra2, nullptr, "Feyra2F90", 0},
};
constexpr CatalogModel kGorlanModels[2] = {
    {kVendorId, 0x1E01, "GorlanG150", Family::Gorlan, nullptr, "GorlanG150", 0},
    {kVendorId, 0x1E02, "GorlanG250", Family::Gorlan, nullptr, "GorlanG250", 0},
};

namespace detail {
template <std::size_t... N>
constexpr std::array<CatalogModel, (N + ...)> Concat(const CatalogModel (&... parts)[N]) {
  std::array<CatalogModel, (N + ...)> all{};
  std::size_t next = 0;
  auto append = [&](const auto& part) {
    for (const CatalogModel& m : part) all[next++] = m;
  };
  (append(parts), ...);
  return all;
}
}  // namespace detail

// Every model once, family by family, for iteration.
constexpr auto kAllModels = detail::Concat(
    kDocuvaneModels, kSelkoModels, kSelko2Models, kBrennaModels, kDunmoModels, kTavrin3Models, kTavrin4Models,
    kTavrin4LAModels, kZemblModels, kTavrin5Models, kTavrin5EModels, kSaldex3Models, kVelmorakModels, kDunmoMe2Models,
    kVantorModels, kPilvoModels, kSaldexModels, kRuvikModels, kFeyra2Models, kGorlanModels);

}  // namespace dravn

#endif
