#pragma once
// Every user text in one place, keyed, in Korean and English. The texts are UTF-8.
//
// Two kinds of text live here. User texts (menus, messages, captions, hints)
// speak the program's language. Data texts are written into papers and event
// streams (default layer and mask names): a paper must record the same bytes
// whichever language made it, so they keep their one Korean form. They are
// the rows marked kData in strings.cpp and the ids marked "data" below.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace vl {

enum class TextId {
  OutOfMemory,         // "메모리 부족 !"
  UnexpectedError,     // "예상치 못한 오류발생 !"
  TileOutOfMemory,     // tile allocation failed
  TileFreeFailed,      // tile release failed
  // Blend mode names, in mode order.
  ModeMultiply,
  ModeAdd,
  ModeSubtract,
  ModeNormal,
  ModeScreen,
  ModeOverlay,
  ModeHardLight,
  ModeSoftLight,
  ModeDifference,
  ModeExclusion,
  ModeDarker,
  ModeLighter,
  ModeBurn,
  ModeDodge,
  ModeHue,
  ModeSaturation,
  ModeColour,
  ModeLuminosity,
  ModeNegaSubtract,
  ModeLinearLight,
  ModeVividLight,
  ModePinLight,
  // Layers.
  LayerDefaultName,    // data: followed by a number, stored in papers
  BadLayerIndex,
  LayerInitFailed,
  LayerMergeFailed,
  UndoStepFailed,
  NewLayerCaption,
  NewLayerCreate,
  NewLayerCancel,
  NewLayerName,
  NewLayerMode,
  NewLayerColour,
  ColourBlack,
  ColourWhite,
  ColourHalfTone,
  KeepTransparency,
  SettingsDamaged,     // settings file damaged, defaults used
  // New canvas dialog.
  NewCanvasCaption,
  NewCanvasTab1,
  NewCanvasTab2,
  NewCanvasTab3,
  NewCanvasTab4,
  NewCanvasTab5,
  NewCanvasTabClipboard,
  UnitPixel,
  UnitInch,
  UnitCm,
  UnitPixelsPerInch,
  NumberUnreadable,
  NumberNegative,
  ValueRequired,       // %s: a field name
  NameWidth,
  NameHeight,
  NameResolution,
  ValueOutOfRangeShown,  // name, value, lowest, highest
  ValueOutOfRange,     // name, lowest, highest
  // Start-up and the main window.
  WarningCaption,
  UnknownSwitch,
  BadSwitchNumber,  // %s: the whole argument
  PaletteMode,  // %s: product name
  CannotOpenFile,
  OpenFailed,  // path, error code
  MenuFile,
  MenuEdit,
  MenuSelection,
  MenuFilter,
  MenuEvent,
  MenuView,
  MenuWindow,
  MenuHelp,
  CmdFileNew,
  HintFileNew,
  CmdFileOpen,
  HintFileOpen,
  CmdFileClose,
  HintFileClose,
  CmdCloseApp,
  HintCloseApp,
  CmdViewZoomIn,
  HintViewZoomIn,
  CmdViewZoomOut,
  HintViewZoomOut,
  CmdViewZoomCancel,
  HintViewZoomCancel,
  CmdWindowCascade,
  HintWindowCascade,
  CmdWindowTileVertical,
  HintWindowTileVertical,
  CmdWindowTileHorizontal,
  HintWindowTileHorizontal,
  CmdWindowMinimizeAll,
  HintWindowMinimizeAll,
  LayerCommandFailed,
  NoBitmapOnClipboard,
  EventFixed,          // the event stream lagged behind undo and was mended
  EventRecordError,
  UndoEventFailed,
  RedoEventFailed,
  NotImplemented,
  LayerWindowCaption,     // "레이어"
  CmdCreateLayerStd,
  CmdDeleteCurLayer,
  CmdLayerDuplicate,
  CmdLayerBindLower,
  LayerOpacityLabel,
  LayerModeLabel,
  LayerTransparencyLock,
  LayerRenameCaption,
  CmdViewAntiAlias,
  HintViewAntiAlias,
  SmoothDisplay,       // status bar: followed by on or off
  SettingOn,
  SettingOff,
  CmdViewRotateLeft,
  HintViewRotateLeft,
  CmdViewRotateRight,
  HintViewRotateRight,
  CmdViewRotateCancel,
  HintViewRotateCancel,
  BrushPen,            // the nine brush kinds, in kind order
  BrushWatercolour,
  BrushBlur,
  BrushEraser,
  BrushBlur2,
  BrushAirbrush,
  BrushSmudge,
  BrushDarken,
  BrushLighten,
  BrushWindowCaption,
  BrushSizeLabel,
  BrushEffectLabel,
  BrushColourLabel,
  BrushSoftEdge,
  // Selections.
  MaskDefaultName,     // data: followed by a number; stored in papers
  MaskFromBrightnessName,  // data: "값(%s)" with the layer's name; stored
  MaskFromAlphaName,   // data: "마스크(%s)" with the layer's name; stored
  MaskCreateFailed,
  MaskExtendFailed,
  SelectionWindowCaption,
  CmdSelectAll,
  HintSelectAll,
  CmdSelectDelete,
  HintSelectDelete,
  CmdSelectInvert,
  HintSelectInvert,
  CmdSelectSplitLayer,
  HintSelectSplitLayer,
  CmdSelectNewLayer,
  HintSelectNewLayer,
  CmdSelectInflate,
  HintSelectInflate,
  CmdSelectDeflate,
  HintSelectDeflate,
  CmdSelectInflate2,
  HintSelectInflate2,
  CmdSelectDeflate2,
  HintSelectDeflate2,
  CmdSelectEnable,
  HintSelectEnable,
  CmdSelectVisible,
  HintSelectVisible,
  CmdSelectCopyLayerMask,
  HintSelectCopyLayerMask,
  CmdSelectInsert,
  HintSelectInsert,
  CmdSelectDuplicate,
  HintSelectDuplicate,
  CmdSelectRemove,
  HintSelectRemove,
  CmdSelectCutOutside,
  HintSelectCutOutside,
  CmdSelectFromLayerMask,
  HintSelectFromLayerMask,
  CmdSelectFromLayerValue,
  HintSelectFromLayerValue,
  SelectInflateCaption,
  SelectDeflateCaption,
  SelectAmountLabel,
  CmdShowPenWindow,
  HintShowPenWindow,
  CmdShowLayerWindow,
  HintShowLayerWindow,
  CmdShowSelectWindow,
  HintShowSelectWindow,
  MemoryLine,
  LayerMemoryCaption,
  CmdEditUndo,
  HintEditUndo,
  CmdEditRedo,
  HintEditRedo,
  CmdEditUndoClear,
  HintEditUndoClear,
  AskUndoClear,
  AskDeleteWithoutUndo,
  UndoLimitChangeFailed,
  // What went wrong with a file, by error code.
  // PSD files: what is not supported, and where a file is damaged.
  PsdLargeDocument,
  PsdDepth,            // %d: bits per channel
  PsdColourMode,       // %s: the mode's name
  PsdModeIndexed,
  PsdModeCmyk,
  PsdModeMultichannel,
  PsdModeDuotone,
  PsdModeLab,
  PsdModeNumber,       // %d: a mode number no program names
  PsdZipData,
  PsdDamaged,          // %s: the part
  PsdCutShort,         // %s: the part
  PsdTooLarge,         // %d x %d
  PsdPartHeader,
  PsdPartColourData,
  PsdPartResources,
  PsdPartLayerInfo,
  PsdPartLayerRecord,  // %d: the layer
  PsdPartLayerChannel, // %d: the layer
  PsdPartImageData,
  EventWriteError,
  EventRecordingStopped,
  PacketError,
  ReplayVersionError,
  // Start-up in two languages.
  BadLanguageSwitch,   // %s: the whole argument
  CommandLineHelp,
  OpenImageFilter,     // the open dialog's file types, Qt's ";;" list
  RenderNeedsFile,
  RenderIgnoresFile,   // %s: the file
  RenderCannotOpen,    // %s: the file, %s: why
  RenderCannotReplay,  // %s: the file
  ViewerNeedsFile,
  CannotWriteMarker,   // %s: the marker file, %s: why
  CannotReport,        // %d: the descriptor, %s: why
  CannotWriteSettings, // %s: the settings file
  NotRegularFile,
  CannotOpenDisplay,   // %s: the platform's reason
  DisplayNotSet,       // follows the platform's reason
  // What went wrong, for every file error code, in code order.
  FileErrorUnknown,    // %d: a code with no text of its own
  FileErrorCannotOpen,
  FileErrorReadFailed,
  FileErrorWriteFailed,
  FileErrorTruncated,
  FileErrorNotThisFormat,
  FileErrorCorrupt,
  FileErrorUnsupported,
  FileErrorTooLarge,
  FileErrorOutOfMemory,
  FileErrorBadArgument,
  FileErrorWrongLength,
  // A reader's own word on why it refused a file (failure_detail.h).
  DetailImageSize,     // %d x %d: the picture's size, %d: the largest side
  DetailBmpHeader,     // %d: the header size
  DetailBmpBitDepth,   // %d: bits per pixel
  DetailBmpCompression,  // %d: the compression number
  DetailBmpMasks,
  DetailPngDecoder,    // %s: the decoder's own message
  DetailPngLayout,
  DetailJpegDecoder,   // %s: the decoder's own message
  DetailJpegColourSpace,  // %d: the colour space number
  DetailJpegScans,     // %d: the most scans read
  InstanceRunsAlone,
  InstanceCannotLock,
  DetailImagePixels,
  ExportUnknownKind,
  ExportWriteFailed,
  ExportCannotRead,
  ExportCannotReplay,
  ExportNeedsFiles,
  ExportNeedsFolder,
  AskStopReplay,
  ReplayWord,
  ReplayCaption,
  ReplayPausedCaption,
  ReplayFinished,
  ReplayStopped,
  ReplayEndCaption,
  ReplayEndCaptionNoRecording,
  ReplayOpenFailed,
  ReplayPacketCheckFailed,
  ReplayVersionFailed,
  ReplayProtectedFailed,
  EventFileOpenFailed,
  ReplayStatus,
  CmdFileOpenEvent,
  HintFileOpenEvent,
  CmdFileSaveEvent,
  HintFileSaveEvent,
  CmdFileSaveEventGuard,
  HintFileSaveEventGuard,
  CmdEventRecStop,
  HintEventRecStop,
  CmdEventPlayPause,
  HintEventPlayPause,
  CmdEventPlayResume,
  HintEventPlayResume,
  CmdEventPlayStop,
  HintEventPlayStop,
  CmdEventWait,
  HintEventWait,
  CmdEventReplayHere,
  HintEventReplayHere,
  CmdEventSeek,
  HintEventSeek,
  CmdEventStepStroke,
  HintEventStepStroke,
  CmdEventUncapped,
  HintEventUncapped,
  SeekCaption,
  SeekLabel,
  AskProtectedSave,
  ProtectScanFailed,
  AlreadyProtected,
  ProtectFailed,
  UnprotectFailed,
  AskStopRecording,
  AskSaveEventsFirst,
  EventSaveFailed,
  EventFormat,
  AllEventFormats,
  // The native paper file and the file commands.
  SavePartFailed,      // %s: layer or mask, %s: its name, %d: the code
  ReadPartFailed,      // %s: layer or mask, %d: the code
  PartLayer,
  PartMask,
  IgnoredBlocks,       // %d: how many, %s: the last unknown id
  EventReadError,
  SaveFailed,          // %s: the path, %d: the code
  AskSaveChanges,      // %s: the paper's name
  CmdFileSave,
  HintFileSave,
  CmdFileSaveAs,
  HintFileSaveAs,
  SavePaperFilter,     // the save dialog's file types, Qt's ";;" list
  DetailLayerImage,    // %d x %d: a layer's or mask's image size
  DetailTileRuns,
  // Why the single-instance exchange cannot be used (standard error).
  InstanceCannotMake,
  InstanceCannotExamine,
  InstanceNotFolder,
  InstanceOtherOwner,
  InstanceOpenToOthers,
  InstanceNotUsable,
  InstanceNotSocket,
  InstanceNameTooLong,
  InstanceNoSocket,
  InstanceListening,
  InstanceCannotRemove,
  InstanceCannotListen,
  ReportChannelNotOpen,  // %d: the descriptor
  // The oldest drawings.
  OldestEventError,
  OldestEventsIgnored,
  UnknownOldestFormat,  // an oldest stream or paper of no known kind
  OldestNotYetPlayable,  // %s: what the event does, %d: its code
  OldestOpFill,
  OldestOpGradation,
  OldestOpCanvasSize,
  OldestOpResize,
  OldestOpRotate,
  OldestNoLayer,         // event number, code, layer
  OldestStepFailed,      // event number, code
  OldestTooManyLayers,   // event number, code, most layers
  // Pictures and PSD files as papers.
  DetailText,          // %s: a reader's own words
  PsdBackgroundName,   // data: "배경", the name of a file's first layer without one
  DetailPsdNoLayerChannel,    // %d: the layer
  DetailPsdNoMergedChannel,
  DetailPsdLayerNotCreated,   // %d: the layer
  DetailPsdMaskNotCreated,    // %d: the extra channel
  DetailPsdWriterNotCreated,
  DetailFileExists,
  CannotSaveThisKind,
  SavedBmp,
  SavedJpeg,
  SavedInFormat,       // %s: the format
  UnknownFormat,       // %s: the extension
  SaveFailedKind,      // %s: the format, %d: the code
  LayerSaveCaption,
  LayerSaved,
  LayerSaveFailed,
  LayerSaveFilter,     // Qt's ";;" list
  SaveImageFilter,     // Qt's ";;" list
  CmdSaveAutoBmp,
  HintSaveAutoBmp,
  CmdLayerSave,
  HintLayerSave,
  JpegOptionsCaption,
  JpegProgressive,
  JpegSmoothing,
  JpegQuality,
  JpegQualityFree,
  JpegQualityVeryHigh,  // %d: its quality
  JpegQualityHigh,      // %d
  JpegQualityStd,       // %d
  JpegQualityLow,       // %d
  PsdMasksDropped,      // %d: channels a file holds, %d: masks left out
  OpenedWithoutRecording,
  PngOptionsCaption,
  PngLevel,
  PngLevelAuto,
  PngLevelHint,
  Count
};

enum class Language { Korean, English };

// The text in the program's language; data texts (stored in files) always
// in their one form.
std::string_view text(TextId id);
std::string_view textIn(TextId id, Language language);
bool isDataText(TextId id);
// A data text's one form, for code that writes it into a paper or an event
// stream: the same bytes whatever the language.
std::string_view dataText(TextId id);

// The language every text() call speaks; Korean until set.
Language language();
void setLanguage(Language language);
// Korean for a "ko…" locale, English otherwise, from the locale variables in
// the order the C library reads them for messages.
Language languageFromLocale(const char* lcAll, const char* lcMessages, const char* lang);
// "ko" or "en".
bool parseLanguage(std::string_view name, Language& out);

// One "%s" or "%d" argument of formatMessage.
struct MessageArg {
  MessageArg(std::string_view text) : s(text) {}
  MessageArg(const char* text) : s(text) {}
  MessageArg(const std::string& text) : s(text) {}
  MessageArg(int64_t value) : d(value), isInt(true) {}
  MessageArg(int value) : d(value), isInt(true) {}
  std::string_view s;
  int64_t d = 0;
  bool isInt = false;
};

// Fills the pattern's "%s" and "%d" in order and turns "%%" into '%'; a
// pattern without enough arguments keeps the rest of its '%' signs.
std::string formatMessage(std::string_view pattern, std::initializer_list<MessageArg> args);
std::string formatMessage(std::string_view pattern, const MessageArg* args, size_t count);

}  // namespace vl
