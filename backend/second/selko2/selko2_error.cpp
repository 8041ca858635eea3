// The row of the Selko2 error table for a last-error code.
#include "selko2_error.h"

namespace {

constexpr Selko2ErrorRow kRows[] = {
    {0, SANE_STATUS_GOOD, 0, false, 0, 0, 0, false},
    {11, SANE_STATUS_DEVICE_BUSY, 0, true, 4, 0x80, 0x30, true},
    {15, SANE_STATUS_UNSUPPORTED, 0, true, 4, 0x80, 0x30, true},
    {23, SANE_STATUS_IO_ERROR, 0, true, 0, 0, 0, false},
    {24, SANE_STATUS_IO_ERROR, 0, true, 0, 0, 0, false},
    {32, SANE_STATUS_INVAL, 0, true, 0, 0, 0, false},
    {33, SANE_STATUS_NO_MEM, 0, true, 0, 0, 0, false},
    {34, SANE_STATUS_IO_ERROR, 0, true, 0, 0, 0, false},
    {35, SANE_STATUS_IO_ERROR, 0, true, 3, 0x80, 0x35, false},
    {4096, SANE_STATUS_IO_ERROR, 0, true, 0, 0, 0, false},
    {4101, SANE_STATUS_IO_ERROR, 0, false, 0, 0, 0, false},
    {4102, SANE_STATUS_IO_ERROR, 0, false, 0, 0, 0, false},
    {8193, SANE_STATUS_IO_ERROR, 0x31, true, 3, 0x80, 0x01, false},
    {8194, SANE_STATUS_JAMMED, 0x31, true, 3, 0x80, 0x01, false},
    {8195, SANE_STATUS_JAMMED, 0x31, true, 3, 0x80, 0x01, false},
    {8196, SANE_STATUS_JAMMED, 0x55, true, 3, 0x80, 0x07, false},
    {8197, SANE_STATUS_JAMMED, 0, true, 4, 0x80, 0x30, true},
    {8201, SANE_STATUS_COVER_OPEN, 0x40, true, 3, 0x80, 0x02, false},
    {8206, SANE_STATUS_NO_DOCS, 0x20, true, 3, 0x80, 0x03, false},
    {8207, SANE_STATUS_IO_ERROR, 0x75, true, 4, 0x80, 0x06, false},
    {8212, SANE_STATUS_IO_ERROR, 0x74, true, 4, 0x80, 0x06, false},
    {8213, SANE_STATUS_IO_ERROR, 0x1B, true, 4, 0x44, 0x00, false},
    {16385, SANE_STATUS_CANCELLED, 0, true, 0, 0, 0, false},
    {16386, SANE_STATUS_CANCELLED, 0x78, true, 3, 0x80, 0x20, false},
    {16387, SANE_STATUS_NO_MEM, 0, true, 4, 0x80, 0x30, true},
};

constexpr Selko2ErrorRow kOther{0xFFFFFFFF, SANE_STATUS_IO_ERROR, 0, true, 4, 0x80, 0x30, true};

}  // namespace

const Selko2ErrorRow& FindSelko2ErrorRow(uint32_t code) {
  for (const auto& row : kRows)
    if (row.code == code) return row;
  return kOther;
}
