// Device-control codes of the main backend: 0 success, 1..11 SANE_Status
// values passed through, 0xD00000xx general, 0xD00200xx transport and
// 0xD004xxxx device and property failures.
#ifndef DRAVN_MAIN_DEVCTL_CODES_H
#define DRAVN_MAIN_DEVCTL_CODES_H

#include <cstdint>

namespace dravnmain {

constexpr uint32_t VK_OK = 0;

constexpr uint32_t QV_ERR_CTL_ILLEGAL_PARAM = 0xD0000001;
constexpr uint32_t QV_ERR_CTL_NOT_SUPPORT = 0xD0000002;
constexpr uint32_t QV_ERR_CTL_NO_MEMORY = 0xD0000003;
constexpr uint32_t QV_ERR_CTL_TIMEOUT = 0xD0000004;

constexpr uint32_t QV_ERR_CTL_COMMAND = 0xD0020001;
constexpr uint32_t QV_ERR_CTL_STATUS = 0xD0020002;
constexpr uint32_t QV_ERR_CTL_DATA_OUT = 0xD0020003;
constexpr uint32_t QV_ERR_CTL_DATA_IN = 0xD0020004;
constexpr uint32_t QV_ERR_CTL_STATUS_NOT_GOOD = 0xD0020005;
constexpr uint32_t QV_ERR_CTL_RESERVATION_CONFLICT = 0xD0020006;

constexpr uint32_t QV_ERR_CTL_PAPER_JAM = 0xD0040004;
constexpr uint32_t QV_ERR_CTL_COVER_OPEN = 0xD0040005;
constexpr uint32_t QV_ERR_CTL_NO_PAPER = 0xD0040006;
constexpr uint32_t QV_ERR_CTL_DOUBLE_FEED = 0xD0040007;
constexpr uint32_t QV_ERR_CTL_DATA_NOT_ENOUGH = 0xD0040008;
constexpr uint32_t QV_ERR_CTL_STOP_QUICKLY = 0xD0040009;
constexpr uint32_t QV_ERR_CTL_LAMP_FUSE_BLOWN = 0xD004000A;
constexpr uint32_t QV_ERR_CTL_NO_SENSE = 0xD004000B;
constexpr uint32_t QV_ERR_CTL_NOT_READY = 0xD004000C;
constexpr uint32_t QV_ERR_CTL_INSIDE_DEVICE_EXCEPTION = 0xD004000D;
constexpr uint32_t QV_ERR_CTL_ADF_FUSE_DISCONNECT = 0xD004000E;
constexpr uint32_t QV_ERR_CTL_BRIGHTNESS_EXCEPTION = 0xD004000F;
constexpr uint32_t QV_ERR_CTL_ADF_BG_ALARM = 0xD0040010;
constexpr uint32_t QV_ERR_CTL_INVALID_COMMAND = 0xD0040011;
constexpr uint32_t QV_ERR_CTL_CDB_INVALIDATION_FIELD = 0xD0040012;
constexpr uint32_t QV_ERR_CTL_PARALIST_INVALIDATION_FIELD = 0xD0040013;
constexpr uint32_t QV_ERR_CTL_COMMAND_SEQUENCE_WRONG = 0xD0040014;
constexpr uint32_t QV_ERR_CTL_UNSUPPORT_LOGIC_UNIT = 0xD0040015;
constexpr uint32_t QV_ERR_CTL_WINDOW_COMBINATION_WRONG = 0xD0040016;
constexpr uint32_t QV_ERR_CTL_SELECT_RESELECT_FAIL = 0xD0040017;
constexpr uint32_t QV_ERR_CTL_INITIATOR_DETECTED_WRONG = 0xD0040018;
constexpr uint32_t QV_ERR_CTL_IMAGE_TRANSFER_WRONG = 0xD0040019;
constexpr uint32_t QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION = 0xD004001A;
constexpr uint32_t QV_ERR_CTL_IMAGE_FLAG_DATA_OVERFLOW = 0xD0040040;

}  // namespace dravnmain

#endif
