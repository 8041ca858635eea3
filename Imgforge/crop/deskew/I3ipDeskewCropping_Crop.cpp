// DeskewAndCropping: the deskew-and-crop engine's exported entry. One page
// in, the document straightened and cut out into a new block.
#include <cmath>
#include <cstdlib>

#include "I3ipDeskewCropping.h"
#include "dravn_export.h"

namespace i3ipdc {

int DeskewAndCropping(const I3ipImageInfo* in, I3ipImageInfo* out) {
  struct Held {
    I3ipImageInfo analysis{};
    bool allocated = false;
    unsigned char* profile = nullptr;
    unsigned char* gradient = nullptr;
    ~Held() {
      FreeMem(profile);
      FreeMem(gradient);
      if (allocated) FreeMem(analysis.Data);
      FreeSinCosTable();
    }
  } held;
  if (CreateSinCosTable() != kOk) return kNoMemory;
  double scale = 1;
  int rc = GetAnalyticalImage(in, 1, &held.analysis, &scale, &held.allocated);
  if (rc != kOk) return rc;
  const I3ipImageInfo* img = held.allocated ? &held.analysis : in;
  const int diag = GetDiagonalLength(img);
  if (AllocMem(&held.profile, diag * static_cast<int>(sizeof(unsigned))) != kOk ||
      AllocMem(&held.gradient, diag * static_cast<int>(sizeof(int))) != kOk)
    return kNoMemory;
  auto* profile = reinterpret_cast<unsigned*>(held.profile);
  auto* gradient = reinterpret_cast<int*>(held.gradient);
  _LINE lines[4] = {};
  double angle = 0;
  int n = 0;
  rc = GetDocumentPosition(img, profile, gradient, diag, lines, &angle, &n, nullptr);
  // Out of memory leaves the lines unset: nothing sound to crop by.
  if (rc != kOk) return rc;
  if (n != 4) {
    _LINE tabLines[4];
    CheckTabs(img, profile, gradient, diag, lines, n, tabLines);
    for (int i = n; i < 4; ++i) lines[i] = tabLines[i];
  }
  FreeMem(held.profile);
  FreeMem(held.gradient);
  held.profile = held.gradient = nullptr;
  if (held.allocated) FreeMem(held.analysis.Data);
  held.allocated = false;
  // Back to input pixels before the rectangle is made: its corners are
  // rounded to whole pixels, which at half resolution would be two.
  if (std::fabs(scale - 1) >= 1e-10) ScaleLines(lines, 4, scale);
  _LINE found[4] = {lines[0], lines[1], lines[2], lines[3]};
  MakeRect(lines, false);
  if (scale < 1) {
    // The halved image keeps every other pixel, so half of its steps into
    // the page are sharp; the edge scan places a sharp step on the outer of
    // its two equal gradients, half an analysis pixel outward of where the
    // paper's edge lies on average. Found sides are thus a quarter of an
    // analysis pixel outward on average: take that back. Supplied sides
    // stand on the paper's outermost pixels already.
    int map[4];
    MakeConvertList(found, lines, map);
    double inward[4];
    for (int j = 0; j < 4; ++j) inward[j] = map[j] < n ? -0.25 / scale : 0;
    MoveLinesBy(lines, inward);
  }
  return CropDocument(in, lines, angle, out);
}

}  // namespace i3ipdc

DRAVN_C_EXPORT int DeskewAndCropping(const I3ipImageInfo* in, I3ipImageInfo* out) {
  return i3ipdc::DeskewAndCropping(in, out);
}
