// What the control layer's files share: the dispatcher's switches, the log
// and dump writers, and the crop engine table.
#ifndef DRAVN_IMGFORGE_FSIPCTL_INTERNAL_H
#define DRAVN_IMGFORGE_FSIPCTL_INTERNAL_H

#include "fsip_records.h"

// Set from fsip.conf at the start of every control request; the judges
// read them too.
extern bool g_bLogSaveBitmap;
extern bool g_bLogProc;
extern const char* const g_szSavePath;

// One key of a file of "word integer" lines: the first entry whose word
// equals the key ignoring case, else the default.
int CrpprGetPrivateProfileInt(const char* key, int def, const char* path);
// The control layer's configuration file.
const char* FsipConfPath();

// One P2IDEPTH.log line when the process log is on.
void OutputDebugString(const char* text);
// An 8-bit judge page as a BMP in the log directory; 1 when written.
int P2iBmp(const _P2IIMG* image);

// One fsipctl_image as the control layer's image record; 0 or -2. Exported
// beside fsip_control.
extern "C" int InitImageinfo(const fsipctl_image* image, FSIP_S_IMAGEINFO_EX* info);
// The output allocator of every crop record; the user parameter selects the
// row rule (1, 2, 3; anything else: tight rows).
int callbackFunc(FSIP_S_IMAGEINFO_EX* info, void* userParam);

namespace fsipctl {

// Log sources, as each line names them.
extern const char kSrcCtl[];
extern const char kSrcCrp[];
extern const char kSrcBPD[];
extern const char kSrcDCM[];

// FSIPCTL.log writers (Part of the process log; callers test g_bLogProc).
void OutputLog(const char* source, int number, const char* text);
void OutputUserParamLog(void* userParam);
void OutputCropLog(const FSIP_S_IP_MODE* mode, const FSIP_S_IMAGEINFO_EX* inputs, const void* inParam);
void OutputCropOutParamLog(const FSIP_S_IP_MODE* mode, const FSIP_S_IMAGEINFO_EX* outputs, const void* outParam);
void OutputBPDLog(const FSIP_S_IMAGEINFO_EX* input, const FSIP_BPD_S_INPARAM* inParam);
void OutputBPDResultLog(const FSIP_S_IP_MODE* mode, const FSIP_BPD_S_OUTPARAM* outParam);
void OutputResultLog(int result);
// One line of a judge's own text log (P2IJDGWP.log, P2IDEPTH.log).
void OutputJudgeLog(const char* fileName, const char* text);

// BMP dumps.
void CreateBMP(const char* path, const FSIP_S_IMAGEINFO_EX* image);
void SaveBitmap(const FSIP_S_IMAGEINFO_EX* image, const char* suffix = "");
void SaveCropOutputBitmap(const FSIP_S_IP_MODE* mode, const FSIP_S_IMAGEINFO_EX* inputs,
                          const FSIP_S_IMAGEINFO_EX* outputs);

// The arguments of one crop request, as the dispatcher received them.
struct CropCall {
  FSIP_S_IMAGEINFO_EX* inputs;
  void* inParam;
  FSIP_S_IMAGEINFO_EX* outputs;
  void* outParam;
  void* userParam;
};

struct CropEngine {
  const char* name;  // as the start and end lines name it
  int startLine, endLine;
  const void* entry;  // null while the engine is not in the library
  int (*run)(const CropCall& call);
};

// Crop engines by type; entry 0 is empty.
extern const CropEngine kCropEngines[11];

// The judges of the blank-page and colour-or-mono functions; -4 while the
// library has none.
int RunJugBlankPage(FSIP_S_IMAGEINFO_EX* input, FSIP_BPD_S_INPARAM* inParam, FSIP_S_IMAGEINFO_EX* output,
                    FSIP_BPD_S_OUTPARAM* outParam);
int RunGetDocBestDepth(FSIP_S_IMAGEINFO_EX* input, FSIP_DCM_S_INPARAM* inParam, FSIP_S_IMAGEINFO_EX* output,
                       FSIP_DCM_S_OUTPARAM* outParam);

// Frees the crop engines' sine/cosine tables and clears their pointers.
void FreeSinCosTables();
// Points the engines that log to the depth log at it.
void ConnectEngines();

}  // namespace fsipctl

#endif
