#include <cstdio>
int main() {
  std::fprintf(stderr, "plasma-display: start-up is not built yet\n");
  return 1;
}
