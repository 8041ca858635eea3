// The Selko2 class's USB transactions: command blocks and statuses, data phases, the data read and its retries.
#include "selko2_scan_func.h"

#include <algorithm>
#include <climits>

#include "log.h"
#include "second_backend.h"
#include "selko2_exchange.h"
#include "usb_manager.h"

namespace {

// A data read gives up after this many tries that brought no byte, or once
// the scanner has sent nothing for this long.
constexpr int kGetDataTries = 1001;
constexpr long long kSilenceLimitMs = 90 * 1000;

}  // namespace

bool CSelko2ScanFunc::USBReadStatus(unsigned char* bytes, unsigned int size, const char* function) {
  unsigned int count = 0;
  if (!kelo_usb_manager || kelo_usb_manager->RawReadData(bytes, size, &count) != 0) {
    m_dwLastErr = SELKO2_ERR_RECEIVE;
    WriteLog(LOG_LEVEL_ERROR, function, "kelo_usb_manager->RawReadData failed");
    return false;
  }
  WriteUsbLog(bytes, static_cast<int>(size), USBLOG_STATUS_IN);
  return true;
}

bool CSelko2ScanFunc::USBSendCommand(_FCL_CMD* command, _FCL_DEVICE_STATUS* status) {
  return USBSendCommandNoData(command) &&
         USBReadStatus(status->bytes, sizeof status->bytes, "CSelko2ScanFunc::USBSendCommand");
}

bool CSelko2ScanFunc::USBSendCommandExt(_FCL_CMD* command, _FCL_DEVICE_STATUS_EXT* status) {
  return USBSendCommandNoData(command) &&
         USBReadStatus(status->bytes, sizeof status->bytes, "CSelko2ScanFunc::USBSendCommandExt");
}

bool CSelko2ScanFunc::USBSendAbortCommand(_FCL_CMD* command, _FCL_BLKIMG_STATUS* status) {
  return USBSendCommandNoData(command) &&
         USBReadStatus(status->bytes, sizeof status->bytes, "CSelko2ScanFunc::USBSendAbortCommand");
}

bool CSelko2ScanFunc::USBSendCommandNoData(_FCL_CMD* command) {
  if (!command || !kelo_usb_manager || kelo_usb_manager->RawWriteData(command->bytes, sizeof command->bytes) != 0) {
    m_dwLastErr = SELKO2_ERR_SEND;
    WriteLog(LOG_LEVEL_ERROR, "CSelko2ScanFunc::USBSendCommandNoData", "failed to send command header");
    return false;
  }
  WriteUsbLog(command->bytes, sizeof command->bytes, USBLOG_COMMAND_OUT);
  return true;
}

bool CSelko2ScanFunc::USBSendData(const unsigned char* data, uint32_t length) {
  if (!data || !kelo_usb_manager || kelo_usb_manager->RawWriteData(const_cast<unsigned char*>(data), length) != 0) {
    m_dwLastErr = SELKO2_ERR_SEND;
    WriteLog(LOG_LEVEL_ERROR, "CSelko2ScanFunc::USBSendData", "failed to send command header");
    return false;
  }
  WriteUsbLog(data, static_cast<int>(length), USBLOG_DATA_OUT);
  return true;
}

// The record of the open device: the one holding a handle.
static const KELO_USB_DEVICE* OpenDeviceRecord() {
  for (int i = 0; i < g_iDevCount; ++i) {
    const KELO_USB_DEVICE* dev = kelo_usb_manager->GetDevice(i);
    if (dev && dev->ptHandle) return dev;
  }
  return nullptr;
}

// Tries that bring nothing count against the limit, and a device that has
// sent no byte for kSilenceLimitMs ends the read however many tries are
// left: a time-out answer stands for the whole time-out it waited.
bool CSelko2ScanFunc::ReadFull(unsigned char* data, uint32_t length) {
  const KELO_USB_DEVICE* dev = OpenDeviceRecord();
  if (!dev || length > static_cast<uint32_t>(INT_MAX)) return false;
  const unsigned timeoutMs = static_cast<unsigned>(m_iUsbTimeOut);
  const Selko2BulkRead read = [dev, timeoutMs](unsigned char* to, uint32_t size, int* count) {
    return libusb_bulk_transfer(dev->ptHandle, static_cast<unsigned char>(dev->iInEndpoint), to, static_cast<int>(size),
                                count, timeoutMs);
  };
  const Selko2ReadRule rule{kGetDataTries, kSilenceLimitMs, static_cast<unsigned>(std::max(m_iUsbTimeOut, 0)),
                            &m_bIsCancel};
  const Selko2ReadEnd end = Selko2ReadFull(read, data, length, rule);
  if (end == Selko2ReadEnd::Silent)
    WriteLog(LOG_LEVEL_ERROR, "CSelko2ScanFunc::USBGetData", "no data from the scanner for 90 s");
  return end == Selko2ReadEnd::Full;
}

bool CSelko2ScanFunc::USBGetData(unsigned char* data, uint32_t length) {
  if (!data || !kelo_usb_manager || !ReadFull(data, length)) {
    // A read given up because of cancel reports the cancel, not an I/O fault.
    m_dwLastErr = m_bIsCancel ? SELKO2_ERR_CANCELLED : SELKO2_ERR_RECEIVE;
    WriteLog(LOG_LEVEL_ERROR, "CSelko2ScanFunc::USBGetData", "Failed_times > Fail_limit");
    return false;
  }
  WriteUsbLog(data, static_cast<int>(length), USBLOG_DATA_IN);
  return true;
}

bool CSelko2ScanFunc::SendCommand(_FCL_CMD* command, _FCL_DEVICE_STATUS* status) {
  CLogScope scope("CSelko2ScanFunc::SendCommand");
  return USBSendCommand(command, status);
}
bool CSelko2ScanFunc::SendCommandExt(_FCL_CMD* command, _FCL_DEVICE_STATUS_EXT* status) {
  CLogScope scope("CSelko2ScanFunc::SendCommandExt");
  return USBSendCommandExt(command, status);
}
bool CSelko2ScanFunc::SendAbortCommand(_FCL_CMD* command, _FCL_BLKIMG_STATUS* status) {
  CLogScope scope("CSelko2ScanFunc::SendAbortCommand");
  return USBSendAbortCommand(command, status);
}
bool CSelko2ScanFunc::SendCommandNoData(_FCL_CMD* command) {
  CLogScope scope("CSelko2ScanFunc::SendCommandNoData");
  return USBSendCommandNoData(command);
}
bool CSelko2ScanFunc::SendData(const unsigned char* data, uint32_t length) {
  CLogScope scope("CSelko2ScanFunc::SendData");
  return USBSendData(data, length);
}
bool CSelko2ScanFunc::GetData(unsigned char* data, uint32_t length) {
  CLogScope scope("CSelko2ScanFunc::GetData");
  return USBGetData(data, length);
}

bool CSelko2ScanFunc::Transact(const char* function, const Selko2Command& which, _FCL_DEVICE_STATUS* status,
                               const Selko2DataPhase& data) {
  _FCL_CMD command;
  _FCL_DEVICE_STATUS ignored{};
  CreateCommand(&command, which);
  if (!SendCommand(&command, status ? status : &ignored)) {
    m_dwLastErr = SELKO2_ERR_COMMAND;
    WriteLog(LOG_LEVEL_ERROR, function, "SendCommand(&sFCLCommand, &sFCLDeviceStatus) == FALSE");
    return false;
  }
  const bool moved = data.out ? SendData(data.out, data.length) : data.in ? GetData(data.in, data.length) : true;
  if (!moved) {
    m_dwLastErr = SELKO2_ERR_COMMAND;
    WriteLog(LOG_LEVEL_ERROR, function, data.failure);
  }
  return moved;
}
