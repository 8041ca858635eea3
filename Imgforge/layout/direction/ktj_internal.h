// Helpers shared by the text-direction sources; not part of the interface.
#ifndef IMGFORGE_KTJ_INTERNAL_H
#define IMGFORGE_KTJ_INTERNAL_H

#include <vector>

#include "ktj.h"
#include "layout.h"

namespace ktj {

// Below this, in either direction, every entry answers -2.
constexpr int kMinDpi = 141;

inline bool ResolutionOk(KTJBITMAP const* b) { return b && b->xres >= kMinDpi && b->yres >= kMinDpi; }

// A page whose pixels can be read as a 1-bit image with 16-bit coordinates.
inline bool PageOk(KTJBITMAP const* b) {
  return b && b->data && b->width > 0 && b->height > 0 && b->width <= 32767 && b->height <= 32767 &&
         b->bpl >= (b->width + 7) / 8;
}

// Sums over a caller's coordinates, kept within int.
inline int32_t Clamp(int64_t v) { return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v); }
inline int32_t Extent(int32_t a, int32_t b) { return Clamp(static_cast<int64_t>(b) - a + 1); }

extern const NINSIKI_DIC ninsiki_dic[62];

// Gives each line (continuation copies aside) its characters: those it holds
// for the most part, dust removed unless keep or mode 1, stacked ones merged,
// and with keep or mode 1 neighbours one pixel apart merged. 0 or -1.
int linechar(KtjLine* lines, int n, std::vector<KtjChar>& chars, int keep, int mode);
// Boxes merged with the later ones they overlap (in both directions, or
// with `yOnly` in y alone) while the merged box's longer side x 100 stays
// within limit; sorted by left edge, then top. Returns the count left.
int reduce_box_with_max(KtjChar* boxes, int n, int limit);
int reduce_box_y_with_max(KtjChar* boxes, int n, int limit);
// The line records of a segmentation block: each line followed by its extra
// slots as continuation copies, unless the slots come to 1025 or more.
KtjLine* BlockLines(SEG_BLOCK const& sb, int& count);
// Pixels x0..x0+tw-1 of rows y0..y0+th-1 of a 1-bit page (rows counted from
// the top of a bottom-up page when its order flag is 1) as a new top-down
// tile with rows of ((tw + 31) / 32) * 4 bytes. 0, or -1002.
int ExtractTile1(_P2IIMG const& page, int x0, int y0, int tw, int th, _P2IIMG& tile);

}  // namespace ktj

#endif
