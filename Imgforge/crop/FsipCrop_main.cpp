// Single-page entries of the main crop engine: find the paper, deskew it
// and cut it out; cut out a given area; judge the paper's position.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "FsipCrop.h"
#include "FsipCrop_ph.h"

namespace fsipcrop {

int32_t gnLayoutW = -1;
int32_t gnLayoutH = -1;
_PRFMDATA gPrfmData;

namespace {
LogSink gLogSink = nullptr;
}

void SetDepthLogSink(LogSink sink) { gLogSink = sink; }

void OutputDebugString(const char* text) {
  if (gLogSink) gLogSink(text);
}

namespace {

constexpr double kPi = 3.141592654;

// Milliseconds of one stage.
class Stage {
 public:
  explicit Stage(uint32_t* field) : m_field(field), m_start(std::chrono::steady_clock::now()) {}
  ~Stage() {
    *m_field = static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start).count());
  }

 private:
  uint32_t* m_field;
  std::chrono::steady_clock::time_point m_start;
};

void SetSearchLevels(bool weak) {
  gnEdgeGrad = weak ? 2560 : 4096;
  guBGLvl = weak ? 0x1800 : 0x4000;
  guBGLvlInv = weak ? 0xE800 : 0xC000;
}

// Puts the search levels and the per-call flags back whichever way the
// entry leaves.
struct TuningGuard {
  ~TuningGuard() {
    SetSearchLevels(false);
    gbFBFrameSearch = 0;
    gbExecTabProc = 0;
    gnLayoutW = gnLayoutH = -1;
  }
};

void SetCommonTuning() {
  gbFBFrameSearch = 0;
  gbHWEdgeDetection = 0;
  guBGLvlHW = 10240;
  gnVerticalNoiseW = 8;
  SetSearchLevels(false);
}

// Images and buffers of one call, freed whichever way the entry leaves.
struct Pages {
  _P2IIMG input{};  // the caller's pixels, or the grey copy of a 1-bit page
  uint8_t* greyCopy = nullptr;
  bool mono = false;
  _P2IIMG work{};
  int workOwned = 0;
  double scale = 1;
  int diag = 0;
  uint32_t* ave = nullptr;
  int32_t* grad = nullptr;
  _P2IIMG clipped{};
  bool clippedOwned = false;

  ~Pages() {
    FreeBuffers();
    FreeClipped();
    free(greyCopy);
  }
  void FreeClipped() {
    if (clippedOwned) free(clipped.pImageData);
    clipped.pImageData = nullptr;
    clippedOwned = false;
  }
  void FreeBuffers() {
    FreeAveBuff(ave, grad);
    ave = nullptr;
    grad = nullptr;
    if (workOwned) free(work.pImageData);
    workOwned = 0;
    work.pImageData = nullptr;
  }
};

// Input record to a page the analysis can read: 1-bit pages become grey.
int TakeInput(const FSIP_S_IMAGEINFO_EX* in, Pages& pg) {
  FsipII2P2iII(in, &pg.input);
  gbLowReso = in->nXResolution < 100;
  if (in->nPixelType != 0) return 0;
  Stage st(&gPrfmData.dwConv2BW);
  _P2IIMG grey = pg.input;
  grey.nBitsPerPixel = 8;
  grey.nBytesPerLine = grey.nWidth;
  const int64_t size = static_cast<int64_t>(grey.nWidth) * grey.nHeight;
  if (size > INT32_MAX) return FSIP_C_ERR_OUTOFMEMORY;
  grey.nImageSize = static_cast<int32_t>(size);
  pg.greyCopy = static_cast<uint8_t*>(calloc(static_cast<size_t>(size), 1));
  if (!pg.greyCopy) return FSIP_C_ERR_OUTOFMEMORY;
  grey.pImageData = pg.greyCopy;
  ConvBW2Gray(&pg.input, &grey);
  pg.input = grey;
  pg.mono = true;
  return 0;
}

// Averaging buffers for the work image's diagonal, and gd1mm from it.
int PrepareBuffers(Pages& pg, int length) {
  gd1mm = pg.work.nXResolution / 25.4;
  pg.diag = length;
  return AllcAveBuff(length, pg.work.nBitsPerPixel == 24, &pg.ave, &pg.grad) ? 0 : FSIP_C_ERR_OUTOFMEMORY;
}

// The input as an analysable page, its work image and the averaging
// buffers; `diagonal` false sizes the buffers for nothing.
int PreparePages(const FSIP_S_IMAGEINFO_EX* in, Pages& pg, bool diagonal) {
  int rc = TakeInput(in, pg);
  if (rc) return rc;
  {
    Stage st(&gPrfmData.dwGetWorkImg);
    rc = GetImg4Anlz(&pg.input, &pg.work, &pg.scale, &pg.workOwned);
  }
  if (rc) return rc;
  return PrepareBuffers(pg, diagonal ? GetDiagonalLength(&pg.work) : 0);
}

// Lines of the work image to lines of the input.
void ToInput(_STRTLINE* lines, double scale) {
  for (int i = 0; i < 4; ++i) {
    if (lines[i].bVert)
      lines[i].dX /= scale;
    else
      lines[i].dB /= scale;
  }
}

void WriteStageLines() {
  const _PRFMDATA& p = gPrfmData;
  OutputDebugString("\n\n");
  const struct {
    uint32_t v;
    const char* name;
  } rows[] = {{p.dwConv2BW, "dwConv2BW"},       {p.dwGetWorkImg, "dwGetWorkImg"},
              {p.dwGetEdges, "dwGetEdges"},     {p.dwGetSLs, "dwGetSLs"},
              {p.dwSetVrtlSLs, "dwSetVrtlSLs"}, {p.dwCheckTabs, "dwCheckTabs"},
              {p.dwDetectPHs, "dwDetectPHs"},   {p.dwClipOuterFrame, "dwClipOuterFrame"},
              {p.dwCoverPHs, "dwCoverPHs"},     {p.dwCropImg, "dwCropImg"}};
  char line[64];
  for (const auto& r : rows) {
    std::snprintf(line, sizeof line, "%u ms\t: %s\n", r.v, r.name);
    OutputDebugString(line);
  }
}

// Clips round the cutting set and cuts the page into the output; the stage
// lines are written whichever way it ends.
int ClipAndCut(Pages& pg, _STRTLINE* cut, bool exactOffsets, double skew, const FSIP_CRP_S_CRPALL* rec,
               FSIP_S_IMAGEINFO_EX* out, void* user, PHLidList* holes = nullptr) {
  int rc;
  double offX = 0, offY = 0;
  {
    Stage st(&gPrfmData.dwClipOuterFrame);
    if (exactOffsets) {
      double dx = 0, dy = 0;
      rc = ClipOuterFrameView(&pg.input, cut, &pg.clipped, &dx, &dy, &pg.clippedOwned);
      if (!rc) CrrctSLs(cut, dx, dy);
      offX = dx;
      offY = dy;
    } else {
      int dx = 0, dy = 0;
      rc = ClipOuterFrame(&pg.input, cut, &pg.clipped, &dx, &dy);
      pg.clippedOwned = rc == 0;
      if (!rc) CrrctSLs(cut, dx, dy);
      offX = dx;
      offY = dy;
    }
  }
  if (rc) return rc;
  // The grey copy goes now unless the clip still reads from it.
  if (pg.clippedOwned) {
    free(pg.greyCopy);
    pg.greyCopy = nullptr;
  }
  if (holes && !holes->empty()) {
    Stage st(&gPrfmData.dwCoverPHs);
    // Covering paints the clip: a clip that still shows the caller's pixels
    // is copied first, so that the input stays as it came.
    if (!pg.clippedOwned) {
      const size_t size = static_cast<size_t>(pg.clipped.nBytesPerLine) * pg.clipped.nHeight;
      auto* copy = static_cast<uint8_t*>(malloc(size ? size : 1));
      if (!copy) return FSIP_C_ERR_OUTOFMEMORY;
      for (int r = 0; r < pg.clipped.nHeight; ++r)
        memcpy(copy + static_cast<size_t>(r) * pg.clipped.nBytesPerLine,
               pg.clipped.pImageData + static_cast<size_t>(r) * pg.clipped.nBytesPerLine,
               static_cast<size_t>(pg.clipped.nBytesPerLine));
      pg.clipped.pImageData = copy;
      pg.clippedOwned = true;
    }
    AdjustPHLid(holes, pg.scale, static_cast<int>(RoundHalfAway(offX)), static_cast<int>(RoundHalfAway(offY)));
    CoverPHs(&pg.clipped, holes, rec->dwHoleRemoveType, 0, nullptr);
  }
  {
    Stage st(&gPrfmData.dwCropImg);
    rc = CropImg(&pg.clipped, cut, skew, pg.mono ? 1 : 0, rec, out, user);
  }
  gnLayoutW = gnLayoutH = -1;
  pg.FreeClipped();
  WriteStageLines();
  return rc ? FSIP_C_ERR_UNEXPECTED_ERROR : 0;
}

// FsipCrp_CropAll and FsipCrp_CropAll2: `offsets` null for the first.
int CropPage(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_CRPALL* rec, const FSIP_CRP_S_OFFSET_VALUE* offsets,
             FSIP_S_IMAGEINFO_EX* out, FSIP_CRP_S_DUAL_LAYOUT* layout, void* user, int* tabResult) {
  TuningGuard guard;
  SetCommonTuning();
  const bool flatbed = rec->bADF == 0;
  if (flatbed) {
    // The record is packed: its fields are copied, not pointed at.
    uint16_t width = rec->wFBCropSearchWidth, ignore = rec->wFBCropIgnoreLength;
    LoadFbParam(nullptr, &width, &ignore);
    rec->wFBCropSearchWidth = width;
    rec->wFBCropIgnoreLength = ignore;
  } else {
    gdblGrayZone = 1.0;
  }
  if (!Initialize()) return FSIP_C_ERR_OUTOFMEMORY;

  Pages pg;
  int rc = PreparePages(in, pg, true);
  if (rc) return rc;
  gbInv = in->nPixelFlavor == 1;
  MakeLUT4InvXf(rec->byTransferDataType, rec->pbySendData);

  const int fullHeight = pg.work.nHeight;
  if (flatbed) {
    const int cutRows = static_cast<int>(static_cast<double>(pg.work.nXResolution) * rec->wFBCropIgnoreLength / 254);
    pg.work.nHeight = std::max(1, pg.work.nHeight - cutRows);
    gdblGrayZone = static_cast<double>(pg.work.nXResolution) * rec->wFBCropSearchWidth / 254;
  }
  _STRTLINE main[4] = {}, tab[4] = {};
  double skew = 0;
  int found = 0;
  rc = GetDocPos(&pg.work, rec->bADF, pg.ave, pg.grad, pg.diag, main, &skew, &found, nullptr, nullptr);
  if (rc == kNoDocument && flatbed) {
    SetSearchLevels(true);
    rc = GetDocPos(&pg.work, rec->bADF, pg.ave, pg.grad, pg.diag, main, &skew, &found, nullptr, nullptr);
  }
  if (rc) return FSIP_C_ERR_UNEXPECTED_ERROR;
  pg.work.nHeight = fullHeight;

  const bool tabs = rec->dwFuncFlag & 1;
  int tabRes = 0;
  bool tabCuts;
  {
    Stage st(&gPrfmData.dwCheckTabs);
    std::copy(main, main + 4, tab);
    _CHKTABPRM prm;
    SetChkTabPrm(pg.ave, pg.grad, pg.diag, main, tab, &prm);
    bool searched = false;
    gbExecTabProc = 1;
    if (!offsets) {
      if (tabs || found < 4) {
        tabRes = CheckTabs(&pg.work, &prm);
        searched = true;
        if (tabs && tabResult) *tabResult = tabRes;
      }
      tabCuts = tabRes != 0;
    } else {
      if (found < 4) {
        tabRes = MoveAUXLines(&pg.work, &prm, found, tabs ? 1 : 0);
        if (tabs) {
          _STRTLINE scratch[4];
          std::copy(main, main + 4, scratch);
          _CHKTABPRM prm2;
          SetChkTabPrm(pg.ave, pg.grad, pg.diag, main, scratch, &prm2);
          if (MoveAUXLines(&pg.work, &prm2, found, 1)) {
            std::copy(scratch, scratch + 4, tab);
            tabRes = 1;
          }
        }
        searched = true;
      } else if (tabs) {
        tabRes = CheckTabs(&pg.work, &prm);
      }
      if (tabs && tabResult) *tabResult = tabRes;
      tabCuts = tabs;
    }
    gbExecTabProc = 0;
    if (searched)
      for (int i = found; i < 4; ++i) main[i] = tab[i];
  }
  SetSearchLevels(false);
  gbFBFrameSearch = 0;
  PHLidList holes;
  if (rec->dwFuncFlag & 2) {
    Stage st(&gPrfmData.dwDetectPHs);
    rc = DetectPHs(&pg.work, main, pg.ave, pg.grad, pg.diag, &holes, 0, true);
    if (rc) return rc;
  }
  pg.FreeBuffers();

  gd1mm = in->nXResolution / 25.4;
  ToInput(main, pg.scale);
  if (tabCuts) ToInput(tab, pg.scale);
  _STRTLINE* cut = tabCuts ? tab : main;
  if (!MakeRect(cut)) return FSIP_C_ERR_UNEXPECTED_ERROR;
  _STRTLINE body[4];
  std::copy(main, main + 4, body);
  if (tabCuts && !MakeRect(body)) return FSIP_C_ERR_UNEXPECTED_ERROR;
  if (offsets) {
    MoveSLs4FHK(body, in->nXResolution, *offsets);
    if (tabCuts) MoveSLs4FHK(cut, in->nXResolution, *offsets);
  } else {
    MoveSLs4FHK(body, in->nXResolution);
    if (tabCuts) MoveSLs4FHK(cut, in->nXResolution);
  }
  if (!tabCuts) std::copy(body, body + 4, cut);
  if (layout) {
    if (!GetFsipPaperLayout(body, skew, &layout->layoutHoleRemove) ||
        !GetFsipPaperLayout(cut, skew, &layout->layoutCrop))
      return FSIP_C_ERR_UNEXPECTED_ERROR;
    gnLayoutW = layout->layoutCrop.sizeRectangle.x;
    gnLayoutH = layout->layoutCrop.sizeRectangle.y;
  }
  return ClipAndCut(pg, cut, true, skew, rec, out, user, &holes);
}

template <class F>
int Guarded(F f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  } catch (...) {
    return FSIP_C_ERR_UNEXPECTED_ERROR;
  }
}

}  // namespace

int CropAll(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_CRPALL* rec, FSIP_S_IMAGEINFO_EX* out,
            FSIP_CRP_S_DUAL_LAYOUT* layout, void* user, int* tabResult) {
  gPrfmData = {};
  if (tabResult) *tabResult = 0;
  if (checkParamCropAll(in, rec, out)) return FSIP_C_ERR_PARAMETER;
  return Guarded([&] { return CropPage(in, rec, nullptr, out, layout, user, tabResult); });
}

int CropAll2(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_CRPALL2* rec, FSIP_S_IMAGEINFO_EX* out,
             FSIP_CRP_S_DUAL_LAYOUT* layout, void* user, int* tabResult) {
  gPrfmData = {};
  if (tabResult) *tabResult = 0;
  if (checkParamCropAll2(in, rec, out)) return FSIP_C_ERR_PARAMETER;
  return Guarded([&] { return CropPage(in, &rec->crpAll, &rec->offset, out, layout, user, tabResult); });
}

int SpecifiedAreaCrop(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_SPECIFIEDAREA_CRP* rec, FSIP_S_IMAGEINFO_EX* out,
                      void* user) {
  gPrfmData = {};
  gnLayoutW = gnLayoutH = -1;
  if (checkParamSpecifiedAreaCrop(in, rec, out)) return FSIP_C_ERR_PARAMETER;
  return Guarded([&]() -> int {
    TuningGuard guard;
    Pages pg;
    int rc = PreparePages(in, pg, false);
    if (rc) return rc;
    gbInv = in->nPixelFlavor == 1;
    MakeLUT4InvXf(rec->crpAll.byTransferDataType, rec->crpAll.pbySendData);
    auto sides = [](const FSIP_CRP_S_PAPER_LAYOUT& l, _STRTLINE* s) {
      auto up = [](FSIP_S_POINT p) { return tagPOINT{p.x, -p.y}; };
      const auto& c = l.cornerPts;
      GetSLfm2Pts(up(c.ptLT), up(c.ptRT), &s[0]);
      GetSLfm2Pts(up(c.ptLT), up(c.ptLB), &s[1]);
      GetSLfm2Pts(up(c.ptLB), up(c.ptRB), &s[2]);
      GetSLfm2Pts(up(c.ptRB), up(c.ptRT), &s[3]);
    };
    _STRTLINE holeSet[4], cropSet[4];
    sides(rec->layout.layoutHoleRemove, holeSet);
    sides(rec->layout.layoutCrop, cropSet);
    // The hole search of the work image is the punch-hole engine's; the
    // sides stay in input pixels here.
    pg.FreeBuffers();
    gd1mm = in->nXResolution / 25.4;
    _STRTLINE* cut = (rec->crpAll.dwFuncFlag & 1) ? cropSet : holeSet;
    if (!MakeRect(cut)) return FSIP_C_ERR_UNEXPECTED_ERROR;
    MoveSLs4FHK(holeSet, in->nXResolution);
    const double skew = rec->layout.layoutCrop.dSkew * kPi / 180;
    return ClipAndCut(pg, cut, false, skew, &rec->crpAll, out, user);
  });
}

int AIQC(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRP_S_AIQC* rec) {
  gPrfmData = {};
  if (checkParamAIQC(in, rec)) return FSIP_C_ERR_PARAMETER;
  return Guarded([&]() -> int {
    TuningGuard guard;
    gdblGrayZone = 1.0;
    gbHWEdgeDetection = 0;
    guBGLvlHW = 10240;
    gnVerticalNoiseW = 8;
    if (!Initialize()) return static_cast<int>(FSIP_C_ERR_OUTOFMEMORY);
    Pages pg;
    int rc = TakeInput(in, pg);
    if (rc) return rc;
    gbInv = in->nPixelFlavor == 1;
    MakeLUT4InvXf(rec->byTransferDataType, rec->pbySendData);
    rc = GetImg4Anlz4Krnk(&pg.input, &pg.work, &pg.scale, &pg.workOwned);
    if (rc) return rc;
    rc = PrepareBuffers(pg, GetDiagonalLength(&pg.work));
    if (rc) return rc;
    _STRTLINE lines[4] = {};
    double skew = 0;
    int found = 0;
    PointList points;
    rc = GetDocPosAIQC(&pg.work, 1, pg.ave, pg.grad, pg.diag, lines, &skew, &found, &points, &gPrfmData);
    pg.FreeBuffers();
    if (rc && rc != kNoDocument) return static_cast<int>(FSIP_C_ERR_UNEXPECTED_ERROR);
    if (rc == kNoDocument || found < 4) return static_cast<int>(FSIP_CRP_C_FOLDED_OR_PARTIAL);
    // The folded-page test belongs to the duplex and shadow steps; a plain
    // four-sided sheet answers 0 until it is there.
    return 0;
  });
}

// ---- punch-hole removal entries ----

namespace {

// The work image's borders as the four sides, y-up.
void BorderSides(const _P2IIMG& img, _STRTLINE* s) {
  s[0] = {0, 0, 1, 0};
  s[1] = {0, -static_cast<double>(img.nHeight - 1), 0, 0};
  s[2] = {0, 0, 1, static_cast<double>(img.nWidth - 1)};
  s[3] = {0, 0, 0, 0};
}

// The paper's four sides on the work image, completed from the tab set
// when fewer came from real edges; `found` tells how many were real.
int FindSides(Pages& pg, int adf, _STRTLINE* sides, int* found) {
  _STRTLINE tab[4] = {};
  double skew = 0;
  *found = 0;
  const int rc = GetDocPos(&pg.work, adf, pg.ave, pg.grad, pg.diag, sides, &skew, found, nullptr, nullptr);
  if (rc) return rc;
  if (*found < 4) {
    std::copy(sides, sides + 4, tab);
    _CHKTABPRM prm;
    SetChkTabPrm(pg.ave, pg.grad, pg.diag, sides, tab, &prm);
    gbExecTabProc = 1;
    CheckTabs(&pg.work, &prm);
    gbExecTabProc = 0;
    for (int i = *found; i < 4; ++i) sides[i] = tab[i];
  }
  return 0;
}

// Holes found on the work image painted into the page (its grey copy for
// a 1-bit page, converted back afterwards).
void CoverPage(Pages& pg, const FSIP_S_IMAGEINFO_EX* in, PHLidList* holes, double scale, uint32_t fill, int mode,
               int* result) {
  {
    Stage st(&gPrfmData.dwCoverPHs);
    AdjustPHLid(holes, scale, 0, 0);
    CoverPHs(&pg.input, holes, fill, mode, result);
  }
  if (pg.mono) {
    _P2IIMG bits;
    FsipII2P2iII(in, &bits);
    ConvGray2BW(&pg.input, &bits);
  }
}

}  // namespace

int PunchHoleRemove(FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_PHRMV* rec, int* holeResult) {
  gPrfmData = {};
  gnLayoutW = gnLayoutH = -1;
  if (checkParamHoleRemove(in, rec)) return FSIP_C_ERR_PARAMETER;
  return Guarded([&]() -> int {
    TuningGuard guard;
    SetCommonTuning();
    const bool flatbed = rec->bADF == 0;
    if (flatbed) {
      uint16_t width = rec->wFBCropSearchWidth, ignore = rec->wFBCropIgnoreLength;
      LoadFbParam(nullptr, &width, &ignore);
      rec->wFBCropSearchWidth = width;
      rec->wFBCropIgnoreLength = ignore;
    } else {
      gdblGrayZone = 1.0;
    }
    if (rec->bOVS && !Initialize()) return static_cast<int>(FSIP_C_ERR_OUTOFMEMORY);
    Pages pg;
    int rc = PreparePages(in, pg, true);
    if (rc) return rc;
    gbInv = in->nPixelFlavor == 1;
    MakeLUT4InvXf(rec->byTransferDataType, rec->pbySendData);
    _STRTLINE sides[4];
    if (rec->bOVS) {
      const int fullHeight = pg.work.nHeight;
      if (flatbed) {
        const int cut = static_cast<int>(static_cast<double>(pg.work.nXResolution) * rec->wFBCropIgnoreLength / 254);
        pg.work.nHeight = std::max(1, pg.work.nHeight - cut);
        gdblGrayZone = static_cast<double>(pg.work.nXResolution) * rec->wFBCropSearchWidth / 254;
      }
      int found = 0;
      rc = FindSides(pg, rec->bADF, sides, &found);
      pg.work.nHeight = fullHeight;
      if (rc) return rc;
    } else {
      BorderSides(pg.work, sides);
    }
    const int mode = rec->nPHMode | 0x100;
    const bool keepAll = (rec->nPHMode & 0xF) == 1;
    PHLidList holes;
    {
      Stage st(&gPrfmData.dwDetectPHs);
      const double zone = gdblGrayZone;
      if (flatbed && !keepAll) gdblGrayZone = 0;
      rc = DetectPHs(&pg.work, sides, pg.ave, pg.grad, pg.diag, &holes, mode, rec->bADF != 0);
      gdblGrayZone = zone;
      if (rc) return rc;
    }
    LimitPHs(&pg.work, &holes, keepAll);
    const double scale = pg.scale;
    pg.FreeBuffers();
    gd1mm = in->nXResolution / 25.4;
    if (holes.empty()) {
      if (holeResult) *holeResult = 2;
      return 0;
    }
    CoverPage(pg, in, &holes, scale, rec->dwHoleRemoveType, mode, holeResult);
    return 0;
  });
}

void FsipCrp_GetPrfmData(_PRFMDATA* out) {
  if (out) *out = gPrfmData;
}

}  // namespace fsipcrop
