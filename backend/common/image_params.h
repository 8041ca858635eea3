// Geometry of one page face as the backends pass it around.
#ifndef DRAVN_COMMON_IMAGE_PARAMS_H
#define DRAVN_COMMON_IMAGE_PARAMS_H

// Six signed 32-bit values, kept in front/back pairs.
struct KELO_IMAGEDATA_PARAMETERS {
  int iFormat;     // 0 SANE_FRAME_GRAY, 1 SANE_FRAME_RGB (the colour flag)
  int iLastFrame;  // always 1
  int iPixelsPerLine;
  int iLines;
  int iBytesPerLine;
  int iDepth;  // 8, or 1 for line art
};

// The main backend's name for the same record.
typedef KELO_IMAGEDATA_PARAMETERS QV_IMAGEDATA_PARAMETERS;

#endif
