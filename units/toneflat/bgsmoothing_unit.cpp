// Background smoothing unit: evens out the background colours of a 24-bit
// page and, in mode 1, paints the main background white. No state, no
// files, no log.
#include <cstdlib>

#include "I3ipImageInfo.h"
#include "color_smoothing.h"
#include "dravn_export.h"

struct I3ipUnitInfo;

// Entries of the unit frame that this unit has nothing to do in; exported
// under their C++ names, as the frame looks them up.
DRAVN_EXPORT int I3ipLoadLibrary(I3ipUnitInfo*) { return 0; }
DRAVN_EXPORT int I3ipUnloadLibrary(I3ipUnitInfo*) { return 0; }
DRAVN_EXPORT int I3ipIpunitShutdown(I3ipUnitInfo*) { return 0; }

namespace {

// The output is sized from DataSize and smoothed by Width, Height and Bpl:
// a record whose fields disagree would be read or written past its end.
bool Consistent(const I3ipImageInfo& in) {
  return in.Width > 0 && in.Height > 0 && static_cast<uint64_t>(in.Bpl) >= 3 * static_cast<uint64_t>(in.Width) &&
         static_cast<uint64_t>(in.DataSize) >= static_cast<uint64_t>(in.Height) * in.Bpl;
}

}  // namespace

extern "C" DRAVN_EXPORT int I3ipIpunitProcess_BGSmoothing(I3ipImageInfo* in, int mode, int cleanness,
                                                          I3ipImageInfo* out) {
  if (!in || !out) return I3IP_ERR_ARGUMENT;
  *out = *in;
  out->Data = nullptr;
  if (in->Bpp != 24 || !Consistent(*in)) return I3IP_ERR_ARGUMENT;
  out->Data = static_cast<unsigned char*>(calloc(in->DataSize, 1));
  if (!out->Data) return I3IP_ERR_MEMORY;
  const int rc = colorsmooth::i3ColorSmoothing(in, cleanness, mode == 1, false, 0, out);
  if (rc == colorsmooth::I3IP_BCSMTH_SUCCESS) return I3IP_OK;
  free(out->Data);
  out->Data = nullptr;
  if (rc == colorsmooth::I3IP_BCSMTH_INVALID_PARAM) return I3IP_ERR_ARGUMENT;
  if (rc == colorsmooth::I3IP_BCSMTH_NO_MEMORY) return I3IP_ERR_MEMORY;
  return I3IP_OK;  // no colour cluster: nothing to smooth
}
