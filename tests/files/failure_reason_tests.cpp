// What an error message says besides its code: a text for every file error
// code, and the reader's own word on why it refused a file, per thread.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "files/file_error.h"
#include "files/image_files.h"

namespace vl {
namespace {

// Restores the language a test changes.
struct LanguageScope {
  explicit LanguageScope(Language l) { setLanguage(l); }
  ~LanguageScope() { setLanguage(before); }
  Language before = language();
};

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A BMP with a 40-byte header and room for a few rows of pixels.
std::vector<uint8_t> bmp(int32_t width, int32_t height, uint16_t bitCount, uint32_t compression,
                         uint32_t headerSize = 40) {
  std::vector<uint8_t> b(14 + 40 + 256, 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 2, uint32_t(b.size()));
  put32(b, 10, 54);
  put32(b, 14, headerSize);
  put32(b, 18, uint32_t(width));
  put32(b, 22, uint32_t(height));
  put16(b, 26, 1);
  put16(b, 28, bitCount);
  put32(b, 30, compression);
  return b;
}

std::vector<uint8_t> encoded(bool png) {
  TMTC img(16, 8);
  img.FillMasked(img.area(), 0xFFFFFFFFu, 0xFF336699u);
  BitmapInfoHeader h = img.InfoHeader(0);
  h.bitCount = 24;
  ByteBuffer out;
  const FileError e = png ? encodePng(h, img, -1, out) : encodeJpeg(h, img, JpegOptions{}, out);
  EXPECT_EQ(e, FileError::None);
  return std::vector<uint8_t>(out.data.get(), out.data.get() + out.size);
}

std::vector<uint8_t> pngOfSize(uint32_t w, uint32_t h) {
  std::vector<uint8_t> b = encoded(true);
  for (int i = 0; i < 4; ++i) {
    b[16 + size_t(i)] = uint8_t(w >> (24 - 8 * i));
    b[20 + size_t(i)] = uint8_t(h >> (24 - 8 * i));
  }
  return b;
}

// The baseline frame header: marker, length, precision, height, width.
std::vector<uint8_t> jpegFrame(uint8_t precision, uint16_t width, uint16_t height = 0) {
  std::vector<uint8_t> b = encoded(false);
  for (size_t i = 2; i + 9 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == 0xC0) {
      b[i + 4] = precision;
      if (height) {
        b[i + 5] = uint8_t(height >> 8);
        b[i + 6] = uint8_t(height);
      }
      b[i + 7] = uint8_t(width >> 8);
      b[i + 8] = uint8_t(width);
      return b;
    }
  ADD_FAILURE() << "no frame header";
  return b;
}

std::vector<uint8_t> damagedIdat() {
  std::vector<uint8_t> b = encoded(true);
  for (size_t i = 8; i + 12 < b.size(); ++i)
    if (std::equal(b.begin() + long(i), b.begin() + long(i) + 4, "IDAT")) {
      b[i + 10] ^= 0x55;
      break;
    }
  return b;
}

std::vector<uint8_t> jpegWithoutStart() { return {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}; }

TEST(FailureReason, EveryCodeHasAReasonInBothLanguages) {
  const int codes[] = {101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111};
  std::vector<std::string> seen[2];
  for (Language l : {Language::Korean, Language::English}) {
    LanguageScope scope(l);
    for (int code : codes) {
      const std::string t = fileErrorText(code);
      EXPECT_FALSE(t.empty()) << code;
      EXPECT_EQ(t.find("(" + std::to_string(code) + ")"), std::string::npos) << "no text of its own: " << code;
      seen[int(l)].push_back(t);
    }
  }
  EXPECT_EQ(fileErrorText(FileError::Unsupported), "지원하지 않는 종류의 파일입니다");
  for (const auto& texts : seen)
    for (size_t i = 0; i < texts.size(); ++i)
      for (size_t j = i + 1; j < texts.size(); ++j) EXPECT_NE(texts[i], texts[j]);
  EXPECT_NE(seen[0], seen[1]);
  LanguageScope english(Language::English);
  EXPECT_EQ(fileErrorText(FileError::Truncated), "the file ends too early");
  // Codes of other commands (the PSD ones are small numbers) still say something.
  EXPECT_EQ(fileErrorText(57), "unknown error (57)");
  EXPECT_EQ(fileErrorText(0), "unknown error (0)");
}

using MemoryLoader = FileError (*)(const uint8_t*, size_t, BitmapInfoHeader&, TMTC&);

TEST(FailureReason, ReadersSayWhyTheyRefused) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    MemoryLoader load;
    FileError code;
    const char* english;  // the reason shown; a prefix when it ends in '*'
    const char* korean;
  } cases[] = {
      {"64-bit BMP", bmp(4, 4, 64, 0), loadBmpMemory, FileError::Unsupported, "unsupported BMP bit depth 64",
       "지원하지 않는 BMP 비트 깊이 64"},
      {"JPEG inside a BMP", bmp(4, 4, 24, 4), loadBmpMemory, FileError::Unsupported, "unsupported BMP compression 4",
       "지원하지 않는 BMP 압축 방식 4"},
      {"OS/2 2.x BMP", bmp(4, 4, 24, 0, 64), loadBmpMemory, FileError::Unsupported,
       "unsupported BMP header of 64 bytes", "지원하지 않는 BMP 헤더 (64 바이트)"},
      {"BMP of 120 million pixels", bmp(20000, -6000, 24, 0), loadBmpMemory, FileError::TooLarge,
       "a picture of 20000 x 6000 pixels; at most 100000000 pixels", "그림 크기 20000 x 6000: 100000000 픽셀까지입니다"},
      {"PNG of 120 million pixels", pngOfSize(6000, 20000), loadPngMemory, FileError::TooLarge,
       "a picture of 6000 x 20000 pixels; at most 100000000 pixels", "그림 크기 6000 x 20000: 100000000 픽셀까지입니다"},
      {"PNG damaged inside", damagedIdat(), loadPngMemory, FileError::Corrupt, "PNG decoder: *", "PNG 디코더 오류: *"},
      {"JPEG of 120 million pixels", jpegFrame(8, 30000, 4000), loadJpegMemory, FileError::TooLarge,
       "a picture of 30000 x 4000 pixels; at most 100000000 pixels", "그림 크기 30000 x 4000: 100000000 픽셀까지입니다"},
      {"12-bit JPEG", jpegFrame(12, 16), loadJpegMemory, FileError::Unsupported, "JPEG decoder: Unsupported JPEG*",
       "JPEG 디코더 오류: Unsupported JPEG*"},
      // No word of their own: the code's text.
      {"JPEG without a start", jpegWithoutStart(), loadJpegMemory, FileError::NotThisFormat,
       "the file is not of this format", "이 형식의 파일이 아닙니다"},
      {"BMP cut short", std::vector<uint8_t>{'B', 'M', 0}, loadBmpMemory, FileError::Truncated,
       "the file ends too early", "파일이 도중에 끝납니다"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setFailureDetail(TextId::DetailPngLayout);  // an earlier failure's word
    clearFailureDetail();
    BitmapInfoHeader h;
    TMTC pixels;
    const FileError e = c.load(c.bytes.data(), c.bytes.size(), h, pixels);
    ASSERT_EQ(e, c.code);
    for (const auto& [l, want] : {std::pair{Language::English, c.english}, std::pair{Language::Korean, c.korean}}) {
      LanguageScope scope(l);
      const std::string got = failureReason(errorCode(e));
      const std::string w = want;
      if (w.back() == '*') {
        EXPECT_EQ(got.substr(0, w.size() - 1), w.substr(0, w.size() - 1)) << got;
        EXPECT_GT(got.size(), w.size()) << got;
      } else {
        EXPECT_EQ(got, w);
      }
    }
  }
}

TEST(FailureReason, TheMessageKeepsItsCodeAndAddsTheReason) {
  LanguageScope scope(Language::Korean);
  clearFailureDetail();
  const std::vector<uint8_t> b = bmp(4, 4, 64, 0);
  BitmapInfoHeader h;
  TMTC pixels;
  const int e = errorCode(loadBmpMemory(b.data(), b.size(), h, pixels));
  const std::string message = withFailureReason(formatMessage(text(TextId::OpenFailed), {"/a/b.bmp", e}), e);
  EXPECT_EQ(message, "/a/b.bmp\r\n열기 실패 ! (err=107)\r\n지원하지 않는 BMP 비트 깊이 64");
  setLanguage(Language::English);
  EXPECT_EQ(withFailureReason(formatMessage(text(TextId::OpenFailed), {"/a/b.bmp", e}), e),
            "/a/b.bmp\r\nOpen failed ! (err=107)\r\nunsupported BMP bit depth 64");
  clearFailureDetail();
  EXPECT_EQ(withFailureReason("x", e), "x\r\na kind of file this program does not read");
}

// Readers on other threads neither see nor replace this thread's word.
TEST(FailureReason, EachThreadHasItsOwnDetail) {
  LanguageScope scope(Language::English);
  setFailureDetail(TextId::DetailBmpBitDepth, {4});
  bool otherSawNone = false;
  std::string otherWord;
  std::thread other([&] {
    otherSawNone = !hasFailureDetail();
    const std::vector<uint8_t> b = bmp(4, 4, 24, 5);
    BitmapInfoHeader h;
    TMTC pixels;
    loadBmpMemory(b.data(), b.size(), h, pixels);
    otherWord = failureDetailIn(Language::English);
  });
  other.join();
  EXPECT_TRUE(otherSawNone);
  EXPECT_EQ(otherWord, "unsupported BMP compression 5");
  EXPECT_EQ(failureDetail(), "unsupported BMP bit depth 4");
  clearFailureDetail();
  EXPECT_FALSE(hasFailureDetail());
  EXPECT_EQ(failureDetail(), "");
}

// The detail keeps copies of its words: the caller's strings may be gone.
TEST(FailureReason, TheDetailOutlivesItsArguments) {
  {
    std::string message = "IHDR: CRC error";
    setFailureDetail(TextId::DetailPngDecoder, {message});
    message.assign(100, 'x');
  }
  EXPECT_EQ(failureDetailIn(Language::English), "PNG decoder: IHDR: CRC error");
  EXPECT_EQ(failureDetailIn(Language::Korean), "PNG 디코더 오류: IHDR: CRC error");
  EXPECT_EQ(failWith(FileError::Corrupt, TextId::DetailBmpMasks), FileError::Corrupt);
  EXPECT_EQ(failureDetailIn(Language::English), "unsupported BMP colour masks");
  clearFailureDetail();
}

}  // namespace
}  // namespace vl
