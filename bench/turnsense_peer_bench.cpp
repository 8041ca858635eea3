// The orientation unit's entry per page, as the second backend calls it
// (24-bit page, resolution 300 or 600), beside Tesseract's orientation
// detection (`tesseract <page> stdout --psm 0`, one thread) on the same page
// files in the same run: the quarter turn each asks for, whether it is the
// right one, and the time each takes.
//
//   turnsense_peer_bench [--no-peer] <folder of libturnsense3.so> <page list>
//
// The page list holds "<ppm or pgm file> <dpi> <right turn>" per line; the
// right turn is the clockwise quarter turns that make the page upright, -1
// for a page without text (where the right answer is to leave it: 0). The
// model training uses it with --no-peer for its held-out report.
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fsip_records.h"

extern char** environ;

namespace {

using Entry = int (*)(_P2IIMG*, int*);

bool ReadPnm(const std::string& path, int& w, int& h, int& channels, std::vector<uint8_t>& pixels) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  f >> magic >> w >> h >> maxval;
  f.get();
  channels = magic == "P6" ? 3 : magic == "P5" ? 1 : 0;
  if (!channels || w <= 0 || h <= 0 || maxval != 255) return false;
  pixels.resize(size_t(w) * h * channels);
  f.read(reinterpret_cast<char*>(pixels.data()), std::streamsize(pixels.size()));
  return bool(f);
}

// Clockwise quarter turns that Tesseract asks for, or -1 when it gives none;
// the processor time of its process (user and system, one thread) in `ms`,
// comparable with the unit's processor time.
int Peer(const std::string& path, double& ms) {
  int out[2];
  if (pipe(out) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<std::string> args = {"tesseract", path, "stdout", "--psm", "0"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envText = {"OMP_THREAD_LIMIT=1", "PATH=/usr/bin:/bin"};
  std::vector<char*> env;
  for (auto& e : envText) env.push_back(e.data());
  env.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "tesseract", &actions, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  close(out[0]);
  rusage usage{};
  if (rc == 0) wait4(pid, nullptr, 0, &usage);
  ms = 1000.0 * (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  // "Rotate: r" is the clockwise turn in degrees that makes the page upright.
  const size_t at = text.find("Rotate:");
  if (rc != 0 || at == std::string::npos) return -1;
  return (std::atoi(text.c_str() + at + 7) % 360) / 90;
}

}  // namespace

int main(int argc, char** argv) {
  int a = 1;
  bool peer = true;
  if (a < argc && std::strcmp(argv[a], "--no-peer") == 0) peer = false, ++a;
  if (argc - a != 2) {
    std::fprintf(stderr, "usage: turnsense_peer_bench [--no-peer] <folder of libturnsense3.so> <page list>\n");
    return 2;
  }
  const std::string lib = std::string(argv[a]) + "/libturnsense3.so";
  void* handle = dlopen(lib.c_str(), RTLD_NOW);
  auto* ready = handle ? static_cast<unsigned char*>(dlsym(handle, "gInitialized")) : nullptr;
  if (!ready || !*ready) {
    std::fprintf(stderr, "%s: not loaded or not ready\n", lib.c_str());
    return 1;
  }
  auto entry = reinterpret_cast<Entry>(dlsym(handle, "I3ipIpunitProcess_Turnsense"));
  std::ifstream list(argv[a + 1]);
  std::string line;
  int pages = 0, right = 0, peerRight = 0;
  double unitMs = 0, peerMs = 0;
  std::printf("# page right unit_turn unit_language unit_ms%s\n", peer ? " peer_turn peer_ms" : "");
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    std::string path;
    int dpi = 0, expected = 0;
    if (!(fields >> path >> dpi >> expected)) continue;
    int w = 0, h = 0, channels = 0;
    std::vector<uint8_t> pixels;
    if (!ReadPnm(path, w, h, channels, pixels)) {
      std::fprintf(stderr, "%s: not an 8-bit PNM\n", path.c_str());
      return 1;
    }
    std::vector<uint8_t> colour;
    if (channels == 1) {  // the backend always hands the unit 24-bit pages
      colour.resize(pixels.size() * 3);
      for (size_t i = 0; i < pixels.size(); ++i) colour[3 * i] = colour[3 * i + 1] = colour[3 * i + 2] = pixels[i];
    } else {
      colour.swap(pixels);
    }
    _P2IIMG img{};
    img.pImageData = colour.data();
    img.nBitsPerPixel = 24;
    img.nWidth = w, img.nHeight = h;
    img.nBytesPerLine = (w * 24 + 7) / 8;
    img.nImageSize = img.nBytesPerLine * h;
    img.nXResolution = img.nYResolution = dpi <= 300 ? 300 : 600;
    int out[2] = {0, -1};
    const std::clock_t c0 = std::clock();
    const int rc = entry(&img, out);
    const double ms = 1000.0 * double(std::clock() - c0) / CLOCKS_PER_SEC;
    const int turn = rc == 0 ? out[0] : 0;
    const int want = expected < 0 ? 0 : expected;
    ++pages, unitMs += ms, right += turn == want;
    std::printf("%s %d %d %d %.1f", path.c_str(), expected, turn, out[1], ms);
    if (peer) {
      double pms = 0;
      const int p = Peer(path, pms);
      const int pturn = p < 0 ? 0 : p;
      peerMs += pms, peerRight += pturn == want;
      std::printf(" %d %.1f", p, pms);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  if (pages) {
    std::printf("# pages %d unit right %d (%.2f %%) %.1f ms/page", pages, right, 100.0 * right / pages, unitMs / pages);
    if (peer)
      std::printf(" | peer right %d (%.2f %%) %.1f ms/page | time ratio unit/peer %.4f", peerRight,
                  100.0 * peerRight / pages, peerMs / pages, unitMs / peerMs);
    std::printf("\n");
  }
  return 0;
}
