// What the per-line scorers share: the line's grey crop with its two
// two-level versions, and the classification of one patch of them.
#ifndef DRAVN_ORIENTATION_SCORER_IMAGES_H
#define DRAVN_ORIENTATION_SCORER_IMAGES_H

#include <cstdint>
#include <memory>

#include "line_scorers.h"

namespace turnsense {

struct ScorerImages {
  std::unique_ptr<uint8_t[]> grey;    // G
  std::unique_ptr<uint8_t[]> engine;  // B1: the binarization engine's, ink 0, paper 255
  std::unique_ptr<uint8_t[]> otsu;    // B2: Otsu's threshold, ink 0, paper 255
  int w = 0, h = 0;

  // Cuts the line, widened by one unit across it, out of the page (only its
  // text band with cropBand) and makes B1 and B2. 0, or the failing code of
  // GetBaseLine or ImgCrop; throws std::bad_alloc.
  int Prepare(const uint8_t* page, int width, int height, const TEXTLINE& line, int orientation, int factor,
              bool cropBand);
  // One call of the classifier over the whole crop; a squeeze factor above 0
  // asks for squeezed windows.
  void Classify(CnnEngine* script, CnnEngine* rotation, uint8_t* image, int start, int windows, LineAnswer& out,
                float squeeze = 0) const;
};

// Sets answered when any answer has a direction, and turns the directions of
// a vertical line back by the crop's quarter turn.
void FinishAnswers(LineAnswer* answers, int count, bool vertical, int& answered);
// Category 24, no direction.
void NoText(LineAnswer* answers, int count);

}  // namespace turnsense

#endif
