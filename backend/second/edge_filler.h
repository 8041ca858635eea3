// The edge filler of the Selko and Brenna pipelines: paints margins of a
// page in white or black, into a new buffer that replaces the page.
#ifndef DRAVN_SECOND_EDGE_FILLER_H
#define DRAVN_SECOND_EDGE_FILLER_H

#include "image_params.h"

namespace kelo_steps {

// Margins in pixels (top and bottom in lines). Rows in the top and bottom
// margins become all 0xFF (bWhite) or 0; the other rows keep their middle
// and get bytes-per-line x margin / width bytes painted at each side.
// Margins that do not fit the page leave it unchanged. 0,
// KELO_IP_PARAMETER (no page, a negative margin or rows shorter than the
// width says) or KELO_IP_OUTOFMEMORY; failures are logged under cpTag.
int FillEdges(unsigned char** ppbyImgData, const KELO_IMAGEDATA_PARAMETERS& tInfo, int iTop, int iBottom, int iLeft,
              int iRight, bool bWhite, const char* cpTag);

}  // namespace kelo_steps

#endif
