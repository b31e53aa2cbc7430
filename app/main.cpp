#include <cstdio>

int main() {
  std::printf("Murmurquill %s\n", MQ_VERSION);
  return 0;
}
