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

// What a face's samples are: colour (three bytes a pixel), grey (one byte)
// or line art (one bit, each line padded to whole bytes).
enum class FaceKind { LineArt, Grey, Colour };

// The frame format, depth and line length of a face `pixels` wide.
inline void SetFaceFrame(KELO_IMAGEDATA_PARAMETERS& face, FaceKind kind, int pixels) {
  face.iFormat = kind == FaceKind::Colour ? 1 : 0;  // SANE_FRAME_RGB or SANE_FRAME_GRAY
  face.iDepth = kind == FaceKind::LineArt ? 1 : 8;
  face.iBytesPerLine = kind == FaceKind::Colour ? 3 * pixels : (kind == FaceKind::Grey ? pixels : (pixels + 7) / 8);
}

// The main backend's name for the same record.
typedef KELO_IMAGEDATA_PARAMETERS QV_IMAGEDATA_PARAMETERS;

#endif
