#include "document/new_canvas_model.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/app_profile.h"
#include "platform/settings_store.h"

namespace vl {
namespace {

using M = CNewCanvasModel;

void setFields(M& m, const char* w, const char* h, const char* r) {
  m.SetText(M::kWidth, w);
  m.SetText(M::kHeight, h);
  m.SetText(M::kResolution, r);
}

TEST(NewCanvasModel, TextsAndFirstOpenOnDefaultPresets) {
  EXPECT_EQ(M::Caption(), "새 캔버스");
  EXPECT_EQ(M::TabText(0), "&1");
  EXPECT_EQ(M::TabText(4), "&5");
  EXPECT_EQ(M::TabText(5), "&clipboard");
  EXPECT_EQ(M::UnitText(M::kPixel), "pixel");
  EXPECT_EQ(M::UnitText(M::kInch), "inch");
  EXPECT_EQ(M::UnitText(M::kCm), "cm");
  EXPECT_EQ(M::ResolutionUnitText(), "pixels/inch");

  CAppProfile profile;
  M m;
  m.Open(profile, std::nullopt);
  EXPECT_EQ(m.Tab(), 0);
  EXPECT_EQ(m.Unit(), M::kPixel);
  EXPECT_EQ(m.Text(M::kWidth), "640");
  EXPECT_EQ(m.Text(M::kHeight), "480");
  EXPECT_EQ(m.Text(M::kResolution), "72");
  const NewCanvasResult r = m.Ok();
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.size.width, 640);
  EXPECT_EQ(r.size.height, 480);
  EXPECT_EQ(r.size.resolution, 72);
}

TEST(NewCanvasModel, PixelsFromDisplayedValues) {
  struct Case {
    double v;
    int unit;
    double r;
    int32_t pixels;
  } cases[] = {
      {640, M::kPixel, 72, 640},
      {5, M::kInch, 72, 360},
      {8.92, M::kInch, 72, 642},  // 642.24 truncated
      {12.7, M::kCm, 72, 360},
      {16.93, M::kCm, 72, 479},   // 479.9…: truncation, not rounding
      {0, M::kInch, 600, 0},
      {1e15, M::kInch, 1e15, INT32_MAX},  // clamped before truncation
      {2147483647.5, M::kPixel, 72, INT32_MAX},
  };
  for (const Case& c : cases) EXPECT_EQ(M::ToPixels(c.v, c.unit, c.r), c.pixels) << c.v << " unit " << c.unit;
}

TEST(NewCanvasModel, FiveInchesAt72AreThreeHundredSixtyPixels) {
  CAppProfile profile;
  profile.paperUnit[2] = M::kInch;
  profile.paperW[2] = 5;
  profile.paperH[2] = 2.5;
  M m;
  m.Open(profile, std::nullopt);
  m.SelectTab(2, std::nullopt);
  EXPECT_EQ(m.Unit(), M::kInch);
  EXPECT_EQ(m.Text(M::kWidth), "5.00");
  EXPECT_EQ(m.Text(M::kHeight), "2.50");
  const NewCanvasResult r = m.Ok();
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.size.width, 360);
  EXPECT_EQ(r.size.height, 180);
  EXPECT_EQ(r.size.resolution, 72);
}

TEST(NewCanvasModel, OkRefusesInOrderWithItsMessage) {
  const std::string widthRange = "폭(7) 는 8 부터 10000 로 해주십시요 !";
  struct Case {
    int unit;
    const char *w, *h, *r;
    std::string message;  // empty: accepted
  } cases[] = {
      {M::kPixel, "8", "10000", "72", ""},
      {M::kPixel, "10000", "8", "600", ""},
      {M::kPixel, "7", "480", "72", widthRange},
      {M::kPixel, "10001", "480", "72", "폭(10001) 는 8 부터 10000 로 해주십시요 !"},
      {M::kPixel, "640", "7", "72", "높이(7) 는 8 부터 10000 로 해주십시요 !"},
      {M::kPixel, "640", "480", "71", "해상도 는 72 부터 600 로 해주십시요 !"},
      {M::kPixel, "640", "480", "601", "해상도 는 72 부터 600 로 해주십시요 !"},
      {M::kPixel, "", "480", "72", "폭가 필요합니다 !"},
      {M::kPixel, "640", "", "72", "높이가 필요합니다 !"},
      {M::kPixel, "640", "480", "", "해상도가 필요합니다 !"},
      {M::kInch, "0.1", "1", "72", widthRange},  // 7.2 pixels
      // Order: empty fields, unreadable values, width, height, resolution.
      {M::kPixel, "x", "480", "", "해상도가 필요합니다 !"},
      {M::kPixel, "7", "480", "", "해상도가 필요합니다 !"},
      {M::kPixel, "7", "abc", "72", "잘못된 문자로 인해 수치를 읽을수 없습니다 !"},
      {M::kPixel, "7", "7", "71", widthRange},
      {M::kPixel, "640", "7", "71", "높이(7) 는 8 부터 10000 로 해주십시요 !"},
      // Read rules.
      {M::kPixel, "640.5", "480", "72", "잘못된 문자로 인해 수치를 읽을수 없습니다 !"},
      {M::kPixel, "640", "480", "72.0", "잘못된 문자로 인해 수치를 읽을수 없습니다 !"},
      {M::kInch, "1.2.3", "5", "72", "잘못된 문자로 인해 수치를 읽을수 없습니다 !"},
      {M::kCm, "-3", "5", "72", "정확한 수치를 입력해 주십시요 !"},
      // Huge numbers are refused cleanly.
      {M::kPixel, "99999999999999", "480", "72", "폭(2147483647) 는 8 부터 10000 로 해주십시요 !"},
      {M::kInch, "5", "99999999999999999999999.5", "600", "높이(2147483647) 는 8 부터 10000 로 해주십시요 !"},
      {M::kPixel, "640", "480", "99999999999999999999999", "해상도 는 72 부터 600 로 해주십시요 !"},
  };
  for (const Case& c : cases) {
    CAppProfile profile;
    profile.paperUnit[0] = c.unit;
    M m;
    m.Open(profile, std::nullopt);
    setFields(m, c.w, c.h, c.r);
    const NewCanvasResult r = m.Ok();
    EXPECT_EQ(r.ok, c.message.empty()) << c.w << " " << c.h << " " << c.r;
    EXPECT_EQ(r.message, c.message) << c.w << " " << c.h << " " << c.r;
    // A refusal keeps the dialog as it was, preset included.
    if (!r.ok) {
      EXPECT_EQ(m.Text(M::kWidth), c.w);
      EXPECT_EQ(profile.paperW[0], 640);
    }
  }
}

TEST(NewCanvasModel, ReadValue) {
  struct Case {
    const char* text;
    bool digitsOnly;
    M::ReadStatus status;
    double value;
  } cases[] = {
      {"", true, M::ReadStatus::kEmpty, 0},
      {"", false, M::ReadStatus::kEmpty, 0},
      {"0640", true, M::ReadStatus::kOk, 640},
      {" 640", true, M::ReadStatus::kUnreadable, 0},
      {"-5", true, M::ReadStatus::kUnreadable, 0},
      {"12.25", false, M::ReadStatus::kOk, 12.25},
      {".5", false, M::ReadStatus::kOk, 0.5},
      {"5.", false, M::ReadStatus::kOk, 5},
      {"+2", false, M::ReadStatus::kOk, 2},
      {"-0.0", false, M::ReadStatus::kOk, 0},
      {"-0.01", false, M::ReadStatus::kNegative, 0},
      {".", false, M::ReadStatus::kUnreadable, 0},
      {"-", false, M::ReadStatus::kUnreadable, 0},
      {"1e3", false, M::ReadStatus::kUnreadable, 0},
      {"inf", false, M::ReadStatus::kUnreadable, 0},
      {"99999999999999999999", true, M::ReadStatus::kOk, 1e15},
      {"00000000000000000000000001.5", false, M::ReadStatus::kOk, 1.5},
  };
  for (const Case& c : cases) {
    double v = 0;
    EXPECT_EQ(M::ReadValue(c.text, c.digitsOnly, v), c.status) << c.text;
    if (c.status == M::ReadStatus::kOk) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  // Far below the smallest double: zero, not a failure.
  double tiny = 1;
  EXPECT_EQ(M::ReadValue("0." + std::string(400, '0') + "1", false, tiny), M::ReadStatus::kOk);
  EXPECT_EQ(tiny, 0);
}

TEST(NewCanvasModel, UnitChangeConvertsEvenPixelSizes) {
  CAppProfile profile;
  M m;
  m.Open(profile, std::nullopt);
  setFields(m, "641", "480", "72");

  // 641 goes up to 642 before the conversion.
  EXPECT_EQ(m.SetUnit(M::kInch), "");
  EXPECT_EQ(m.Unit(), M::kInch);
  EXPECT_EQ(m.Text(M::kWidth), "8.92");
  EXPECT_EQ(m.Text(M::kHeight), "6.67");
  EXPECT_EQ(m.SetUnit(M::kCm), "");  // via 642 × 480 pixels
  EXPECT_EQ(m.Text(M::kWidth), "22.65");
  EXPECT_EQ(m.Text(M::kHeight), "16.93");
  // 16.93 cm is 479 pixels, shown as 480.
  EXPECT_EQ(m.SetUnit(M::kPixel), "");
  EXPECT_EQ(m.Text(M::kWidth), "642");
  EXPECT_EQ(m.Text(M::kHeight), "480");
  EXPECT_EQ(m.Text(M::kResolution), "72");

  // Small sizes at a high resolution lose precision in two decimals.
  setFields(m, "8", "10000", "600");
  EXPECT_EQ(m.SetUnit(M::kInch), "");
  EXPECT_EQ(m.Text(M::kWidth), "0.01");
  EXPECT_EQ(m.Text(M::kHeight), "16.67");
  EXPECT_EQ(m.SetUnit(M::kPixel), "");
  EXPECT_EQ(m.Text(M::kWidth), "6");
  EXPECT_EQ(m.Text(M::kHeight), "10002");
}

TEST(NewCanvasModel, UnitChangeRefusedWhenValuesCannotBeRead) {
  CAppProfile profile;
  M m;
  m.Open(profile, std::nullopt);
  struct Case {
    const char *w, *r;
    std::string message;
  } cases[] = {
      {"", "72", "폭가 필요합니다 !"},
      {"6a4", "72", "잘못된 문자로 인해 수치를 읽을수 없습니다 !"},
      {"640", "0", "해상도 는 72 부터 600 로 해주십시요 !"},  // nothing to divide by
  };
  for (const Case& c : cases) {
    setFields(m, c.w, "480", c.r);
    EXPECT_EQ(m.SetUnit(M::kCm), c.message) << c.w << " " << c.r;
    EXPECT_EQ(m.Unit(), M::kPixel);
    EXPECT_EQ(m.Text(M::kWidth), c.w);
  }
  // A huge size converts without overflow.
  setFields(m, "99999999999999", "480", "72");
  EXPECT_EQ(m.SetUnit(M::kPixel), "");  // same unit: nothing to do
  EXPECT_EQ(m.SetUnit(M::kInch), "");
  EXPECT_EQ(m.Text(M::kWidth), "29826161.78");  // 2147483648 / 72
  EXPECT_EQ(m.SetUnit(M::kPixel), "");
  EXPECT_EQ(m.Text(M::kWidth), "2147483648");
  EXPECT_EQ(m.Ok().message, "폭(2147483647) 는 8 부터 10000 로 해주십시요 !");
}

TEST(NewCanvasModel, TypingFilter) {
  struct Case {
    char32_t c;
    bool size, resolution;
  } cases[] = {
      {U'0', true, true}, {U'9', true, true}, {U'.', true, false}, {U'-', false, false},
      {U'e', false, false}, {U' ', false, false}, {U'，', false, false}, {U'５', false, false},
      {U'\b', true, true}, {0x7F, true, true},  // editing keys pass
  };
  for (const Case& c : cases) {
    EXPECT_EQ(M::AcceptsTyped(M::kWidth, c.c), c.size) << uint32_t(c.c);
    EXPECT_EQ(M::AcceptsTyped(M::kHeight, c.c), c.size) << uint32_t(c.c);
    EXPECT_EQ(M::AcceptsTyped(M::kResolution, c.c), c.resolution) << uint32_t(c.c);
  }
  EXPECT_EQ(M::FilterTyped(M::kWidth, "1a2.3-4 ５\n"), "12.34");
  EXPECT_EQ(M::FilterTyped(M::kResolution, "1a2.3-4 ５\n"), "1234");
}

TEST(NewCanvasModel, LeavingATabAndOkStoreIntoThePresets) {
  CAppProfile profile;
  M m;
  m.Open(profile, std::nullopt);
  EXPECT_EQ(m.SetUnit(M::kCm), "");
  setFields(m, "10.5", "x", "150");  // the unreadable height keeps its preset
  m.SelectTab(3, std::nullopt);
  EXPECT_EQ(profile.paperUnit[0], M::kCm);
  EXPECT_EQ(profile.paperW[0], 10.5);
  EXPECT_EQ(profile.paperH[0], 480);
  EXPECT_EQ(profile.paperDpi[0], 150);
  EXPECT_EQ(m.Tab(), 3);
  EXPECT_EQ(m.Unit(), M::kPixel);
  EXPECT_EQ(m.Text(M::kWidth), "640");

  setFields(m, "1024", "768", "300");
  ASSERT_TRUE(m.Ok().ok);
  EXPECT_EQ(profile.paperW[3], 1024);
  EXPECT_EQ(profile.paperH[3], 768);
  EXPECT_EQ(profile.paperDpi[3], 300);

  // Through the settings store and back.
  MemorySettingsStore store;
  profile.save(store);
  CAppProfile again;
  again.load(store, profile.machine);
  m.Open(again, std::nullopt);
  EXPECT_EQ(m.Unit(), M::kCm);
  EXPECT_EQ(m.Text(M::kWidth), "10.50");
  EXPECT_EQ(m.Text(M::kHeight), "480.00");
  EXPECT_EQ(m.Text(M::kResolution), "150");
  EXPECT_TRUE(m.AltKey(U'4', std::nullopt));
  EXPECT_EQ(m.Text(M::kWidth), "1024");
  EXPECT_EQ(m.Text(M::kHeight), "768");
  EXPECT_EQ(m.Text(M::kResolution), "300");

  // Clicking the tab shown keeps what was typed.
  m.SetText(M::kWidth, "999");
  m.SelectTab(3, std::nullopt);
  EXPECT_EQ(m.Text(M::kWidth), "999");
}

TEST(NewCanvasModel, BrokenPresetsShowSoundValues) {
  CAppProfile profile;
  profile.paperUnit[1] = 7;
  profile.paperW[1] = -5;
  profile.paperH[1] = 1e300;
  profile.paperDpi[1] = -3;
  M m;
  m.Open(profile, std::nullopt);
  m.SelectTab(1, std::nullopt);
  EXPECT_EQ(m.Unit(), M::kPixel);
  EXPECT_EQ(m.Text(M::kWidth), "0");
  EXPECT_EQ(m.Text(M::kHeight), "1000000000000000");
  EXPECT_EQ(m.Text(M::kResolution), "0");
  EXPECT_FALSE(m.Ok().ok);
}

TEST(NewCanvasModel, ClipboardTab) {
  CAppProfile profile;
  profile.paperDpi[5] = 150;
  profile.paperUnit[5] = M::kInch;
  profile.paperW[5] = 3;
  profile.paperH[5] = 2;
  const ClipboardSize bottomUp{800, -600};

  M m;
  m.Open(profile, bottomUp);
  EXPECT_EQ(m.Tab(), M::kClipboardTab);
  EXPECT_EQ(m.Unit(), M::kPixel);
  EXPECT_EQ(m.Text(M::kWidth), "800");
  EXPECT_EQ(m.Text(M::kHeight), "600");
  EXPECT_EQ(m.Text(M::kResolution), "150");

  // Alt+C: the stored values, after storing the clipboard tab's own.
  m.SelectTab(0, std::nullopt);
  EXPECT_EQ(profile.paperW[5], 800);
  profile.paperW[5] = 3;
  profile.paperUnit[5] = M::kInch;
  EXPECT_TRUE(m.AltKey(U'c', bottomUp));
  EXPECT_EQ(m.Tab(), M::kClipboardTab);
  EXPECT_EQ(m.Unit(), M::kInch);
  EXPECT_EQ(m.Text(M::kWidth), "3.00");
  EXPECT_EQ(m.Text(M::kHeight), "600.00");

  // Alt+6 reads the clipboard again; without a bitmap it falls back to "&1".
  EXPECT_TRUE(m.AltKey(U'6', ClipboardSize{100, 200}));
  EXPECT_EQ(m.Text(M::kWidth), "100");
  EXPECT_EQ(m.Unit(), M::kPixel);
  EXPECT_TRUE(m.AltKey(U'6', std::nullopt));
  EXPECT_EQ(m.Tab(), 0);
  EXPECT_FALSE(m.AltKey(U'7', std::nullopt));
  EXPECT_FALSE(m.AltKey(U'x', std::nullopt));
  EXPECT_EQ(m.Tab(), 0);

  m.Open(profile, std::nullopt);
  EXPECT_EQ(m.Tab(), 0);

  // The largest header magnitude does not fit in 32 bits.
  m.Open(profile, ClipboardSize{INT_MIN, 64});
  EXPECT_EQ(m.Text(M::kWidth), "2147483648");
  EXPECT_EQ(m.Ok().message, "폭(2147483647) 는 8 부터 10000 로 해주십시요 !");
}

}  // namespace
}  // namespace vl
