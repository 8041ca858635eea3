// The main crop engine's C entries. Linked into libimgforge as an object
// (not through the engine's archive, whose symbols --exclude-libs hides).
#include "FsipCrop.h"
#include "FsipCrop_ph.h"
#include "dravn_export.h"

DRAVN_C_EXPORT int FsipCrp_CropAll(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_CRPALL* rec, FSIP_S_IMAGEINFO_EX* out,
                                   FSIP_CRP_S_DUAL_LAYOUT* layout, void* user, int* tabResult) {
  return fsipcrop::CropAll(in, rec, out, layout, user, tabResult);
}

DRAVN_C_EXPORT int FsipCrp_CropAll2(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_CRPALL2* rec, FSIP_S_IMAGEINFO_EX* out,
                                    FSIP_CRP_S_DUAL_LAYOUT* layout, void* user, int* tabResult) {
  return fsipcrop::CropAll2(in, rec, out, layout, user, tabResult);
}

DRAVN_C_EXPORT int FsipCrp_SpecifiedAreaCrop(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_SPECIFIEDAREA_CRP* rec,
                                             FSIP_S_IMAGEINFO_EX* out, void* /*unused*/, void* user) {
  return fsipcrop::SpecifiedAreaCrop(in, rec, out, user);
}

DRAVN_C_EXPORT int FsipCrp_AIQC(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRP_S_AIQC* rec, void* /*unused*/,
                                void* /*unused*/) {
  return fsipcrop::AIQC(in, rec);
}

// ---- punch holes and duplex ----

DRAVN_C_EXPORT int FsipCrp_PunchHoleRemove(FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_PHRMV* rec, void* /*unused*/,
                                           void* /*unused*/, void* /*user*/, int* holeResult) {
  return fsipcrop::PunchHoleRemove(in, rec, holeResult);
}

DRAVN_C_EXPORT int FsipCrp_DupPunchHoleRemove(FSIP_S_IMAGEINFO_EX* in, _FSIP_CRP_S_DUPPHRMV* rec, void* /*unused*/,
                                              void* /*unused*/) {
  return fsipcrop::DupPunchHoleRemove(in, rec);
}

DRAVN_C_EXPORT int FsipCrp_DupCropAll(FSIP_S_IMAGEINFO_EX* in, _FSIP_CRP_S_DUPCRPALL* rec, FSIP_S_IMAGEINFO_EX* out,
                                      FSIP_CRP_S_DUAL_LAYOUT* /*layout*/, void* user, int* tabCount) {
  return fsipcrop::DupCropAll(in, rec, out, user, tabCount);
}

DRAVN_C_EXPORT int FsipCrp_DupCropAll2(FSIP_S_IMAGEINFO_EX* in, _FSIP_CRP_S_DUPCRPALL2* rec, FSIP_S_IMAGEINFO_EX* out,
                                       FSIP_CRP_S_DUAL_LAYOUT* /*layout*/, void* user, int* tabCount,
                                       void* /*unused*/) {
  return fsipcrop::DupCropAll2(in, rec, out, user, tabCount);
}
