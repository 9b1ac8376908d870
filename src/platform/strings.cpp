#include "platform/strings.h"

#include <charconv>

namespace vl {
namespace {

// One row per text: Korean, the source text, then English. Rows marked
// kData are stored in papers and event streams (default names and the like)
// and keep their one form whatever the language.
constexpr bool kData = true;

struct TextRow {
  TextId id;
  std::string_view ko;
  std::string_view en;
  bool data = false;
};

constexpr TextRow kTexts[] = {
    {TextId::OutOfMemory, "메모리 부족 !",
     "Out of memory !"},
    {TextId::UnexpectedError, "예상치 못한 오류발생 !",
     "An unexpected error occurred !"},
    {TextId::TileOutOfMemory, "메모리 부족으로 정상실행이 안됩니다 !",
     "Not enough memory to go on normally !"},
    {TextId::TileFreeFailed, "메모리 오류\r\n파일을 저장하고 종료하십시요",
     "Memory error\r\nSave your files and quit"},
    {TextId::ModeMultiply, "승산",
     "Multiply"},
    {TextId::ModeAdd, "가산",
     "Add"},
    {TextId::ModeSubtract, "감소",
     "Subtract"},
    {TextId::ModeNormal, "표준",
     "Normal"},
    {TextId::ModeScreen, "스크린",
     "Screen"},
    {TextId::ModeOverlay, "오버레이",
     "Overlay"},
    {TextId::ModeHardLight, "하드 라이트",
     "Hard light"},
    {TextId::ModeSoftLight, "소프트 라이트",
     "Soft light"},
    {TextId::ModeDifference, "차이",
     "Difference"},
    {TextId::ModeExclusion, "제외",
     "Exclusion"},
    {TextId::ModeDarker, "더 어둡게",
     "Darken"},
    {TextId::ModeLighter, "더 밝게",
     "Lighten"},
    {TextId::ModeBurn, "번",
     "Burn"},
    {TextId::ModeDodge, "닷지",
     "Dodge"},
    {TextId::ModeHue, "색조",
     "Hue"},
    {TextId::ModeSaturation, "채도",
     "Saturation"},
    {TextId::ModeColour, "컬러",
     "Colour"},
    {TextId::ModeLuminosity, "광도",
     "Luminosity"},
    {TextId::ModeNegaSubtract, "감소(Nega)",
     "Subtract (nega)"},
    {TextId::ModeLinearLight, "선형 라이트",
     "Linear light"},
    {TextId::ModeVividLight, "선명한 라이트",
     "Vivid light"},
    {TextId::ModePinLight, "핀 라이트",
     "Pin light"},
    {TextId::LayerDefaultName, "레이어", "레이어", kData},
    {TextId::BadLayerIndex, "잘못된 레이어 인덱스 !",
     "Invalid layer index !"},
    {TextId::LayerInitFailed, "레이어 초기화 실패 !",
     "Could not set up the layer !"},
    {TextId::LayerMergeFailed, "레이어결합 실패 !",
     "Could not merge the layers !"},
    {TextId::UndoStepFailed, "실행취소 실패.\r\n저장된 명령들은 모두 클리어 됩니다",
     "Undo failed.\r\nAll kept commands are cleared"},
    {TextId::NewLayerCaption, "새 레이어",
     "New layer"},
    {TextId::NewLayerCreate, "생성",
     "Create"},
    {TextId::NewLayerCancel, "취소",
     "Cancel"},
    {TextId::NewLayerName, "이름(&N)",
     "&Name"},
    {TextId::NewLayerMode, "모드(&M)",
     "&Mode"},
    {TextId::NewLayerColour, "컬러(&C)",
     "&Colour"},
    {TextId::ColourBlack, "검정색",
     "Black"},
    {TextId::ColourWhite, "흰색",
     "White"},
    {TextId::ColourHalfTone, "중간색",
     "Middle grey"},
    {TextId::KeepTransparency, "투명도 유지(&T)",
     "Keep &transparency"},
    {TextId::SettingsDamaged, "설정 파일이 손상되어 기본값을 사용합니다 !",
     "The settings file is damaged; the defaults are used !"},
    {TextId::NewCanvasCaption, "새 캔버스",
     "New canvas"},
    {TextId::NewCanvasTab1, "&1",
     "&1"},
    {TextId::NewCanvasTab2, "&2",
     "&2"},
    {TextId::NewCanvasTab3, "&3",
     "&3"},
    {TextId::NewCanvasTab4, "&4",
     "&4"},
    {TextId::NewCanvasTab5, "&5",
     "&5"},
    {TextId::NewCanvasTabClipboard, "&clipboard",
     "&clipboard"},
    {TextId::UnitPixel, "pixel",
     "pixel"},
    {TextId::UnitInch, "inch",
     "inch"},
    {TextId::UnitCm, "cm",
     "cm"},
    {TextId::UnitPixelsPerInch, "pixels/inch",
     "pixels/inch"},
    {TextId::NumberUnreadable, "잘못된 문자로 인해 수치를 읽을수 없습니다 !",
     "The value cannot be read because of a wrong character !"},
    {TextId::NumberNegative, "정확한 수치를 입력해 주십시요 !",
     "Please enter a correct value !"},
    {TextId::ValueRequired, "%s가 필요합니다 !",
     "%s is required !"},
    {TextId::NameWidth, "폭",
     "Width"},
    {TextId::NameHeight, "높이",
     "Height"},
    {TextId::NameResolution, "해상도",
     "Resolution"},
    {TextId::ValueOutOfRangeShown, "%s(%d) 는 %d 부터 %d 로 해주십시요 !",
     "%s(%d) must lie between %d and %d !"},
    {TextId::ValueOutOfRange, "%s 는 %d 부터 %d 로 해주십시요 !",
     "%s must lie between %d and %d !"},
    {TextId::WarningCaption, "경고",
     "Warning"},
    {TextId::UnknownSwitch, "unknown command line switch!\r    arg = %s",
     "unknown command line switch!\r    arg = %s"},
    {TextId::BadSwitchNumber, "command line switch needs a decimal number!\r    arg = %s",
     "command line switch needs a decimal number!\r    arg = %s"},
    {TextId::PaletteMode, "%s 가 팔레트 모드로 동작하고 있습니다.\n16비트컬러 이상으로 설정해 주십시요.(** 32비트컬러가 최적입니다. **)\n무시 하고 실행하시겠습니까 ?",
     "%s is running in palette mode.\nPlease set 16-bit colour or more.(** 32-bit colour is best. **)\nRun anyway ?"},
    {TextId::CannotOpenFile, "파일을 열수 없습니다. !\r\n    경로 = %s",
     "Cannot open the file. !\r\n    path = %s"},
    {TextId::OpenFailed, "%s\r\n열기 실패 ! (err=%d)",
     "%s\r\nOpen failed ! (err=%d)"},
    {TextId::MenuFile, "파일(&F)",
     "&File"},
    {TextId::MenuEdit, "편집(&E)",
     "&Edit"},
    {TextId::MenuSelection, "선택범위(&S)",
     "&Selection"},
    {TextId::MenuFilter, "필터(&T)",
     "Fil&ter"},
    {TextId::MenuEvent, "이벤트(&N)",
     "Eve&nt"},
    {TextId::MenuView, "보기(&V)",
     "&View"},
    {TextId::MenuWindow, "윈도우(&W)",
     "&Window"},
    {TextId::MenuHelp, "도움말(&H)",
     "&Help"},
    {TextId::CmdFileNew, "신규 작성(&N)...",
     "&New..."},
    {TextId::HintFileNew, "새로운 화상을 엽니다",
     "Opens a new picture"},
    {TextId::CmdFileOpen, "열기(&O)...",
     "&Open..."},
    {TextId::HintFileOpen, "화상을 엽니다",
     "Opens a picture"},
    {TextId::CmdFileClose, "닫기(&C)",
     "&Close"},
    {TextId::HintFileClose, "현재 편집중의 화상을 닫습니다",
     "Closes the picture being edited"},
    {TextId::CmdCloseApp, "종료(&X)",
     "E&xit"},
    {TextId::HintCloseApp, "Velluminar를 종료 합니다",
     "Quits Velluminar"},
    {TextId::CmdViewZoomIn, "확대(&I)",
     "Zoom &in"},
    {TextId::HintViewZoomIn, "화상의 표시를 확대합니다",
     "Shows the picture larger"},
    {TextId::CmdViewZoomOut, "축소(&O)",
     "Zoom &out"},
    {TextId::HintViewZoomOut, "화상의 표시를 축소 합니다",
     "Shows the picture smaller"},
    {TextId::CmdViewZoomCancel, "원본 사이즈(&N)",
     "Actual size (&N)"},
    {TextId::HintViewZoomCancel, "원본 사이즈로 되돌립니다",
     "Returns to the actual size"},
    {TextId::CmdWindowCascade, "중복 표시(&C)",
     "&Cascade"},
    {TextId::HintWindowCascade, "윈도우를 겹쳐서 표시 합니다",
     "Shows the windows overlapping"},
    {TextId::CmdWindowTileVertical, "좌우 정렬(&T)",
     "&Tile side by side"},
    {TextId::HintWindowTileVertical, "윈도우를 좌우로 표시 합니다",
     "Shows the windows side by side"},
    {TextId::CmdWindowTileHorizontal, "상하 정렬(&H)",
     "Tile &horizontally"},
    {TextId::HintWindowTileHorizontal, "윈도우를 상하로 표시 합니다",
     "Shows the windows one above the other"},
    {TextId::CmdWindowMinimizeAll, "모두 최소화(&M)",
     "&Minimize all"},
    {TextId::HintWindowMinimizeAll, "모든 윈도우를 아이콘화 합니다",
     "Turns every window into an icon"},
    {TextId::LayerCommandFailed, "Failed to execute layer command!",
     "Failed to execute layer command!"},
    {TextId::NoBitmapOnClipboard, "비트맵 테이터가 클립보드에 없습니다 !",
     "There is no bitmap on the clipboard !"},
    {TextId::EventFixed, "이벤트 오류수정 !",
     "Event error mended !"},
    {TextId::EventRecordError, "이벤트레코드 오류 !",
     "Event record error !"},
    {TextId::UndoEventFailed, "failed to undo event!",
     "failed to undo event!"},
    {TextId::RedoEventFailed, "failed to redo event!",
     "failed to redo event!"},
    {TextId::NotImplemented, "not implemented!",
     "not implemented!"},
    {TextId::LayerWindowCaption, "레이어",
     "Layers"},
    {TextId::CmdCreateLayerStd, "표준 레이어(&N)",
     "&Normal layer"},
    {TextId::CmdDeleteCurLayer, "선택 레이어 삭제(&D)",
     "&Delete layer"},
    {TextId::CmdLayerDuplicate, "레이어 복제(&C)",
     "Dupli&cate layer"},
    {TextId::CmdLayerBindLower, "아래 레이어와 결합(&B)",
     "Merge with layer &below"},
    {TextId::LayerOpacityLabel, "불투명도",
     "Opacity"},
    {TextId::LayerModeLabel, "연산모드",
     "Blend mode"},
    {TextId::LayerTransparencyLock, "투명영역 드로잉 금지",
     "Lock transparent areas"},
    {TextId::LayerRenameCaption, "이름(&N)",
     "&Name"},
    {TextId::CmdViewAntiAlias, "안티알리아싱(&A)",
     "&Antialiasing"},
    {TextId::HintViewAntiAlias, "화면에 안티알리아싱 효과를 줍니다",
     "Smooths the display"},
    {TextId::SmoothDisplay, "부드럽게 표시",
     "Smooth display"},
    {TextId::SettingOn, "유효",
     "on"},
    {TextId::SettingOff, "비유효",
     "off"},
    {TextId::CmdViewRotateLeft, "왼쪽으로 회전(&L)",
     "Rotate &left"},
    {TextId::HintViewRotateLeft, "화면을 왼쪽으로 15도 회전합니다",
     "Turns the view 15 degrees to the left"},
    {TextId::CmdViewRotateRight, "오른쪽으로 회전(&R)",
     "Rotate &right"},
    {TextId::HintViewRotateRight, "화면을 오른쪽으로 15도 회전합니다",
     "Turns the view 15 degrees to the right"},
    {TextId::CmdViewRotateCancel, "회전 취소(&E)",
     "R&eset rotation"},
    {TextId::HintViewRotateCancel, "화면의 회전을 취소합니다",
     "Cancels the view rotation"},
    {TextId::BrushPen, "펜 브러쉬",
     "Pen"},
    {TextId::BrushWatercolour, "수채 브러쉬",
     "Watercolour"},
    {TextId::BrushBlur, "블러",
     "Blur"},
    {TextId::BrushEraser, "지우개",
     "Eraser"},
    {TextId::BrushBlur2, "블러2",
     "Blur 2"},
    {TextId::BrushAirbrush, "에어 브러쉬",
     "Airbrush"},
    {TextId::BrushSmudge, "스머지",
     "Smudge"},
    {TextId::BrushDarken, "번",
     "Burn"},
    {TextId::BrushLighten, "닷지",
     "Dodge"},
    {TextId::BrushWindowCaption, "브러쉬",
     "Brush"},
    {TextId::BrushSizeLabel, "크기",
     "Size"},
    {TextId::BrushEffectLabel, "효과",
     "Effect"},
    {TextId::BrushColourLabel, "컬러",
     "Colour"},
    {TextId::BrushSoftEdge, "부드러운 가장자리",
     "Soft edge"},
    {TextId::FileCannotOpen, "파일을 열 수 없습니다",
     "The file cannot be opened"},
    {TextId::FileReadFailed, "파일을 읽는 중 오류가 발생했습니다",
     "The file could not be read"},
    {TextId::FileWriteFailed, "파일을 쓰는 중 오류가 발생했습니다",
     "The file could not be written"},
    {TextId::FileTruncated, "파일이 중간에서 끝납니다",
     "The file ends too early"},
    {TextId::FileNotThisFormat, "이 형식의 파일이 아닙니다",
     "The file is not of this format"},
    {TextId::FileCorrupt, "파일이 손상되었습니다",
     "The file is damaged"},
    {TextId::FileUnsupported, "지원하지 않는 종류의 파일입니다",
     "This kind of file is not supported"},
    {TextId::FileTooLarge, "이미지가 너무 큽니다",
     "The picture is too large"},
    {TextId::FileBadArgument, "잘못된 인수입니다",
     "Invalid argument"},
    {TextId::FileWrongLength, "압축된 데이터의 길이가 맞지 않습니다",
     "The compressed data has the wrong length"},
    {TextId::PsdLargeDocument, "대용량 문서 형식(PSB)은 지원하지 않습니다",
     "The large document format (PSB) is not supported"},
    {TextId::PsdDepth, "채널당 %d비트인 PSD 파일은 지원하지 않습니다 (8비트만 지원)",
     "PSD files with %d bits per channel are not supported (only 8 bits)"},
    {TextId::PsdColourMode, "%s 색상 모드의 PSD 파일은 지원하지 않습니다 (RGB, 그레이스케일, 비트맵만 지원)",
     "PSD files in %s colour mode are not supported (only RGB, greyscale and bitmap)"},
    {TextId::PsdModeIndexed, "인덱스",
     "indexed"},
    {TextId::PsdModeCmyk, "CMYK",
     "CMYK"},
    {TextId::PsdModeMultichannel, "다중 채널",
     "multichannel"},
    {TextId::PsdModeDuotone, "이중톤",
     "duotone"},
    {TextId::PsdModeLab, "Lab",
     "Lab"},
    {TextId::PsdModeNumber, "%d번",
     "number %d"},
    {TextId::PsdZipData, "ZIP으로 압축된 채널 데이터는 지원하지 않습니다",
     "ZIP-compressed channel data is not supported"},
    {TextId::PsdDamaged, "PSD 파일이 손상되었습니다: %s",
     "The PSD file is damaged: %s"},
    {TextId::PsdCutShort, "PSD 파일이 중간에서 끝납니다: %s",
     "The PSD file ends too early: %s"},
    {TextId::PsdTooLarge, "PSD 이미지가 너무 큽니다 (%d x %d)",
     "The PSD picture is too large (%d x %d)"},
    {TextId::PsdPartHeader, "파일 헤더",
     "file header"},
    {TextId::PsdPartColourData, "색상 모드 데이터",
     "colour mode data"},
    {TextId::PsdPartResources, "이미지 리소스",
     "image resources"},
    {TextId::PsdPartLayerInfo, "레이어 정보",
     "layer information"},
    {TextId::PsdPartLayerRecord, "레이어 %d의 레코드",
     "the record of layer %d"},
    {TextId::PsdPartLayerChannel, "레이어 %d의 채널 데이터",
     "the channel data of layer %d"},
    {TextId::PsdPartImageData, "합성 이미지 데이터",
     "merged image data"},
};
static_assert(std::size(kTexts) == size_t(TextId::Count));

constexpr bool inOrder() {
  for (size_t i = 0; i < std::size(kTexts); ++i)
    if (size_t(kTexts[i].id) != i) return false;
  return true;
}
static_assert(inOrder(), "text rows follow the enumeration");

Language gLanguage = Language::Korean;

}  // namespace

std::string_view textIn(TextId id, Language language) {
  const size_t i = size_t(id);
  if (i >= std::size(kTexts)) return {};
  const TextRow& row = kTexts[i];
  return row.data || language == Language::Korean ? row.ko : row.en;
}

std::string_view text(TextId id) { return textIn(id, gLanguage); }

bool isDataText(TextId id) { return size_t(id) < std::size(kTexts) && kTexts[size_t(id)].data; }

Language language() { return gLanguage; }
void setLanguage(Language l) { gLanguage = l; }

Language languageFromLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  // The first of these that is set and not empty decides, as for messages.
  for (const char* v : {lcAll, lcMessages, lang}) {
    if (!v || !*v) continue;
    return (v[0] == 'k' && v[1] == 'o') ? Language::Korean : Language::English;
  }
  return Language::English;
}

bool parseLanguage(std::string_view name, Language& out) {
  if (name == "ko") {
    out = Language::Korean;
    return true;
  }
  if (name == "en") {
    out = Language::English;
    return true;
  }
  return false;
}

std::string formatMessage(std::string_view pattern, std::initializer_list<MessageArg> args) {
  std::string out;
  out.reserve(pattern.size() + 64);
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    if (c == '%' && i + 1 < pattern.size() && (pattern[i + 1] == 's' || pattern[i + 1] == 'd') &&
        next != args.end()) {
      if (next->isInt) {
        char buf[24];
        out.append(buf, std::to_chars(buf, buf + sizeof buf, next->d).ptr);
      } else {
        out.append(next->s);
      }
      ++next;
      ++i;
      continue;
    }
    out.push_back(c);
  }
  return out;
}

}  // namespace vl
