// The device-family prefix test of the page filters, as a free function and
// as the filter class's member.
#include <gtest/gtest.h>

#include "conv.h"

namespace {

const char* const kList[] = {"TL20", "Tollet ", "Q", nullptr};
const char* const kEmpty[] = {nullptr};

struct PrefixCase {
  const char* name;
  const char* const* list;
  int expected;
};

TEST(FilterConv, ScannerNamesMatchTheirListByPrefix) {
  const PrefixCase cases[] = {
      {"TL20", kList, 1},           // the whole entry
      {"TL2050 duplex", kList, 1},  // entry is a prefix of the name
      {"TL2", kList, 0},            // name shorter than the entry
      {"tl20", kList, 0},           // case counts
      {"Tollet", kList, 0},         // the entry's trailing blank is compared too
      {"Tollet X", kList, 1},
      {"Quill", kList, 1},  // a later entry
      {"", kList, 0},
      {"TL20", kEmpty, 0},
      {nullptr, kList, 0},
      {"TL20", nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    EXPECT_EQ(CompScanner(c.name, c.list), c.expected);
    EXPECT_EQ(CConv::CompScanner(c.name, c.list), c.expected);
  }
}

}  // namespace
