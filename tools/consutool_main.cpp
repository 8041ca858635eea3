#include <cstdio>

int main() {
  std::fputs("consutool: consumable counters are not supported in this build\n", stderr);
  return 1;
}
