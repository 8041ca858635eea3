// Rotation of 24-bit pages by quarter turns given in degrees, as the Selko
// and Brenna pipelines turn their colour pages before the mode step.
#ifndef DRAVN_SECOND_IMAGE_ROTATE24_H
#define DRAVN_SECOND_IMAGE_ROTATE24_H

#include "fsip_records.h"

namespace kelo_steps {

// Turns the 24-bit page of pstIn by 90 (clockwise), 180 or 270 degrees into
// a new buffer in pstOut (free() it); quarter turns swap the resolutions.
// 0, KELO_IP_OUTOFMEMORY (-1) or KELO_IP_PARAMETER (-2) for another angle,
// another depth or a record that does not describe its rows.
int P2iRotate(const _P2IIMG* pstIn, int iAngle, _P2IIMG* pstOut);

}  // namespace kelo_steps

#endif
