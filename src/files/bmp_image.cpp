// BMP through the pixel library's reader and writer, with the header record
// and upright rows the other loaders give.
#include <algorithm>
#include <vector>

#include "files/image_internal.h"
#include "pixel/bmp.h"

namespace vl {

namespace {

FileError fromBmpError(BmpError e) {
  switch (e) {
    case BmpError::None: return FileError::None;
    case BmpError::Truncated: return FileError::Truncated;
    case BmpError::NotBmp: return FileError::NotThisFormat;
    case BmpError::BadHeader: return FileError::Corrupt;
    case BmpError::Unsupported: return FileError::Unsupported;
    case BmpError::TooLarge: return FileError::TooLarge;
    case BmpError::OutOfMemory: return FileError::OutOfMemory;
    case BmpError::CannotOpen: return FileError::CannotOpen;
    case BmpError::ReadFailed: return FileError::ReadFailed;
    case BmpError::WriteFailed: return FileError::WriteFailed;
  }
  return FileError::Corrupt;
}

void put32(uint8_t* p, int32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(uint32_t(v) >> (8 * i));
}

static_assert(kMaxBmpPixels == kMaxImagePixels);

}  // namespace

FileError loadBmpMemory(const uint8_t* data, size_t size, BitmapInfoHeader& header, TMTC& pixels) {
  header = BitmapInfoHeader{};
  BmpInfo info;
  FileError e = fromBmpError(readBmp(data, size, pixels, nullptr, &info));
  if (e != FileError::None) return e;

  // 24-bit rows leave the fourth byte alone; many 32-bit files leave it 0
  // everywhere and mean "opaque". Either way the picture becomes opaque.
  bool anyAlpha = false;
  if (info.storedAlpha) {
    for (int32_t y = 0; y < pixels.height && !anyAlpha; ++y) {
      const uint32_t* row = pixels.Row(y);
      for (int32_t x = 0; x < pixels.width; ++x) anyAlpha |= (row[x] >> 24) != 0;
    }
  }
  if ((info.storedAlpha && !anyAlpha) || (info.bitCount == 24 && !info.storedAlpha))
    pixels.FillMasked(pixels.area(), 0xFF000000u, 0xFF000000u);
  pixels.FlipVertical();
  const bool alpha = anyAlpha || info.undefinedPixels;
  detail::fillHeader(header, pixels.width, pixels.height, alpha ? 32 : 24, info.xPelsPerMeter, info.yPelsPerMeter);
  return FileError::None;
}

FileError bmpGetImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels) {
  return detail::loadFileWith(path, kMaxBmpFileBytes, loadBmpMemory, header, pixels);
}

FileError bmpSaveImage(const std::string& path, const BitmapInfoHeader& header, const TMTC& pixels) {
  FileError e = detail::checkSaveArguments(header, pixels);
  if (e != FileError::None) return e;
  std::vector<uint8_t> bytes;
  e = fromBmpError(writeBmp(pixels, 0, bytes));
  if (e != FileError::None) return e;
  // The header's own pixels per metre, not the value a whole dpi would give.
  put32(bytes.data() + 38, std::max(0, header.xPelsPerMeter));
  put32(bytes.data() + 42, std::max(0, header.yPelsPerMeter));
  return writeFileAtomically(path, bytes.data(), bytes.size()) ? FileError::None : FileError::WriteFailed;
}

}  // namespace vl
