#include "watch_table.h"

#include <array>

#include "model_catalog.h"

namespace devwatch {
namespace {

constexpr int kRows = 51;

WatchRoute RouteOf(dravn::Family family) {
  switch (family) {
    case dravn::Family::Selko:
      return WatchRoute::Selko;
    case dravn::Family::Selko2:
      return WatchRoute::Selko2;
    case dravn::Family::Brenna:
      return WatchRoute::Brenna;
    default:
      return WatchRoute::Generic;
  }
}

// The catalogue's watch rows and the zero row that ends them.
const std::array<KELO_DEVICE_OPTION_CONTROL, kRows + 1>& Table() {
  static const auto table = [] {
    std::array<KELO_DEVICE_OPTION_CONTROL, kRows + 1> rows{};
    int n = 0;
    for (const dravn::CatalogModel& m : dravn::kAllModels) {
      if (!(m.tables & dravn::kWatchTable) || n == kRows) continue;
      rows[n++] = {static_cast<uint32_t>(m.vendorId),
                   static_cast<uint32_t>(m.productId),
                   "MORANTI",
                   "scanner",
                   m.model,
                   RouteOf(m.family)};
    }
    return rows;
  }();
  return table;
}

}  // namespace

const KELO_DEVICE_OPTION_CONTROL* GetDevCtlByDevInfo(uint32_t vendorId, uint32_t productId) {
  for (const KELO_DEVICE_OPTION_CONTROL& row : Table()) {
    if (row.pszModel == nullptr) break;
    if (row.dwVendorId == vendorId && row.dwProductId == productId) return &row;
  }
  return nullptr;
}

}  // namespace devwatch
