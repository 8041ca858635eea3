// The white-background engine's interface (the device-kind switch, the
// cutter, the P2i entries) and its crop layer, the FsipCrpWB_ entries.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "P2iCrppr.h"

extern "C" {
DRAVN_EXPORT double gdblWBCropAngleCheck = 1.0;
DRAVN_EXPORT double gdblCrpRatio = 0.5;
DRAVN_EXPORT double gdblMinCrpSizeHeight = -0.1;
DRAVN_EXPORT double gdblMinCrpSizeWidth = 26.0;
DRAVN_EXPORT int32_t gMakeLUT = 0;
DRAVN_EXPORT uint8_t gbCWCMode = 0;
DRAVN_EXPORT int32_t gnWBCropVal = 0;
DRAVN_EXPORT uint32_t gbWBSpecifiedAreaCropMode = 0;
DRAVN_EXPORT int32_t gnWBCropMod = 0;
}

namespace p2iwb {

namespace {

// Runs a search on the image turned upside down and takes the result back
// to the image as the caller holds it. Without the line buffer the image
// cannot be turned: searching it unturned would find the wrong sides.
int Flipped(_P2IIMG* img, const _P2IGDPINFO* info, _P2IDOCPOS* pos,
            int (*search)(_P2IIMG*, const _P2IGDPINFO*, int, _P2IDOCPOS*)) {
  if (flip_conv_img(img)) return -2;
  const int rc = search(img, info, 1, pos);
  flip_conv_img(img);  // the buffer was there a moment ago; a failure here is as rare as harmless to retry
  if (rc) return rc;
  flip_conv_skew(&pos->dSkew);
  for (tagPOINT& p : pos->ptCorner) flip_conv_point(p, img);
  return 0;
}

}  // namespace

// The kinds that do not lower the backward edge level search with its
// first value: left at -16 by an earlier request of another kind, it would
// make one page's crop depend on what the process cropped before it.
constexpr int8_t kOwnBckLevel = -32;

int GetDocPos(_P2IIMG* img, const _P2IGDPINFO* info, _P2IDOCPOS* pos) {
  const int64_t kind = info->nDevKind;
  const bool opt0 = info->nDevOpt == 0;
  switch (kind) {
    case 1:
      gcEdgeBckLevel = kOwnBckLevel;
      gbTatesujiJudge = 1;
      gbOVSJudge = 1;
      gbTopShadow = opt0 ? 1 : 0;
      return gbTopShadow ? Flipped(img, info, pos, _GetDocPos) : _GetDocPos(img, info, 0, pos);
    case 2:
    case 3:
    case 5:
      gbTopShadow = 1;
      gbTatesujiJudge = kind == 5 ? 1 : 0;
      gbOVSJudge = 0;
      gcEdgeBckLevel = -16;
      return Flipped(img, info, pos, kind == 3 ? _GetDocPos_RK : _GetDocPos);
    case 4:
    case 7:
    case 8:
      gcEdgeBckLevel = -16;
      if (kind == 7) {
        gbOVSJudge = 1;
        gbTatesujiJudge = 1;
        gbTopShadow = opt0 ? 1 : 0;
      } else {
        gbOVSJudge = 0;
        gbTopShadow = opt0 ? 0 : 1;
        gbTatesujiJudge = kind == 8 ? 1 : 0;
      }
      return gbTopShadow ? Flipped(img, info, pos, _GetDocPos_RK) : _GetDocPos_RK(img, info, 0, pos);
    default:
      gcEdgeBckLevel = kOwnBckLevel;
      gbTopShadow = 0;
      gbTatesujiJudge = 0;
      gbOVSJudge = 1;
      return _GetDocPos(img, info, 0, pos);
  }
}

// ---- the cutter ---------------------------------------------------------------------

namespace {

inline int64_t RoundAway(double v) { return static_cast<int64_t>(v < 0 ? v - 0.5 : v + 0.5); }
inline int Px(const _P2IIMG* img) { return img->nBitsPerPixel == 24 ? 3 : 1; }

void SetGeometry(_P2IIMG* out, int64_t w, int64_t h) {
  out->nWidth = static_cast<int32_t>(w);
  out->nHeight = static_cast<int32_t>(h);
  out->nBytesPerLine = static_cast<int32_t>(w * Px(out));
  out->nImageSize = out->nBytesPerLine * out->nHeight;
}

void CopyRows(const _P2IIMG* in, int64_t left, int64_t top, _P2IIMG* out) {
  const int64_t rows = std::min<int64_t>(out->nHeight, in->nHeight - top);
  const size_t off = static_cast<size_t>(left) * Px(in);
  const size_t n = std::min(static_cast<size_t>(out->nBytesPerLine), static_cast<size_t>(in->nBytesPerLine) - off);
  for (int64_t r = 0; r < rows; ++r)
    std::memcpy(out->pImageData + static_cast<size_t>(r) * out->nBytesPerLine,
                in->pImageData + static_cast<size_t>(top + r) * in->nBytesPerLine + off, n);
}

void MoveRowsInPlace(const _P2IIMG* in, int64_t left, int64_t top, _P2IIMG* out) {
  out->pImageData = in->pImageData;
  const size_t off = static_cast<size_t>(left) * Px(in);
  for (int64_t r = 0; r < out->nHeight; ++r)
    std::memmove(out->pImageData + static_cast<size_t>(r) * out->nBytesPerLine,
                 in->pImageData + static_cast<size_t>(top + r) * in->nBytesPerLine + off,
                 static_cast<size_t>(out->nBytesPerLine));
}

}  // namespace

int CropImg(const _P2IIMG* in, _P2ICRPINFO* crop, _P2IIMG* out) {
  const int mode = crop->nMode;
  const bool geometryOnly = mode & 16, callers = mode & 32;
  crop->nMode &= ~(16 | 32);
  const int low = crop->nMode;
  const int minW = static_cast<int>(in->nXResolution * 10 / 25.4), minH = static_cast<int>(in->nYResolution * 10 / 25.4);
  const _P2IIMG kept = *out;
  *out = *in;
  tagPOINT* c = crop->ptCorner;
  for (int i = 0; i < 4; ++i) c[i].y = -c[i].y;
  const int64_t W = in->nWidth, H = in->nHeight;
  auto clampX = [&](int64_t v) { return std::clamp<int64_t>(v, 0, W - 1); };
  auto clampY = [&](int64_t v) { return std::clamp<int64_t>(v, 0, H - 1); };
  auto buffer = [&]() -> int {
    if (callers) {
      out->pImageData = kept.pImageData;
      out->nWidth = kept.nWidth;
      out->nHeight = kept.nHeight;
      out->nBytesPerLine = kept.nBytesPerLine;
      return 0;
    }
    out->pImageData = static_cast<uint8_t*>(calloc(static_cast<size_t>(out->nImageSize ? out->nImageSize : 1), 1));
    return out->pImageData ? 0 : -2;
  };
  if (crop->dSkew == 0) {
    for (int i = 0; i < 4; ++i) c[i] = {clampX(c[i].x), clampY(c[i].y)};
    SortXPoints(c);
    int64_t l, t, r, b;
    if (low == 0) {
      l = std::max(c[0].x, c[1].x), t = std::max(c[0].y, c[3].y), r = std::min(c[2].x, c[3].x), b = std::min(c[1].y, c[2].y);
    } else {
      l = std::min(c[0].x, c[1].x), t = std::min(c[0].y, c[3].y), r = std::max(c[2].x, c[3].x), b = std::max(c[1].y, c[2].y);
    }
    c[0].x = l, c[0].y = t, c[3].x = r, c[1].y = b;
    SetGeometry(out, r + 1 - l, b + 1 - t);
    if (out->nHeight < minH || out->nWidth < minW) return -4;
    if (geometryOnly) return 0;
    if (low == 3) {
      MoveRowsInPlace(in, l, t, out);
      return 0;
    }
    if (buffer()) return -2;
    CopyRows(in, l, t, out);
    return 0;
  }
  SortXPoints(c);
  if (low == 2 || low == 3) {
    int64_t l, t, r, b;
    if (low == 2) {
      l = std::min(c[0].x, c[1].x), t = std::min(c[0].y, c[3].y), r = std::max(c[2].x, c[3].x), b = std::max(c[1].y, c[2].y);
    } else {
      l = (c[0].x + c[1].x) >> 1, t = (c[0].y + c[3].y) >> 1, b = (c[1].y + c[2].y) >> 1, r = (c[2].x + c[3].x) >> 1;
    }
    l = clampX(l), r = clampX(r), t = clampY(t), b = clampY(b);
    SetGeometry(out, r + 1 - l, b + 1 - t);
    if (out->nHeight < minH || out->nWidth < minW) {
      *out = *in;
      return -4;
    }
    if (low == 3) {
      MoveRowsInPlace(in, l, t, out);
      return 0;
    }
    out->pImageData = static_cast<uint8_t*>(calloc(static_cast<size_t>(out->nImageSize), 1));
    if (!out->pImageData) return -2;
    CopyRows(in, l, t, out);
    return 0;
  }
  const double a = crop->dSkew * 3.141592654 / 180, cs = std::cos(a), sn = std::sin(a);
  tagPOINT t4[4];
  for (int i = 0; i < 4; ++i) {
    const double x = static_cast<double>(c[i].x), y = -static_cast<double>(c[i].y);
    t4[i] = {RoundAway(x * cs - y * sn), -RoundAway(x * sn + y * cs)};
  }
  SortXPoints(t4);
  int64_t l, t, r, b;
  if (low == 0) {
    l = std::max(t4[0].x, t4[1].x), t = std::max(t4[0].y, t4[3].y), r = std::min(t4[2].x, t4[3].x), b = std::min(t4[1].y, t4[2].y);
  } else {
    l = std::min(t4[0].x, t4[1].x), t = std::min(t4[0].y, t4[3].y), r = std::max(t4[2].x, t4[3].x), b = std::max(t4[1].y, t4[2].y);
  }
  if (r - l <= 0 || b - t <= 0 || r - l > INT32_MAX / 4 || b - t > INT32_MAX / 4) return -4;
  SetGeometry(out, r - l, b - t);
  if (out->nWidth < minW || out->nHeight < minH) return -4;
  if (static_cast<int64_t>(out->nWidth) * Px(out) * out->nHeight > INT32_MAX) return -2;
  if (geometryOnly) return 0;
  const bool allocated = !callers;
  if (buffer()) return -2;
  const double X0 = static_cast<double>(RoundAway(static_cast<double>(l) * cs - static_cast<double>(t) * sn));
  const double Y0 = static_cast<double>(RoundAway(-static_cast<double>(t) * cs - static_cast<double>(l) * sn));
  std::memset(out->pImageData, 0xFF, static_cast<size_t>(out->nBytesPerLine) * out->nHeight);
  const bool ok = in->nBitsPerPixel == 24 ? fsipcrop::p2iRotate12_Color(in, out, -crop->dSkew, X0, -Y0)
                                          : fsipcrop::p2iRotate12_Gray(in, out, -crop->dSkew, X0, -Y0);
  if (!ok) {
    // The buffer allocated here goes, and so does the pointer to it.
    if (allocated) free(out->pImageData);
    out->pImageData = nullptr;
    return -5;
  }
  return 0;
}

// ---- the crop layer -----------------------------------------------------------------

namespace {

const char* const kLarge[] = {"Tavrin4T1000", "Tavrin4T2000", "Tavrin4T3000", "Tavrin4T4000", "DocuvaneRK50",
                              "DocuvaneRK70", "DocuvaneRK90", "Tavrin4LA110", "Tavrin4LA120", "Tavrin4LA130",
                              "Tavrin4LA140", "Tavrin4LA150", "Tavrin4LA160", "Tavrin4LA170", "Tavrin4LA180",
                              "Tavrin4LA190", "Tavrin4LA200", "Tv5A100",      "Tv5A200",      "Tv5A300",
                              "Tv5A400",      "Tv5E100",      "Tv5E150",      "Tv5E200",      "Tv5E250",
                              "Tv5E300",      "Tv5E350",      "Tv5E400",      "Tv5E450",      "Tv5E500",
                              "Tv5E550"};
// The Selko and Brenna backends name their models by the short texts they
// send in the request; the rows hold those too.
const char* const kCompact[] = {"SelkoS150", "SelkoS250", "SelkoS350", "SK150A", "SK250A", "SK350A"};
const char* const kNetwork[] = {"Selko2S420", "Selko2S520", "Selko2S620"};
const char* const kSingle[] = {"BrennaB700", "BrennaB"};
const char* const kFurther[] = {"ZemblZ350"};

struct Row {
  const char* const* names;
  size_t count;
  ScannerRow values;
};

const Row kRows[] = {
    {kLarge, sizeof kLarge / sizeof *kLarge, {-8.5, 8.5, 16, 16, 16, 2}},
    {kCompact, 6, {-9.9, 9.9, 9.9, 9.9, 6.3, 4}},
    {kNetwork, 3, {-9.9, 9.9, 9.9, 9.9, 6.3, 8}},
    {kSingle, 2, {-9.0, 9.0, 6.5, 6.5, 6.3, 6}},
    {kFurther, 1, {-30, 30, 5.1, 5.1, 6.3, 7}},
};
const ScannerRow kOther{8.0, -9.0, 6.3, 6.4, 6.3, 0};

int MapEngine(int rc) { return rc == -1 ? -2 : rc == -2 ? -1 : -5; }

// The grey copy of a 1-bit input, released on every path.
struct Work {
  _P2IIMG img{};
  uint8_t* grey = nullptr;
  ~Work() { free(grey); }
};

int PrepareInput(const FSIP_S_IMAGEINFO_EX* in, Work* w) {
  fsipcrop::FsipII2P2iII(in, &w->img);
  if (w->img.nBitsPerPixel != 1) return 0;
  const _P2IIMG bw = w->img;
  w->grey = static_cast<uint8_t*>(malloc(static_cast<size_t>(bw.nWidth) * bw.nHeight));
  if (!w->grey) return -1;
  w->img.pImageData = w->grey;
  w->img.nBitsPerPixel = 8;
  w->img.nBytesPerLine = bw.nWidth;
  w->img.nImageSize = bw.nWidth * bw.nHeight;
  fsipcrop::ConvBW2Gray(&bw, &w->img);
  return 0;
}

// The geometry pass, the callback, then the drawing pass into its buffer.
int CutOut(const Work& w, bool mono, _P2ICRPINFO req, FSIP_CRPWB_S_CRPALL* rec, FSIP_S_IMAGEINFO_EX* out,
           FSIP_CRP_S_DUAL_LAYOUT* layout, void* user, bool sizeTest) {
  _P2IIMG cut{};
  _P2ICRPINFO geo = req;
  geo.nMode |= 16;
  int rc = P2iGetCroppedImg(&w.img, &geo, &cut);
  if (rc) return -2;
  rc = CropImg(&w.img, &geo, &cut);
  if (rc) return MapEngine(rc);
  if (sizeTest) {
    if (gdblCrpRatio >= 0) {
      if (cut.nHeight < gdblCrpRatio * w.img.nHeight) return -5;
    } else if (cut.nHeight < static_cast<int>(cut.nYResolution * gdblMinCrpSizeHeight / 25.4 + 0.5)) {
      return -5;
    }
    if (cut.nWidth < static_cast<int>(cut.nXResolution * gdblMinCrpSizeWidth / 25.4 + 0.5)) return -5;
  }
  fsipcrop::P2iII2FsipII(&cut, out);
  out->pImageData = nullptr;
  out->nImageSize = cut.nBytesPerLine * cut.nHeight;
  if (layout) {
    layout->layoutCrop.sizeRectangle.x = cut.nWidth;
    layout->layoutCrop.sizeRectangle.y = cut.nHeight;
  }
  rc = rec->NotifyOutImgInfo(out, user);
  if (rc) return rc;
  if ((rc = fsipcrop::checkImageinfoEx(out)) != 0) return rc;
  if (out->nBytesPerLine < cut.nBytesPerLine || out->nHeight < cut.nHeight) return FSIP_C_ERR_UNEXPECTED_ERROR;
  // Into the caller's buffer the drawing pass writes every byte of the
  // cut's rows (the straight cut copies them, the turned one fills them
  // white first): only the rows' padding and what lies past the last row
  // are left for the white here. Modes 2 and 3 draw elsewhere.
  const int low = req.nMode & ~(16 | 32);
  const size_t stride = static_cast<size_t>(out->nBytesPerLine);
  const size_t used = low == 2 || low == 3 ? 0 : static_cast<size_t>(cut.nBytesPerLine);
  const size_t body = used ? stride * static_cast<size_t>(cut.nHeight) : 0;
  if (used && stride > used)
    for (int r = 0; r < cut.nHeight; ++r) std::memset(out->pImageData + r * stride + used, 255, stride - used);
  if (static_cast<size_t>(out->nImageSize) > body)
    std::memset(out->pImageData + body, 255, static_cast<size_t>(out->nImageSize) - body);
  _P2IIMG dst{};
  dst.pImageData = out->pImageData;
  dst.nWidth = cut.nWidth;
  dst.nHeight = cut.nHeight;
  dst.nBytesPerLine = out->nBytesPerLine;
  _P2ICRPINFO draw = req;
  draw.nMode |= 32;
  rc = CropImg(&w.img, &draw, &dst);
  if (rc) return MapEngine(rc);
  if (!mono) return 0;
  // A 1-bit page was cut in grey: the caller gets it back in 1 bit.
  const int bpl = (cut.nWidth + 7) / 8;
  uint8_t* bits = static_cast<uint8_t*>(calloc(static_cast<size_t>(bpl) * cut.nHeight, 1));
  if (!bits) return -1;
  _P2IIMG bw = dst;
  bw.pImageData = bits;
  bw.nBitsPerPixel = 1;
  bw.nBytesPerLine = bpl;
  fsipcrop::ConvGray2BW(&dst, &bw);
  free(out->pImageData);
  out->pImageData = bits;
  out->nPixelType = 0;
  out->nDepth = 1;
  out->nColorSeq = 0;
  out->nBytesPerLine = bpl;
  out->nImageSize = bpl * cut.nHeight;
  return 0;
}

}  // namespace

bool SkewAccepted(double skew) { return 45 - std::fabs(skew) >= gdblWBCropAngleCheck; }

const ScannerRow& ScannerRowOf(const char* name) {
  for (const Row& r : kRows)
    for (size_t i = 0; i < r.count; ++i)
      if (name && std::strncmp(name, r.names[i], 32) == 0) return r.values;
  return kOther;
}

void MakeDevInfo(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRPWB_S_CRPALL* rec, _P2IGDPINFO* info) {
  char name[33] = {};
  std::memcpy(name, rec->szScanner, 32);
  const ScannerRow& row = ScannerRowOf(name);
  std::memset(info, 0, sizeof *info);
  const double xc = rec->bySide == 1 ? row.xFront : rec->bySide == 2 ? row.xBack : 0;
  info->dTopSnsX = in->nWidth * 25.4 / in->nXResolution * 0.5 + xc;
  info->dTopSnsY = rec->sOVS != -1 ? rec->sOVS / 10.0
                                   : (rec->bySide == 1 ? row.yFront : rec->bySide == 2 ? row.yBack : row.yNone);
  info->nDevKind = row.kind;
  info->nDevOpt = rec->bySide == 2 ? 1 : 0;
}

int CropAllWB(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRPWB_S_CRPALL* rec, FSIP_S_IMAGEINFO_EX* out,
              FSIP_CRP_S_DUAL_LAYOUT* layout, void* user) {
  if (fsipcrop::checkParamCropWBAll(in, rec, out)) return -2;
  Work w;
  if (PrepareInput(in, &w)) return -1;
  _P2IGDPINFO info;
  MakeDevInfo(in, rec, &info);
  _P2IDOCPOS pos{};
  if (P2iGetCroppedImg(&w.img, &info, &pos)) return -2;
  const int rc = P2iGetDocPos(&w.img, &info, nullptr, &pos);
  if (rc == -1 || (rc == -2 && !gpSinCos_1)) return -1;  // the control layer's "no memory"
  if (rc != 0 || !SkewAccepted(pos.dSkew)) return -5;
  if (layout) {
    std::memset(layout, 0, sizeof *layout);
    tagPOINT c[4];
    std::copy(pos.ptCorner, pos.ptCorner + 4, c);
    SortXPoints(c);
    FSIP_CRP_S_PAPER_LAYOUT& l = layout->layoutCrop;
    l.cornerPts.ptLT = {c[0].x, c[0].y};
    l.cornerPts.ptLB = {c[1].x, c[1].y};
    l.cornerPts.ptRB = {c[2].x, c[2].y};
    l.cornerPts.ptRT = {c[3].x, c[3].y};
    l.dSkew = pos.dSkew;
    l.sizeRectangle = {static_cast<int32_t>(c[3].x - c[0].x), static_cast<int32_t>(c[1].y - c[0].y)};
  }
  _P2ICRPINFO req{};
  req.dSkew = pos.dSkew;
  std::copy(pos.ptCorner, pos.ptCorner + 4, req.ptCorner);
  req.nMode = 1;
  return CutOut(w, in->nDepth == 1, req, rec, out, layout, user, true);
}

int SpecifiedAreaCropWB(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRPWB_S_SPECIFIEDAREA_CRP* rec,
                        FSIP_S_IMAGEINFO_EX* out, void* layout, void* user) {
  if (fsipcrop::checkParamSpecifiedAreaCropWB(in, rec, out)) return -2;
  if (gbWBSpecifiedAreaCropMode == 0) {
    alignas(8) FSIP_CRPWB_S_CRPALL all{};
    std::memcpy(all.szScanner, rec->szScanner, sizeof all.szScanner);
    fsipcrop::dfrmSPCtoALL(rec, &all);
    return CropAllWB(in, &all, out, static_cast<FSIP_CRP_S_DUAL_LAYOUT*>(layout), user);
  }
  if (fsipcrop::checkPaperLayout(rec->layout.layoutCrop)) return -2;
  Work w;
  if (PrepareInput(in, &w)) return -1;
  const FSIP_CRP_S_PAPER_LAYOUT& l = rec->layout.layoutCrop;
  _P2ICRPINFO req{};
  req.dSkew = l.dSkew;
  req.ptCorner[0] = {l.cornerPts.ptLT.x, l.cornerPts.ptLT.y};
  req.ptCorner[1] = {l.cornerPts.ptLB.x, l.cornerPts.ptLB.y};
  req.ptCorner[2] = {l.cornerPts.ptRB.x, l.cornerPts.ptRB.y};
  req.ptCorner[3] = {l.cornerPts.ptRT.x, l.cornerPts.ptRT.y};
  req.nMode = gnWBCropMod;
  alignas(8) FSIP_CRPWB_S_CRPALL all{};
  fsipcrop::dfrmSPCtoALL(rec, &all);
  return CutOut(w, in->nDepth == 1, req, &all, out, nullptr, user, false);
}

int OffsetCropWB(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRPWB_S_CRPALL* rec, FSIP_S_IMAGEINFO_EX* out, void* user,
                 int band) {
  if (fsipcrop::checkParamCropWBAll(in, rec, out)) return -2;
  Work w;
  if (PrepareInput(in, &w)) return -1;
  const int x = band * in->nXResolution / 254;
  _P2ICRPINFO req{};
  req.ptCorner[0] = {x, 0};
  req.ptCorner[1] = {x, -(in->nHeight)};
  req.ptCorner[2] = {in->nWidth - x, -(in->nHeight)};
  req.ptCorner[3] = {in->nWidth - x, 0};
  req.nMode = 1;
  return CutOut(w, in->nDepth == 1, req, rec, out, nullptr, user, false);
}

}  // namespace p2iwb

// ---- the engine's C entries (P2i) -------------------------------------------------------

extern "C" {

int P2iGetCroppedImg(const void* a, const void* b, const void* c) { return a && b && c ? 0 : -1; }

int P2iGetDocPos(_P2IIMG* img, p2iwb::_P2IGDPINFO* info, void* /*unused*/, p2iwb::_P2IDOCPOS* pos) {
  if (!img || !info || !pos) return -1;
  if (!p2iwb::gpSinCos_1) {
    const int rc = p2iwb::MakeSinCosTbl();
    if (rc) return rc;
  }
  return p2iwb::GetDocPos(img, info, pos);
}

int P2iCropping(_P2IIMG* img, p2iwb::_P2ICRPINFO* crop, _P2IIMG* out) {
  if (!img || !crop || !out) return -1;
  return p2iwb::CropImg(img, crop, out);
}

int P2iFreeCroppedImg(_P2IIMG* img) {
  if (!img) return -1;
  free(img->pImageData);
  return 0;
}

int P2iGetProcTime(void*, void*, void*, void* out) {
  if (!out) return -1;
  std::memcpy(out, &p2iwb::gstProcTime, sizeof p2iwb::gstProcTime);
  return 0;
}

int P2iGetDocPosTest() { return 0; }

int FsipCrpWB_CropAll(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRPWB_S_CRPALL* rec, FSIP_S_IMAGEINFO_EX* out,
                      FSIP_CRP_S_DUAL_LAYOUT* layout, void* user, void* /*unused*/) {
  return p2iwb::CropAllWB(in, rec, out, layout, user);
}

int FsipCrpWB_SpecifiedAreaCrop(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRPWB_S_SPECIFIEDAREA_CRP* rec,
                                FSIP_S_IMAGEINFO_EX* out, void* layout, void* user) {
  return p2iwb::SpecifiedAreaCropWB(in, rec, out, layout, user);
}

int FsipCrpWB_OffsetCrop(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRPWB_S_CRPALL* rec, FSIP_S_IMAGEINFO_EX* out,
                         void* /*unused*/, void* user, int band) {
  return p2iwb::OffsetCropWB(in, rec, out, user, band);
}
}
