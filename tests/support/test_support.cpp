#include "test_support.h"

#include <dirent.h>
#include <ftw.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "dravn_paths.h"

namespace dravn_test {

RunResult Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              int timeoutSeconds, const std::string& input) {
  RunResult result;
  int outPipe[2], errPipe[2], inPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC) || pipe2(inPipe, O_CLOEXEC))
    throw std::runtime_error("pipe");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    for (const auto& [k, v] : env) {
      if (v.empty())
        unsetenv(k.c_str());
      else
        setenv(k.c_str(), v.c_str(), 1);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  close(inPipe[0]);
  if (!input.empty()) {
    ssize_t ignored = write(inPipe[1], input.data(), input.size());
    (void)ignored;
  }
  close(inPipe[1]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  char buf[65536];
  bool killed = false;
  while (open > 0) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (left <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    int r = poll(fds, 2, left);
    if (r < 0 && errno == EINTR) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status))
    result.exitCode = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.exitCode = 128 + WTERMSIG(status);
  if (killed) result.err += "\n[killed after timeout]\n";
  return result;
}

namespace {

std::mutex g_tempMutex;
std::vector<std::string>* g_tempDirs = nullptr;
pid_t g_tempOwner = 0;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

// Left behind, a suite's scratch folders grow the build tree by gigabytes a
// day; they stay only when a test failed or DRAVN_KEEP_TEST_TMP is set.
void RemoveTempDirs() {
  if (getpid() != g_tempOwner || !g_tempDirs) return;  // a forked child must not clean up
  if (getenv("DRAVN_KEEP_TEST_TMP")) return;
  if (auto* unit = ::testing::UnitTest::GetInstance(); unit && unit->failed_test_count() > 0) return;
  for (const auto& dir : *g_tempDirs) nftw(dir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void RememberTempDir(const std::string& dir) {
  std::lock_guard<std::mutex> lock(g_tempMutex);
  if (!g_tempDirs) {
    g_tempDirs = new std::vector<std::string>;
    g_tempOwner = getpid();
    atexit(RemoveTempDirs);
  }
  if (getpid() == g_tempOwner) g_tempDirs->push_back(dir);
}

}  // namespace

std::string MakeTempDir(const std::string& hint) {
  static std::atomic<int> counter{0};
  std::string base = DRAVN_TEST_TMP;
  mkdir(base.c_str(), 0755);
  std::ostringstream name;
  name << base << "/" << hint << "-" << getpid() << "-" << counter++;
  std::string cmd = name.str();
  Run({"rm", "-rf", cmd});
  if (mkdir(cmd.c_str(), 0755) != 0) throw std::runtime_error("mkdir " + cmd);
  RememberTempDir(cmd);
  return cmd;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("write " + path);
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  return names;
}

int SysVObjects() {
  int count = 0;
  for (const char* table : {"/proc/sysvipc/shm", "/proc/sysvipc/sem"}) {
    std::istringstream in(ReadFile(table));
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line))
      if (!line.empty()) ++count;
  }
  return count;
}

std::map<std::string, std::string> SimEnv(const std::string& scenarioPath) {
  std::map<std::string, std::string> env;
  std::string ld = std::string(DRAVN_SIM_LIB_DIR) + ":" + DRAVN_SANE_BACKEND_DIR;
  env["LD_LIBRARY_PATH"] = ld;
  env["DRAVN_SIM"] = scenarioPath;
  return env;
}

RunResult RunScanimage(const std::vector<std::string>& args, const std::string& scenarioPath,
                       const std::map<std::string, std::string>& extraEnv, int timeoutSeconds) {
  std::string conf = MakeTempDir("sane-conf");
  WriteFile(conf + "/dll.conf", "dravn\n");
  auto env = SimEnv(scenarioPath);
  env["SANE_CONFIG_DIR"] = conf;
  for (const auto& [k, v] : extraEnv) env[k] = v;
  std::vector<std::string> argv{"scanimage"};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, env, timeoutSeconds);
}

StderrCapture::StderrCapture() : m_path(MakeTempDir("stderr") + "/err") {
  fflush(stderr);
  m_saved = dup(2);
  int fd = open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(fd, 2);
  close(fd);
}

std::string StderrCapture::Stop() {
  if (m_saved >= 0) {
    fflush(stderr);
    dup2(m_saved, 2);
    close(m_saved);
    m_saved = -1;
  }
  return ReadFile(m_path);
}

void WriteMessageCatalogue(const std::string& path, std::vector<std::pair<std::string, std::string>> pairs) {
  std::sort(pairs.begin(), pairs.end());
  const uint32_t n = static_cast<uint32_t>(pairs.size());
  std::string strings;
  uint32_t offset = 28 + 16 * n;
  std::vector<uint32_t> orig, trans;
  for (const auto& p : pairs) orig.push_back(offset), strings += p.first + '\0', offset += p.first.size() + 1;
  for (const auto& p : pairs) trans.push_back(offset), strings += p.second + '\0', offset += p.second.size() + 1;
  auto put = [](std::string& s, uint32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); };
  std::string body;
  for (uint32_t i = 0; i < n; ++i) put(body, static_cast<uint32_t>(pairs[i].first.size())), put(body, orig[i]);
  for (uint32_t i = 0; i < n; ++i) put(body, static_cast<uint32_t>(pairs[i].second.size())), put(body, trans[i]);
  std::string file;
  for (uint32_t v : {0x950412deu, 0u, n, 28u, 28u + 8 * n, 0u, 28u + 16 * n}) put(file, v);
  WriteFile(path, file + body + strings);
}

}  // namespace dravn_test
