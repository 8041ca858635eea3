#include "recording_classifier.h"

#include "vomb_cnn.h"

namespace recording {

std::vector<Call> calls;
std::function<Answer(const Call&, size_t)> answer;
long raiseAt = -1;

void Reset() {
  calls.clear();
  answer = nullptr;
  raiseAt = -1;
}

}  // namespace recording

namespace {

int Record(CnnEngine* engine, CnnEngine* rotation, unsigned char* page, int width, int height, tagRECT r, int& category,
           int& direction, float& confidence, int offset, int windows, float squeeze) {
  using namespace recording;
  Call c{engine, rotation, std::vector<uint8_t>(page, page + size_t(width) * height),
         width,  height,   r.left,
         r.top,  r.right,  r.bottom,
         offset, windows,  squeeze};
  calls.push_back(c);
  const size_t index = calls.size() - 1;
  if (raiseAt == long(index)) throw 55;
  const Answer a = answer ? answer(c, index) : Answer{10, 0, 0.9f};
  category = a.category, direction = a.direction, confidence = a.confidence;
  return 0;
}

}  // namespace

int VOMBCNN_script_orientation(CnnEngine* engine, CnnEngine* rotation, unsigned char* page, int width, int height,
                               tagRECT rect, int& category, int& direction, float& confidence, int offset,
                               int windows) {
  return Record(engine, rotation, page, width, height, rect, category, direction, confidence, offset, windows, 0);
}

int VOMBCNN_script_orientation_squeezeimage(CnnEngine* engine, CnnEngine* rotation, unsigned char* page, int width,
                                            int height, tagRECT rect, int& category, int& direction, float& confidence,
                                            int offset, int windows, float squeeze) {
  return Record(engine, rotation, page, width, height, rect, category, direction, confidence, offset, windows, squeeze);
}
