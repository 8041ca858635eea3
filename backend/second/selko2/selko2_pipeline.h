// The Selko2 page pipeline: turns the compressed faces of one sheet into the
// pages that the read side serves, step by step over the image libraries,
// and builds the tone tables it applies. The Selko2 device class carries it
// (its tone tables, its image-step object) and runs it in the application's
// thread once per sheet.
#ifndef DRAVN_SECOND_SELKO2_PIPELINE_H
#define DRAVN_SECOND_SELKO2_PIPELINE_H

#include "I3ipImageInfo.h"
#include "image_params.h"
#include "jpeg_decode.h"
#include "keloimageprocess.h"
#include "tone_curve.h"

// The 256 bytes every decoded face is mapped through.
extern const unsigned char DeviceAdjustLUT_Selko2[256];

// Adds the level counts of each channel (1 or 3) of `pixels` pixels to hist.
void CountLevels(const unsigned char* data, uint64_t pixels, int channels, uint64_t (*hist)[256]);

class CSelko2PagePipeline {
 public:
  CSelko2PagePipeline();
  ~CSelko2PagePipeline();
  CSelko2PagePipeline(const CSelko2PagePipeline&) = delete;
  CSelko2PagePipeline& operator=(const CSelko2PagePipeline&) = delete;

  // 0 when the sheet is ready; 32 parameter error, 33 out of memory, 34
  // other error (failed steps pass theirs through). Faces removed as blank
  // are null on return.
  int DoImageProcess(unsigned char** ppFront, unsigned char** ppBack, KELO_IMAGEDATA_PARAMETERS* tpSrcInfo,
                     KELO_IMAGEDATA_PARAMETERS* tpDstInfo, const JPEGINFO* tpJpegInfo);
  // 0x1000 automatic crop, 0x40 blank-page test; 0 or an FSIP_C_ERR_* code.
  // A blank verdict goes to *ipVerdict when given, else frees the face.
  int DoSelectFunc(int iFunction, unsigned char*** cpImageData, int iScanFace, KELO_IMAGEDATA_PARAMETERS* tpImageInfo,
                   int* ipVerdict);
  // Mode conversion: type 0 line art, 1 grey, 2 colour; 0 or the library's code.
  int DoImageProc(unsigned char** pbyInImg, KELO_IMAGEDATA_PARAMETERS* tpInParam, int iType);

  // Tone curves.
  static int GetLUTData(int iInput, int iWhiteLevel, int iBlackLevel, int iBrightness, int iContrast, int iShadow,
                        int iHighlight, int iGamma);
  static int GetGammaValue(tabGammaCurve tCurve, int iInput);
  static void ApplyLutContrastBrightness(int iBrightness, int iContrast, int iHighlight, int iShadow, int iGamma,
                                         unsigned char* pbyLUT);
  // Presets 1..4 of tone-adjustment into pbyLUT; the tone fields of
  // g_PropInfo keep the values that made it.
  static void I3ipIpunitProcess_ManualLUT(int iMode, unsigned char* pbyLUT,
                                          const char* cpPresetPath = KELO_PRESET_LUT_PATH);
  static void GetNormalLUTParams(bool bLineArt, bool bErrorDiffusion, unsigned char* pbyLUT,
                                 const char* cpPresetPath = KELO_PRESET_LUT_PATH);
  // The automatic table of one 24-bit (or 8-bit) page; 0, -2, or the
  // measurement's code.
  static int I3ipIpunitProcess_AutoLUT(int iMode, const I3ipImageInfo* pstI3ipImageInfo, unsigned char* pbyLUT);
  static void SetupAutoLutParams(Zu_ALut_ctl* pstCtl, bool bHalftone, bool bHalftone2, bool bSdtc);
  static int Zu_do_ALUT(const I3ipImageInfo* pstImage, const Zu_ALut_ctl* pstCtl, const I3ipImageInfo* pstImage2,
                        Zu_ALut_out* pstOut);

  // Fills the main table and the control entry's table with the identity.
  void ResetToneTables();
  // Frees the buffers kept for decoding and cropping the next sheet's faces.
  void ReleaseDecodeBuffers();
  // A face's page (at least `bytes` long) that the read side has served:
  // with automatic size its block takes the next sheet's crop of that face,
  // whose memory it spares the faults of fresh pages; else it is freed.
  void TakeBackPage(int face, unsigned char* page, size_t bytes);

  KeloImageProcess m_ImageProcess;
  unsigned char m_byToneLUT[256];     // main tone table
  unsigned char m_byFsipctlLut[256];  // handed to every fsip_control call
  // The custom table was built for this batch; cleared at construction and
  // at every cancel.
  unsigned int m_bCustomLUT = 0;
  // Per sheet: 1 for a face whose automatic crop succeeded.
  int m_iCropFlag[2] = {0, 0};
  // The model text the control layer is told; null: the Selko2 model of the
  // device type.
  const char* m_cpScannerName = nullptr;

  // Decodes a face into its slot, rows cut to the smaller of the frame and
  // the source, through `table` (the device adjustment, or a table that
  // follows it by a tone table); 0, 32 or 33.
  int DecodeFace(int face, unsigned char** slot, KELO_IMAGEDATA_PARAMETERS* src, const JPEGINFO& jpeg,
                 const unsigned char* table = DeviceAdjustLUT_Selko2);

 private:
  // A block kept from sheet to sheet: writing a page into memory that is
  // already mapped spares the page its faults.
  struct KeptBlock {
    unsigned char* data = nullptr;
    size_t size = 0;
  };
  // A face's decoding buffer, kept while the crop leaves it behind.
  KeptBlock m_Decoded[2];
  // A served page's block per face, offered to the face's next crop; the
  // page's from the moment the crop writes into it.
  KeptBlock m_CropBlock[2];
  // A face whose slot still holds its decoding buffer has its page in it:
  // the buffer is the page's from now on.
  void HandDecodeBufferOn(int face, unsigned char* const* slot);
  void HandDecodeBuffersOn(unsigned char*** slots);
  // DecodeFace that leaves an automatic-size face in its decoding buffer.
  int DecodeKeeping(int face, unsigned char** slot, KELO_IMAGEDATA_PARAMETERS* src, const JPEGINFO& jpeg,
                    const unsigned char* table);

  int ProcessFace(int face, unsigned char*** slots, KELO_IMAGEDATA_PARAMETERS* src, KELO_IMAGEDATA_PARAMETERS* dst);
};

#endif
