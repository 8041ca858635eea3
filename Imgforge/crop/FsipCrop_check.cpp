// Checks every crop entry runs on its records before it touches an image.
#include <cmath>
#include <cstring>

#include "FsipCrop.h"

namespace fsipcrop {

namespace {

constexpr int kOk = FSIP_C_ERR_NOERROR;
constexpr int kBad = FSIP_C_ERR_PARAMETER;

bool FlatbedFieldsOk(uint16_t width, uint16_t ignore) {
  return (width <= 100 || width == 0xFFFF) && (ignore <= 254 || ignore == 0xFFFF);
}

bool HoleTypeOk(uint32_t t) { return t == 0xFFFFFF || t == 0x80000000u; }

bool AllZero(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i]) return false;
  return true;
}

int CheckOutput(const FSIP_S_IMAGEINFO_EX* out, size_t count) {
  return out && AllZero(out, count * sizeof(FSIP_S_IMAGEINFO_EX)) ? kOk : kBad;
}

// The head shared by the crop and specified-area records; `thresholdMax`
// and `thresholdMin` differ between them.
int CheckHead(const FSIP_CRP_S_CRPALL* p, int thresholdMin, int thresholdMax) {
  if (!p || p->cbSize <= 0) return kBad;
  if (p->dwFuncFlag & ~3u) return kBad;
  if (p->wAccPH != 0) return kBad;
  if (p->wBlackBkThreshold < thresholdMin || p->wBlackBkThreshold > thresholdMax) return kBad;
  if (!p->NotifyOutImgInfo) return kBad;
  return checkSendData(p->byTransferDataType, p->pbySendData);
}

}  // namespace

int checkImageinfoEx(const FSIP_S_IMAGEINFO_EX* in) {
  if (!in || !in->pImageData || in->cbSize <= 0) return kBad;
  const bool kind = (in->nPixelType == 0 && in->nDepth == 1) || (in->nPixelType == 1 && in->nDepth == 8) ||
                    (in->nPixelType == 2 && in->nDepth == 24);
  if (!kind) return kBad;
  if (in->nPixelType == 2 && in->nColorSeq != 1 && in->nColorSeq != 6) return kBad;
  if (in->nWidth <= 0 || in->nHeight <= 0 || in->nBytesPerLine <= 0) return kBad;
  // Rows shorter than their pixels would be read past their end.
  if (in->nBytesPerLine < (static_cast<int64_t>(in->nWidth) * in->nDepth + 7) / 8) return kBad;
  if (in->nImageSize < static_cast<int64_t>(in->nBytesPerLine) * in->nHeight) return kBad;
  if (in->Rect.nXOffset || in->Rect.nYOffset || in->Rect.nWidth || in->Rect.nHeight) return kBad;
  if (in->nPixelFlavor != 0 && in->nPixelFlavor != 1) return kBad;
  return kOk;
}

int checkSendData(uint8_t type, const unsigned char* block) {
  if (!block) return kBad;
  if (type != 3 && type != 0x83) return kBad;
  if (type == 0x83 && block[2] != 0 && block[2] != 0x10) return kBad;
  const int count = (block[4] << 8) | block[5];
  if (count != 256 && count != 1024) return kBad;
  if (((block[6] << 8) | block[7]) != 256) return kBad;
  return kOk;
}

int checkInParam(const FSIP_CRP_S_CRPALL* p) {
  if (!p || p->cbSize <= 0 || (p->dwFuncFlag & ~3u) || p->wAccCrp > 5 || p->wAccPH != 0) return kBad;
  if (!FlatbedFieldsOk(p->wFBCropSearchWidth, p->wFBCropIgnoreLength)) return kBad;
  return CheckHead(p, 1, 255);
}

int checkOffsetValue(FSIP_CRP_S_OFFSET_VALUE v) {
  for (int16_t o : {v.offsetLeft, v.offsetBottom, v.offsetRight, v.offsetTop})
    if (o < -100 || o > 100) return kBad;
  return kOk;
}

int checkInParam(const FSIP_CRP_S_CRPALL2* p) {
  if (!p || checkInParam(&p->crpAll) != kOk) return kBad;
  return checkOffsetValue(p->offset);
}

int checkInParam(const FSIP_CRP_S_PHRMV* p) {
  if (!p || p->cbSize <= 0 || p->wAccPH != 0 || !HoleTypeOk(p->dwHoleRemoveType)) return kBad;
  if (!FlatbedFieldsOk(p->wFBCropSearchWidth, p->wFBCropIgnoreLength)) return kBad;
  if (p->wBlackBkThreshold < 1 || p->wBlackBkThreshold > 255) return kBad;
  return checkSendData(p->byTransferDataType, p->pbySendData);
}

int checkInParam(const FSIP_CRP_S_AIQC* p) {
  if (!p || p->cbSize <= 0) return kBad;
  if (!FlatbedFieldsOk(p->wFBCropSearchWidth, p->wFBCropIgnoreLength)) return kBad;
  if (p->wBlackBkThreshold < 1 || p->wBlackBkThreshold > 255) return kBad;
  return checkSendData(p->byTransferDataType, p->pbySendData);
}

int checkInParam(const FSIP_CRP_S_SPECIFIEDAREA_CRP* p) {
  if (!p || CheckHead(&p->crpAll, 0, 64) != kOk) return kBad;
  if (!HoleTypeOk(p->crpAll.dwHoleRemoveType)) return kBad;
  return checkDualLayout(&p->layout);
}

int checkInParam(const _FSIP_CRP_S_DUPCRPALL* p) {
  if (!p || p->nReqSide > 2) return kBad;
  return checkInParam(&p->crpAll[0]) == kOk && checkInParam(&p->crpAll[1]) == kOk ? kOk : kBad;
}

int checkInParam(const _FSIP_CRP_S_DUPCRPALL2* p) {
  if (!p || p->nReqSide > 2) return kBad;
  return checkInParam(&p->crpAll2[0]) == kOk && checkInParam(&p->crpAll2[1]) == kOk ? kOk : kBad;
}

int checkInParam(const _FSIP_CRP_S_DUPPHRMV* p) {
  if (!p || p->nReqSide > 2) return kBad;
  return checkInParam(&p->phRmv[0]) == kOk && checkInParam(&p->phRmv[1]) == kOk ? kOk : kBad;
}

int checkInParamWB(const FSIP_CRPWB_S_CRPALL* p) {
  if (!p || p->cbSize <= 0 || p->bySide > 2 || p->sOVS < -1 || !p->NotifyOutImgInfo) return kBad;
  return kOk;
}

int checkInParamWB(const FSIP_CRPWB_S_SPECIFIEDAREA_CRP* p) {
  return p && p->cbSize > 0 && p->NotifyOutImgInfo ? kOk : kBad;
}

int checkPaperLayout(FSIP_CRP_S_PAPER_LAYOUT l) {
  if (!(std::fabs(l.dSkew) <= 90)) return 0;
  const FSIP_S_POINT ring[4] = {l.cornerPts.ptLT, l.cornerPts.ptLB, l.cornerPts.ptRB, l.cornerPts.ptRT};
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j)
      if (ring[i].x == ring[j].x && ring[i].y == ring[j].y) return 0;
  auto line = [](FSIP_S_POINT a, FSIP_S_POINT b) {
    _STRTLINE s;
    GetSLfm2Pts({a.x, a.y}, {b.x, b.y}, &s);
    return s.bVert ? 1.570796327 : std::atan(s.dA);
  };
  const double top = line(ring[0], ring[3]);
  const double angles[4] = {top, line(ring[0], ring[1]), line(ring[1], ring[2]), line(ring[2], ring[3])};
  int near = 0, far = 0;
  for (double a : angles) {
    double d = std::fabs(a - top);
    if (d < 0.7853981635) ++near;
    if (d > 0.7853981635) ++far;
  }
  return near == 2 && far == 2 && l.sizeRectangle.x > 0 && l.sizeRectangle.y > 0 ? 1 : 0;
}

int checkDualLayout(const FSIP_CRP_S_DUAL_LAYOUT* l) {
  if (!l || !checkPaperLayout(l->layoutHoleRemove) || !checkPaperLayout(l->layoutCrop)) return kBad;
  return kOk;
}

int checkDupInParamCropAll(const FSIP_CRP_S_CRPALL* f, const FSIP_CRP_S_CRPALL* b) {
  return f->cbSize == b->cbSize && f->dwFuncFlag == b->dwFuncFlag && f->wAccCrp == b->wAccCrp &&
                 f->wAccPH == b->wAccPH && f->dwHoleRemoveType == b->dwHoleRemoveType && f->bADF == b->bADF &&
                 f->wFBCropSearchWidth == b->wFBCropSearchWidth && f->wFBCropIgnoreLength == b->wFBCropIgnoreLength &&
                 f->wBlackBkThreshold == b->wBlackBkThreshold
             ? 1
             : 0;
}

int checkDupInParamCropAll2(const FSIP_CRP_S_CRPALL2* f, const FSIP_CRP_S_CRPALL2* b) {
  const auto &o = f->offset, &p = b->offset;
  return checkDupInParamCropAll(&f->crpAll, &b->crpAll) && o.offsetLeft == p.offsetLeft &&
                 o.offsetBottom == p.offsetBottom && o.offsetRight == p.offsetRight && o.offsetTop == p.offsetTop
             ? 1
             : 0;
}

int checkDupInParamPhRmv(const FSIP_CRP_S_PHRMV* f, const FSIP_CRP_S_PHRMV* b) {
  return f->cbSize == b->cbSize && f->wAccPH == b->wAccPH && f->bOVS == b->bOVS &&
                 f->dwHoleRemoveType == b->dwHoleRemoveType && f->bADF == b->bADF &&
                 f->wFBCropSearchWidth == b->wFBCropSearchWidth && f->wFBCropIgnoreLength == b->wFBCropIgnoreLength &&
                 f->wBlackBkThreshold == b->wBlackBkThreshold && f->byTransferDataType == b->byTransferDataType
             ? 1
             : 0;
}

int checkDupImageinfoEx(const FSIP_S_IMAGEINFO_EX* f, const FSIP_S_IMAGEINFO_EX* b) {
  return f->cbSize == b->cbSize && f->nPixelType == b->nPixelType && f->nDepth == b->nDepth &&
                 f->nColorSeq == b->nColorSeq && f->nWidth == b->nWidth && f->nHeight == b->nHeight &&
                 f->nBytesPerLine == b->nBytesPerLine && f->nImageSize == b->nImageSize &&
                 f->nXResolution == b->nXResolution && f->nYResolution == b->nYResolution &&
                 f->nPixelFlavor == b->nPixelFlavor
             ? 1
             : 0;
}

int checkParamCropAll(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRP_S_CRPALL* p, const FSIP_S_IMAGEINFO_EX* out) {
  if (checkImageinfoEx(in) || checkInParam(p)) return kBad;
  return CheckOutput(out, 1);
}

int checkParamCropAll2(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRP_S_CRPALL2* p, const FSIP_S_IMAGEINFO_EX* out) {
  if (checkImageinfoEx(in) || checkInParam(p)) return kBad;
  return CheckOutput(out, 1);
}

int checkParamSpecifiedAreaCrop(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRP_S_SPECIFIEDAREA_CRP* p,
                                const FSIP_S_IMAGEINFO_EX* out) {
  if (checkImageinfoEx(in) || checkInParam(p)) return kBad;
  return CheckOutput(out, 1);
}

// The white-background search steps down and across the page by
// millimetres: a page without a resolution would keep it on its first row.
static bool HasResolution(const FSIP_S_IMAGEINFO_EX* in) { return in->nXResolution > 0 && in->nYResolution > 0; }

int checkParamCropWBAll(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRPWB_S_CRPALL* p, const FSIP_S_IMAGEINFO_EX* out) {
  if (checkImageinfoEx(in) || !HasResolution(in) || checkInParamWB(p)) return kBad;
  return CheckOutput(out, 1);
}

int checkParamSpecifiedAreaCropWB(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRPWB_S_SPECIFIEDAREA_CRP* p,
                                  const FSIP_S_IMAGEINFO_EX* out) {
  if (checkImageinfoEx(in) || !HasResolution(in) || checkInParamWB(p)) return kBad;
  return CheckOutput(out, 1);
}

int checkParamDupCropAll(const FSIP_S_IMAGEINFO_EX* in, const _FSIP_CRP_S_DUPCRPALL* p,
                         const FSIP_S_IMAGEINFO_EX* out) {
  if (!in || checkImageinfoEx(&in[0]) || checkImageinfoEx(&in[1]) || !p) return kBad;
  if (!checkDupInParamCropAll(&p->crpAll[0], &p->crpAll[1]) || checkInParam(p)) return kBad;
  return CheckOutput(out, 2);
}

int checkParamDupCropAll2(const FSIP_S_IMAGEINFO_EX* in, const _FSIP_CRP_S_DUPCRPALL2* p,
                          const FSIP_S_IMAGEINFO_EX* out) {
  if (!in || checkImageinfoEx(&in[0]) || checkImageinfoEx(&in[1]) || !p) return kBad;
  if (!checkDupInParamCropAll2(&p->crpAll2[0], &p->crpAll2[1]) || checkInParam(p)) return kBad;
  return CheckOutput(out, 2);
}

int checkParamHoleRemove(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRP_S_PHRMV* p) {
  return checkImageinfoEx(in) || checkInParam(p) ? kBad : kOk;
}

int checkParamDupHoleRemove(const FSIP_S_IMAGEINFO_EX* in, const _FSIP_CRP_S_DUPPHRMV* p) {
  if (!in || checkImageinfoEx(&in[0]) || checkImageinfoEx(&in[1]) || !p) return kBad;
  if (!checkDupInParamPhRmv(&p->phRmv[0], &p->phRmv[1])) return kBad;
  return checkInParam(p);
}

int checkParamAIQC(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRP_S_AIQC* p) {
  return checkImageinfoEx(in) || checkInParam(p) ? kBad : kOk;
}

void fsip_s_point2point(FSIP_S_POINT src, tagPOINT* dst) { *dst = {src.x, src.y}; }

}  // namespace fsipcrop
