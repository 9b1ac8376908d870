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
    {TextId::MaskDefaultName, "마스크", "마스크", kData},
    {TextId::MaskFromBrightnessName, "값(%s)", "값(%s)", kData},
    {TextId::MaskFromAlphaName, "마스크(%s)", "마스크(%s)", kData},
    {TextId::MaskCreateFailed, "CMaskData::createMask: exception!",
     "CMaskData::createMask: exception!"},
    {TextId::MaskExtendFailed, "makeExtendMask: exception!",
     "makeExtendMask: exception!"},
    {TextId::SelectionWindowCaption, "선택범위",
     "Selections"},
    {TextId::CmdSelectAll, "모두 선택(&A)",
     "Select &all"},
    {TextId::HintSelectAll, "레이어 화상 전체를 선택 범위로 합니다",
     "Selects the whole picture"},
    {TextId::CmdSelectDelete, "선택범위 해제(&N)",
     "&Deselect"},
    {TextId::HintSelectDelete, "선택 범위를 삭제 합니다",
     "Removes the selection"},
    {TextId::CmdSelectInvert, "선택범위 반전(&I)",
     "&Invert selection"},
    {TextId::HintSelectInvert, "선택 범위를 반전시킵니다",
     "Inverts the selection"},
    {TextId::CmdSelectSplitLayer, "새 레이어로 분리(&L)",
     "Split to new &layer"},
    {TextId::HintSelectSplitLayer, "선택된 영역을 신규 레이어에 잘라냅니다",
     "Moves the selected part to a new layer"},
    {TextId::CmdSelectNewLayer, "새 레이어로 복제(&C)",
     "&Copy to new layer"},
    {TextId::HintSelectNewLayer, "선택된 영역의 카피를 신규 레이어에 작성 합니다",
     "Copies the selected part to a new layer"},
    {TextId::CmdSelectInflate, "1도트 확장(&X)",
     "Grow by one pi&xel"},
    {TextId::HintSelectInflate, "선택 범위를 1dot 만큼 크게 합니다",
     "Makes the selection one pixel larger"},
    {TextId::CmdSelectDeflate, "1도트 축소(&S)",
     "&Shrink by one pixel"},
    {TextId::HintSelectDeflate, "선택 범위를 1dot 만큼 작게 합니다",
     "Makes the selection one pixel smaller"},
    {TextId::CmdSelectInflate2, "확장(&T)...",
     "Grow by...(&T)"},
    {TextId::HintSelectInflate2, "선택 범위를 수를 지정 해 확장 합니다",
     "Grows the selection by a number of pixels"},
    {TextId::CmdSelectDeflate2, "축소(&M)...",
     "Shrink by...(&M)"},
    {TextId::HintSelectDeflate2, "선택 범위를 수를 지정 해 축소 합니다",
     "Shrinks the selection by a number of pixels"},
    {TextId::CmdSelectEnable, "선택범위 사용(&E)",
     "Us&e selection"},
    {TextId::HintSelectEnable, "선택 범위의 적용을 사용합니다",
     "Painting keeps to the selection"},
    {TextId::CmdSelectVisible, "선택범위 표시(&V)",
     "Show selection(&V)"},
    {TextId::HintSelectVisible, "선택 범위를 비표시로 합니다 (주: 무효로는 되지 않습니다)",
     "Shows or hides the selection (hiding does not turn it off)"},
    {TextId::CmdSelectCopyLayerMask, "레이어 마스크에 복사(&X)",
     "Copy to layer mask(&X)"},
    {TextId::HintSelectCopyLayerMask, "현재의 선택 범위를 액티브 레이어의 마스크에 복사합니다",
     "Copies the selection into the current layer's transparency"},
    {TextId::CmdSelectInsert, "선택 범위 신규 작성(&N)",
     "&New selection"},
    {TextId::HintSelectInsert, "새로운 선택 범위를 추가 합니다",
     "Adds a new selection"},
    {TextId::CmdSelectDuplicate, "선택 범위 복제(&U)",
     "D&uplicate selection"},
    {TextId::HintSelectDuplicate, "선택 범위의 복제를 작성 합니다",
     "Makes a copy of the selection"},
    {TextId::CmdSelectRemove, "선택 범위 삭제(&D)",
     "&Delete selection"},
    {TextId::HintSelectRemove, "선택된 범위를 삭제 합니다",
     "Deletes the current selection"},
    {TextId::CmdSelectCutOutside, "비 표시 영역 삭제(&O)",
     "Trim to the paper(&O)"},
    {TextId::HintSelectCutOutside, "선택 범위가 용지 사이즈보다 클 때, 용지외의 부분을 삭제 합니다",
     "Removes the part of the selection outside the paper"},
    {TextId::CmdSelectFromLayerMask, "마스크로부터 신규 작성(&M)",
     "New from layer &mask"},
    {TextId::HintSelectFromLayerMask, "선택된 레이어의 마스크로부터 새로운 선택 범위를 작성 합니다",
     "Makes a new selection from the current layer's transparency"},
    {TextId::CmdSelectFromLayerValue, "명도로부터 신규 작성(&L)",
     "New from &lightness"},
    {TextId::HintSelectFromLayerValue, "선택된 레이어의 명도를 선택 범위로 변환합니다(흑=선택 영역)",
     "Makes a new selection from the current layer's lightness (black = selected)"},
    {TextId::SelectInflateCaption, "선택확장",
     "Grow selection"},
    {TextId::SelectDeflateCaption, "선택축소",
     "Shrink selection"},
    {TextId::SelectAmountLabel, "양(&X)",
     "Amount(&X)"},
    {TextId::CmdShowPenWindow, "펜 윈도우",
     "Pen window"},
    {TextId::HintShowPenWindow, "펜 윈도우를 표시 합니다",
     "Shows the pen window"},
    {TextId::CmdShowLayerWindow, "레이어 윈도우",
     "Layer window"},
    {TextId::HintShowLayerWindow, "레이어 윈도우를 표시 합니다",
     "Shows the layer window"},
    {TextId::CmdShowSelectWindow, "선택범위 윈도우",
     "Selection window"},
    {TextId::HintShowSelectWindow, "선택 범위 윈도우를 표시 합니다",
     "Shows the selection window"},
    {TextId::MemoryLine, "레이어: %dKB, 실행취소: %dKB",
     "Layers: %dKB, undo: %dKB"},
    {TextId::LayerMemoryCaption, "레이어 (사용메모리: %dKB)",
     "Layers (memory in use: %dKB)"},
    {TextId::CmdEditUndo, "실행취소(&Z)",
     "&Undo"},
    {TextId::HintEditUndo, "화상을 1단계 이전상태에 되돌립니다",
     "Takes the picture back one step"},
    {TextId::CmdEditRedo, "다시실행(&R)",
     "&Redo"},
    {TextId::HintEditRedo, "취소한 조작을 다시 합니다",
     "Does the undone step again"},
    {TextId::CmdEditUndoClear, "메모리 반환(&F)",
     "&Free memory"},
    {TextId::HintEditUndoClear, "취소·재시도에 확보하고 있는 모든 메모리를 반환 합니다",
     "Frees all the memory kept for undo and redo"},
    {TextId::AskUndoClear, "메모리에 저장된 이전 명령들을 삭제합니다",
     "The earlier commands kept in memory will be deleted"},
    {TextId::AskDeleteWithoutUndo, "실행취소 할수 없습니다.\n계속 하시겠습니까?",
     "This cannot be undone.\nGo on?"},
    {TextId::UndoLimitChangeFailed, "실행취소 횟수변경 실패 !",
     "Could not change the number of undo steps !"},
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
    {TextId::EventWriteError, "이벤트 기록 오류 !",
     "Event recording error !"},
    {TextId::EventRecordingStopped, "이벤트 기록중 오류발생.\r\n이후 이벤트는 기록되지 않습니다",
     "An error occurred while recording events.\r\nNo further events will be recorded"},
    {TextId::PacketError, "파켓오류 !",
     "Packet error !"},
    {TextId::ReplayVersionError, "eventMngr::readAppStat: extFlags version error!",
     "eventMngr::readAppStat: extFlags version error!"},
    {TextId::BadLanguageSwitch, "--lang 다음에는 ko 또는 en 이 와야 합니다 !\r    arg = %s",
     "--lang needs ko or en !\r    arg = %s"},
    {TextId::CommandLineHelp,
     "사용법: velluminar [스위치]... [파일]...\n"
     "그림 그리기 프로그램. 파일마다 캔버스 윈도우를 열어 보여 줍니다. 프로그램이\n"
     "이미 실행 중이면 실행 중인 프로그램이 파일을 엽니다.\n"
     "\n"
     "스위치 (대소문자 구별 없음):\n"
     "  -render       디스플레이 없이 이벤트 파일을 재생하고, 그림을 쓴 뒤 보고합니다\n"
     "  -viewer       이벤트 파일의 재생을 보여 주고, 기다린 뒤 보고합니다\n"
     "  -O<폴더>      무인 모드가 결과를 쓰는 폴더 (기본: 파일의 폴더)\n"
     "  -W<fd>        완료 코드를 이 열린 파일 디스크립터에도 씁니다\n"
     "  -T<초>        뷰어 모드가 보고하기 전에 기다리는 시간\n"
     "\n"
     "그대로 써야 하는 스위치:\n"
     "  --lang ko|en  한국어(ko) 또는 영어(en)로 표시합니다 (기본: 설정 \"language\",\n"
     "                비어 있으면 로캘; 무인 모드는 로캘)\n"
     "  --            뒤의 모든 인수는 파일입니다\n"
     "  --help        이 도움말을 보여 주고 끝냅니다\n"
     "  --version     버전을 보여 주고 끝냅니다\n"
     "\n"
     "무인 모드의 완료 코드 (종료 상태, 그리고 표준 출력의 한 줄): 8 렌더 완료,\n"
     "9 결과를 쓸 수 없음, 10 파일을 열거나 재생할 수 없음 (표시 파일 <이름>.bad),\n"
     "11 보호된 파일 (표시 파일 <이름>.prt), 13 뷰어 종료.\n",
     "Usage: velluminar [SWITCH]... [FILE]...\n"
     "Paint program. Opens each FILE in a canvas window; when the program is\n"
     "already running, the running one opens them.\n"
     "\n"
     "Switches (any letter case):\n"
     "  -render       replay the event file without a display, write the picture\n"
     "                and report\n"
     "  -viewer       show the replay of the event file, wait, then report\n"
     "  -O<folder>    where the unattended modes write (default: the file's folder)\n"
     "  -W<fd>        also write the completion code to this open file descriptor\n"
     "  -T<seconds>   how long viewer mode waits before it reports\n"
     "\n"
     "Switches spelled exactly so:\n"
     "  --lang ko|en  speak Korean (ko) or English (en) (default: the \"language\"\n"
     "                setting, else the locale; the unattended modes: the locale)\n"
     "  --            every later argument is a file\n"
     "  --help        show this help and exit\n"
     "  --version     show the version and exit\n"
     "\n"
     "Completion codes of the unattended modes (exit status and a line on\n"
     "standard output): 8 rendered, 9 an output could not be written, 10 the\n"
     "file could not be opened or played (marker <name>.bad), 11 the file is\n"
     "protected (marker <name>.prt), 13 viewer finished.\n"},
    {TextId::OpenImageFilter,
     "이미지 파일 (*.bmp *.jpg *.jpeg *.png *.psd);;Windows bitmap (*.bmp);;JPEG format (*.jpg *.jpeg);;"
     "PNG format (*.png);;PSD format (*.psd);;모든 파일 (*)",
     "Image files (*.bmp *.jpg *.jpeg *.png *.psd);;Windows bitmap (*.bmp);;JPEG format (*.jpg *.jpeg);;"
     "PNG format (*.png);;PSD format (*.psd);;All files (*)"},
    {TextId::RenderNeedsFile, "렌더 모드에는 이벤트 파일이 필요합니다",
     "render mode needs an event file"},
    {TextId::RenderIgnoresFile, "렌더 모드는 파일 하나만 재생합니다; %s 는 무시합니다",
     "render mode plays one file; %s is ignored"},
    {TextId::RenderCannotOpen, "%s 을(를) 열 수 없습니다: %s",
     "cannot open %s: %s"},
    {TextId::RenderCannotReplay, "%s: 이 빌드는 아직 이벤트 파일을 재생할 수 없습니다",
     "%s: this build cannot replay event files yet"},
    {TextId::ViewerNeedsFile, "뷰어 모드에는 이벤트 파일이 필요합니다",
     "viewer mode needs an event file"},
    {TextId::CannotWriteMarker, "%s 을(를) 쓸 수 없습니다: %s",
     "cannot write %s: %s"},
    {TextId::CannotReport, "디스크립터 %d 에 보고할 수 없습니다: %s",
     "cannot report to descriptor %d: %s"},
    {TextId::CannotWriteSettings, "설정을 %s 에 쓸 수 없습니다",
     "cannot write the settings to %s"},
    {TextId::NotRegularFile, "일반 파일이 아닙니다",
     "not a regular file"},
    {TextId::CannotOpenDisplay, "디스플레이를 열 수 없습니다: %s",
     "cannot open a display: %s"},
    {TextId::DisplayNotSet, " (DISPLAY 가 설정되어 있지 않습니다)",
     " (DISPLAY is not set)"},
    {TextId::FileErrorUnknown, "알 수 없는 오류 (%d)",
     "unknown error (%d)"},
    {TextId::FileErrorCannotOpen, "파일이 없거나, 읽을 권한이 없거나, 일반 파일이 아닙니다",
     "the file is missing, not readable or not a regular file"},
    {TextId::FileErrorReadFailed, "시스템이 파일 읽기를 거부했습니다",
     "the system could not read the file"},
    {TextId::FileErrorWriteFailed, "시스템이 파일 쓰기를 거부했습니다",
     "the system could not write the file"},
    {TextId::FileErrorTruncated, "파일이 도중에 끝납니다",
     "the file ends too early"},
    {TextId::FileErrorNotThisFormat, "이 형식의 파일이 아닙니다",
     "the file is not of this format"},
    {TextId::FileErrorCorrupt, "파일의 내용이 손상되었습니다",
     "the file's contents are damaged"},
    {TextId::FileErrorUnsupported, "지원하지 않는 종류의 파일입니다",
     "a kind of file this program does not read"},
    {TextId::FileErrorTooLarge, "그림이나 파일이 너무 큽니다",
     "the picture or the file is too large"},
    {TextId::FileErrorOutOfMemory, "메모리 부족",
     "out of memory"},
    {TextId::FileErrorBadArgument, "프로그램 내부 오류 (잘못된 인수)",
     "an error inside the program (an unusable argument)"},
    {TextId::FileErrorWrongLength, "압축된 데이터의 길이가 맞지 않습니다",
     "compressed data of the wrong length"},
    {TextId::DetailImageSize, "그림 크기 %d x %d: 한 변은 %d 픽셀까지입니다",
     "a picture of %d x %d pixels; at most %d a side"},
    {TextId::DetailBmpHeader, "지원하지 않는 BMP 헤더 (%d 바이트)",
     "unsupported BMP header of %d bytes"},
    {TextId::DetailBmpBitDepth, "지원하지 않는 BMP 비트 깊이 %d",
     "unsupported BMP bit depth %d"},
    {TextId::DetailBmpCompression, "지원하지 않는 BMP 압축 방식 %d",
     "unsupported BMP compression %d"},
    {TextId::DetailBmpMasks, "지원하지 않는 BMP 색 마스크",
     "unsupported BMP colour masks"},
    {TextId::DetailPngDecoder, "PNG 디코더 오류: %s",
     "PNG decoder: %s"},
    {TextId::DetailPngLayout, "지원하지 않는 PNG 픽셀 형식",
     "unsupported PNG pixel layout"},
    {TextId::DetailJpegDecoder, "JPEG 디코더 오류: %s",
     "JPEG decoder: %s"},
    {TextId::DetailJpegColourSpace, "지원하지 않는 JPEG 색 공간 %d",
     "unsupported JPEG colour space %d"},
    {TextId::DetailJpegScans, "JPEG 스캔이 %d 개를 넘습니다",
     "more than %d JPEG scans"},
    {TextId::InstanceRunsAlone, "%s; 이 프로그램은 따로 실행됩니다",
     "%s; this instance runs on its own"},
    {TextId::InstanceCannotLock, "%s 을 잠글 수 없습니다; 이 프로그램은 따로 실행됩니다",
     "cannot lock %s; this instance runs on its own"},
    {TextId::DetailImagePixels, "그림 크기 %d x %d: %d 픽셀까지입니다",
     "a picture of %d x %d pixels; at most %d pixels"},
    {TextId::DetailText, "%s",
     "%s"},
    {TextId::PsdBackgroundName, "배경", "배경", kData},
    {TextId::DetailPsdNoLayerChannel, "레이어 %d에는 읽을 수 있는 채널이 없습니다",
     "layer %d has no channel that can be read"},
    {TextId::DetailPsdNoMergedChannel, "합성 이미지에 읽을 수 있는 채널이 없습니다",
     "the merged image has no channel that can be read"},
    {TextId::DetailPsdLayerNotCreated, "레이어 %d을(를) 만들 수 없습니다",
     "layer %d could not be made"},
    {TextId::DetailPsdMaskNotCreated, "채널 %d을(를) 마스크로 만들 수 없습니다",
     "channel %d could not be made a mask"},
    {TextId::DetailPsdWriterNotCreated, "PSD 파일을 쓸 준비를 할 수 없습니다",
     "the PSD writer could not be made"},
    {TextId::DetailFileExists, "파일이 이미 있습니다",
     "the file exists already"},
    {TextId::CannotSaveThisKind, "이 형식으로는 저장할수 없습니다 !",
     "Pictures cannot be saved in this format !"},
    {TextId::SavedBmp, "이미지를 BMP 포멧으로 저장하였습니다",
     "The picture was saved in BMP format"},
    {TextId::SavedJpeg, "이미지를 JPEG 포멧으로 저장하였습니다",
     "The picture was saved in JPEG format"},
    {TextId::SavedInFormat, "%s 포멧으로 이미지 저장",
     "Picture saved in %s format"},
    {TextId::UnknownFormat, "%s는 알려지지 않은 포멧입니다",
     "%s is an unknown format"},
    {TextId::SaveFailedKind, "저장실패 %s! (err=%d)",
     "Could not save %s! (err=%d)"},
    {TextId::LayerSaveCaption, "레이어 저장",
     "Save Layer"},
    {TextId::LayerSaved, "레이어 저장",
     "Layer saved"},
    {TextId::LayerSaveFailed, "레이어저장 실패 !",
     "Could not save the layer !"},
    {TextId::LayerSaveFilter, "PNG format (*.png);;Windows bitmap (*.bmp)",
     "PNG format (*.png);;Windows bitmap (*.bmp)"},
    {TextId::SaveImageFilter,
     "Windows bitmap (*.bmp);;JPEG format (*.jpg);;PNG format (*.png);;PSD format (*.psd);;all files (*)",
     "Windows bitmap (*.bmp);;JPEG format (*.jpg);;PNG format (*.png);;PSD format (*.psd);;all files (*)"},
    {TextId::CmdFileSaveAs, "새 이름으로 저장(&A)...",
     "Save &As..."},
    {TextId::HintFileSaveAs, "현재 편집중의 화상에 이름을 붙여 보존 합니다",
     "Saves the picture being edited under a new name"},
    {TextId::CmdSaveAutoBmp, "연월일 번호로 BMP 저장(&B)",
     "Save as &BMP by Date and Number"},
    {TextId::HintSaveAutoBmp, "현재의 화상을 자동적으로 연월일 번호로 BMP 보존 합니다",
     "Saves the picture as a BMP file named by the date and a number"},
    {TextId::CmdLayerSave, "이미지로 저장(&S)...",
     "&Save as Picture..."},
    {TextId::HintLayerSave, "액티브 레이어를 이미지로 보존 합니다",
     "Saves the active layer as a picture"},
    {TextId::JpegOptionsCaption, "JPEG 옵션",
     "JPEG Options"},
    {TextId::JpegProgressive, "프로그레시브(&P)",
     "&Progressive"},
    {TextId::JpegSmoothing, "스무딩(&S)",
     "&Smoothing"},
    {TextId::JpegQuality, "화질(&Q)",
     "&Quality"},
    {TextId::JpegQualityFree, "직접 지정",
     "Custom"},
    {TextId::JpegQualityVeryHigh, "최고 화질 (%d)",
     "Very high (%d)"},
    {TextId::JpegQualityHigh, "고화질 (%d)",
     "High (%d)"},
    {TextId::JpegQualityStd, "표준 화질 (%d)",
     "Standard (%d)"},
    {TextId::JpegQualityLow, "저화질 (%d)",
     "Low (%d)"},
    {TextId::PsdMasksDropped, "PSD 파일은 채널을 %d개까지 가지므로 마스크 %d개는 저장하지 않았습니다",
     "A PSD file holds at most %d channels here: %d masks were not saved"},
    {TextId::OpenedWithoutRecording, "이 파일은 이벤트를 기록하지 않고 열었습니다",
     "This file was opened without event recording"},
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

std::string_view dataText(TextId id) { return textIn(id, Language::Korean); }

Language language() { return gLanguage; }
void setLanguage(Language l) { gLanguage = l; }

Language languageFromLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  // The first of these that is set and not empty decides, as for messages.
  for (const char* v : {lcAll, lcMessages, lang}) {
    if (!v || !*v) continue;
    // The language part only: "kok_IN" is Konkani.
    const std::string_view name(v);
    const bool korean =
        name.starts_with("ko") && (name.size() == 2 || name[2] == '_' || name[2] == '.' || name[2] == '@');
    return korean ? Language::Korean : Language::English;
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
  return formatMessage(pattern, args.begin(), args.size());
}

std::string formatMessage(std::string_view pattern, const MessageArg* args, size_t count) {
  std::string out;
  out.reserve(pattern.size() + 64);
  const MessageArg* next = args;
  const MessageArg* const end = args + count;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    if (c == '%' && i + 1 < pattern.size() && (pattern[i + 1] == 's' || pattern[i + 1] == 'd') &&
        next != end) {
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
