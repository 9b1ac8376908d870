// JPEG through libjpeg-turbo. libjpeg reports errors by longjmp, so each
// libjpeg pass runs in a frame of its own that holds only plain values;
// nothing with a destructor is ever jumped over.
#include <csetjmp>
#include <cstdio>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <utility>

#include "files/image_internal.h"

namespace vl {

namespace {

// A progressive file may hold any number of scans, each a pass over the
// whole picture; real files have a dozen.
constexpr int kMaxScans = 500;
// libjpeg's own working memory (coefficient buffers of progressive files).
constexpr long kMaxDecoderMemory = 1L << 30;
// From this quality up colours are stored at full resolution (4:4:4).
constexpr int kFullChromaQuality = 90;

struct JpegErrors {
  jpeg_error_mgr mgr;  // first, so libjpeg's pointer is ours too
  std::jmp_buf jump;
  FileError error;
};

[[noreturn]] void jpegErrorExit(j_common_ptr c) {
  auto* e = reinterpret_cast<JpegErrors*>(c->err);
  if (e->error == FileError::None) {
    char message[JMSG_LENGTH_MAX];
    c->err->format_message(c, message);
    setFailureDetail(TextId::DetailJpegDecoder, {message});
    switch (c->err->msg_code) {
      case JERR_INPUT_EOF: e->error = FileError::Truncated; break;
      case JERR_NO_SOI: e->error = FileError::NotThisFormat; break;
      case JERR_OUT_OF_MEMORY:
      case JERR_NO_BACKING_STORE: e->error = FileError::OutOfMemory; break;
      case JERR_BAD_PRECISION:
      case JERR_CONVERSION_NOTIMPL:
      case JERR_NOT_COMPILED:
      case JERR_NOTIMPL: e->error = FileError::Unsupported; break;
      case JERR_IMAGE_TOO_BIG: e->error = FileError::TooLarge; break;
      default: e->error = c->is_decompressor ? FileError::Corrupt : FileError::WriteFailed; break;
    }
  }
  std::longjmp(e->jump, 1);
}

// Warnings stay quiet, except running out of data (the file ends, or a marker
// such as an early end marker cuts the coded data short): libjpeg would pad
// the rest of the picture with grey and call it a success.
void jpegEmitMessage(j_common_ptr c, int level) {
  if (level < 0 && (c->err->msg_code == JWRN_JPEG_EOF || c->err->msg_code == JWRN_HIT_MARKER)) {
    reinterpret_cast<JpegErrors*>(c->err)->error = FileError::Truncated;
    jpegErrorExit(c);
  }
}

void jpegOutputMessage(j_common_ptr) {}

void jpegProgress(j_common_ptr c) {
  if (!c->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > kMaxScans) {
    setFailureDetail(TextId::DetailJpegScans, {kMaxScans});
    reinterpret_cast<JpegErrors*>(c->err)->error = FileError::Unsupported;
    jpegErrorExit(c);
  }
}

void setUpErrors(JpegErrors& e) {
  jpeg_std_error(&e.mgr);
  e.mgr.error_exit = jpegErrorExit;
  e.mgr.emit_message = jpegEmitMessage;
  e.mgr.output_message = jpegOutputMessage;
  e.error = FileError::None;
}

struct JpegReadJob {
  jpeg_decompress_struct cinfo;
  JpegErrors errors;
  jpeg_progress_mgr progress;
  const uint8_t* data;
  size_t size;
  BitmapInfoHeader* header;
  TMTC* pixels;       // where the rows go as stored
  TMTC* turned;       // the caller's image, when the orientation turns the picture on its side
  int orientation;    // out: the orientation tag, 1 … 8
};

constexpr uint16_t kOrientationTag = 0x0112;

// The orientation tag of an Exif block (its "Exif\0\0" header included):
// 1 … 8, or 1 when there is none or it makes no sense.
int exifOrientation(const uint8_t* d, size_t n) {
  if (n < 14 || std::memcmp(d, "Exif\0\0", 6) != 0) return 1;
  d += 6;
  n -= 6;
  const bool little = d[0] == 'I' && d[1] == 'I';
  if (!little && !(d[0] == 'M' && d[1] == 'M')) return 1;
  auto u16 = [&](size_t at) { return little ? uint32_t(d[at] | d[at + 1] << 8) : uint32_t(d[at] << 8 | d[at + 1]); };
  auto u32 = [&](size_t at) {
    return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
  };
  if (u16(2) != 42) return 1;
  const uint64_t ifd = u32(4);
  if (ifd > n || n - ifd < 2) return 1;
  const uint32_t entries = u16(size_t(ifd));
  for (uint32_t i = 0; i < entries; ++i) {
    const uint64_t at = ifd + 2 + uint64_t(i) * 12;
    if (at + 12 > n) return 1;
    if (u16(size_t(at)) != kOrientationTag) continue;
    // A SHORT, held in the first two bytes of the value field.
    if (u16(size_t(at) + 2) != 3 || u32(size_t(at) + 4) != 1) return 1;
    const uint32_t v = u16(size_t(at) + 8);
    return v >= 1 && v <= 8 ? int(v) : 1;
  }
  return 1;
}

int orientationOf(j_decompress_ptr cinfo) {
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
    if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0)
      return exifOrientation(m->data, m->data_length);
  return 1;
}

// Orientations 5 … 8 store the picture on its side: `stored` turned into
// `out` (width and height swapped) as viewers show it.
bool turnUpright(const TMTC& stored, int orientation, TMTC& out) {
  const int32_t ws = stored.width, hs = stored.height;
  if (!out.Resize(hs, ws)) return false;
  // Blocks keep both the rows read and the columns written in the cache.
  constexpr int32_t kBlock = 64;
  for (int32_t by = 0; by < hs; by += kBlock)
    for (int32_t bx = 0; bx < ws; bx += kBlock)
      for (int32_t sy = by; sy < std::min(hs, by + kBlock); ++sy) {
        const uint32_t* row = stored.Row(sy);
        const int32_t dx = (orientation == 5 || orientation == 8) ? sy : hs - 1 - sy;
        for (int32_t sx = bx; sx < std::min(ws, bx + kBlock); ++sx) {
          const int32_t dy = (orientation == 5 || orientation == 6) ? sx : ws - 1 - sx;
          out.Row(dy)[dx] = row[sx];
        }
      }
  return true;
}

int32_t pelsPerMeterFromDensity(int unit, unsigned density) {
  if (unit == 1) return pelsPerMeter(int(density));  // dots per inch
  if (unit == 2) return int32_t(density) * 100;     // dots per centimetre
  return 0;                                         // only an aspect ratio
}

uint8_t mul255(unsigned a, unsigned b) { return uint8_t((a * b + 127) / 255); }

// CMYK rows to BGRA. Adobe's files store the inks inverted (255 = no ink).
void cmykToBgra(const uint8_t* src, uint32_t* dst, uint32_t width, bool inverted) {
  for (uint32_t x = 0; x < width; ++x, src += 4) {
    unsigned c = src[0], m = src[1], y = src[2], k = src[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    dst[x] = 0xFF000000u | uint32_t(mul255(c, k)) << 16 | uint32_t(mul255(m, k)) << 8 | mul255(y, k);
  }
}

// Plain values only in this frame: libjpeg leaves it by longjmp.
FileError runJpegRead(JpegReadJob* job) {
  j_decompress_ptr cinfo = &job->cinfo;
  if (setjmp(job->errors.jump)) return job->errors.error;

  jpeg_create_decompress(cinfo);
  cinfo->progress = &job->progress;
  cinfo->mem->max_memory_to_use = kMaxDecoderMemory;
  jpeg_mem_src(cinfo, job->data, static_cast<unsigned long>(job->size));
  jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return FileError::Truncated;
  const JDIMENSION width = cinfo->image_width, height = cinfo->image_height;
  if (width == 0 || height == 0) return FileError::Corrupt;
  if (uint64_t(width) * height > uint64_t(kMaxImagePixels))
    return failWith(FileError::TooLarge, TextId::DetailImagePixels, {int64_t(width), int64_t(height), kMaxImagePixels});
  job->orientation = orientationOf(cinfo);
  // A picture on its side is decoded as stored, then turned.
  if (job->orientation >= 5) job->pixels = job->turned;

  bool cmyk = false;
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB: cinfo->out_color_space = JCS_EXT_BGRA; break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo->out_color_space = JCS_CMYK;
      cmyk = true;
      break;
    default: return failWith(FileError::Unsupported, TextId::DetailJpegColourSpace, {int(cinfo->jpeg_color_space)});
  }
  const bool inverted = cmyk && cinfo->saw_Adobe_marker;
  detail::fillHeader(*job->header, int32_t(width), int32_t(height), 24,
                     pelsPerMeterFromDensity(cinfo->density_unit, cinfo->X_density),
                     pelsPerMeterFromDensity(cinfo->density_unit, cinfo->Y_density));

  if (!job->pixels->Resize(int32_t(width), int32_t(height))) return FileError::OutOfMemory;
  jpeg_start_decompress(cinfo);
  if (cinfo->output_width != width || cinfo->output_height != height || cinfo->output_components != 4)
    return FileError::Unsupported;
  // The CMYK row lives in libjpeg's pool and goes with the decompressor.
  JSAMPARRAY cmykRow =
      cmyk ? (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, width * 4, 1) : nullptr;
  while (cinfo->output_scanline < height) {
    const JDIMENSION y = cinfo->output_scanline;
    uint32_t* row = job->pixels->Row(int32_t(y));
    JSAMPROW target = cmyk ? cmykRow[0] : reinterpret_cast<JSAMPROW>(row);
    if (jpeg_read_scanlines(cinfo, &target, 1) != 1) return FileError::Truncated;
    if (cmyk) cmykToBgra(cmykRow[0], row, width, inverted);
  }
  // Every row is in: a missing end marker after them costs nothing, so the
  // rest of the file is not read.
  return FileError::None;
}

// Output straight into a ByteBuffer, grown as libjpeg fills it.
struct BufferDestination {
  jpeg_destination_mgr mgr;  // first, so libjpeg's pointer is ours too
  ByteBuffer* out;
};

void destinationInit(j_compress_ptr c) {
  auto* d = reinterpret_cast<BufferDestination*>(c->dest);
  if (!d->out->Reserve(65536)) ERREXIT1(c, JERR_OUT_OF_MEMORY, 0);
  d->mgr.next_output_byte = d->out->data.get() + d->out->size;
  d->mgr.free_in_buffer = d->out->capacity - d->out->size;
}

boolean destinationEmpty(j_compress_ptr c) {
  auto* d = reinterpret_cast<BufferDestination*>(c->dest);
  d->out->size = d->out->capacity;  // libjpeg only calls this with the buffer full
  if (!d->out->Reserve(d->out->capacity)) ERREXIT1(c, JERR_OUT_OF_MEMORY, 0);
  d->mgr.next_output_byte = d->out->data.get() + d->out->size;
  d->mgr.free_in_buffer = d->out->capacity - d->out->size;
  return TRUE;
}

void destinationTerm(j_compress_ptr c) {
  auto* d = reinterpret_cast<BufferDestination*>(c->dest);
  d->out->size = d->out->capacity - d->mgr.free_in_buffer;
}

struct JpegWriteJob {
  jpeg_compress_struct cinfo;
  JpegErrors errors;
  BufferDestination dest;
  const BitmapInfoHeader* header;
  const TMTC* pixels;
  const JpegOptions* options;
};

int densityFromPelsPerMeter(int32_t pels) { return std::clamp(dpiFromHeader(40, pels), 0, 65535); }

FileError runJpegWrite(JpegWriteJob* job) {
  j_compress_ptr cinfo = &job->cinfo;
  if (setjmp(job->errors.jump)) return job->errors.error;

  jpeg_create_compress(cinfo);
  job->dest.mgr.init_destination = destinationInit;
  job->dest.mgr.empty_output_buffer = destinationEmpty;
  job->dest.mgr.term_destination = destinationTerm;
  cinfo->dest = &job->dest.mgr;

  const BitmapInfoHeader& h = *job->header;
  cinfo->image_width = JDIMENSION(h.width);
  cinfo->image_height = JDIMENSION(h.height);
  cinfo->input_components = 4;
  cinfo->in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(cinfo);
  const int quality = jpegQuality(*job->options);
  jpeg_set_quality(cinfo, quality, TRUE);
  // Halving the colour resolution would undo what a high quality promises.
  if (quality >= kFullChromaQuality)
    for (int i = 0; i < cinfo->num_components; ++i) cinfo->comp_info[i].h_samp_factor = cinfo->comp_info[i].v_samp_factor = 1;
  if (job->options->progressive) jpeg_simple_progression(cinfo);
  cinfo->smoothing_factor = jpegSmoothing(*job->options);
  if (h.xPelsPerMeter > 0 && h.yPelsPerMeter > 0) {
    cinfo->density_unit = 1;
    cinfo->X_density = UINT16(densityFromPelsPerMeter(h.xPelsPerMeter));
    cinfo->Y_density = UINT16(densityFromPelsPerMeter(h.yPelsPerMeter));
  }
  jpeg_start_compress(cinfo, TRUE);
  while (cinfo->next_scanline < cinfo->image_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(job->pixels->Row(int32_t(cinfo->next_scanline)));
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  return FileError::None;
}

// Brings a decoded picture upright: orientations 2 … 4 in place; 5 … 8 from
// the picture as stored, the header's sides and resolutions swapped.
FileError applyOrientation(int orientation, const TMTC& stored, BitmapInfoHeader& header, TMTC& pixels) {
  switch (orientation) {
    case 2: pixels.FlipHorizontal(); break;
    case 3: pixels.Rotate180(); break;
    case 4: pixels.FlipVertical(); break;
    case 5:
    case 6:
    case 7:
    case 8:
      if (!turnUpright(stored, orientation, pixels)) return FileError::OutOfMemory;
      std::swap(header.width, header.height);
      std::swap(header.xPelsPerMeter, header.yPelsPerMeter);
      break;
    default: break;
  }
  return FileError::None;
}

}  // namespace

int jpegQuality(const JpegOptions& o) {
  int q = o.quality;
  switch (std::clamp(o.qualityType, 0, 4)) {
    case 1: q = o.qualityVeryHigh; break;
    case 2: q = o.qualityHigh; break;
    case 3: q = o.qualityStd; break;
    case 4: q = o.qualityLow; break;
    default: break;
  }
  return std::clamp(q, 1, 100);
}

int jpegSmoothing(const JpegOptions& o) { return o.smooth ? std::clamp(o.smoothAmount, 0, 100) : 0; }

FileError loadJpegMemory(const uint8_t* data, size_t size, BitmapInfoHeader& header, TMTC& pixels) {
  header = BitmapInfoHeader{};
  if (!data || size < 2) return FileError::Truncated;
  if (data[0] != 0xFF || data[1] != 0xD8) return FileError::NotThisFormat;

  JpegReadJob job{};
  setUpErrors(job.errors);
  job.cinfo.err = &job.errors.mgr;
  job.progress.progress_monitor = jpegProgress;
  job.data = data;
  job.size = size;
  job.header = &header;
  job.pixels = &pixels;
  TMTC stored;
  job.turned = &stored;
  job.orientation = 1;
  FileError e;
  {
    struct Destroy {
      JpegReadJob& j;
      ~Destroy() { jpeg_destroy_decompress(&j.cinfo); }
    } destroy{job};
    e = runJpegRead(&job);
  }
  if (e == FileError::None) e = applyOrientation(job.orientation, stored, header, pixels);
  if (e != FileError::None) header = BitmapInfoHeader{};
  return e;
}

FileError jpegGetImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels) {
  return detail::loadFileWith(path, kMaxImageFileBytes, loadJpegMemory, header, pixels);
}

FileError encodeJpeg(const BitmapInfoHeader& header, const TMTC& pixels, const JpegOptions& options, ByteBuffer& out) {
  out.Clear();
  FileError e = detail::checkSaveArguments(header, pixels);
  if (e != FileError::None) return e;
  JpegWriteJob job{};
  setUpErrors(job.errors);
  job.cinfo.err = &job.errors.mgr;
  job.dest.out = &out;
  job.header = &header;
  job.pixels = &pixels;
  job.options = &options;
  struct Destroy {
    JpegWriteJob& j;
    ~Destroy() { jpeg_destroy_compress(&j.cinfo); }
  } destroy{job};
  e = runJpegWrite(&job);
  if (e != FileError::None) out.Clear();
  return e;
}

FileError jpegSaveImage(const std::string& path, const BitmapInfoHeader& header, const TMTC& pixels,
                        const JpegOptions& options) {
  ByteBuffer bytes;
  FileError e = encodeJpeg(header, pixels, options, bytes);
  return e != FileError::None ? e : detail::saveEncoded(path, bytes);
}

}  // namespace vl
