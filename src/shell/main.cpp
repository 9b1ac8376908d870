// Until the windowed shell exists, the program draws a small demonstration
// picture with the pixel engine and writes it as a BMP file.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pixel/block_image.h"
#include "pixel/bmp.h"
#include "pixel/coverage.h"
#include "pixel/dib.h"

namespace {

constexpr const char* kVersion = "0.1.0";

void usage() {
  std::printf(
      "Usage: velluminar [OPTION]...\n"
      "Draws a demonstration picture and writes it as a BMP file.\n\n"
      "  --demo FILE   where to write the picture (default velluminar-demo.bmp)\n"
      "  --help        show this help and exit\n"
      "  --version     show the version and exit\n");
}

// Paints a coverage channel onto the layer in a colour.
void paintCoverage(vl::CBlockVMTC& layer, const vl::TChannel& cover, uint32_t colour) {
  for (int32_t y = 0; y < cover.height; ++y)
    for (int32_t x = 0; x < cover.width; ++x)
      if (int t = cover.At(x, y)) {
        uint32_t p = layer.Pixel(x, y);
        layer.SetPixel(x, y, vl::blendRGB(p, colour, t) | 0xFF000000u);
      }
}

bool drawDemo(const std::string& path) {
  constexpr int W = 480, H = 320;
  vl::CBlockVMTC layer(W, H);
  layer.SetAll(0xFFF4F1EAu);  // paper, no tile memory yet

  vl::TChannel cover(W, H);
  std::vector<vl::Point> star;
  for (int i = 0; i <= 10; ++i) {
    double a = M_PI / 2 + i * M_PI / 5;
    double r = (i % 2) ? 55 : 130;
    star.push_back({int32_t(240 + r * std::cos(a)), int32_t(165 - r * std::sin(a))});
  }
  star.push_back(star.front());
  cover.Fill(0);
  vl::polygonCoverage(cover, star.data(), int32_t(star.size()));
  paintCoverage(layer, cover, 0x3C6E9Fu);

  cover.Fill(0);
  for (int i = 0; i < 24; ++i)
    vl::stampSoftDisc(cover, 40.0f + i * 17.5f, 290.0f - 8.0f * std::sin(i * 0.5f), 6.0f + (i % 5), 1.0f, 255,
                      vl::CoverMode::Maximum);
  paintCoverage(layer, cover, 0xC8553Du);
  layer.Compact();

  vl::TTC picture(W, H);
  layer.ReadInto(picture, {0, 0}, false, 255, vl::Area(0, 0, W, H));
  for (int i = 0; i < 12; ++i) picture.AntialiasedLine(20, 20 + i * 6, 460, 60 + i * 9, 0x2B2B2Bu);
  return vl::saveBmpFile(path, picture, 96);
}

}  // namespace

int main(int argc, char** argv) {
  std::string out = "velluminar-demo.bmp";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("velluminar %s\n", kVersion);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      usage();
      return 0;
    }
    if (std::strcmp(argv[i], "--demo") == 0 && i + 1 < argc) {
      out = argv[++i];
      continue;
    }
    std::fprintf(stderr, "velluminar: unknown argument '%s' (try --help)\n", argv[i]);
    return 2;
  }
  if (!drawDemo(out)) {
    std::fprintf(stderr, "velluminar: cannot write %s\n", out.c_str());
    return 1;
  }
  std::printf("velluminar: wrote %s\n", out.c_str());
  return 0;
}
