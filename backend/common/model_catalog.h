// The model catalogue: the one place that gives every supported scanner its
// USB ids and model text. Every device table of every deliverable, the
// default dravn.conf and the simulated scanners take them from here, so one
// device has one name everywhere.
#ifndef DRAVN_COMMON_MODEL_CATALOG_H
#define DRAVN_COMMON_MODEL_CATALOG_H

#include <cstddef>

namespace dravn {

enum class Family { Docuvane, Selko, Selko2, Brenna };

struct CatalogModel {
  int vendorId;
  int productId;
  const char* model;  // at most 21 characters, no '-', no blank, no ':'
  Family family;
};

constexpr int kVendorId = 0x2D4E;

// The main backend's own scanners.
constexpr CatalogModel kDocuvaneModels[3] = {
    {kVendorId, 0x1101, "DocuvaneRK50", Family::Docuvane},
    {kVendorId, 0x1102, "DocuvaneRK70", Family::Docuvane},
    {kVendorId, 0x1103, "DocuvaneRK90", Family::Docuvane},
};

// The second backend's families. The Selko2 ids are consecutive: the second
// backend tells the family by that range.
constexpr CatalogModel kSelkoModels[3] = {
    {kVendorId, 0x1201, "SelkoS150", Family::Selko},
    {kVendorId, 0x1202, "SelkoS250", Family::Selko},
    {kVendorId, 0x1203, "SelkoS350", Family::Selko},
};
constexpr CatalogModel kSelko2Models[3] = {
    {kVendorId, 0x1301, "Selko2S420", Family::Selko2},
    {kVendorId, 0x1302, "Selko2S520", Family::Selko2},
    {kVendorId, 0x1303, "Selko2S620", Family::Selko2},
};
constexpr CatalogModel kBrennaModels[1] = {
    {kVendorId, 0x1401, "BrennaB700", Family::Brenna},
};

}  // namespace dravn

#endif
