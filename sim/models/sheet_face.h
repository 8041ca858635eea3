// What a feeder scanner's optics see of a sheet: the page file read straight
// into a pixel buffer that is kept from face to face, and a face drawn from
// it in one pass, each pixel written once, either as the host's window cuts
// the paper or as an over-scanned sheet on the white backing, centred as the
// feeder's guides centre it.
#ifndef DRAVN_SIM_MODELS_SHEET_FACE_H
#define DRAVN_SIM_MODELS_SHEET_FACE_H

#include <string>
#include <vector>

#include "test_pages.h"

namespace dravn_sim {

// No page is wider or longer than this many pixels.
constexpr long kMaxPagePixels = 160000;

class SheetFace {
 public:
  // Reads a binary PNM page (P6, P5 or P4) into the kept page buffer; a
  // missing or malformed file, or one larger than a scanner feeds, leaves no
  // page (HasPage() false).
  bool Load(const std::string& path);
  bool HasPage() const { return m_havePage; }
  const dravn_pages::Image& Page() const { return m_page; }
  // The page's size in pixels at a scan resolution, the file being at `dpi`.
  long PageWidth(long dpi, long resolution) const { return m_page.width * resolution / dpi; }
  long PageLength(long dpi, long resolution) const { return m_page.height * resolution / dpi; }

  // The face: `width` x `height` RGB pixels. The page sample of face pixel
  // (x, y) is ((x - left) * dpi / resX, (y - top) * dpi / resY); face pixels
  // off the page are `fill`.
  struct Layout {
    long width = 16, height = 16;
    long left = 0, top = 0;  // the page's top-left corner, face pixels
    long dpi = 300, resX = 300, resY = 300;
  };
  const dravn_pages::Image& Draw(const Layout& layout, uint8_t fill);

  // An over-scanned sheet, `width` x `length` face pixels, turned `skewDeg`
  // degrees (counter-clockwise as seen) about its centre; its bounding box
  // (Bounds) has its top-left corner at (left, top) of the layout.
  struct Sheet {
    long width = 0, length = 0;
    double skewDeg = 0;
    // The page file carries its own backing and shadow: none is drawn.
    bool shadow = true;
    // The edge that faces the lamp: the bottom one on a front face, the top
    // one on a back face.
    bool lampAtTop = false;
    // The levels the optics deliver: white paper, the backing, its noise
    // (levels either way) and how much darker the shadow is than the backing.
    uint8_t white = 236, backing = 245, noise = 2, shadowDepth = 70;
  };
  // The face as the optics see it: the paper a little darker than the white
  // backing (whose few levels of noise show), a shadow about 0.25 mm wide
  // right round the paper, and the cut edge that faces
  // the lamp catching its light in a saturated rim 0.6 mm wide on the paper.
  const dravn_pages::Image& DrawOnBacking(const Layout& layout, const Sheet& sheet);
  // The raw levels of the Selko and Selko2 optics: the host stretches them
  // with its adjust table, which saturates from 230 up, to paper at 230 and
  // the backing at 245, its noise two levels either way, about the paper's
  // shadow at 175. A page file that carries its own backing keeps the
  // levels it was written for.
  static Sheet StretchedLevels(Sheet sheet) {
    if (!sheet.shadow) return sheet;
    sheet.white = 211, sheet.backing = 222, sheet.noise = 1, sheet.shadowDepth = 53;
    return sheet;
  }
  // The bounding box of a sheet `pageW` x `pageL` turned `skewDeg` degrees.
  static void Bounds(long pageW, long pageL, double skewDeg, long* width, long* length);

  // The feeder centres a sheet across the face (the over-scan shared on both
  // sides; a sheet wider than the face loses as much on either side) and it
  // enters `marginY` pixels below the face's top. The face is `faceW` wide
  // and at most `maxLength` long, ending `marginY` below the sheet. A
  // skewed sheet is placed by its bounding box.
  static Layout Centred(long faceW, long maxLength, long pageW, long pageL, long marginY, double skewDeg = 0);
  // Where a sheet `pageW` wide starts in a face `faceW` wide, centred.
  static long CentredLeft(long faceW, long pageW);

  dravn_pages::Image& Face() { return m_face; }

 private:
  void Columns(const Layout& layout);
  void DrawTurned(const Layout& layout, const Sheet& sheet, long shadowPx, long rimPx);
  const uint8_t* PageRow(const Layout& layout, long y) const;

  dravn_pages::Image m_page;
  bool m_havePage = false;
  dravn_pages::Image m_face;
  std::vector<int> m_column;  // page column of each face column, -1 off the page
};

}  // namespace dravn_sim

#endif
