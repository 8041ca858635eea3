// Where along a line crop the classifier's patches start, and whether the
// crop holds text at all.
#ifndef DRAVN_ORIENTATION_LINE_PATCHES_H
#define DRAVN_ORIENTATION_LINE_PATCHES_H

#include <cstdint>

namespace turnsense {

// The crop (ink 0) gets a white one-pixel frame from the labelling.
void GetPatchPos(uint8_t* crop, int width, int height, int& start, int mode = 0);
void GetPatchPos_left(uint8_t* crop, int width, int height, int& start, int mode = 0);
void GetPatchPos_right(uint8_t* crop, int width, int height, int& start, int mode = 0);
bool CheckTextvalidate(uint8_t* crop, int width, int height, int& flag);
bool CheckTextvalidate_v1(const uint8_t* crop, int width, int height, int& flag);

}  // namespace turnsense

#endif
