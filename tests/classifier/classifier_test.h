// Shared pieces of the network engine tests: the fixture models, their
// goldens, scratch copies to break, and the product bound as the unit binds it.
#ifndef DRAVN_CLASSIFIER_TEST_H
#define DRAVN_CLASSIFIER_TEST_H

#include <filesystem>
#include <string>
#include <vector>

namespace classifier_test {

std::string ModelDir(const std::string& name);  // tests/fixtures/cnn_models/<name>

struct Golden {
  int n = 0, c = 0, h = 0, w = 0;
  std::vector<float> values;
};
Golden ReadGolden(const std::string& path);

// A scratch copy of a fixture engine directory, removed again with the object.
class ScratchModel {
 public:
  explicit ScratchModel(const std::string& name);
  ~ScratchModel();
  ScratchModel(const ScratchModel&) = delete;
  ScratchModel& operator=(const ScratchModel&) = delete;
  const std::string& Dir() const { return m_dir; }
  std::string Path(const std::string& relative) const { return m_dir + "/" + relative; }
  void Write(const std::string& relative, const std::string& bytes) const;
  std::string Read(const std::string& relative) const;

 private:
  std::string m_root, m_dir;
};

std::string FloatFile(const std::vector<float>& values);  // a weight file: header + values

}  // namespace classifier_test

#endif
