// The libdevwatch entries the settings library calls, as libdevwatch
// exports them; looked up by name at each use (Dvwc<>).
#ifndef DRAVN_MQCONTROL_DVWC_CALLS_H
#define DRAVN_MQCONTROL_DVWC_CALLS_H

#include <cstdint>

using DvwcGetEeprom = int(const char* device, unsigned char* buffer, unsigned short size);
using DvwcWriteEeprom = int(const char* device, const unsigned char* data, unsigned short length,
                            unsigned short offset);
using DvwcLockEeprom = int(const char* device);
using DvwcInquiry2 = int(const char* device, unsigned char* buffer);
using DvwcInquiryVpd = int(const char* device, unsigned char* buffer, unsigned short length, int isOpen);
using DvwcLengthRecord = int(const char* device, uint32_t* record);
using DvwcDataRecord = int(const char* device, unsigned char* buffer, const unsigned char* record, unsigned short size);
using DvwcPutBlob = int(const char* device, const unsigned char* blob, unsigned short size);
using DvwcClearRemainInk = int(const char* device, const unsigned char* data, unsigned short size);
using DvwcDeviceRestart = int(const char* device);

#endif
