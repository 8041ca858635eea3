// The dispatcher under the control entry: one operation of the crop,
// blank-page or colour-or-mono function per call, with fsip.conf reread on
// every call so that its log and dump switches take effect at once.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "dravn_export.h"
#include "dravn_paths.h"
#include "fsipctl_internal.h"

using namespace fsipctl;

int CrpprGetPrivateProfileInt(const char* key, int def, const char* path) {
  if (!key || !path) return def;
  FILE* file = fopen(path, "re");
  if (!file) return def;
  int answer = def;
  for (;;) {
    // A word longer than the buffer is read to its end and never matches.
    char word[256];
    int length = 0, c;
    while ((c = fgetc(file)) != EOF && isspace(c)) {
    }
    if (c == EOF) break;
    bool tooLong = false;
    for (; c != EOF && !isspace(c); c = fgetc(file)) {
      if (length < 255)
        word[length++] = static_cast<char>(c);
      else
        tooLong = true;
    }
    word[length] = '\0';
    // The value: an optional sign and digits; anything else counts as 0.
    while (c == ' ' || c == '\t') c = fgetc(file);
    long value = 0;
    bool negative = false;
    if (c == '-' || c == '+') {
      negative = c == '-';
      c = fgetc(file);
    }
    while (c != EOF && isdigit(c)) {
      if (value < 100000000000L) value = value * 10 + (c - '0');
      c = fgetc(file);
    }
    if (negative) value = -value;
    if (c != EOF) ungetc(c, file);
    if (!tooLong && strcasecmp(word, key) == 0) {
      answer = static_cast<int>(value);
      break;
    }
  }
  fclose(file);
  return answer;
}

const char* FsipConfPath() {
  static const std::string path = std::string(DRAVN_ETC_DIR) + "/fsip.conf";
  return path.c_str();
}

int CRPEnable() { return 0; }
int BPDEnable() { return 0; }
int DCMEnable() { return 0; }
int CRPInit() { return 0; }
int CRPExit() { return 0; }
int BPDInit() { return 0; }
int BPDExit() { return 0; }
int DCMInit() { return 0; }
int DCMExit() { return 0; }

int CRPExec(FSIP_S_IP_MODE* mode, FSIP_S_IMAGEINFO_EX* inputs, void* inParam, FSIP_S_IMAGEINFO_EX* outputs,
            void* outParam, void* userParam) {
  const int type = mode->nType;
  // A type outside the table, or one whose engine is not in this library.
  const CropEngine* engine = type >= 1 && type <= 10 && kCropEngines[type].entry ? &kCropEngines[type] : nullptr;
  if (!engine) {
    if (g_bLogProc) OutputLog(kSrcCrp, 591, "Error CRPExec() NOTSUPPORT");
    return FSIP_C_ERR_NOTSUPPORT;
  }
  if (g_bLogProc) OutputLog(kSrcCrp, engine->startLine, (std::string("Start ") + engine->name + "()").c_str());
  const int result = engine->run({inputs, inParam, outputs, outParam, userParam});
  if (g_bLogProc) OutputLog(kSrcCrp, engine->endLine, (std::string("End ") + engine->name + "()").c_str());
  return result;
}

int BPDExec(FSIP_S_IP_MODE* mode, FSIP_S_IMAGEINFO_EX* inputs, void* inParam, FSIP_S_IMAGEINFO_EX* outputs,
            void* outParam, void*) {
  if (mode->nType != 1) {
    if (g_bLogProc) OutputLog(kSrcBPD, 195, "Error BPDExec() NOTSUPPORT");
    return FSIP_C_ERR_NOTSUPPORT;
  }
  if (g_bLogProc) OutputLog(kSrcBPD, 188, "Start JugBlankPage()");
  const int result = RunJugBlankPage(inputs, static_cast<FSIP_BPD_S_INPARAM*>(inParam), outputs,
                                     static_cast<FSIP_BPD_S_OUTPARAM*>(outParam));
  if (g_bLogProc) OutputLog(kSrcBPD, 192, "End JugBlankPage()");
  return result;
}

int DCMExec(FSIP_S_IP_MODE* mode, FSIP_S_IMAGEINFO_EX* inputs, void* inParam, FSIP_S_IMAGEINFO_EX* outputs,
            void* outParam, void*) {
  if (mode->nType != 1) {
    if (g_bLogProc) OutputLog(kSrcDCM, 203, "Error DCMExec() NOTSUPPORT");
    return FSIP_C_ERR_NOTSUPPORT;
  }
  if (g_bLogProc) OutputLog(kSrcDCM, 196, "Start GetDocBestDepth()");
  const int result = RunGetDocBestDepth(inputs, static_cast<FSIP_DCM_S_INPARAM*>(inParam), outputs,
                                        static_cast<FSIP_DCM_S_OUTPARAM*>(outParam));
  if (g_bLogProc) OutputLog(kSrcDCM, 200, "End GetDocBestDepth()");
  return result;
}

DRAVN_C_EXPORT int fsip_ImageProcess(FSIP_S_IP_MODE* mode, FSIP_S_IMAGEINFO_EX* inputs, void* inParam,
                                     FSIP_S_IMAGEINFO_EX* outputs, void* outParam, void* userParam) {
  g_bLogSaveBitmap = CrpprGetPrivateProfileInt("SaveBitmap", 0, FsipConfPath()) != 0;
  g_bLogProc = CrpprGetPrivateProfileInt("ProcLog", 0, FsipConfPath()) != 0;
  const bool log = g_bLogProc, dump = g_bLogSaveBitmap;
  if (log) OutputLog(kSrcCtl, 261, "Enter fsip_ImageProcess()");
  if (dump) SaveBitmap(inputs);
  if (!mode) {
    if (log) OutputLog(kSrcCtl, 276, "Error fsip_ImageProcess() PARAMETER");
    return FSIP_C_ERR_PARAMETER;
  }
  if (log) OutputUserParamLog(userParam);
  int result;
  switch (mode->nFunction) {
    case 2:
      if (mode->nType == -1) {
        result = CRPEnable();
        break;
      }
      if (log) OutputLog(kSrcCtl, 317, "Start CRPExec()");
      if (dump && (mode->nType == 4 || mode->nType == 5) && inputs) SaveBitmap(inputs + 1);
      if (log) OutputCropLog(mode, inputs, inParam);
      result = CRPExec(mode, inputs, inParam, outputs, outParam, userParam);
      if (dump) SaveCropOutputBitmap(mode, inputs, outputs);
      if (result == FSIP_C_ERR_NOERROR && log) OutputCropOutParamLog(mode, outputs, outParam);
      if (log) {
        OutputResultLog(result);
        OutputLog(kSrcCtl, 355, "End CRPExec()");
      }
      break;
    case 3:
      if (mode->nType == -1) {
        result = BPDEnable();
        break;
      }
      if (log) {
        OutputLog(kSrcCtl, 368, "Start BPDExec()");
        OutputBPDLog(inputs, static_cast<FSIP_BPD_S_INPARAM*>(inParam));
      }
      result = BPDExec(mode, inputs, inParam, outputs, outParam, userParam);
      if (log) {
        OutputBPDResultLog(mode, static_cast<FSIP_BPD_S_OUTPARAM*>(outParam));
        OutputResultLog(result);
        OutputLog(kSrcCtl, 378, "End BPDExec()");
      }
      break;
    case 1:
      if (mode->nType == -1) {
        result = DCMEnable();
        break;
      }
      if (log) OutputLog(kSrcCtl, 297, "Start DCMExec()");
      result = DCMExec(mode, inputs, inParam, outputs, outParam, userParam);
      if (log) OutputLog(kSrcCtl, 303, "End DCMExec()");
      break;
    default:
      if (log) OutputLog(kSrcCtl, 389, "Error fsip_ImageProcess() NOTSUPPORT");
      result = FSIP_C_ERR_NOTSUPPORT;
      break;
  }
  if (log) OutputLog(kSrcCtl, 394, "Exit fsip_ImageProcess()");
  return result;
}
