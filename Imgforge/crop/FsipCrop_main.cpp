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
#include "I3ipDeskewCropping.h"

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
               FSIP_S_IMAGEINFO_EX* out, void* user, PHLidList* holes = nullptr, int holeMode = 0,
               int* cropResult = nullptr) {
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
      rc = ClipOuterFrameView(&pg.input, cut, &pg.clipped, &dx, &dy, &pg.clippedOwned);
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
    // Only the clip's own bytes of each shared row are copied.
    if (!pg.clippedOwned) {
      const size_t row = static_cast<size_t>(pg.clipped.nWidth) * (pg.clipped.nBitsPerPixel / 8);
      const size_t size = row * pg.clipped.nHeight;
      auto* copy = static_cast<uint8_t*>(malloc(size ? size : 1));
      if (!copy) return FSIP_C_ERR_OUTOFMEMORY;
      for (int r = 0; r < pg.clipped.nHeight; ++r)
        memcpy(copy + r * row, pg.clipped.pImageData + static_cast<size_t>(r) * pg.clipped.nBytesPerLine, row);
      pg.clipped.pImageData = copy;
      pg.clipped.nBytesPerLine = static_cast<int32_t>(row);
      pg.clipped.nImageSize = static_cast<int32_t>(size);
      pg.clippedOwned = true;
    }
    AdjustPHLid(holes, pg.scale, static_cast<int>(RoundHalfAway(offX)), static_cast<int>(RoundHalfAway(offY)));
    CoverPHs(&pg.clipped, holes, rec->dwHoleRemoveType, holeMode, nullptr);
  }
  {
    Stage st(&gPrfmData.dwCropImg);
    rc = CropImg(&pg.clipped, cut, skew, pg.mono ? 1 : 0, rec, out, user);
  }
  if (cropResult) *cropResult = rc;
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
    // The hole search samples profiles on the work image: its buffers need
    // the work image's diagonal, not nothing.
    const bool findHoles = (rec->crpAll.dwFuncFlag & 2) != 0;
    int rc = PreparePages(in, pg, findHoles);
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
    PHLidList holes;
    if (findHoles) {
      Stage st(&gPrfmData.dwDetectPHs);
      _STRTLINE work[4];
      std::copy(holeSet, holeSet + 4, work);
      for (_STRTLINE& l : work) (l.bVert ? l.dX : l.dB) *= pg.scale;
      rc = DetectPHs(&pg.work, work, pg.ave, pg.grad, pg.diag, &holes, 0, true);
      if (rc) return rc;
    }
    pg.FreeBuffers();
    gd1mm = in->nXResolution / 25.4;
    _STRTLINE* cut = (rec->crpAll.dwFuncFlag & 1) ? cropSet : holeSet;
    if (!MakeRect(cut)) return FSIP_C_ERR_UNEXPECTED_ERROR;
    MoveSLs4FHK(holeSet, in->nXResolution);
    const double skew = rec->layout.layoutCrop.dSkew * kPi / 180;
    return ClipAndCut(pg, cut, false, skew, &rec->crpAll, out, user, &holes);
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
    return IsFoldedDoc(lines, points, pg.work.nXResolution) ? static_cast<int>(FSIP_CRP_C_FOLDED_OR_PARTIAL) : 0;
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

// ---- duplex entries ----

namespace {

// The margins variant analyses the deskew-and-crop engine's image of the
// face in place of the work image.
int PrepareAnalysisImage(Pages& pg) {
  _P2IIMG res{};
  const int rc = ModifyImageForAnalysisFsip(&pg.work, &res);
  if (rc) return rc;
  if (pg.workOwned) free(pg.work.pImageData);
  pg.work = res;
  pg.workOwned = 1;
  return 0;
}

int32_t gbLoadGaps = 0;

void LoadGapsOnce() {
  if (gbLoadGaps) return;
  LoadDupGaps(nullptr, &gnShdwAGapX, &gnShdwAGapY, &gnShdwBGapX, &gnShdwBGapY);
  LoadDupGapSliceParam(nullptr, &gnDupCrpGapSliceX, &gnDupCrpGapSliceY, &gnDupCrpBigRhGap, &gnDupCrpBigThGap);
  gbLoadGaps = 1;
}

// One face of a duplex sheet.
struct Face {
  Pages pg;
  _STRTLINE rect[4] = {};  // the sides, a rectangle; the pairing may replace them
  _STRTLINE own[4] = {};   // the face's own sides before the pairing
  _STRTLINE tab[4] = {};
  int sides = 0;
  PHLidList holes, free;
};

void SetTone(const FSIP_S_IMAGEINFO_EX& in, uint8_t type, const unsigned char* block) {
  gbInv = in.nPixelFlavor == 1;
  MakeLUT4InvXf(type, block);
}

// Searches a face's paper; a face whose paper is not found keeps 0 sides.
void SearchFace(Face& f, int adf) {
  gd1mm = f.pg.work.nXResolution / 25.4;
  int found = 0;
  if (FindSides(f.pg, adf, f.rect, &found)) return;
  if (!MakeRect(f.rect)) return;
  f.sides = 4;
}

// Lets the two faces' sides be judged together: true when paired.
bool PairFaces(Face* f) {
  _HOUGHRSLT a, b;
  SetHoughRslt(f[0].rect, nullptr, nullptr, nullptr, f[0].sides, &a);
  SetHoughRslt(f[1].rect, nullptr, nullptr, nullptr, f[1].sides, &b);
  const bool paired = GetBestSLs(&f[0].pg.work, &a, &f[1].pg.work, &b) != 0;
  f[0].sides = a.nSL;
  f[1].sides = b.nSL;
  return paired;
}

// Both faces' holes, reconciled when the faces are paired.
void FindFaceHoles(Face* f, bool paired, const bool* wanted, int mode, bool adf) {
  for (int s = 0; s < 2; ++s) {
    Face& x = f[s];
    x.holes.clear();
    x.free.clear();
    if (!wanted[s] || x.sides == 0) continue;
    gbLowReso = x.pg.work.nXResolution < 100;
    gd1mm = x.pg.work.nXResolution / 25.4;
    if (paired) {
      // The pattern search walks the free search's lines: it starts where
      // that one first met candidates and reads back the profiles it took.
      PHSideStarts met;
      PHLineCache lines;
      HidePHsFrom(&x.pg.work, x.rect, x.pg.ave, x.pg.grad, x.pg.diag, 0, 0, &x.free, 0, mode, adf, nullptr, &met,
                  &lines);
      lines.record = false;
      HidePHsFrom(&x.pg.work, x.rect, x.pg.ave, x.pg.grad, x.pg.diag, 0, 1, &x.holes, 0, mode, adf, &met, nullptr,
                  &lines);
    } else {
      DetectPHs(&x.pg.work, x.own, x.pg.ave, x.pg.grad, x.pg.diag, &x.holes, mode, adf);
    }
  }
  if (paired && wanted[0] && wanted[1])
    GetBestPHs(&f[0].pg.work, &f[0].holes, &f[0].free, &f[1].pg.work, &f[1].holes, &f[1].free);
}

// A requested face that was not produced answers -1; any other failure of
// a produced face -5.
int DupResult(const int* res, const bool* requested) {
  for (int s = 0; s < 2; ++s)
    if (requested[s] && res[s] == FSIP_C_ERR_OUTOFMEMORY) return FSIP_C_ERR_OUTOFMEMORY;
  for (int s = 0; s < 2; ++s)
    if (requested[s] && res[s] != 0) return FSIP_C_ERR_UNEXPECTED_ERROR;
  return 0;
}

int DupCrop(FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_CRPALL* const* half, const FSIP_CRP_S_OFFSET_VALUE* const* offsets,
            uint32_t reqSide, FSIP_S_IMAGEINFO_EX* out, void* user, int* tabCount, int mode, bool analysis) {
  TuningGuard guard;
  SetCommonTuning();
  LoadGapsOnce();
  if (!Initialize()) return FSIP_C_ERR_OUTOFMEMORY;
  Face f[2];
  for (int s = 0; s < 2; ++s) {
    SetTone(in[s], half[s]->byTransferDataType, half[s]->pbySendData);
    gdblGrayZone = 1.0;
    int rc = PreparePages(&in[s], f[s].pg, true);
    if (rc) return rc;
    if (analysis) {
      rc = PrepareAnalysisImage(f[s].pg);
      if (rc) return rc;
    }
    SearchFace(f[s], half[s]->bADF);
    if (analysis && f[s].sides == 4 && (half[s]->dwFuncFlag & 1) &&
        IsLongPage(f[s].rect, f[s].pg.work.nXResolution, IsA3Scanner(half[s]->szScanner))) {
      std::copy(f[s].rect, f[s].rect + 4, f[s].tab);
      _CHKTABPRM prm;
      SetChkTabPrm(f[s].pg.ave, f[s].pg.grad, f[s].pg.diag, f[s].rect, f[s].tab, &prm);
      const int r = GetBestRect(&f[s].pg.work, f[s].rect, &prm);
      if (tabCount) *tabCount += r;
    }
    std::copy(f[s].rect, f[s].rect + 4, f[s].own);
  }
  if (f[0].sides == 0 && f[1].sides == 0) return FSIP_C_ERR_UNEXPECTED_ERROR;
  const bool paired = PairFaces(f);
  const bool holesWanted[2] = {(half[0]->dwFuncFlag & 2) != 0, (half[1]->dwFuncFlag & 2) != 0};
  for (int s = 0; s < 2; ++s) {
    Face& x = f[s];
    if (x.sides == 0) continue;
    SetTone(in[s], half[s]->byTransferDataType, half[s]->pbySendData);
    std::copy(x.rect, x.rect + 4, x.tab);
    if (half[s]->dwFuncFlag & 1) {
      _CHKTABPRM prm;
      SetChkTabPrm(x.pg.ave, x.pg.grad, x.pg.diag, x.rect, x.tab, &prm);
      gbExecTabProc = 1;
      const int r = CheckTabs(&x.pg.work, &prm);
      gbExecTabProc = 0;
      if (tabCount) *tabCount += r;
    }
  }
  {
    Stage st(&gPrfmData.dwDetectPHs);
    FindFaceHoles(f, paired, holesWanted, mode, analysis ? half[0]->bADF != 0 : true);
  }
  const bool requested[2] = {reqSide != 1, reqSide != 0};
  int res[2] = {0, 0};
  for (int s = 0; s < 2; ++s) {
    Face& x = f[s];
    const double scale = x.pg.scale;
    x.pg.FreeBuffers();
    if (!requested[s]) continue;
    if (x.sides == 0) {
      res[s] = kNoDocument;
      continue;
    }
    SetTone(in[s], half[s]->byTransferDataType, half[s]->pbySendData);
    gd1mm = in[s].nXResolution / 25.4;
    double skew = 0;
    GetDskwAngle(x.rect[0], &skew);
    ToInput(x.rect, scale);
    ToInput(x.tab, scale);
    if (offsets) {
      MoveSLs4FHK(x.rect, in[s].nXResolution, *offsets[s]);
      MoveSLs4FHK(x.tab, in[s].nXResolution, *offsets[s]);
      LimitPHs(&x.pg.work, &x.holes, (mode & 0xF) == 1);
    } else {
      MoveSLs4FHK(x.rect, in[s].nXResolution);
      MoveSLs4FHK(x.tab, in[s].nXResolution);
    }
    int cropRc = INT32_MIN;
    const int rc = ClipAndCut(x.pg, x.tab, false, skew, half[s], &out[s], user, &x.holes, mode, &cropRc);
    res[s] = cropRc == INT32_MIN ? rc : cropRc;
    if (cropRc == -1) {
      res[s] = FSIP_C_ERR_OUTOFMEMORY;
      break;
    }
  }
  return DupResult(res, requested);
}

}  // namespace

bool IsLongPage(const _STRTLINE* sides, int dpi, bool a3) {
  const double L = std::trunc((a3 ? 17 : 14) * dpi * 1.03);
  _STRTLINE s[4];
  OrderPageSides(sides, s);
  auto d = [&](int i) { return GetDistance(tagPOINT{0, 0}, s[i]); };
  return std::fabs(d(0) - d(2)) > L || std::fabs(d(1) - d(3)) > L;
}

bool IsA3Scanner(const char* name) {
  // No family of the device tables is marked as taking A3 sheets: the list
  // of series prefixes is empty until one is.
  static const char* const kA3Series[] = {nullptr};
  if (!name) return false;
  for (const char* p : kA3Series)
    if (p && std::strstr(name, p)) return true;
  return false;
}

int DupCropAll(FSIP_S_IMAGEINFO_EX* in, _FSIP_CRP_S_DUPCRPALL* rec, FSIP_S_IMAGEINFO_EX* out, void* user,
               int* tabCount) {
  gPrfmData = {};
  if (tabCount) *tabCount = 0;
  gnLayoutW = gnLayoutH = -1;
  if (checkParamDupCropAll(in, rec, out)) return FSIP_C_ERR_PARAMETER;
  return Guarded([&]() -> int {
    FSIP_CRP_S_CRPALL* half[2] = {&rec->crpAll[0], &rec->crpAll[1]};
    return DupCrop(in, half, nullptr, rec->nReqSide, out, user, tabCount, 0, false);
  });
}

int ModifyImageForAnalysisFsip(const _P2IIMG* face, _P2IIMG* result) {
  I3ipImageInfo in{};
  in.Size = sizeof in;
  in.DataType = 0;
  in.Bpp = static_cast<uint8_t>(face->nBitsPerPixel);
  in.Boundary = 1;
  in.Dpi = static_cast<uint16_t>(face->nXResolution);
  in.Width = static_cast<uint32_t>(face->nWidth);
  in.Height = static_cast<uint32_t>(face->nHeight);
  in.Bpl = static_cast<uint32_t>(face->nBytesPerLine);
  in.DataSize = in.Bpl * in.Height;
  in.Data = face->pImageData;
  I3ipImageInfo out{};
  const int rc = i3ipdc::ModifyImageForAnalysis(&in, true, &out);
  if (rc == i3ipdc::kNoMemory) return FSIP_C_ERR_OUTOFMEMORY;
  if (rc != i3ipdc::kOk) return FSIP_C_ERR_UNEXPECTED_ERROR;
  *result = *face;
  result->pImageData = out.Data;
  result->nBitsPerPixel = out.Bpp;
  result->nWidth = static_cast<int32_t>(out.Width);
  result->nHeight = static_cast<int32_t>(out.Height);
  result->nBytesPerLine = static_cast<int32_t>(out.Bpl);
  result->nImageSize = static_cast<int32_t>(out.Bpl * out.Height);
  result->nXResolution = result->nYResolution = out.Dpi;
  result->nLeft = result->nTop = 0;
  result->nRight = result->nWidth - 1;
  result->nBottom = result->nHeight - 1;
  return 0;
}

int DupCropAll2(FSIP_S_IMAGEINFO_EX* in, _FSIP_CRP_S_DUPCRPALL2* rec, FSIP_S_IMAGEINFO_EX* out, void* user,
                int* tabCount) {
  gPrfmData = {};
  if (tabCount) *tabCount = 0;
  gnLayoutW = gnLayoutH = -1;
  if (checkParamDupCropAll2(in, rec, out)) return FSIP_C_ERR_PARAMETER;
  return Guarded([&]() -> int {
    FSIP_CRP_S_CRPALL* half[2] = {&rec->crpAll2[0].crpAll, &rec->crpAll2[1].crpAll};
    const FSIP_CRP_S_OFFSET_VALUE* offsets[2] = {&rec->crpAll2[0].offset, &rec->crpAll2[1].offset};
    const int mode = rec->crpAll2[0].nPHMode | 0x200;
    return DupCrop(in, half, offsets, rec->nReqSide, out, user, tabCount, mode, true);
  });
}

int DupPunchHoleRemove(FSIP_S_IMAGEINFO_EX* in, _FSIP_CRP_S_DUPPHRMV* rec) {
  gPrfmData = {};
  gnLayoutW = gnLayoutH = -1;
  if (checkParamDupHoleRemove(in, rec)) return FSIP_C_ERR_PARAMETER;
  return Guarded([&]() -> int {
    TuningGuard guard;
    SetCommonTuning();
    LoadGapsOnce();
    const bool ovs = rec->phRmv[0].bOVS != 0;
    if (ovs && !Initialize()) return static_cast<int>(FSIP_C_ERR_OUTOFMEMORY);
    Face f[2];
    for (int s = 0; s < 2; ++s) {
      const FSIP_CRP_S_PHRMV& h = rec->phRmv[s];
      SetTone(in[s], h.byTransferDataType, h.pbySendData);
      gdblGrayZone = 1.0;
      // Each face's buffers cover its own work image: a profile needs room.
      const int rc = PreparePages(&in[s], f[s].pg, true);
      if (rc) return rc;
      if (ovs) {
        SearchFace(f[s], h.bADF);
      } else {
        BorderSides(f[s].pg.work, f[s].rect);
        f[s].sides = 4;
      }
      std::copy(f[s].rect, f[s].rect + 4, f[s].own);
    }
    bool paired = true;
    if (ovs) {
      if (f[0].sides == 0 && f[1].sides == 0) return static_cast<int>(FSIP_C_ERR_UNEXPECTED_ERROR);
      paired = PairFaces(f);
    }
    const bool all[2] = {true, true};
    {
      Stage st(&gPrfmData.dwDetectPHs);
      FindFaceHoles(f, paired, all, 0, true);
    }
    const uint32_t req = rec->nReqSide;
    for (int s = 0; s < 2; ++s) {
      Face& x = f[s];
      const double scale = x.pg.scale;
      x.pg.FreeBuffers();
      if ((req == 0 && s == 1) || (req == 1 && s == 0) || x.holes.empty()) continue;
      SetTone(in[s], rec->phRmv[s].byTransferDataType, rec->phRmv[s].pbySendData);
      gd1mm = in[s].nXResolution / 25.4;
      CoverPage(x.pg, &in[s], &x.holes, scale, rec->phRmv[s].dwHoleRemoveType, 0, nullptr);
    }
    return 0;
  });
}

void FsipCrp_GetPrfmData(_PRFMDATA* out) {
  if (out) *out = gPrfmData;
}

}  // namespace fsipcrop
