#include <cstdio>

int main() {
  std::fputs("dravnscanbutton: the scan-button service is not supported in this build\n", stderr);
  return 1;
}
