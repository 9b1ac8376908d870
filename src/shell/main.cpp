// Until the windowed shell exists, the program draws a small demonstration
// picture with the pixel engine and writes it as a BMP file.
#include <cstdio>
#include <cstring>
#include <string>

#include "pixel/dib.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("velluminar 0.1.0\n");
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("Usage: velluminar [--help] [--version]\n");
      return 0;
    }
  }
  return 0;
}
