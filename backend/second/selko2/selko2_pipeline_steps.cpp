// The pipeline's two wrappers over libimgforge: automatic crop and blank-page
// test through the control entry, and the mode conversion through the
// drop-out and filter entries.
#include <cstdlib>
#include <cstring>

#include "fsip_records.h"
#include "image_libs.h"
#include "log.h"
#include "model_catalog.h"
#include "option_table.h"
#include "prop_info.h"
#include "selko2_pipeline.h"

namespace {

// The dynamic-threshold rows by bw-sdtc-variance Low, Mid, High.
const FSIP_S_SDTCEX SDTCParamSelko2[3] = {
    {{36, 20, 4, 152, 16, 16, 1}, nullptr},
    {{36, 16, 4, 152, 4, 4, 1}, nullptr},
    {{36, 8, 2, 152, 4, 4, 1}, nullptr},
};

// The model text a white-background crop is told.
const char* ScannerName() {
  const int index = g_iDevType - KELO_DEVTYPE_SELKO2_FIRST;
  return index >= 0 && index < 3 ? dravn::kSelko2Models[index].model : "";
}

// Emphasis or descreen by cleanup-sharpness; kind 0 when neither applies.
FSIP_S_IMAGEEMPHASIS Emphasis(int sharpness) {
  FSIP_S_IMAGEEMPHASIS e{sizeof(FSIP_S_IMAGEEMPHASIS), 0, 7, 0, 0, 1};
  if (sharpness == 32 || sharpness == 64 || sharpness == 96) {
    e.nKind = 2;
    e.nEmphasisLevel = sharpness / 32 - 1;
  } else if (sharpness >= 128 && sharpness <= 224 && sharpness % 32 == 0) {
    e.nKind = 4;
    e.nDescreenLevel = (sharpness - 128) / 32;
  }
  return e;
}

}  // namespace

int CSelko2PagePipeline::DoSelectFunc(int iFunction, unsigned char*** cpImageData, int iScanFace,
                                      KELO_IMAGEDATA_PARAMETERS* tpImageInfo, int* ipVerdict) {
  const char kFunction[] = "CSelko2ScanFunc::DoSelectFunc";
  CLogScope scope(kFunction);
  if (!cpImageData) {
    WriteLog(LOG_LEVEL_ERROR, kFunction, "cpImageData == NULL");
    return FSIP_C_ERR_PARAMETER;
  }
  if (iFunction & ~(0x1000 | 0x40)) {
    WriteLog(LOG_LEVEL_ERROR, kFunction, "FSIP_C_ERR_PARAMETER1");
    return FSIP_C_ERR_PARAMETER;
  }
  if (iScanFace < 0 || iScanFace > 1) {
    WriteLog(LOG_LEVEL_ERROR, kFunction, "FSIP_C_ERR_PARAMETER3");
    return FSIP_C_ERR_PARAMETER;
  }
  if (!cpImageData[iScanFace] || !*cpImageData[iScanFace] || !tpImageInfo) {
    WriteLog(LOG_LEVEL_ERROR, kFunction, "FSIP_C_ERR_PARAMETER4");
    return FSIP_C_ERR_PARAMETER;
  }
  KELO_IMAGEDATA_PARAMETERS& g = tpImageInfo[iScanFace];
  if (g.iPixelsPerLine <= 0 || g.iLines <= 0) {
    WriteLog(LOG_LEVEL_ERROR, kFunction, "tpImageInfo[iScanFace].iPixelsPerLine <= 0");
    return FSIP_C_ERR_PARAMETER;
  }

  // The library always works on its first input and result, whichever face.
  fsipctl_image input[2] = {}, result[2] = {};
  input[0].pImageData = *cpImageData[iScanFace];
  input[0].nResolution = g_PropInfo.SCAN_RES_X <= 300 ? 300 : 600;
  input[0].nWidth = g.iPixelsPerLine;
  input[0].nHeight = g.iLines;
  input[0].nDepth = g.iBytesPerLine * 8 / g.iPixelsPerLine;
  input[0].nImageSize = g.iLines * g.iBytesPerLine;

  fsipctl_request request;
  memset(&request, 0, sizeof request);
  strncpy(request.szScanner, m_cpScannerName ? m_cpScannerName : ScannerName(), sizeof request.szScanner - 1);
  if (iFunction == 0x1000) {
    request.dwFlags = FSIPCTL_FUNC_WHITE_BG_CROP;
    request.nSide = iScanFace + 1;
  } else if (iFunction == 0x40) {
    request.dwFlags = FSIPCTL_FUNC_BLANK_PAGE;
    request.nDetectLevel = g_PropInfo.BLANK_PAGE_SKIP_SENSITIVITY;
    request.nWLevel = 0;
  } else {
    WriteLog(LOG_LEVEL_ERROR, kFunction, "unsupported function");
    return FSIP_C_ERR_NOTSUPPORT;
  }
  if (!g_FSIPCTLFucntion) {
    WriteLog(LOG_LEVEL_ERROR, kFunction, "g_FSIPCTLFucntion == NULL");
    return 0;
  }

  const bool crop = iFunction == 0x1000;
  // The block of the face's last served page, offered for this page: the
  // library leaves it ours unless it cuts the page into it.
  KeptBlock& offered = m_CropBlock[iScanFace];
  if (crop && offered.data) {
    result[0].pImageData = offered.data;
    result[0].nImageSize = static_cast<int32_t>(offered.size);
  }
  const int rc = g_FSIPCTLFucntion(&request, input, result, m_byFsipctlLut);
  if (rc != 0) {
    WriteLog(LOG_LEVEL_ERROR, kFunction, crop ? "bgcolor white crop error" : "bpd error");
    return rc;
  }
  if (crop) {
    const fsipctl_image& out = result[0];
    if (!out.pImageData || out.nWidth <= 0 || out.nHeight <= 0 || out.nDepth <= 0) {
      if (out.pImageData != offered.data) free(out.pImageData);
      WriteLog(LOG_LEVEL_ERROR, kFunction, "bgcolor white crop error");
      return FSIP_C_ERR_UNEXPECTED_ERROR;
    }
    if (out.pImageData == offered.data) offered = KeptBlock();
    g.iPixelsPerLine = out.nWidth;
    g.iLines = out.nHeight;
    g.iBytesPerLine = (out.nWidth * out.nDepth + 7) / 8;
    // A decoding buffer stays for the next sheet.
    if (*cpImageData[iScanFace] != m_Decoded[iScanFace].data) free(*cpImageData[iScanFace]);
    *cpImageData[iScanFace] = out.pImageData;
  } else {
    const int verdict = result[0].nResult;
    if (ipVerdict) {
      *ipVerdict = verdict;
    } else if (verdict == 1) {
      free(*cpImageData[iScanFace]);
      *cpImageData[iScanFace] = nullptr;
    }
  }
  return 0;
}

int CSelko2PagePipeline::DoImageProc(unsigned char** pbyInImg, KELO_IMAGEDATA_PARAMETERS* tpInParam, int iType) {
  const char kFunction[] = "CSelko2ScanFunc::DoImageProc";
  CLogScope scope(kFunction);
  // Each conversion needs only its own entry: grey pages must not stay
  // colour because the filter entry is missing.
  if (iType != 2 && !g_FSIP_DROPOUTCOLOREXFunction) {
    WriteLog(LOG_LEVEL_ERROR, kFunction, "g_FSIP_DROPOUTCOLOREXFunction == NULL");
    return 0;
  }
  if (iType == 2 && !g_FSIPIMAGEFILTERFunction) {
    WriteLog(LOG_LEVEL_ERROR, kFunction, "g_FSIPIMAGEFILTERFunction == NULL");
    return 0;
  }
  if (!pbyInImg || !*pbyInImg || !tpInParam) {
    WriteLog(LOG_LEVEL_ERROR, kFunction, "*pbyInImg == NULL || pbyInImg == NULL || tpInParam == NULL");
    return FSIP_C_ERR_PARAMETER;
  }
  const KELO_PROP_INFO& p = g_PropInfo;
  FSIP_S_IMAGEINFO in, out;
  memset(&in, 0, sizeof in);
  memset(&out, 0, sizeof out);
  in.cbSize = sizeof(FSIP_S_IMAGEINFO);
  in.pImageData = *pbyInImg;
  in.nPixelType = 2;
  in.nDepth = 24;
  in.nColorSeq = 1;
  in.nWidth = tpInParam->iPixelsPerLine;
  in.nHeight = tpInParam->iLines;
  in.nBytesPerLine = tpInParam->iBytesPerLine;
  in.nImageSize = tpInParam->iBytesPerLine * tpInParam->iLines;
  in.nXResolution = p.SCAN_RES_X;
  in.nYResolution = p.SCAN_RES_Y;

  FSIP_S_IMAGEEMPHASIS emphasis = Emphasis(p.CLEANUP_SHARPNESS);
  FSIP_S_IMAGEFILTER filter;
  memset(&filter, 0, sizeof filter);
  filter.cbSize = sizeof(FSIP_S_IMAGEFILTER);
  filter.dwOption = emphasis.nKind != 0 ? 1 : 0;
  filter.pEmphasis = &emphasis;

  if (iType == 2) {
    if (p.CLEANUP_SHARPNESS == 0) return 0;
    const int rc = g_FSIPIMAGEFILTERFunction(&in, &filter, nullptr, nullptr);
    if (rc != 0) WriteLog(LOG_LEVEL_ERROR, kFunction, "fsip_ImageFilter Error");
    return rc;
  }

  FSIP_S_DROPOUTCOLOREX dropout;
  memset(&dropout, 0, sizeof dropout);
  dropout.cbSize = sizeof(FSIP_S_DROPOUTCOLOREX);
  dropout.wDropoutType = p.DROPOUT_COLOR;

  FSIP_S_BINARIZATIONEX binarization;
  FSIP_S_SDTCEX sdtc;
  FSIP_S_ERROR_DIFFUSION errorDiffusion{sizeof(FSIP_S_ERROR_DIFFUSION), 0, 2, 200, 40};
  const char* failure = "fsip_DropoutColorEx(gray) Error";
  if (iType == 1) {
    dropout.dwOutput = 1;
  } else {
    failure = "fsip_DropoutColorEx Error";
    memset(&binarization, 0, sizeof binarization);
    binarization.cbSize = sizeof(FSIP_S_BINARIZATIONEX);
    binarization.nThreshold = p.THRESHOLD;
    binarization.pPreFilter = &filter;
    binarization.dwBoundary = 1;
    switch (p.BW_MODE) {
      case 1:
        binarization.dwMethod = 0x1003;
        sdtc = SDTCParamSelko2[p.BW_SDTC_VARIANCE == 1 ? 0 : p.BW_SDTC_VARIANCE == 96 ? 1 : 2];
        binarization.pSdtc = &sdtc;
        break;
      case 2:
        binarization.dwMethod = 0x1000;
        break;
      case 3:
        binarization.dwMethod = 0x1002;
        binarization.pErrorDiffusion = &errorDiffusion;
        break;
      default:
        binarization.dwMethod = 0;
        break;
    }
    dropout.dwOutput = 0;
    dropout.pBinarization = &binarization;
  }

  int rc = g_FSIP_DROPOUTCOLOREXFunction(&in, &dropout, &out, nullptr);
  if (rc == 0 && (!out.pImageData || out.nWidth <= 0 || out.nHeight <= 0 || out.nBytesPerLine <= 0))
    rc = FSIP_C_ERR_UNEXPECTED_ERROR;
  if (rc != 0) {
    free(out.pImageData);
    WriteLog(LOG_LEVEL_ERROR, kFunction, failure);
    return rc;
  }
  free(*pbyInImg);
  *pbyInImg = out.pImageData;
  tpInParam->iPixelsPerLine = out.nWidth;
  tpInParam->iLines = out.nHeight;
  tpInParam->iBytesPerLine = out.nBytesPerLine;
  return 0;
}
