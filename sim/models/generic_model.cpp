// A simulated scanner of the generic family: the SCSI commands that the
// maintenance library sends in command blocks (TEST UNIT READY, INQUIRY of
// the standard answer, INQUIRY EX, the vendor page 0xF0, REQUEST SENSE) and
// the vendor sub-commands carried by SEND DIAGNOSTIC as 16-character texts,
// whose answers come with the next RECEIVE DIAGNOSTIC RESULTS: a working
// and a persistent 512-byte EEPROM (read, write, commit), the factory
// default, the flash data and its length, the firmware text, and the setup
// bracket.
//
// Parameters ("set key=value"):
//   state=<path>        both EEPROMs kept in this file, shared by every
//                       process that simulates the device (default: memory)
//   eeprom=<file>       EEPROM of a new device (default: zeros)
//   eeprom_byte=<off>:<val>,...  bytes of a new device's EEPROM
//   default_eeprom=<file> factory default (default: the new device's EEPROM)
//   flash=<file>        flash data (default: 256 bytes 0xA5 + i)
//   vpd=<file>          page 0xF0 (default: 112 bytes, header only)
//   vpd_byte=<off>:<val>,...  bytes of page 0xF0
//   inquiry_product=<text> product field of the standard answer, 16
//                       characters (default: the device's product string)
//   revision=<text>     revision field, 4 characters (default "0100")
//   firmware=<text>     answer to "GET FIRMVERSION " (default "0100")
//   refuse=<text>       the 16-character sub-command is refused with a check
//                       condition
//   button=<path>       the device has a scan button, held while this file
//                       exists (GET HARDWARE STATUS, data byte 4 bit 0);
//                       without it or ink= GET HARDWARE STATUS is not known
//   ink=<percent>       the imprinter's remaining ink (GET HARDWARE STATUS,
//                       data byte 10)
//   first_date=<yy>,<mm>,<dd>  first-read date of a new device (0: unset);
//                       kept beside the EEPROMs in the file <state>.date
//   date_refuse=1       "FIRST READ DATE " is refused with a check condition
//   sop=<file>, imff=<file>  data of the SOP settings and IMFF pattern blobs
//                       (default: none); a put replaces it for this process
//   put_refuse=1        a put answers 0x80 in its first reply byte
//   lifetime_log=<file> the lifetime log (default: none)
//   error_log=<code>,...  error log entries, 16 bytes each, code big-endian
//                       in bytes 0-1
//   long_timer=<code>   byte 2 of the long-timer mode page 0x34 (default 0)
//   mode_select=refuse  MODE SELECT answers a check condition
//   sense_key=<n>       the self test fails with this sense key
//   "TPS THROUGH     " + 2 bytes wraps a request; kind 0x0010 is the LUT,
//   answered "GOOD".
//   commit_mismatch=<m> the first m reads of the persistent EEPROM answer
//                       its byte 328 inverted, as a commit not yet settled
//   ink_life=<n>        the imprinter's ink-life counter of a new device,
//                       kept in the file <state>.ink; "CLEAR INK-LIFE " +
//                       "1", "2" or " " zeroes it, "GET IMP-LIFE " + "1  ",
//                       "2  " or "   " answers it in 4 bytes, big-endian
//   Faults, counted per device from 1 for the life of the process:
//   check_at=<k>        command block k ends with a check condition (aborted
//                       command) and its data out takes no effect
//   bad_status_at=<k>   status block k starts with 'X' instead of 'S'
//   hold_at=<k>         command block k waits while the file <state>.hold
//                       exists: it makes the file, and a test removes it to
//                       let the command go on (at most 60 seconds)
//
// Write records: "DEBUG,E2T,WRT  W" takes offset and length as big-endian
// 16-bit values at bytes 16 and 18 and the data from 20; the other write
// texts one byte each at 16 and 17 and the data from 18. A record takes
// effect only when the whole parameter list arrived and it lies within the
// EEPROM; anything else is a check condition and changes nothing.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>

#include "command_block_core.h"
#include "state_file.h"

namespace dravn_sim {
namespace {

constexpr size_t kEepromSize = 512;
constexpr size_t kTextSize = 16;
constexpr size_t kStandardSize = 128;
constexpr size_t kVpdSize = 112;
constexpr size_t kFlashSize = 256;
// Additional sense codes.
constexpr uint8_t kInvalidOpcode = 0x20;
constexpr uint8_t kInvalidFieldInCdb = 0x24;
constexpr uint8_t kInvalidFieldInList = 0x26;
constexpr uint8_t kSequenceError = 0x2C;
constexpr uint8_t kParameterListLength = 0x1A;

using Bytes = CommandBlockModel::Bytes;

Bytes ReadWholeFile(const std::string& path, const char* key) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(std::string("generic: cannot read ") + key + " file " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// "<off>:<val>,...", each number decimal or 0x-hexadecimal.
void ApplyBytes(const std::string& list, Bytes* bytes, const char* key) {
  std::istringstream in(list);
  for (std::string item; std::getline(in, item, ',');) {
    size_t colon = item.find(':');
    char* end = nullptr;
    unsigned long off = colon == std::string::npos ? 0 : std::stoul(item.substr(0, colon), nullptr, 0);
    unsigned long val = colon == std::string::npos ? 256 : strtoul(item.c_str() + colon + 1, &end, 0);
    if (colon == std::string::npos || off >= bytes->size() || val > 255 || !end || *end != '\0')
      throw std::runtime_error(std::string("generic: bad ") + key + " item '" + item + "'");
    (*bytes)[off] = static_cast<uint8_t>(val);
  }
}

std::string Field(std::string text, size_t size) {
  text.resize(size, ' ');
  return text;
}

class GenericModel : public CommandBlockModel {
 public:
  explicit GenericModel(const SimDeviceSpec& spec) : CommandBlockModel(spec), m_state(Param("state")) {
    try {
      Bytes fresh = Param("eeprom").empty() ? Bytes(kEepromSize, 0) : ReadWholeFile(Param("eeprom"), "eeprom");
      fresh.resize(kEepromSize, 0);
      ApplyBytes(Param("eeprom_byte"), &fresh, "eeprom_byte");
      m_default = Param("default_eeprom").empty() ? fresh : ReadWholeFile(Param("default_eeprom"), "default_eeprom");
      m_flash = Param("flash").empty() ? Pattern(kFlashSize) : ReadWholeFile(Param("flash"), "flash");
      m_vpd = Param("vpd").empty() ? Bytes(kVpdSize, 0) : ReadWholeFile(Param("vpd"), "vpd");
      if (Param("vpd").empty()) {
        m_vpd[0] = 0x06;
        m_vpd[1] = 0xF0;
        m_vpd[3] = static_cast<uint8_t>(kVpdSize - 4);
      }
      ApplyBytes(Param("vpd_byte"), &m_vpd, "vpd_byte");
      Bytes stored = m_state.Load();
      if (stored.size() == 2 * kEepromSize) {
        m_working.assign(stored.begin(), stored.begin() + kEepromSize);
        m_persistent.assign(stored.begin() + kEepromSize, stored.end());
      } else {
        m_working = m_persistent = fresh;
      }
    } catch (const std::invalid_argument&) {
      throw std::runtime_error("generic: a byte list holds something that is not a number");
    } catch (const std::out_of_range&) {
      throw std::runtime_error("generic: a byte list holds a number out of range");
    }
    m_standard = StandardAnswer();
    m_refused = Param("refuse");
  }

 protected:
  DataOut OnCommand(const uint8_t* cdb) override {
    ++m_commands;
    if (m_commands == ParamInt("hold_at", 0)) Hold();
    m_checkThis = m_commands == ParamInt("check_at", 0);
    switch (cdb[0]) {
      case 0x00:  // TEST UNIT READY
        return {};
      case 0x12:
        Inquiry(cdb);
        return {};
      case 0x1D: {  // SEND DIAGNOSTIC
        if (cdb[1] == 0x04) return MaintenanceCommand(cdb);
        size_t length = static_cast<size_t>(cdb[3] << 8 | cdb[4]);
        if (length == 0) return {};
        return {length};
      }
      case 0xC2:  // GET HARDWARE STATUS, of the models that have a button
        if (Param("button").empty() && Param("ink").empty())
          CheckCondition(kIllegalRequest, kInvalidOpcode);
        else
          ReplyIn(HardwareStatus(), cdb[8]);
        return {};
      case 0x1A:
      case 0x15:
      case 0xC5:
        return MaintenanceCommand(cdb);
      case 0x1C:  // RECEIVE DIAGNOSTIC RESULTS
        Receive(static_cast<size_t>(cdb[3] << 8 | cdb[4]));
        return {};
      default:
        CheckCondition(kIllegalRequest, kInvalidOpcode);
        return {};
    }
  }

  void OnDataOut(const uint8_t* cdb, const Bytes& data, bool complete) override {
    if (m_checkThis) return;
    if (cdb[0] == 0x15) return ModeSelect(data, complete);
    if (!complete) {
      CheckCondition(kAbortedCommand, kParameterListLength);
      return;
    }
    if (data.size() < kTextSize) {
      CheckCondition(kIllegalRequest, kParameterListLength);
      return;
    }
    Dispatch(std::string(data.begin(), data.begin() + kTextSize), data);
  }

 private:
  static Bytes Pattern(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(0xA5 + i);
    return bytes;
  }

  Bytes StandardAnswer() const {
    Bytes a(kStandardSize, 0);
    a[0] = 0x06;  // scanner
    a[2] = 0x02;
    a[3] = 0x02;
    a[4] = static_cast<uint8_t>(kStandardSize - 5);
    std::string text =
        Field("MORANTI", 8) + Field(Param("inquiry_product", Spec().product), 16) + Field(Param("revision", "0100"), 4);
    std::copy(text.begin(), text.end(), a.begin() + 8);
    return a;
  }

  void Inquiry(const uint8_t* cdb) {
    size_t length = cdb[4];
    if (cdb[1] == 0x00 && cdb[2] == 0x00) {
      ReplyIn(m_standard, length);
    } else if (cdb[1] == 0x00 && cdb[2] == 0xE0) {
      // The extended answer: the identity again, after a page header.
      Bytes ex(4, 0);
      ex[0] = 0x06;
      ex[1] = 0xE0;
      ex.insert(ex.end(), m_standard.begin() + 8, m_standard.begin() + 36);
      ex[3] = static_cast<uint8_t>(ex.size() - 4);
      ReplyIn(ex, length);
    } else if (cdb[1] == 0x01 && cdb[2] == 0xF0) {
      ReplyIn(m_vpd, length);
    } else {
      CheckCondition(kIllegalRequest, kInvalidFieldInCdb);
    }
  }

  void Receive(size_t length) {
    if (!m_hasReply) {
      ReplyIn({}, length);
      CheckCondition(kIllegalRequest, kSequenceError);
      return;
    }
    ReplyIn(m_reply, length);
    m_hasReply = false;
  }

  void Answer(Bytes reply) {
    m_reply = std::move(reply);
    m_hasReply = true;
  }

  void Dispatch(const std::string& text, const Bytes& data) {
    if (!m_refused.empty() && text == Field(m_refused, kTextSize)) {
      CheckCondition(kIllegalRequest, kInvalidFieldInList);
      return;
    }
    if (DispatchFirstDate(text, data)) return;
    if (DispatchInkLife(text)) return;
    if (DispatchMaintenance(text, data)) return;
    if (text == "DEBUG,E2T,WRT  W") {
      if (data.size() < 20) return CheckCondition(kIllegalRequest, kParameterListLength);
      Write(static_cast<size_t>(data[16] << 8 | data[17]), static_cast<size_t>(data[18] << 8 | data[19]), data, 20);
    } else if (text == "DEBUG,E2T,WRT   " || text == "DEBUG,H3T,WRT   ") {
      if (data.size() < 18) return CheckCondition(kIllegalRequest, kParameterListLength);
      Write(data[16], data[17], data, 18);
    } else if (text == "DEBUG,E2P,WRT   ") {
      m_persistent = m_working;
      Save();
    } else if (text == "DEBUG,E2T,RED  W" || text == "DEBUG,E2T,RED   " || text == "DEBUG,H3T,RED   ") {
      Answer(m_working);
    } else if (text == "DEBUG,E2P,RED  W" || text == "DEBUG,E2P,RED   ") {
      Answer(PersistentAnswer());
    } else if (text == "TEST LENGTH     ") {
      Answer({static_cast<uint8_t>(m_flash.size() >> 8), static_cast<uint8_t>(m_flash.size())});
    } else if (text == "TESTMODE        " || text == "TESTMODE       Z") {
      Answer(m_flash);
    } else if (text == "GET SOP DEFAULT ") {
      Answer(m_default);
    } else if (text == "GET FIRMVERSION ") {
      std::string fw = Param("firmware", "0100");
      Answer(Bytes(fw.begin(), fw.end()));
    } else if (text == "SETUP START     ") {
      m_setup = true;
    } else if (text == "SETUP END       ") {
      if (!m_setup) return CheckCondition(kIllegalRequest, kSequenceError);
      m_setup = false;
    } else {
      CheckCondition(kIllegalRequest, kInvalidFieldInList);
    }
  }

  // --- scan button and first-read date ------------------------------------

  Bytes HardwareStatus() const {
    Bytes status(12, 0);
    const std::string button = Param("button");
    if (!button.empty() && access(button.c_str(), F_OK) == 0) status[4] |= 0x01;
    status[10] = static_cast<uint8_t>(ParamInt("ink", 0));
    return status;
  }

  Bytes FirstDate() {
    Bytes date = m_dateState.Load();
    if (date.size() == 3) return date;
    date.assign(3, 0);
    std::istringstream in(Param("first_date"));
    std::string part;
    for (size_t i = 0; i < 3 && std::getline(in, part, ','); ++i)
      date[i] = static_cast<uint8_t>(strtoul(part.c_str(), nullptr, 10));
    return date;
  }

  bool DispatchFirstDate(const std::string& text, const Bytes& data) {
    if (text == "GET FIRST DATE  ") {
      Bytes date = FirstDate();
      Answer({0, date[0], date[1], date[2]});
      return true;
    }
    if (text != "FIRST READ DATE ") return false;
    if (ParamInt("date_refuse", 0) == 1) {
      CheckCondition(kIllegalRequest, kInvalidFieldInList);
    } else if (data.size() < 20) {
      CheckCondition(kIllegalRequest, kParameterListLength);
    } else {
      m_dateState.Save({data[17], data[18], data[19]});
      Answer({0});
    }
    return true;
  }

  SimStateFile m_dateState{Param("state").empty() ? "" : Param("state") + ".date"};

  // --- commit check and ink life -------------------------------------------

  Bytes PersistentAnswer() {
    Bytes answer = m_persistent;
    if (m_unsettledReads > 0) {
      --m_unsettledReads;
      answer[328] = static_cast<uint8_t>(~answer[328]);
    }
    return answer;
  }

  uint32_t InkLife() {
    Bytes stored = m_inkState.Load();
    if (stored.size() != 4) return static_cast<uint32_t>(ParamInt("ink_life", 0));
    return static_cast<uint32_t>(stored[0] << 24 | stored[1] << 16 | stored[2] << 8 | stored[3]);
  }

  bool DispatchInkLife(const std::string& text) {
    if (text == "CLEAR INK-LIFE 1" || text == "CLEAR INK-LIFE 2" || text == "CLEAR INK-LIFE  ") {
      m_inkState.Save({0, 0, 0, 0});
      return true;
    }
    if (text == "GET IMP-LIFE 1  " || text == "GET IMP-LIFE 2  " || text == "GET IMP-LIFE    ") {
      uint32_t n = InkLife();
      Answer({static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
              static_cast<uint8_t>(n)});
      return true;
    }
    return false;
  }

  int m_unsettledReads = ParamInt("commit_mismatch", 0);
  SimStateFile m_inkState{Param("state").empty() ? "" : Param("state") + ".ink"};

  void Write(size_t offset, size_t length, const Bytes& data, size_t from) {
    if (data.size() < from + length || offset + length > kEepromSize) {
      CheckCondition(kIllegalRequest, kInvalidFieldInList);
      return;
    }
    std::copy(data.begin() + static_cast<long>(from), data.begin() + static_cast<long>(from + length),
              m_working.begin() + static_cast<long>(offset));
    Save();
  }

  void Save() {
    Bytes both(m_working);
    both.insert(both.end(), m_persistent.begin(), m_persistent.end());
    m_state.Save(both);
  }

  // --- blobs, logs, long timer, self test ----------------------------------

  DataOut MaintenanceCommand(const uint8_t* cdb) {
    switch (cdb[0]) {
      case 0x1A:  // MODE SENSE of the long-timer page
        if (cdb[2] != 0x34) return CheckCondition(kIllegalRequest, kInvalidFieldInCdb), DataOut{};
        ReplyIn(m_modePage, cdb[4]);
        return {};
      case 0x15:  // MODE SELECT
        return {cdb[4]};
      case 0xC5:  // GET HARDWARE STATUS 4
        ReplyIn(Bytes(8, 0x04), cdb[8]);
        return {};
      default: {  // SEND DIAGNOSTIC, self test
        int key = ParamInt("sense_key", 0);
        if (key != 0) CheckCondition(static_cast<uint8_t>(key), 0x40);
        return {};
      }
    }
  }

  void ModeSelect(const Bytes& data, bool complete) {
    if (!complete || Param("mode_select") == "refuse") return CheckCondition(kIllegalRequest, kInvalidFieldInList);
    m_modePage = data;
  }

  Bytes BlobOf(const char* key) {
    Bytes& blob = m_blobs[key];
    if (!m_blobLoaded[key] && !Param(key).empty()) blob = ReadWholeFile(Param(key), key);
    m_blobLoaded[key] = true;
    return blob;
  }

  bool DispatchBlob(const std::string& text, const Bytes& data, const char* key, const char* len, const char* get,
                    const char* put) {
    if (text == len) {
      size_t n = BlobOf(key).size();
      Answer({static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), 0x00, 0x01});
    } else if (text == get) {
      Answer(BlobOf(key));
    } else if (text == put) {
      if (data.size() < kTextSize + 4) return CheckCondition(kIllegalRequest, kParameterListLength), true;
      if (ParamInt("put_refuse", 0) == 1) return Answer({0x80, 0, 0, 0}), true;
      size_t n = std::min<size_t>(static_cast<size_t>(data[16] << 8 | data[17]), data.size() - kTextSize - 4);
      m_blobs[key].assign(data.begin() + kTextSize + 4, data.begin() + static_cast<long>(kTextSize + 4 + n));
      m_blobLoaded[key] = true;
      Answer({0, 0, 0, 0});
    } else {
      return false;
    }
    return true;
  }

  bool DispatchMaintenance(const std::string& text, const Bytes& data) {
    if (text == "TPS THROUGH     ") {
      if (data.size() < kTextSize + 2) return CheckCondition(kIllegalRequest, kParameterListLength), true;
      if ((data[16] << 8 | data[17]) == 0x0010) return Answer({'G', 'O', 'O', 'D', 0, 0, 0, 0}), true;
      Bytes inner(data.begin() + kTextSize + 2, data.end());
      if (inner.size() < kTextSize) return CheckCondition(kIllegalRequest, kParameterListLength), true;
      Dispatch(std::string(inner.begin(), inner.begin() + kTextSize), inner);
      return true;
    }
    if (DispatchBlob(text, data, "sop", "GET SOP SET LEN ", "GET SOP SET DAT ", "PUT SOP SET DAT ")) return true;
    if (DispatchBlob(text, data, "imff", "GET IMFF PTN LEN", "GET IMFF PTN DAT", "PUT IMFF PTN DAT")) return true;
    if (text == "LIFE TIME LOG   " && data.size() > kTextSize) {
      Bytes log = Param("lifetime_log").empty() ? Bytes() : ReadWholeFile(Param("lifetime_log"), "lifetime_log");
      if (data[16] == 0x01)
        Answer({static_cast<uint8_t>(log.size() >> 8), static_cast<uint8_t>(log.size())});
      else
        Answer(log);
      return true;
    }
    if (text == "ERROR LOG       " && data.size() > kTextSize) {
      Bytes entries;
      std::istringstream in(Param("error_log"));
      for (std::string code; std::getline(in, code, ',');) {
        unsigned long c = strtoul(code.c_str(), nullptr, 0);
        Bytes entry(16, 0);
        entry[0] = static_cast<uint8_t>(c >> 8);
        entry[1] = static_cast<uint8_t>(c);
        entries.insert(entries.end(), entry.begin(), entry.end());
      }
      size_t count = entries.size() / 16;
      if (data[16] == 0x02)
        Answer({static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)});
      else
        Answer(entries);
      return true;
    }
    return false;
  }

  // ---- faults under test ----
  void BeforeStatus(Bytes& status) override {
    if (m_checkThis) {
      m_checkThis = false;
      CheckCondition(kAbortedCommand, 0x00);
      status[9] = kCheckCondition;
    }
    if (++m_statusBlocks == ParamInt("bad_status_at", 0)) status[0] = 'X';
  }

  void Hold() {
    if (Param("state").empty()) return Report("hold_at needs state=");
    const std::string path = Param("state") + ".hold";
    if (FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
    for (int i = 0; i < 6000 && access(path.c_str(), F_OK) == 0; ++i) Wait(std::chrono::milliseconds(10));
  }

  long m_commands = 0, m_statusBlocks = 0;
  bool m_checkThis = false;
  // ---- end of the faults under test ----

  Bytes m_modePage{0x00, 0x00, 0x00, 0x00, 0x34, 0x02, static_cast<uint8_t>(ParamInt("long_timer", 0)), 0x00};
  std::map<std::string, Bytes> m_blobs;
  std::map<std::string, bool> m_blobLoaded;

  SimStateFile m_state;
  Bytes m_working, m_persistent, m_default, m_flash, m_vpd, m_standard;
  Bytes m_reply;
  bool m_hasReply = false;
  bool m_setup = false;
  std::string m_refused;
};

DRAVN_SIM_MODEL("generic", GenericModel)

}  // namespace
}  // namespace dravn_sim
