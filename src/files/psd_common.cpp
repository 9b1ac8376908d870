// PackBits, the name encodings of PSD files, and the words for what went wrong.
#include <iconv.h>

#include <algorithm>
#include <cstring>

#include "files/psd_internal.h"

namespace vl::psd {

size_t packBitsRow(const uint8_t* s, size_t n, uint8_t* out) {
  uint8_t* o = out;
  size_t i = 0;
  while (i < n) {
    const size_t most = std::min<size_t>(128, n - i);
    size_t run = 1;
    while (run < most && s[i + run] == s[i]) ++run;
    if (run >= 3) {
      *o++ = uint8_t(257 - run);  // −(run − 1)
      *o++ = s[i];
      i += run;
      continue;
    }
    // Literal bytes up to the next run of three, at most 128 of them.
    const size_t start = i;
    size_t end = i + run;
    const size_t limit = std::min(n, start + 128);
    while (end < limit && !(end + 2 < n && s[end] == s[end + 1] && s[end] == s[end + 2])) ++end;
    *o++ = uint8_t(end - start - 1);
    std::memcpy(o, s + start, end - start);
    o += end - start;
    i = end;
  }
  return size_t(o - out);
}

bool unpackBitsRow(const uint8_t* src, size_t n, uint8_t* row, size_t width) {
  size_t i = 0, o = 0;
  while (i < n) {
    const int c = int8_t(src[i++]);
    if (c >= 0) {
      const size_t k = size_t(c) + 1;
      if (k > n - i || k > width - o) return false;
      std::memcpy(row + o, src + i, k);
      i += k;
      o += k;
    } else if (c != -128) {  // −128 is a no-op
      const size_t k = size_t(1 - c);
      if (i >= n || k > width - o) return false;
      std::memset(row + o, src[i++], k);
      o += k;
    }
  }
  return o == width;
}

namespace {

void putUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | c >> 6));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | c >> 12));
    out.push_back(char(0x80 | (c >> 6 & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | c >> 18));
    out.push_back(char(0x80 | (c >> 12 & 0x3F)));
    out.push_back(char(0x80 | (c >> 6 & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

// The code point at s[i …), advancing i; false for bytes that are no UTF-8.
bool nextUtf8(const uint8_t* s, size_t n, size_t& i, uint32_t& c) {
  const uint8_t b = s[i];
  size_t len = 0;
  uint32_t least = 0;
  if (b < 0x80) {
    c = b;
    ++i;
    return true;
  } else if ((b & 0xE0) == 0xC0) {
    len = 2, c = b & 0x1F, least = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, c = b & 0x0F, least = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, c = b & 0x07, least = 0x10000;
  } else {
    return false;
  }
  if (len > n - i) return false;
  for (size_t k = 1; k < len; ++k) {
    if ((s[i + k] & 0xC0) != 0x80) return false;
    c = c << 6 | (s[i + k] & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
  i += len;
  return true;
}

bool isUtf8(const uint8_t* s, size_t n) {
  uint32_t c;
  for (size_t i = 0; i < n;)
    if (!nextUtf8(s, n, i, c)) return false;
  return true;
}

// Through the C library's converter; false when it has no such code page or
// the bytes are not in it.
bool convertCodePage(const char* from, const uint8_t* s, size_t n, std::string& out) {
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == iconv_t(-1)) return false;
  out.assign(n * 3 + 4, '\0');
  char* in = const_cast<char*>(reinterpret_cast<const char*>(s));
  size_t inLeft = n, outLeft = out.size();
  char* o = out.data();
  const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (r == size_t(-1) || inLeft != 0) return false;
  out.resize(out.size() - outLeft);
  return true;
}

}  // namespace

std::string utf8FromUtf16Be(const uint8_t* units, size_t count) {
  std::string out;
  out.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = uint32_t(units[2 * i]) << 8 | units[2 * i + 1];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
      const uint32_t low = uint32_t(units[2 * i + 2]) << 8 | units[2 * i + 3];
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
    putUtf8(out, c);
  }
  return out;
}

std::vector<uint16_t> utf16FromUtf8(const std::string& text) {
  std::vector<uint16_t> out;
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t i = 0; i < text.size();) {
    uint32_t c;
    if (!nextUtf8(s, text.size(), i, c)) {
      c = 0xFFFD;
      ++i;
    }
    if (c >= 0x10000) {
      out.push_back(uint16_t(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(uint16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(uint16_t(c));
    }
  }
  return out;
}

std::string utf8FromStoredName(const uint8_t* bytes, size_t n) {
  if (isUtf8(bytes, n)) return std::string(reinterpret_cast<const char*>(bytes), n);
  // Names written by programs of the Korean code page.
  std::string out;
  if (convertCodePage("CP949", bytes, n, out)) return out;
  out.clear();
  for (size_t i = 0; i < n; ++i) putUtf8(out, bytes[i]);
  return out;
}

size_t utf8Prefix(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t n = limit;
  // Back off the continuation bytes of a character cut in two.
  while (n > 0 && (uint8_t(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace vl::psd

namespace vl {

namespace {

// Blocks of a fixed 16 pixels and pointers that do not alias let the
// compiler use vector instructions at -O2.
template <int kShift>
void byteOfEach(const uint32_t* __restrict p, int32_t width, uint8_t* __restrict dst) {
  int32_t x = 0;
  for (; x + 16 <= width; x += 16)
    for (int32_t i = 0; i < 16; ++i) dst[x + i] = uint8_t(p[x + i] >> kShift);
  for (; x < width; ++x) dst[x] = uint8_t(p[x] >> kShift);
}

}  // namespace

void psdChannelRow(const uint32_t* pixels, int32_t width, int16_t channelId, uint8_t* dst) {
  // One loop per byte, so that each is a fixed shift.
  switch (channelId) {
    case -1: byteOfEach<24>(pixels, width, dst); break;
    case 0: byteOfEach<16>(pixels, width, dst); break;
    case 1: byteOfEach<8>(pixels, width, dst); break;
    case 2: byteOfEach<0>(pixels, width, dst); break;
    default: std::memset(dst, 0, size_t(std::max(width, 0))); break;
  }
}

std::string psdErrorText(const PsdFile& file) {
  const psd::Problem& p = file.problem;
  if (p.code == FileError::None) return {};
  if (p.message == TextId::Count) return std::string(fileErrorText(p.code));
  switch (p.message) {
    case TextId::PsdDamaged:
    case TextId::PsdCutShort: {
      const std::string part = p.part == TextId::Count ? std::string() : formatMessage(text(p.part), {p.a});
      return formatMessage(text(p.message), {part});
    }
    case TextId::PsdDepth: return formatMessage(text(p.message), {p.a});
    case TextId::PsdColourMode: {
      const std::string name =
          p.name == TextId::PsdModeNumber ? formatMessage(text(p.name), {p.a}) : std::string(text(p.name));
      return formatMessage(text(p.message), {name});
    }
    case TextId::PsdTooLarge: return formatMessage(text(p.message), {p.a, p.b});
    default: return std::string(text(p.message));
  }
}

}  // namespace vl
