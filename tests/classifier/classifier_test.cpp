#include "classifier_test.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "cnn_kernels.h"
#include "opcv.h"
#include "test_support.h"

namespace classifier_test {

namespace {
// The unit binds libopencv's product at load; the tests bind the same one.
const bool g_bound = [] {
  gIPPShare_cblas_sgemm = OPCV_cblas_sgemm;
  return true;
}();
}  // namespace

std::string ModelDir(const std::string& name) {
  (void)g_bound;
  return std::string(DRAVN_SOURCE_DIR) + "/tests/fixtures/cnn_models/" + name;
}

Golden ReadGolden(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("no golden " + path);
  Golden g;
  int32_t shape[4];
  in.read(reinterpret_cast<char*>(shape), sizeof shape);
  g.n = shape[0], g.c = shape[1], g.h = shape[2], g.w = shape[3];
  g.values.resize(static_cast<size_t>(g.n) * g.c * g.h * g.w);
  in.read(reinterpret_cast<char*>(g.values.data()), static_cast<std::streamsize>(g.values.size() * 4));
  return g;
}

ScratchModel::ScratchModel(const std::string& name) {
  m_root = dravn_test::MakeTempDir("cnn");
  m_dir = m_root + "/" + name;
  std::filesystem::copy(ModelDir(name), m_dir, std::filesystem::copy_options::recursive);
}

ScratchModel::~ScratchModel() {
  std::error_code ec;
  std::filesystem::remove_all(m_root, ec);
}

void ScratchModel::Write(const std::string& relative, const std::string& bytes) const {
  std::ofstream(Path(relative), std::ios::binary | std::ios::trunc) << bytes;
}

std::string ScratchModel::Read(const std::string& relative) const {
  std::ifstream in(Path(relative), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string FloatFile(const std::vector<float>& values) {
  std::string bytes(4, '\0');
  bytes.resize(4 + values.size() * 4);
  std::memcpy(&bytes[4], values.data(), values.size() * 4);
  return bytes;
}

}  // namespace classifier_test
