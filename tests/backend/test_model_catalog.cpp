// The model catalogue's invariants, the family and table make-up that the
// device tables are built on, and the default dravn.conf.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "dravn_paths.h"
#include "model_catalog.h"

namespace {

using dravn::CatalogModel;
using dravn::Family;
using dravn::kAllModels;

// The catalogue must be usable where no code runs (static tables).
static_assert(kAllModels[0].productId == dravn::kDocuvaneModels[0].productId, "kAllModels is constexpr");

std::vector<const char*> TextsOf(const CatalogModel& m) {
  std::vector<const char*> texts{m.model};
  if (m.altModel) texts.push_back(m.altModel);
  return texts;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool IsNameChar(char c) { return std::isgraph(static_cast<unsigned char>(c)) && c != '-' && c != ':'; }

std::vector<CatalogModel> InTable(unsigned table) {
  std::vector<CatalogModel> rows;
  for (const CatalogModel& m : kAllModels)
    if (m.tables & table) rows.push_back(m);
  return rows;
}

std::set<std::pair<int, int>> IdsOf(const std::vector<CatalogModel>& rows) {
  std::set<std::pair<int, int>> ids;
  for (const CatalogModel& m : rows) ids.insert({m.vendorId, m.productId});
  return ids;
}

TEST(ModelCatalog, TextsFitEveryTableAndDeviceString) {
  for (const CatalogModel& m : kAllModels) {
    EXPECT_EQ(m.vendorId, dravn::kVendorId) << m.model;
    EXPECT_GT(m.productId, 0) << m.model;
    EXPECT_LE(m.productId, 0xFFFF) << m.model;
    for (const char* text : TextsOf(m)) {
      const std::string s = text;
      EXPECT_FALSE(s.empty());
      EXPECT_LE(s.size(), 21u) << s;
      for (char c : s) EXPECT_TRUE(IsNameChar(c)) << "'" << c << "' in " << s;
    }
    ASSERT_NE(m.deviceName, nullptr) << m.model;
    const std::string name = m.deviceName;
    EXPECT_FALSE(name.empty()) << m.model;
    EXPECT_LE(name.size(), 16u) << name;  // a 16-byte product field
    for (char c : name) EXPECT_TRUE(IsNameChar(c)) << "'" << c << "' in " << name;
  }
}

TEST(ModelCatalog, AlternateFormDiffersOnlyInTheCaseOfItsFirstLetter) {
  int alternates = 0;
  for (const CatalogModel& m : kAllModels) {
    if (!m.altModel) continue;
    ++alternates;
    const std::string a = m.model, b = m.altModel;
    ASSERT_EQ(a.size(), b.size()) << a;
    EXPECT_NE(a[0], b[0]) << a;
    EXPECT_EQ(std::tolower(static_cast<unsigned char>(a[0])), std::tolower(static_cast<unsigned char>(b[0]))) << a;
    EXPECT_EQ(a.substr(1), b.substr(1)) << a;
  }
  EXPECT_EQ(alternates, 4);  // two DunmoMe2 models, one Vantor, the Pilvo
}

TEST(ModelCatalog, IdsAndNamesAreUnique) {
  std::set<std::pair<int, int>> ids;
  std::set<std::string> folded, deviceNames;
  for (const CatalogModel& m : kAllModels) {
    EXPECT_TRUE(ids.insert({m.vendorId, m.productId}).second) << "duplicate ids of " << m.model;
    // Family lists compare exactly, so two models whose texts differ only in
    // case would be one typo away from each other's groups.
    std::set<std::string> own;
    for (const char* text : TextsOf(m)) own.insert(Lower(text));
    for (const std::string& t : own) EXPECT_TRUE(folded.insert(t).second) << "duplicate text " << t;
    EXPECT_TRUE(deviceNames.insert(m.deviceName).second) << "duplicate device name " << m.deviceName;
  }
}

TEST(ModelCatalog, NoTextIsThePrefixOfAnother) {
  // Device strings ("model:bus:address") are matched against model texts and
  // name prefixes over the text's length: a text that begins another would
  // claim that model's devices.
  std::vector<std::string> texts;
  for (const CatalogModel& m : kAllModels)
    for (const char* text : TextsOf(m)) texts.push_back(text);
  for (const std::string& a : texts)
    for (const std::string& b : texts)
      if (a != b) {
        EXPECT_NE(b.compare(0, a.size(), a), 0) << a << " begins " << b;
      }
}

TEST(ModelCatalog, FamilyArraysHoldTheirFamilyAndAllModelsHoldsEachOnce) {
  struct Case {
    const CatalogModel* rows;
    size_t count;
    Family family;
    size_t expected;  // the family's model count
  };
#define DRAVN_ROWS(a) a, sizeof(a) / sizeof(a[0])
  const Case cases[] = {
      {DRAVN_ROWS(dravn::kDocuvaneModels), Family::Docuvane, 3},
      {DRAVN_ROWS(dravn::kSelkoModels), Family::Selko, 3},
      {DRAVN_ROWS(dravn::kSelko2Models), Family::Selko2, 3},
      {DRAVN_ROWS(dravn::kBrennaModels), Family::Brenna, 1},
      {DRAVN_ROWS(dravn::kDunmoModels), Family::Dunmo, 2},
      {DRAVN_ROWS(dravn::kDunmoMe2Models), Family::DunmoMe2, 3},
      {DRAVN_ROWS(dravn::kTavrin3Models), Family::Tavrin3, 6},
      {DRAVN_ROWS(dravn::kTavrin4Models), Family::Tavrin4, 4},
      {DRAVN_ROWS(dravn::kTavrin4LAModels), Family::Tavrin4LA, 10},
      {DRAVN_ROWS(dravn::kTavrin5Models), Family::Tavrin5, 4},
      {DRAVN_ROWS(dravn::kTavrin5EModels), Family::Tavrin5E, 10},
      {DRAVN_ROWS(dravn::kVantorModels), Family::Vantor, 3},
      {DRAVN_ROWS(dravn::kPilvoModels), Family::Pilvo, 1},
      {DRAVN_ROWS(dravn::kSaldexModels), Family::Saldex, 1},
      {DRAVN_ROWS(dravn::kSaldex3Models), Family::Saldex3, 1},
      {DRAVN_ROWS(dravn::kRuvikModels), Family::Ruvik, 2},
      {DRAVN_ROWS(dravn::kVelmorakModels), Family::Velmorak, 6},
      {DRAVN_ROWS(dravn::kFeyra2Models), Family::Feyra2, 1},
      {DRAVN_ROWS(dravn::kZemblModels), Family::Zembl, 1},
      {DRAVN_ROWS(dravn::kGorlanModels), Family::Gorlan, 2},
  };
#undef DRAVN_ROWS
  size_t total = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(c.count, c.expected) << "family " << static_cast<int>(c.family);
    total += c.count;
    for (size_t i = 0; i < c.count; ++i) {
      EXPECT_EQ(c.rows[i].family, c.family) << c.rows[i].model;
      int seen = 0;
      for (const CatalogModel& m : kAllModels)
        if (m.productId == c.rows[i].productId && std::strcmp(m.model, c.rows[i].model) == 0 && m.family == c.family &&
            m.tables == c.rows[i].tables)
          ++seen;
      EXPECT_EQ(seen, 1) << c.rows[i].model;
    }
  }
  EXPECT_EQ(kAllModels.size(), total);  // no family array left out of the list
}

TEST(ModelCatalog, FirstRowsKeepTheirIdentity) {
  // Code in both backends, the daemon and the simulator names these rows.
  struct Case {
    const CatalogModel& row;
    int productId;
    const char* model;
  };
  const Case cases[] = {
      {dravn::kDocuvaneModels[0], 0x1101, "DocuvaneRK50"}, {dravn::kDocuvaneModels[1], 0x1102, "DocuvaneRK70"},
      {dravn::kDocuvaneModels[2], 0x1103, "DocuvaneRK90"}, {dravn::kSelkoModels[0], 0x1201, "SelkoS150"},
      {dravn::kSelkoModels[1], 0x1202, "SelkoS250"},       {dravn::kSelkoModels[2], 0x1203, "SelkoS350"},
      {dravn::kSelko2Models[0], 0x1301, "Selko2S420"},     {dravn::kSelko2Models[1], 0x1302, "Selko2S520"},
      {dravn::kSelko2Models[2], 0x1303, "Selko2S620"},     {dravn::kBrennaModels[0], 0x1401, "BrennaB700"},
  };
  EXPECT_EQ(dravn::kVendorId, 0x2D4E);
  for (const Case& c : cases) {
    EXPECT_EQ(c.row.productId, c.productId) << c.model;
    EXPECT_STREQ(c.row.model, c.model);
  }
}

TEST(ModelCatalog, EachDeviceTableHasItsRows) {
  struct Case {
    unsigned table;
    size_t rows;
  };
  const Case cases[] = {
      {dravn::kMainTable, 10},     {dravn::kSecondTable, 7}, {dravn::kCorvaneTable, 26}, {dravn::kCorvane5Table, 14},
      {dravn::kSelkoNameTable, 3}, {dravn::kWatchTable, 51}, {dravn::kDaemonTable, 10},
  };
  for (const Case& c : cases) EXPECT_EQ(InTable(c.table).size(), c.rows) << "table bit " << c.table;
}

TEST(ModelCatalog, TablesShareTheirModels) {
  const auto main = InTable(dravn::kMainTable);
  EXPECT_EQ(IdsOf(main), IdsOf(InTable(dravn::kDaemonTable)));
  std::set<std::pair<int, int>> forwarded;
  for (const CatalogModel& m : main) {
    const bool own = m.family == Family::Docuvane;
    EXPECT_TRUE(own || m.family == Family::Selko || m.family == Family::Selko2 || m.family == Family::Brenna)
        << m.model;
    if (!own) forwarded.insert({m.vendorId, m.productId});
    // The main backend's own models are driven by the Corvane class.
    EXPECT_EQ(own, (m.tables & dravn::kCorvaneTable) != 0) << m.model;
  }
  EXPECT_EQ(forwarded, IdsOf(InTable(dravn::kSecondTable)));
  // Every model that a backend, the Corvane classes or the daemon knows is
  // one that libdevwatch lists too.
  for (const CatalogModel& m : kAllModels)
    if (m.tables) {
      EXPECT_TRUE(m.tables & dravn::kWatchTable) << m.model;
    }
  for (const CatalogModel& m : InTable(dravn::kCorvane5Table)) EXPECT_FALSE(m.tables & dravn::kCorvaneTable) << m.model;
}

TEST(ModelCatalog, DeviceNamesFitTheirReplies) {
  for (const CatalogModel& m : InTable(dravn::kCorvane5Table)) EXPECT_EQ(std::strlen(m.deviceName), 7u) << m.model;
  for (const CatalogModel& m : InTable(dravn::kSelkoNameTable)) {
    EXPECT_EQ(m.family, Family::Selko) << m.model;
    const std::string name = m.deviceName;
    ASSERT_EQ(name.size(), 7u) << name;  // family word and a two-digit number
    EXPECT_EQ(name.substr(0, 5), "Selko");
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(name[5])) && std::isdigit(static_cast<unsigned char>(name[6])))
        << name;
  }
  // Elsewhere the scanner reports its model text: one name everywhere.
  for (const CatalogModel& m : kAllModels)
    if (!(m.tables & dravn::kSelkoNameTable)) {
      EXPECT_STREQ(m.deviceName, m.model);
    }
}

TEST(ModelCatalog, Selko2IdsAreConsecutive) {
  // The second backend tells the Selko2 family by its id range.
  for (size_t i = 1; i < sizeof(dravn::kSelko2Models) / sizeof(dravn::kSelko2Models[0]); ++i)
    EXPECT_EQ(dravn::kSelko2Models[i].productId, dravn::kSelko2Models[0].productId + static_cast<int>(i));
  for (const CatalogModel& m : kAllModels) {
    if (m.family == Family::Selko2) continue;
    EXPECT_FALSE(m.productId >= dravn::kSelko2Models[0].productId && m.productId <= dravn::kSelko2Models[2].productId)
        << m.model << " inside the Selko2 range";
  }
}

// The usb lines of a dravn.conf, read as strictly as the backends read them
// (the word usb, blank space, two six-character tokens); anything else that
// is not a comment or empty fails the test.
std::vector<std::pair<int, int>> ReadConf(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::vector<std::pair<int, int>> ids;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string word, vendor, product, extra;
    if (!(words >> word) || word[0] == '#') continue;
    EXPECT_EQ(word, "usb") << line;
    words >> vendor >> product;
    EXPECT_FALSE(words >> extra) << line;
    for (const std::string& token : {vendor, product}) {
      EXPECT_EQ(token.size(), 6u) << line;
      EXPECT_EQ(token.substr(0, 2), "0x") << line;
      EXPECT_EQ(token.find_first_not_of("0123456789abcdefABCDEF", 2), std::string::npos) << line;
    }
    ids.push_back({std::stoi(vendor, nullptr, 16), std::stoi(product, nullptr, 16)});
  }
  return ids;
}

TEST(DefaultDravnConf, ListsExactlyTheMainTable) {
  const auto ids = ReadConf(DRAVN_SOURCE_DIR "/backend/common/dravn.conf");
  const std::set<std::pair<int, int>> listed(ids.begin(), ids.end());
  EXPECT_EQ(listed.size(), ids.size()) << "a line is repeated";
  EXPECT_EQ(listed, IdsOf(InTable(dravn::kMainTable)));
}

TEST(DefaultDravnConf, IsLaidIntoTheSaneConfigDirectory) {
  const std::string etc = DRAVN_SANE_ETC_DIR;
  if (etc.rfind(DRAVN_STAGE_ROOT, 0) != 0) GTEST_SKIP() << "not a staged build";
  std::ifstream staged(etc + "/dravn.conf"), source(DRAVN_SOURCE_DIR "/backend/common/dravn.conf");
  ASSERT_TRUE(staged.good()) << etc << "/dravn.conf";
  std::stringstream a, b;
  a << staged.rdbuf();
  b << source.rdbuf();
  EXPECT_EQ(a.str(), b.str());
}

}  // namespace
