// Grey-to-two-level operations of the line pipeline (ink 0, ground 255) and
// the interval overlap measures that the line builder grows lines with.
#ifndef DRAVN_ORIENTATION_LOCAL_BINARISE_H
#define DRAVN_ORIENTATION_LOCAL_BINARISE_H

#include <cstdint>

namespace turnsense {

struct argZheng {
  int radius;
  float weight;
  int floor;
};

int AdaptiveSauvola_parallel(int width, int height, const uint8_t* src, uint8_t* dst, int radius, double k, int range);
void GlobalOtsu(int width, int height, const uint8_t* src, uint8_t* dst);
int MeanFilterImage(int width, int height, const uint8_t* src, uint8_t* dst);
int AdaptiveSurface(int width, int height, const uint8_t* src, uint8_t* dst, argZheng params);

bool is_overlap(int a1, int a2, int b1, int b2);
float overlap_rate(int a1, int a2, int b1, int b2);
float overlap_rate1(int a1, int a2, int b1, int b2, int& length_a, int& length_b, int& overlap);

}  // namespace turnsense

#endif
