// The wire of the scanners that take SCSI commands in a 31-byte command
// block ('C', the CDB from byte 19) and answer with a 13-byte status block
// ('S', the status in byte 9): data phases, status, sense data and REQUEST
// SENSE. A family model derived from it only says what each CDB does.
#ifndef DRAVN_SIM_COMMAND_BLOCK_CORE_H
#define DRAVN_SIM_COMMAND_BLOCK_CORE_H

#include <cstdint>
#include <deque>
#include <vector>

#include "sim_model.h"

namespace dravn_sim {

class CommandBlockModel : public SimDeviceModel {
 public:
  using Bytes = std::vector<uint8_t>;
  static constexpr int kBlockSize = 31;
  static constexpr int kCdbOffset = 19;
  static constexpr int kCdbSize = 12;
  static constexpr int kStatusSize = 13;
  static constexpr size_t kMaxPacket = 512;  // of the bulk endpoints
  static constexpr uint8_t kGood = 0x00;
  static constexpr uint8_t kCheckCondition = 0x02;
  // Sense keys.
  static constexpr uint8_t kNotReady = 0x02;
  static constexpr uint8_t kIllegalRequest = 0x05;
  static constexpr uint8_t kAbortedCommand = 0x0B;

  explicit CommandBlockModel(const SimDeviceSpec& spec) : SimDeviceModel(spec) {}

  int BulkOut(const uint8_t* data, int length) final;
  int BulkIn(uint8_t* data, int length) final;

 protected:
  // What the host sends after a command block, when anything.
  struct DataOut {
    size_t length = 0;
  };
  // A command block arrived. The model answers by calling ReplyIn (data for
  // the host) and Good or CheckCondition, or asks for `length` bytes of
  // data out by returning it.
  virtual DataOut OnCommand(const uint8_t* cdb) = 0;
  // The data out of the last command: `complete` is false when the host
  // ended its data phase early (a short packet) or went on to the status
  // before all of it came.
  virtual void OnDataOut(const uint8_t* cdb, const Bytes& data, bool complete) = 0;

  // The data phase of a command that sends data in: exactly `length`
  // bytes, the reply cut or padded with zeros.
  void ReplyIn(Bytes reply, size_t length);
  void Good() { m_status = kGood; }
  void CheckCondition(uint8_t key, uint8_t asc, uint8_t ascq = 0);
  // Scanner families: a busy status; sense data with the end-of-medium and
  // incorrect-length bits and the residue; sense kept for the next REQUEST
  // SENSE without failing the command; and a device that leaves the bus,
  // after which every transfer answers NO_DEVICE.
  void Busy() { m_status = kBusy; }
  void SetSenseBits(bool endOfMedium, bool incorrectLength, uint32_t information);
  void PendSense(uint8_t key, uint8_t asc, uint8_t ascq);
  void LeaveTheBus() { m_gone = true; }
  bool Gone() const { return m_gone; }
  static constexpr uint8_t kBusy = 0x08;
  // Every status block, just before it is queued: a model may spoil it.
  virtual void BeforeStatus(Bytes& /*status*/) {}

 private:
  void FinishDataOut(bool complete);
  void QueueStatus();

  uint8_t m_cdb[kCdbSize] = {};
  Bytes m_dataOut;
  size_t m_dataOutExpected = 0;
  bool m_dataOutOpen = false;
  uint8_t m_status = kGood;
  uint8_t m_sense[18] = {};
  std::deque<Bytes> m_in;
  bool m_gone = false;
};

}  // namespace dravn_sim

#endif
