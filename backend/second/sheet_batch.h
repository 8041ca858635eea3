// The batch every family of this backend runs: the scan thread, the sheet list between it and the application,
// the wait for the next sheet, the batch's end and cancel, and the serving of page bytes to sane_read.
#ifndef DRAVN_SECOND_SHEET_BATCH_H
#define DRAVN_SECOND_SHEET_BATCH_H

#include <pthread.h>
#include <sane/sane.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "image_params.h"
#include "jpeg_decode.h"
#include "prop_info.h"

// One sheet queued between the scan thread and the application's thread:
// the compressed faces (owned by the node) and their geometry.
struct IMAGEDATA_NODE {
  unsigned char* pFrontData;
  unsigned char* pBackData;
  KELO_IMAGEDATA_PARAMETERS tSrcInfo[2];  // front, back
  KELO_IMAGEDATA_PARAMETERS tDstInfo[2];
  JPEGINFO tJpegInfo[2];  // data length, frame width and height of each face
  IMAGEDATA_NODE* pNext;
};

// Bytes of a page of that geometry, 0 for none.
uint32_t SheetPageBytes(const KELO_IMAGEDATA_PARAMETERS& g);

// A face's compressed data at the start of a buffer that can take the
// decoded page: the source's bytes per line times its lines, never less than
// the data, the rest white. Null when out of memory or nothing to hold.
unsigned char* CopyIntoPage(const unsigned char* data, uint32_t length, const KELO_IMAGEDATA_PARAMETERS& src);

// The first fault of a feeder start's properties every family checks (face,
// mode, resolution), or null.
const char* FeederPropFault(const KELO_PROP_INFO& p);
// Logs why `function` refuses a start's properties; false.
bool RefuseProp(const char* function, const char* message);
// The options gave no face geometry for the paper size.
bool NoPaperGeometry();

// What a family of scanners supplies to the batch; the rest is the batch's.
class CBatchFamily {
 public:
  enum class Fault { Parameter, NoMemory };

  // Reads one sheet from the device in the scan thread; false ends the
  // batch with the family's last error set.
  virtual bool ScanSheet() = 0;
  // The geometry of the sheet just read.
  virtual bool SheetInfo(KELO_IMAGEDATA_PARAMETERS* src, KELO_IMAGEDATA_PARAMETERS* dst) = 0;
  // Hands the faces just read to the node (which then owns them); false
  // when out of memory, with nothing handed over.
  virtual bool MoveSheet(IMAGEDATA_NODE* node, const KELO_IMAGEDATA_PARAMETERS* src,
                         const KELO_IMAGEDATA_PARAMETERS* dst) = 0;
  // Records a fault of the batch as the family's last error.
  virtual void SetFault(Fault fault) = 0;
  // After a sheet was queued: false ends the batch (a cancel, a stop the
  // device asked for), with whatever the family sends then.
  virtual bool AfterSheet() = 0;
  // The scanner has a further sheet to send.
  virtual bool MoreSheets() = 0;

  // A face of a taken sheet as the pipeline decodes it; null when out of
  // memory.
  virtual unsigned char* PageFor(const unsigned char* data, const KELO_IMAGEDATA_PARAMETERS& src,
                                 const JPEGINFO& jpeg) = 0;
  // Runs the pipeline on a taken sheet's pages (front, back; the family
  // owns them now); what Start answers.
  virtual SANE_Status HandOver(unsigned char* pages[2], KELO_IMAGEDATA_PARAMETERS* src, KELO_IMAGEDATA_PARAMETERS* dst,
                               const JPEGINFO* jpeg) = 0;
  // The list is empty and the thread is joined: what Start answers for the
  // batch's end (the family's error mapping and what it records or sends).
  virtual SANE_Status EndOfBatch() = 0;
  // A cancel while Start waits for a sheet answers at once, rather than
  // when the thread has ended the batch.
  virtual bool CancelEndsTheWait() const { return false; }

 protected:
  ~CBatchFamily() = default;
};

class CSheetBatch {
 public:
  CSheetBatch(CBatchFamily& family, std::atomic<uint32_t>& cancel, const char* name);
  CSheetBatch(const CSheetBatch&) = delete;
  CSheetBatch& operator=(const CSheetBatch&) = delete;
  ~CSheetBatch();

  bool Started() const { return m_bThreadStarted; }
  bool Ended() const { return m_bThreadEnded != 0; }
  // The properties the scan thread works from: the entry points rebuild
  // g_PropInfo at every start while it runs.
  KELO_PROP_INFO* Prop() const { return m_pProp; }

  // Starts the scan thread for a batch's first sheet, unless one runs: a
  // thread that has ended is joined first, so a new batch always gets its
  // own.
  SANE_Status StartThread(bool firstSheet);
  bool WantsThread(bool firstSheet) const { return firstSheet && (!m_bThreadStarted || m_bThreadEnded); }
  // The common head of Start: a cancel that came between two pages of a
  // running batch ends it; clearing it would scan on as if nothing had been
  // asked.
  SANE_Status Begin(std::atomic<uint32_t>& scanning);
  // Start with properties the family refuses.
  SANE_Status RefuseProps(std::atomic<uint32_t>& scanning);
  // Which face of a sheet is served next, for families serving whole faces;
  // false when neither is held.
  bool FaceReady(const unsigned char* front, const unsigned char* back, bool duplex);
  // Makes the next queued sheet into pages through the family, or ends the
  // batch when the list is empty and the thread has ended. Sheets queued
  // before a failure are delivered before the failure is reported.
  SANE_Status TakeNextSheet();
  void Join();
  // Cancel: the thread is joined (it sees the cancel flag at its next
  // block or after its sheet), then the queued sheets are freed.
  void Stop();

  // The page bytes served to sane_read from `page`, `remaining` of them
  // left; end of file once nothing is left.
  SANE_Status ReadPage(const unsigned char* page, uint32_t* remaining, SANE_Byte* data, SANE_Int maxLength,
                       SANE_Int* length);
  // A new buffer is ready to be read from its start.
  void BeginPage() {
    m_dwReadOffset = 0;
    m_bReadEnd = false;
  }
  // The buffer ready has been read to its end (or freed): reads answer end
  // of file until a start makes the next one ready, and never reach into it.
  void EndPage() { m_bReadEnd = true; }
  // Serves the face `source` names (front, front, back, or in duplex the
  // one the read flag names) of whole faces; at its end the face is freed
  // and, in duplex, the flag names the other.
  SANE_Status ReadFace(int source, unsigned char** front, unsigned char** back, uint32_t remaining[2], SANE_Byte* data,
                       SANE_Int maxLength, SANE_Int* length);
  // A start made whole faces ready: what each holds as get_parameters
  // announces it.
  void ServeFaces(const unsigned char* front, const unsigned char* back, uint32_t remaining[2]);
  bool PageEnded() const { return m_bReadEnd; }

 private:
  static void* ThreadEntry(void* object);
  void RunThread();
  void FreeQueued();

  CBatchFamily& m_family;
  std::atomic<uint32_t>& m_bIsCancel;
  // The family's functions, as the log names them.
  const std::string m_sStart, m_sThread, m_sRead;

  pthread_t m_phandle{};
  bool m_bThreadStarted = false;
  std::atomic<uint32_t> m_bThreadEnded{0};
  IMAGEDATA_NODE* m_pHead = nullptr;
  std::mutex m_tListLock;  // the head, the links, and the thread's end
  std::condition_variable m_tListChanged;
  KELO_PROP_INFO m_tBatchProp{};
  KELO_PROP_INFO* m_pProp = &g_PropInfo;

  uint32_t m_dwReadOffset = 0;
  bool m_bReadEnd = true;
};

#endif
