// C interface of the text block and line segmentation.
#include <string.h>

#include <new>

#include "CABunsyoKiridasi.h"

int seg_main(ABITMAP* image, int dpi, ARECT* area, LBL_DATA* labels, int direction, int mode, SEG_RESULT* result) {
  CABitmap bmp;
  if (!result || !area || dpi <= 0 || !layout::Wrap1Bit(image, bmp)) return -2;
  // Results are 16-bit coordinates.
  if (bmp.m_width > 32767 || bmp.m_height > 32767) return -2;
  ARECT2 r{area->x, area->y, layout::LastOf(area->x, area->w), layout::LastOf(area->y, area->h)};
  bmp.clip(r);
  if (r.left > r.right || r.top > r.bottom) return -2;
  auto* seg = new (std::nothrow) CABunsyoKiridasi;
  if (!seg) return -1;
  seg->m_dpi = dpi;
  int rc;
  try {
    rc = seg->Run(bmp, r, labels, direction, mode);
  } catch (std::bad_alloc const&) {
    rc = -1;
  }
  if (rc != 0) {
    delete seg;
    return rc;
  }
  result->blocks = seg->m_blocks.empty() ? nullptr : seg->m_blocks.data();
  result->nblock = static_cast<int32_t>(seg->m_blocks.size());
  result->tables = seg->m_tables.empty() ? nullptr : seg->m_tables.data();
  result->ntable = static_cast<int32_t>(seg->m_tables.size());
  result->handle = seg;
  return 0;
}

void seg_format(SEG_RESULT* result) {
  if (!result || !result->handle) return;
  auto const* seg = static_cast<CABunsyoKiridasi const*>(result->handle);
  const int pitch = std::max(seg->m_para[33], 1), unCounted = pitch * seg->m_para[34] / 100;
  for (int i = 0; i < result->nblock; ++i) {
    SEG_BLOCK& b = result->blocks[i];
    for (int k = 0; k + 1 < b.nline; ++k) {
      SEG_LINE& a = b.lines[k];
      SEG_LINE const& n = b.lines[k + 1];
      int gap;
      if (seg->m_vertical)  // columns run from right to left
        gap = ((a.left + a.right) / 2 - a.size / 2) - ((n.left + n.right) / 2 + n.size / 2);
      else
        gap = ((n.top + n.bottom) / 2 - n.size / 2) - ((a.top + a.bottom) / 2 + a.size / 2);
      const int blank = (gap - unCounted) / pitch;
      a.blank = static_cast<uint16_t>(blank > 0 ? blank : 0);
    }
  }
}

void seg_free(SEG_RESULT* result) {
  if (!result) return;
  delete static_cast<CABunsyoKiridasi*>(result->handle);
  memset(result, 0, sizeof *result);
}
