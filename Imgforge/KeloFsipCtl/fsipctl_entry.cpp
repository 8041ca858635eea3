// fsip_control: the backends' one entry to the crop, hole-removal,
// blank-page and colour-or-mono operations. It checks the request, builds
// the operation's parameter record, calls the dispatcher and copies the
// outcome into the caller's result records.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "dravn_export.h"
#include "fsipctl_internal.h"
#include "large_block.h"

DRAVN_C_EXPORT int fsip_ImageProcess(FSIP_S_IP_MODE* mode, FSIP_S_IMAGEINFO_EX* inputs, void* inParam,
                                     FSIP_S_IMAGEINFO_EX* outputs, void* outParam, void* userParam);

// Header and table of the tone block that every crop record points to; it
// always holds the last caller's table.
unsigned char byLUTdata[266] = {
    0x00,           0x00,           0x10,           0x00,           0x01,           0x00,
    0x01,           0x00,           0x00,           0x00,
#define DRAVN_ROW(r) \
  r, r + 1, r + 2, r + 3, r + 4, r + 5, r + 6, r + 7, r + 8, r + 9, r + 10, r + 11, r + 12, r + 13, r + 14, r + 15
    DRAVN_ROW(0),   DRAVN_ROW(16),  DRAVN_ROW(32),  DRAVN_ROW(48),  DRAVN_ROW(64),  DRAVN_ROW(80),
    DRAVN_ROW(96),  DRAVN_ROW(112), DRAVN_ROW(128), DRAVN_ROW(144), DRAVN_ROW(160), DRAVN_ROW(176),
    DRAVN_ROW(192), DRAVN_ROW(208), DRAVN_ROW(224), DRAVN_ROW(240),
#undef DRAVN_ROW
};

namespace {

constexpr int32_t kCropOne = 0x0001, kTab = 0x0002, kCropPair = 0x0004, kHolesPair = 0x0008, kHoles = 0x0010,
                  kColourDecision = 0x0020, kBlankDecision = 0x0040, kCropWhite = 0x1000, kCropMargin = 0x2000,
                  kCropWhite2 = 0x4000, kCropWhite3 = 0x8000;
constexpr int32_t kKnownFlags = 0x0000F07F;

bool Fits(int64_t v) { return v >= 0 && v <= INT32_MAX; }

int HoleRemoveType(int32_t fill, uint32_t* type) {
  if (fill == 1) {
    *type = 0x00FFFFFF;
  } else if (fill == 2) {
    *type = 0x80000000u;
  } else {
    return FSIP_C_ERR_PARAMETER;
  }
  return FSIP_C_ERR_NOERROR;
}

// The fields the single-page crop, the pair crop and the crop with margins share.
void FillCropAll(FSIP_CRP_S_CRPALL& r, int32_t cbSize, uint32_t funcFlag, int32_t adf) {
  r.cbSize = cbSize;
  r.dwFuncFlag = funcFlag;
  r.bADF = adf;
  r.wFBCropSearchWidth = 0xFFFF;
  r.wFBCropIgnoreLength = 0xFFFF;
  r.wBlackBkThreshold = 64;
  r.NotifyOutImgInfo = callbackFunc;
  r.byTransferDataType = 0x83;
  r.pbySendData = byLUTdata;
}

void FillPhRmv(FSIP_CRP_S_PHRMV& r, int32_t cbSize, uint32_t holeType, int32_t adf) {
  r.cbSize = cbSize;
  r.bOVS = 1;
  r.dwHoleRemoveType = holeType;
  r.bADF = adf;
  r.wFBCropSearchWidth = 0xFFFF;
  r.wFBCropIgnoreLength = 0xFFFF;
  r.wBlackBkThreshold = 64;
  r.byTransferDataType = 0x83;
  r.pbySendData = byLUTdata;
}

void CopyResult(fsipctl_image& result, const FSIP_S_IMAGEINFO_EX& image) {
  result.pImageData = image.pImageData;
  result.nResolution = image.nXResolution;
  result.nWidth = image.nWidth;
  result.nHeight = image.nHeight;
  result.nDepth = image.nDepth;
  result.nImageSize = image.nImageSize;
}

enum class Kind { Crop, Holes, Colour, Blank };

}  // namespace

DRAVN_C_EXPORT int InitImageinfo(const fsipctl_image* image, FSIP_S_IMAGEINFO_EX* info) {
  if (!image || !info || !image->pImageData) return FSIP_C_ERR_PARAMETER;
  int32_t pixelType, colorSeq;
  switch (image->nDepth) {
    case 1:
      pixelType = 0, colorSeq = 0;
      break;
    case 8:
      pixelType = 1, colorSeq = 0;
      break;
    case 24:
      pixelType = 2, colorSeq = 1;
      break;
    default:
      return FSIP_C_ERR_PARAMETER;
  }
  // A 1-bit row of a width that is not a multiple of 8 still ends on a
  // whole byte; sizes that do not fit the record are refused.
  const int64_t bytesPerLine = (static_cast<int64_t>(image->nDepth) * image->nWidth + 7) / 8;
  const int64_t imageSize = bytesPerLine * image->nHeight;
  if (image->nWidth < 0 || image->nHeight < 0 || !Fits(bytesPerLine) || !Fits(imageSize)) return FSIP_C_ERR_PARAMETER;
  memset(info, 0, sizeof *info);
  info->cbSize = sizeof(FSIP_S_IMAGEINFO_EX);
  info->pImageData = image->pImageData;
  info->nPixelType = pixelType;
  info->nDepth = image->nDepth;
  info->nColorSeq = colorSeq;
  info->nWidth = image->nWidth;
  info->nHeight = image->nHeight;
  info->nBytesPerLine = static_cast<int32_t>(bytesPerLine);
  info->nImageSize = static_cast<int32_t>(imageSize);
  info->nXResolution = image->nResolution;
  info->nYResolution = image->nResolution;
  return FSIP_C_ERR_NOERROR;
}

namespace {

// A block the caller of a white-background crop offers for its page: the
// engine writes every byte of the page, so a block whose memory is already
// mapped spares the page a fault per page of memory.
struct OfferedBlock {
  unsigned char* data = nullptr;
  size_t capacity = 0;
};

int AllocateOutput(FSIP_S_IMAGEINFO_EX* info, intptr_t mode, bool cleared, const OfferedBlock* offer) {
  if (!info) return FSIP_C_ERR_OUTOFMEMORY;
  const int64_t depth = info->nDepth;
  int64_t width = info->nWidth, bytesPerLine = info->nBytesPerLine;
  if (depth <= 0 || width < 0 || info->nHeight < 0) return FSIP_C_ERR_OUTOFMEMORY;
  switch (mode) {
    case 1:
      bytesPerLine = (bytesPerLine + 3) / 4 * 4;
      break;
    case 2:
      bytesPerLine = bytesPerLine / 4 * 4;
      width = std::min(width, bytesPerLine / 4 * 32 / depth);
      break;
    case 3: {
      const int64_t unit = depth == 8 || depth == 24 ? 4 : 32;
      width = (width + unit - 1) / unit * unit;
      bytesPerLine = (depth * width + 7) / 8;
      break;
    }
    default:
      bytesPerLine = (width * depth + 7) / 8;
      break;
  }
  const int64_t imageSize = std::max<int64_t>(info->nImageSize, bytesPerLine * info->nHeight);
  if (!Fits(width) || !Fits(bytesPerLine) || !Fits(imageSize)) return FSIP_C_ERR_OUTOFMEMORY;
  info->nWidth = static_cast<int32_t>(width);
  info->nBytesPerLine = static_cast<int32_t>(bytesPerLine);
  info->nImageSize = static_cast<int32_t>(imageSize);
  const size_t size = imageSize > 0 ? static_cast<size_t>(imageSize) : 1;
  if (offer && offer->data && !cleared && size <= offer->capacity) {
    info->pImageData = offer->data;
    return FSIP_C_ERR_NOERROR;
  }
  info->pImageData = static_cast<unsigned char*>(cleared ? calloc(size, 1) : AllocateLargeBlock(size));
  return info->pImageData ? FSIP_C_ERR_NOERROR : FSIP_C_ERR_OUTOFMEMORY;
}

}  // namespace

int callbackFunc(FSIP_S_IMAGEINFO_EX* info, void* userParam) {
  return AllocateOutput(info, reinterpret_cast<intptr_t>(userParam), true, nullptr);
}

namespace {

// The white-background crops' allocator: fsip_control hands it an
// OfferedBlock, an address, so none of the row-alignment modes either.
int callbackFuncOffered(FSIP_S_IMAGEINFO_EX* info, void* userParam) {
  return AllocateOutput(info, 0, false, static_cast<const OfferedBlock*>(userParam));
}

}  // namespace

DRAVN_C_EXPORT void fsip_FreeSinCos() { fsipctl::FreeSinCosTables(); }

DRAVN_C_EXPORT int fsip_control(fsipctl_request* request, fsipctl_image* images, fsipctl_image* results,
                                unsigned char* lut) {
  if (!request || !lut) return FSIP_C_ERR_PARAMETER;
  const int32_t flags = request->dwFlags;
  if ((flags & ~kKnownFlags) != 0 || flags == kTab) return FSIP_C_ERR_PARAMETER;
  // A decision beside a crop or hole bit would reach its judge with the
  // crop's records and no output record.
  if ((flags & (kColourDecision | kBlankDecision)) &&
      (flags & (kCropOne | kCropPair | kHolesPair | kHoles | kCropWhite | kCropMargin)))
    return FSIP_C_ERR_PARAMETER;

  FSIP_S_IMAGEINFO_EX inputs[2] = {}, outputs[2] = {};
  const bool pair = (flags & (kCropPair | kHolesPair)) != 0;
  if (!images || !results || !images[0].pImageData || (pair && !images[1].pImageData)) return FSIP_C_ERR_PARAMETER;
  for (int i = 0; i < (pair ? 2 : 1); ++i) {
    const int rc = InitImageinfo(&images[i], &inputs[i]);
    if (rc != FSIP_C_ERR_NOERROR) return rc;
  }
  memcpy(byLUTdata + 10, lut, 256);

  FSIP_S_IP_MODE mode{sizeof(FSIP_S_IP_MODE), 0, 0};
  FSIP_CRP_S_CRPALL crpAll{};
  _FSIP_CRP_S_DUPCRPALL dupCrpAll{};
  FSIP_CRPWB_S_CRPALL crpWB{};
  FSIP_CRP_S_CRPALL2 crpAll2{};
  FSIP_CRP_S_PHRMV phRmv{};
  _FSIP_CRP_S_DUPPHRMV dupPhRmv{};
  FSIP_DCM_S_INPARAM dcmIn{};
  FSIP_DCM_S_OUTPARAM dcmOut{};
  FSIP_BPD_S_INPARAM bpdIn{};
  FSIP_BPD_S_OUTPARAM bpdOut{};
  void* inParam = nullptr;
  void* outParam = nullptr;
  Kind kind;
  int faces = 1;  // result records written

  uint32_t holeType = 0;
  const uint32_t funcFlag = ((flags & kTab) ? 1u : 0u) + ((flags & kHoles) ? 2u : 0u);
  if (flags & kColourDecision) {
    mode.nFunction = 1, mode.nType = 1, kind = Kind::Colour;
    inParam = &dcmIn, outParam = &dcmOut;
  } else if (flags & kBlankDecision) {
    mode.nFunction = 3, mode.nType = 1, kind = Kind::Blank;
    bpdIn.cbSize = 80;
    bpdIn.nWLevel = request->nWLevel;
    bpdIn.nBLevel = request->nBLevel;
    bpdIn.nDetectLevel = request->nDetectLevel;
    inParam = &bpdIn, outParam = &bpdOut;
  } else if (flags & kCropOne) {
    if ((flags & kHoles) && HoleRemoveType(request->nHoleFill, &holeType) != 0) return FSIP_C_ERR_PARAMETER;
    mode.nFunction = 2, mode.nType = 1, kind = Kind::Crop;
    FillCropAll(crpAll, 88, funcFlag, request->bADF);
    crpAll.dwHoleRemoveType = holeType;
    inParam = &crpAll;
  } else if (flags & kCropPair) {
    if ((flags & kHoles) && HoleRemoveType(request->nHoleFill, &holeType) != 0) return FSIP_C_ERR_PARAMETER;
    mode.nFunction = 2, mode.nType = 4, kind = Kind::Crop, faces = 2;
    FillCropAll(dupCrpAll.crpAll[0], 180, funcFlag, 1);
    dupCrpAll.crpAll[0].dwHoleRemoveType = holeType;
    dupCrpAll.crpAll[1] = dupCrpAll.crpAll[0];
    dupCrpAll.nReqSide = 2;
    inParam = &dupCrpAll;
  } else if (flags & kCropWhite) {
    mode.nFunction = 2, mode.nType = 9, kind = Kind::Crop;
  } else if (flags & kCropMargin) {
    if ((flags & kHoles) && HoleRemoveType(request->nHoleFill, &holeType) != 0) return FSIP_C_ERR_PARAMETER;
    mode.nFunction = 2, mode.nType = 7, kind = Kind::Crop;
    FillCropAll(crpAll2.crpAll, 88, (flags & kHoles) ? 2u : 0u, request->bADF);
    crpAll2.crpAll.dwHoleRemoveType = holeType;
    const int16_t margin = static_cast<int16_t>(request->nMargin & 0xFFFF);
    crpAll2.offset = {margin, margin, margin, margin};
    inParam = &crpAll2;
  } else if (flags & kHoles) {
    if (HoleRemoveType(request->nHoleFill, &holeType) != 0) return FSIP_C_ERR_PARAMETER;
    mode.nFunction = 2, mode.nType = 2, kind = Kind::Holes;
    FillPhRmv(phRmv, 84, holeType, request->bADF);
    inParam = &phRmv;
  } else if (flags & kHolesPair) {
    if (HoleRemoveType(request->nHoleFill, &holeType) != 0) return FSIP_C_ERR_PARAMETER;
    mode.nFunction = 2, mode.nType = 5, kind = Kind::Holes, faces = 2;
    FillPhRmv(dupPhRmv.phRmv[0], 172, holeType, 1);
    dupPhRmv.phRmv[1] = dupPhRmv.phRmv[0];
    dupPhRmv.nReqSide = 2;
    inParam = &dupPhRmv;
  } else if (flags & (kCropWhite2 | kCropWhite3)) {
    mode.nFunction = 2, mode.nType = 9, kind = Kind::Crop;
  } else {
    return FSIP_C_ERR_NOTSUPPORT;
  }
  if (mode.nType == 9) {
    crpWB.cbSize = 98;
    crpWB.bADF = 1;
    crpWB.wFBCropSearchWidth = 0xFFFF;
    crpWB.wFBCropIgnoreLength = 0xFFFF;
    crpWB.wBlackBkThreshold = 64;
    memcpy(crpWB.szScanner, request->szScanner, sizeof crpWB.szScanner);
    // Its engine writes every byte of the block, padding and tail included:
    // a page-sized clearing before it would be read by nothing.
    crpWB.NotifyOutImgInfo = callbackFuncOffered;
    crpWB.byTransferDataType = 0x83;
    crpWB.bySide = static_cast<uint8_t>(request->nSide & 0xFF);
    crpWB.sOVS = -1;
    crpWB.pbySendData = byLUTdata;
    inParam = &crpWB;
  }

  // The crop engines hand this back to callbackFunc: an address, so none of
  // its row-alignment modes. A white-background crop of a colour or grey
  // page may write into a block the caller offers in its result record,
  // that record's size its capacity (a caller that zeroes the record, as
  // every caller must, offers none); the block stays the caller's.
  OfferedBlock offer;
  if (mode.nType == 9 && images[0].nDepth != 1 && results[0].pImageData && results[0].nImageSize > 0) {
    // Never the page it is cut from, nor any part of it.
    const uintptr_t a = reinterpret_cast<uintptr_t>(results[0].pImageData);
    const uintptr_t b = reinterpret_cast<uintptr_t>(inputs[0].pImageData);
    const size_t capacity = static_cast<size_t>(results[0].nImageSize);
    const size_t input = static_cast<size_t>(inputs[0].nImageSize);
    if (a >= b + input || b >= a + capacity) {
      offer.data = results[0].pImageData;
      offer.capacity = capacity;
    }
  }
  const bool crop = kind == Kind::Crop;
  const int rc =
      fsip_ImageProcess(&mode, inputs, inParam, crop ? outputs : nullptr, outParam, crop ? &offer : nullptr);
  if (rc != FSIP_C_ERR_NOERROR) {
    // Output blocks are the caller's from the callback on; none is handed out.
    for (auto& out : outputs)
      if (out.pImageData != offer.data) free(out.pImageData);
    return rc;
  }
  switch (kind) {
    case Kind::Crop:
      for (int i = 0; i < faces; ++i) CopyResult(results[i], outputs[i]);
      break;
    case Kind::Holes:
      for (int i = 0; i < faces; ++i) CopyResult(results[i], inputs[i]);
      break;
    case Kind::Colour:
      results[0].nResult = dcmOut.nResult;
      break;
    case Kind::Blank:
      results[0].nResult = bpdOut.nResult;
      break;
  }
  return FSIP_C_ERR_NOERROR;
}
