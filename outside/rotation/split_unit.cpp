// Stand-in for the outside split unit: cuts a page into an upper and a lower
// half across its height. Each half keeps the page's width and bytes per line
// and gets pixels of its own, which the caller frees with free().
#include <cstdlib>
#include <cstring>

#include "I3ipImageInfo.h"
#include "dravn_export.h"

namespace {

bool TakeRows(const I3ipImageInfo& in, uint32_t firstRow, uint32_t rows, I3ipImageInfo* out) {
  *out = in;
  out->Height = rows;
  out->DataSize = rows * in.Bpl;
  out->Data = static_cast<unsigned char*>(std::malloc(out->DataSize ? out->DataSize : 1));
  if (!out->Data) return false;
  std::memcpy(out->Data, in.Data + static_cast<size_t>(firstRow) * in.Bpl, out->DataSize);
  return true;
}

}  // namespace

extern "C" DRAVN_EXPORT int I3ipIpunitProcess_Split(I3ipImageInfo* in, I3ipImageInfo* upper,
                                                    I3ipImageInfo* lower) {
  if (!in || !upper || !lower || !in->Data || in->Width == 0 || in->Height < 2 || in->Bpl == 0)
    return I3IP_ERR_ARGUMENT;
  if (static_cast<uint64_t>(in->Bpl) * in->Height > in->DataSize && in->DataSize != 0)
    return I3IP_ERR_ARGUMENT;
  const uint32_t top = in->Height / 2;
  if (!TakeRows(*in, 0, top, upper)) return I3IP_ERR_MEMORY;
  if (!TakeRows(*in, top, in->Height - top, lower)) {
    std::free(upper->Data);
    upper->Data = nullptr;
    return I3IP_ERR_MEMORY;
  }
  return I3IP_OK;
}
