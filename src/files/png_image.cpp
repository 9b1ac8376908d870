// PNG through libpng. libpng reports errors by longjmp, so each libpng pass
// runs in a frame of its own that holds only plain values, reached from and
// returning to ordinary C++ code; nothing with a destructor is ever jumped over.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

#include "files/image_internal.h"

namespace vl {

namespace {

// Backstops for ancillary chunks; the ones we do not use are skipped anyway.
constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t(8) << 20;
constexpr png_uint_32 kMaxCachedChunks = 128;

struct PngReadJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  BitmapInfoHeader* header = nullptr;
  TMTC* pixels = nullptr;
  FileError error = FileError::None;  // set before a jump when the cause is known
};

struct PngWriteJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const BitmapInfoHeader* header = nullptr;
  const TMTC* pixels = nullptr;
  int level = -1;
  ByteBuffer* out = nullptr;
  FileError error = FileError::None;
};

void pngError(png_structp png, png_const_charp message) {
  setFailureDetail(TextId::DetailPngDecoder, {message ? message : ""});
  png_longjmp(png, 1);
}
void pngWarning(png_structp, png_const_charp) {}

void pngRead(png_structp png, png_bytep dst, size_t n) {
  auto* job = static_cast<PngReadJob*>(png_get_io_ptr(png));
  if (n > job->size - job->pos) {
    job->error = FileError::Truncated;
    png_error(png, "truncated");
  }
  std::memcpy(dst, job->data + job->pos, n);
  job->pos += n;
}

void pngWrite(png_structp png, png_bytep src, size_t n) {
  auto* job = static_cast<PngWriteJob*>(png_get_io_ptr(png));
  if (!job->out->Append(src, n)) {
    job->error = FileError::OutOfMemory;
    png_error(png, "out of memory");
  }
}

void pngFlush(png_structp) {}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// Plain values only in this frame: libpng leaves it by longjmp.
FileError runPngRead(PngReadJob* job) {
  png_structp png = job->png;
  png_infop info = job->info;
  if (setjmp(png_jmpbuf(png))) return job->error != FileError::None ? job->error : FileError::Corrupt;

  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
  // libpng and its user limits already refuse these; this keeps the promise visible.
  if (width == 0 || height == 0) return FileError::Corrupt;
  if (uint64_t(width) * height > uint64_t(kMaxImagePixels))
    return failWith(FileError::TooLarge, TextId::DetailImagePixels, {int64_t(width), int64_t(height), kMaxImagePixels});

  const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || hasTrns;
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (hasTrns) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_scale_16(png);
  if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  if (!alpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(width) * 4)
    return failWith(FileError::Unsupported, TextId::DetailPngLayout);

  png_uint_32 xRes = 0, yRes = 0;
  int unit = PNG_RESOLUTION_UNKNOWN;
  int32_t xPels = 0, yPels = 0;
  if (png_get_pHYs(png, info, &xRes, &yRes, &unit) && unit == PNG_RESOLUTION_METER) {
    xPels = int32_t(std::min<png_uint_32>(xRes, INT32_MAX));
    yPels = int32_t(std::min<png_uint_32>(yRes, INT32_MAX));
  }
  detail::fillHeader(*job->header, int32_t(width), int32_t(height), alpha ? 32 : 24, xPels, yPels);

  if (!job->pixels->Resize(int32_t(width), int32_t(height))) return FileError::OutOfMemory;
  // Interlaced passes land in the same rows, each filling in its own pixels.
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y)
      png_read_row(png, reinterpret_cast<png_bytep>(job->pixels->Row(int32_t(y))), nullptr);
  return FileError::None;
}

FileError runPngWrite(PngWriteJob* job) {
  png_structp png = job->png;
  png_infop info = job->info;
  if (setjmp(png_jmpbuf(png))) return job->error != FileError::None ? job->error : FileError::WriteFailed;

  const BitmapInfoHeader& h = *job->header;
  const bool alpha = h.bitCount == 32;
  png_set_write_fn(png, job, pngWrite, pngFlush);
  const int level = pngLevelFor(job->level, int64_t(h.width) * h.height);
  if (level >= 0) png_set_compression_level(png, level);
  // The fast levels filter every row by the row above alone: trying all
  // five filters on each row costs more than the fast level saves.
  if (level >= 0 && level <= kPngFastLevel + 1) png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
  png_set_IHDR(png, info, png_uint_32(h.width), png_uint_32(h.height), 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (h.xPelsPerMeter > 0 && h.yPelsPerMeter > 0)
    png_set_pHYs(png, info, png_uint_32(h.xPelsPerMeter), png_uint_32(h.yPelsPerMeter), PNG_RESOLUTION_METER);
  png_write_info(png, info);
  png_set_bgr(png);
  // Our pixels are always four bytes; RGB files drop the fourth.
  if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
  for (int32_t y = 0; y < h.height; ++y)
    png_write_row(png, reinterpret_cast<png_const_bytep>(job->pixels->Row(y)));
  png_write_end(png, nullptr);
  return FileError::None;
}

}  // namespace

int pngLevelFor(int compressionLevel, int64_t pixels) {
  if (compressionLevel >= 0) return std::min(compressionLevel, 9);
  return pixels >= kPngFastFromPixels ? kPngFastLevel : -1;
}

FileError loadPngMemory(const uint8_t* data, size_t size, BitmapInfoHeader& header, TMTC& pixels) {
  header = BitmapInfoHeader{};
  if (!data || size < 8) return FileError::Truncated;
  if (png_sig_cmp(data, 0, 8) != 0) return FileError::NotThisFormat;
  // IHDR must come first; a picture too large is refused with its own code
  // before libpng sees it.
  if (size >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0) {
    if (uint64_t(be32(data + 16)) * be32(data + 20) > uint64_t(kMaxImagePixels))
      return failWith(FileError::TooLarge, TextId::DetailImagePixels,
                      {int64_t(be32(data + 16)), int64_t(be32(data + 20)), kMaxImagePixels});
  }

  PngReadJob job;
  job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
  if (!job.png) return FileError::OutOfMemory;
  job.info = png_create_info_struct(job.png);
  struct Destroy {
    PngReadJob& j;
    ~Destroy() { png_destroy_read_struct(&j.png, j.info ? &j.info : nullptr, nullptr); }
  } destroy{job};
  if (!job.info) return FileError::OutOfMemory;

  png_set_user_limits(job.png, png_uint_32(kMaxImagePixels), png_uint_32(kMaxImagePixels));
  png_set_chunk_cache_max(job.png, kMaxCachedChunks);
  png_set_chunk_malloc_max(job.png, kMaxChunkBytes);
  // Only the chunks we use are read; every other ancillary chunk is skipped
  // unread, so none of them can ask libpng for a buffer of its claimed size.
  png_set_keep_unknown_chunks(job.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  static const png_byte kUsedChunks[] = "tRNS\0pHYs";
  png_set_keep_unknown_chunks(job.png, PNG_HANDLE_CHUNK_AS_DEFAULT, kUsedChunks, 2);
  job.data = data;
  job.size = size;
  job.header = &header;
  job.pixels = &pixels;
  png_set_read_fn(job.png, &job, pngRead);
  FileError e = runPngRead(&job);
  if (e != FileError::None) header = BitmapInfoHeader{};
  return e;
}

FileError pngGetImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels) {
  return detail::loadFileWith(path, kMaxImageFileBytes, loadPngMemory, header, pixels);
}

FileError encodePng(const BitmapInfoHeader& header, const TMTC& pixels, int compressionLevel, ByteBuffer& out) {
  out.Clear();
  FileError e = detail::checkSaveArguments(header, pixels);
  if (e != FileError::None) return e;
  PngWriteJob job;
  job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
  if (!job.png) return FileError::OutOfMemory;
  job.info = png_create_info_struct(job.png);
  struct Destroy {
    PngWriteJob& j;
    ~Destroy() { png_destroy_write_struct(&j.png, j.info ? &j.info : nullptr); }
  } destroy{job};
  if (!job.info) return FileError::OutOfMemory;
  job.header = &header;
  job.pixels = &pixels;
  job.level = compressionLevel;
  job.out = &out;
  e = runPngWrite(&job);
  if (e != FileError::None) out.Clear();
  return e;
}

FileError pngSaveImage(const std::string& path, const BitmapInfoHeader& header, const TMTC& pixels,
                       int compressionLevel) {
  ByteBuffer bytes;
  FileError e = encodePng(header, pixels, compressionLevel, bytes);
  return e != FileError::None ? e : detail::saveEncoded(path, bytes);
}

}  // namespace vl
