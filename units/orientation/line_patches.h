// Where along a line crop the classifier's patches start, and whether the
// crop holds text at all.
#ifndef DRAVN_ORIENTATION_LINE_PATCHES_H
#define DRAVN_ORIENTATION_LINE_PATCHES_H

#include <cstdint>
#include <vector>

namespace turnsense {

// An ink component of a crop: left column, top row, width and height.
struct CropComponent {
  int x0, y0, width, height;
};
// The crop's ink (0) components in label order; whitens the crop's frame.
std::vector<CropComponent> CropComponents(uint8_t* crop, int width, int height);

// The crop (ink 0) gets a white one-pixel frame from the labelling.
void GetPatchPos(uint8_t* crop, int width, int height, int& start, int mode = 0);
void GetPatchPos_left(uint8_t* crop, int width, int height, int& start, int mode = 0);
void GetPatchPos_right(uint8_t* crop, int width, int height, int& start, int mode = 0);
bool CheckTextvalidate(uint8_t* crop, int width, int height, int& flag);
bool CheckTextvalidate_v1(const uint8_t* crop, int width, int height, int& flag);

}  // namespace turnsense

#endif
