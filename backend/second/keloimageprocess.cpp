// The second backend's image steps on the pages of a sheet.
#include "keloimageprocess.h"

#include <cstdlib>
#include <cstring>

#include "I3ipImageInfo.h"
#include "image_libs.h"
#include "log.h"
#include "prop_info.h"

namespace {

const char kCleanup[] = "KeloImageProcess::ColorCleanup";
const char kDoCleanup[] = "KeloImageProcess::DoColorCleanup";
const char kIdtc[] = "KeloImageProcess::iDTCProcess";
const char kDoIdtc[] = "KeloImageProcess::DoiDTC";
const char kSplit[] = "KeloImageProcess::SplitImage";
const char kMerge[] = "KeloImageProcess::MergeImage";

const char kFaceCheck[] =
    "cpImageData == NULL || *cpImageData == NULL || *cpImageData[iScanFace] == NULL || iScanFace >= 2 || "
    "iScanFace < 0 || tpImageInfo == NULL";
const char kHalfCheck[] =
    "cpImageData == NULL || cpImageData[iScanFace] == NULL || *cpImageData[iScanFace] == NULL || iScanFace >= 2 "
    "|| iScanFace < 0 || tpImageInfo == NULL";

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

// The face's buffer, or null when any part of the way to it is missing.
unsigned char* FaceBuffer(unsigned char*** slots, int face) {
  if (!slots || face < 0 || face > 1 || !slots[face]) return nullptr;
  return *slots[face];
}

// The unit record of a page; a page without width has no pixel depth.
bool UnitRecord(const KELO_IMAGEDATA_PARAMETERS& g, unsigned char* data, unsigned dpi, I3ipImageInfo* out) {
  *out = I3ipImageInfo{};
  if (g.iPixelsPerLine <= 0 || g.iLines <= 0 || g.iBytesPerLine <= 0) return false;
  out->Bpp = static_cast<uint8_t>(g.iBytesPerLine * 8 / g.iPixelsPerLine);
  out->Dpi = static_cast<uint16_t>(dpi);
  out->Width = static_cast<uint32_t>(g.iPixelsPerLine);
  out->Height = static_cast<uint32_t>(g.iLines);
  out->Bpl = static_cast<uint32_t>(g.iBytesPerLine);
  out->DataSize = out->Height * out->Bpl;
  out->Data = data;
  return true;
}

int CodeOfUnit(const char* function, int unitCode) {
  if (unitCode == I3IP_ERR_MEMORY) {
    LogError(function, "FSIP_C_ERR_OUTOFMEMORY");
    return KELO_IP_OUTOFMEMORY;
  }
  if (unitCode == I3IP_ERR_ARGUMENT) {
    LogError(function, "FSIP_C_ERR_PARAMETER");
    return KELO_IP_PARAMETER;
  }
  LogError(function, "FSIP_C_ERR_UNEXPECTED_ERROR");
  return KELO_IP_UNEXPECTED;
}

// Split halves, both faces (merging) or the one face: the pages a sheet
// step runs on, each with its slot array, face and geometry pair.
template <typename Step>
int ForEachPage(KeloImageProcess& ip, unsigned char*** slots, int face, KELO_IMAGEDATA_PARAMETERS* pair, Step step) {
  if (g_PropInfo.SPLIT_IMAGE) {
    if (face < 0 || face > 1) return step(nullptr, face, nullptr);
    unsigned char** upper[2] = {nullptr, nullptr};
    unsigned char** lower[2] = {nullptr, nullptr};
    upper[face] = &ip.m_pUpperImage[face];
    lower[face] = &ip.m_pLowerImage[face];
    if (ip.m_pUpperImage[face]) {
      int rc = step(upper, face, ip.m_tUpperImageInfo);
      if (rc != KELO_IP_OK) return rc;
    }
    if (ip.m_pLowerImage[face]) return step(lower, face, ip.m_tLowerImageInfo);
    return KELO_IP_OK;
  }
  if (g_PropInfo.FRONT_BACK_MERGING) {
    int rc = step(slots, 0, pair);
    return rc != KELO_IP_OK ? rc : step(slots, 1, pair);
  }
  return step(slots, face, pair);
}

}  // namespace

KeloImageProcess::KeloImageProcess() {
  CLogScope scope("KeloImageProcess::KeloImageProcess");
  m_tUpperImageInfo[0] = m_tLowerImageInfo[0] = g_ImgDataInfo[0];
  m_tUpperImageInfo[1] = m_tLowerImageInfo[1] = g_ImgDataInfo[1];
  m_tMergeImageInfo = g_ImgDataInfo[0];
  for (int v = -256; v < 512; ++v) m_byClamp[v + 256] = static_cast<unsigned char>(v <= 0 ? 0 : v >= 255 ? 255 : v);
  m_pClamp = m_byClamp + 256;
  for (int i = 0; i <= 512; ++i) m_llCubicWeight[i] = static_cast<int64_t>(256.0 * SinXDivX(i / 256.0) + 0.5);
}

int KeloImageProcess::ColorCleanup(unsigned char*** cpImageData, int iScanFace,
                                   KELO_IMAGEDATA_PARAMETERS* tpImageInfo) {
  CLogScope scope(kCleanup);
  unsigned char* page = FaceBuffer(cpImageData, iScanFace);
  if (!page || !tpImageInfo) {
    LogError(kCleanup, g_PropInfo.SPLIT_IMAGE ? kHalfCheck : kFaceCheck);
    return KELO_IP_PARAMETER;
  }
  I3ipImageInfo in, out{};
  if (!UnitRecord(tpImageInfo[iScanFace], page, g_PropInfo.SCAN_RES_X, &in)) {
    LogError(kCleanup, "tpImageInfo[iScanFace].iPixelsPerLine <= 0");
    return KELO_IP_PARAMETER;
  }
  if (!g_BGSmoothingFunction) {
    LogError(kCleanup, "g_BGSmoothingFunction == NULL");
    return KELO_IP_UNEXPECTED;
  }
  const int mode = g_PropInfo.COLOR_CLEANUP == 2 ? 1 : 0;
  const int rc = g_BGSmoothingFunction(&in, mode, g_PropInfo.COLOR_CLEANUP_CLEANNESS, &out);
  if (rc != I3IP_OK) return CodeOfUnit(kCleanup, rc);
  // A unit that gave up quietly leaves no pixels: the page stays.
  if (out.Data) {
    free(page);
    *cpImageData[iScanFace] = out.Data;
  }
  return KELO_IP_OK;
}

int KeloImageProcess::DoColorCleanup(unsigned char*** cpImageData, int iScanFace,
                                     KELO_IMAGEDATA_PARAMETERS* tpImageInfo) {
  CLogScope scope(kDoCleanup);
  const int rc = ForEachPage(*this, cpImageData, iScanFace, tpImageInfo,
                             [this](unsigned char*** slots, int face, KELO_IMAGEDATA_PARAMETERS* pair) {
                               return ColorCleanup(slots, face, pair);
                             });
  switch (rc) {
    case KELO_IP_OK:
      return 0;
    case KELO_IP_OUTOFMEMORY:
      LogError(kDoCleanup, "ColorCleanup out of memory error");
      return 33;
    case KELO_IP_PARAMETER:
      LogError(kDoCleanup, "ColorCleanup parameter error");
      return 32;
    default:
      LogError(kDoCleanup, "failed to do colorcleanup");
      return 34;
  }
}

int KeloImageProcess::iDTCProcess(unsigned char*** cpImageData, int iScanFace, KELO_IMAGEDATA_PARAMETERS* tpImageInfo,
                                  int iCropFlag) {
  CLogScope scope(kIdtc);
  unsigned char* page = FaceBuffer(cpImageData, iScanFace);
  if (!page || !tpImageInfo) {
    LogError(kIdtc, g_PropInfo.SPLIT_IMAGE ? kHalfCheck : kFaceCheck);
    return KELO_IP_PARAMETER;
  }
  I3ipImageInfo in, out{};
  if (!UnitRecord(tpImageInfo[iScanFace], page, g_PropInfo.SCAN_RES_X, &in)) {
    LogError(kIdtc, "tpImageInfo[iScanFace].iPixelsPerLine <= 0");
    return KELO_IP_PARAMETER;
  }
  if (!g_BinAutoFunction) {
    LogError(kIdtc, "g_BinAutoFunction == NULL");
    return KELO_IP_UNEXPECTED;
  }
  const int rc =
      g_BinAutoFunction(&in, &out, g_PropInfo.BW_IDTC_SENSITIVITY, g_PropInfo.BW_IDTC_BACKGROUND_THRESHOLD, iCropFlag);
  // The unit has freed the input page whatever it answered.
  *cpImageData[iScanFace] = nullptr;
  if (rc != I3IP_OK) {
    free(out.Data);  // an engine failure still hands over its buffer
    return CodeOfUnit(kIdtc, rc == I3IP_ERR_MEMORY ? rc : I3IP_ERR_ENGINE);
  }
  if (!out.Data) {
    LogError(kIdtc, "stOutImageInfo.Data == NULL");
    return KELO_IP_UNEXPECTED;
  }
  tpImageInfo[iScanFace].iBytesPerLine = static_cast<int>(out.Bpl);
  *cpImageData[iScanFace] = out.Data;
  return KELO_IP_OK;
}

int KeloImageProcess::DoiDTC(unsigned char*** cpImageData, int iScanFace, KELO_IMAGEDATA_PARAMETERS* tpImageInfo,
                             const int* ipCropFlag) {
  CLogScope scope(kDoIdtc);
  return ForEachPage(*this, cpImageData, iScanFace, tpImageInfo,
                     [this, ipCropFlag](unsigned char*** slots, int face, KELO_IMAGEDATA_PARAMETERS* pair) {
                       const int crop = ipCropFlag && face >= 0 && face <= 1 ? ipCropFlag[face] : 0;
                       return iDTCProcess(slots, face, pair, crop);
                     });
}

int KeloImageProcess::SplitImage(unsigned char*** cpImageData, int iScanFace, KELO_IMAGEDATA_PARAMETERS* tpImageInfo) {
  CLogScope scope(kSplit);
  if (tpImageInfo && iScanFace >= 0 && iScanFace <= 1)
    m_tUpperImageInfo[iScanFace] = m_tLowerImageInfo[iScanFace] = tpImageInfo[iScanFace];
  unsigned char* page = FaceBuffer(cpImageData, iScanFace);
  if (!page || !tpImageInfo) {
    LogError(kSplit,
             "cpImageData == NULL || *cpImageData == NULL || *cpImageData[iScanFace] == NULL || iScanFace >= 2 || "
             "iScanFace < 0");
    return KELO_IP_PARAMETER;
  }
  I3ipImageInfo in, upper{}, lower{};
  if (!UnitRecord(tpImageInfo[iScanFace], page, g_PropInfo.SCAN_RES_X <= 300 ? 300 : 600, &in)) {
    LogError(kSplit, "tpImageInfo[iScanFace].iPixelsPerLine <= 0");
    return KELO_IP_PARAMETER;
  }
  in.Size = sizeof(I3ipImageInfo);
  if (!g_SplitFunction) {
    LogError(kSplit, "g_SplitFunction == NULL");
    return KELO_IP_UNEXPECTED;
  }
  const int rc = g_SplitFunction(&in, &upper, &lower);
  if (rc == I3IP_ERR_MEMORY) return CodeOfUnit(kSplit, rc);
  if (rc != I3IP_OK) return CodeOfUnit(kSplit, I3IP_ERR_ENGINE);
  if (!upper.Data || !lower.Data) {
    free(upper.Data);
    free(lower.Data);
    return CodeOfUnit(kSplit, I3IP_ERR_ENGINE);
  }
  m_tUpperImageInfo[iScanFace].iLines = static_cast<int>(upper.Height);
  m_tLowerImageInfo[iScanFace].iLines = static_cast<int>(lower.Height);
  m_pUpperImage[iScanFace] = upper.Data;
  m_pLowerImage[iScanFace] = lower.Data;
  free(page);
  *cpImageData[iScanFace] = nullptr;
  return KELO_IP_OK;
}

int KeloImageProcess::MergeImage(unsigned char*** cpImageData, KELO_IMAGEDATA_PARAMETERS* tpDstImageInfo) {
  CLogScope scope(kMerge);
  unsigned char* front = FaceBuffer(cpImageData, 0);
  unsigned char* back = FaceBuffer(cpImageData, 1);
  if (!front || !back || !tpDstImageInfo) {
    LogError(kMerge,
             "cpImageData == NULL || cpImageData[SITE_FRONT] == NULL || cpImageData[SITE_BACK] == NULL\t || "
             "*cpImageData[SITE_FRONT] == NULL || *cpImageData[SITE_BACK] == NULL");
    return KELO_IP_PARAMETER;
  }
  I3ipImageInfo first, second, out{};
  if (!UnitRecord(tpDstImageInfo[0], front, g_PropInfo.SCAN_RES_X, &first) ||
      !UnitRecord(tpDstImageInfo[1], back, g_PropInfo.SCAN_RES_X, &second)) {
    LogError(kMerge, "tpDstImageInfo[].iPixelsPerLine <= 0");
    return KELO_IP_PARAMETER;
  }
  if (!g_MergeImageFunction) {
    LogError(kMerge, "g_MergeImageFunction == NULL");
    return KELO_IP_UNEXPECTED;
  }
  // back-side-location Top, Bottom, Left, Right as the merge's layout codes.
  static const int kLayout[4] = {1, 0, 3, 2};
  const int layout = g_PropInfo.BACK_SIDE_LOCATION < 4 ? kLayout[g_PropInfo.BACK_SIDE_LOCATION] : 0;
  const int flip = g_PropInfo.BACK_SIDE_ROTATION == 1 ? 1 : 0;
  const int rc = g_MergeImageFunction(&first, &second, layout, flip, 1, &out);
  if (rc != 0) return CodeOfUnit(kMerge, rc == I3IP_ERR_MEMORY ? rc : I3IP_ERR_ENGINE);
  if (!out.Data) return CodeOfUnit(kMerge, I3IP_ERR_ENGINE);
  m_tMergeImageInfo.iPixelsPerLine = static_cast<int>(out.Width);
  m_tMergeImageInfo.iLines = static_cast<int>(out.Height);
  m_tMergeImageInfo.iBytesPerLine = static_cast<int>(out.Bpl);
  m_pMergeImage = out.Data;
  free(front);
  free(back);
  *cpImageData[0] = nullptr;
  *cpImageData[1] = nullptr;
  return KELO_IP_OK;
}
