// From the compressed faces of a sheet to the pages the read side serves:
// the page pipeline decodes them and runs every image step on them.
#include <cstdlib>

#include "log.h"
#include "selko2_scan_func.h"

uint32_t CSelko2ScanFunc::HandOverSheet(unsigned char** ppFront, unsigned char** ppBack,
                                        KELO_IMAGEDATA_PARAMETERS* tpSrcInfo, KELO_IMAGEDATA_PARAMETERS* tpDstInfo,
                                        const JPEGINFO* tpJpegInfo) {
  // The pipeline reads the process-wide record, which the entry points
  // rebuild from the options at every start: a sheet of a batch is made
  // with the properties the batch was scanned with, and the pages served
  // are described by them.
  if (m_Batch.Prop() != &g_PropInfo) g_PropInfo = *m_Batch.Prop();
  const int rc = m_Pipeline.DoImageProcess(ppFront, ppBack, tpSrcInfo, tpDstInfo, tpJpegInfo);
  if (rc != 0) {
    // A sheet the pipeline gave up on is never served: its pages are half
    // made and their geometry is not the one announced.
    FreeServedPages();
    return static_cast<uint32_t>(rc);
  }
  // What the read side may serve of each face: what its geometry holds.
  unsigned char* const faces[2] = {*ppFront, *ppBack};
  for (int side = 0; side < 2; ++side) {
    const KELO_IMAGEDATA_PARAMETERS& g = tpDstInfo[side];
    m_ulImageBytes[side] = faces[side] && g.iBytesPerLine > 0 && g.iLines > 0
                               ? static_cast<size_t>(g.iBytesPerLine) * static_cast<size_t>(g.iLines)
                               : 0;
  }
  return 0;
}
