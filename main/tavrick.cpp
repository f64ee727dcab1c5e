// tavrick: fits peaks in a spectrum of the current experiment.
#include <cstdio>

int main() {
  std::fputs("tavrick: not built yet\n", stdout);
  return 8;
}
