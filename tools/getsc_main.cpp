#include <cstdio>

int main() {
  std::fputs("scanner status query is not supported in this build\n", stderr);
  return 1;
}
