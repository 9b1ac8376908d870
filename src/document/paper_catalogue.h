#pragma once
// Every recorded change of a paper, with the packet it writes and the undo
// record it leaves. A new operation is one enumerator and one table row.
#include <cstdint>

#include "document/paper_hooks.h"

namespace vl {

enum class PaperOp : uint8_t {
  SetPaperColor,
  TransformFlipHorizontal,
  TransformFlipVertical,
  TransformNegate,
  TransformRotate180,
  LayerFlipHorizontal,
  LayerFlipVertical,
  LayerNegate,
  LayerRotate180,
  ClearLayer,
  FillLayerAlpha,
  InvertLayerAlpha,
  InsertLayer,
  InsertLayerWithContent,
  DeleteLayer,
  DuplicateLayer,
  MoveLayer,
  RenameLayer,
  MergeDown,
  MergeDownWithMode,
  SetVisible,
  SetOpacity,
  SetDissolve,
  SetBlendMode,
  SetMaskLock,
  ShowOnly,
  ShowHideAll,
  InvertVisibility,
  OffsetLayer,
  OffsetLayerGrowing,
  CutOutside,
  PasteAsNewLayer,
  PasteIntoLayer,
  Stroke,
  CutSelection,
  MaskNew,
  MaskClear,
  MaskDelete,
  MaskInvert,
  MaskInvertInPlace,
  MaskDuplicate,
  MaskSetCurrent,
  MaskTrim,
  MaskMove,
  MaskMoveOrigin,
  MaskCombine,
  MaskGrowShrinkOne,
  MaskSplitClearing,
  MaskRename,
  MaskSetVisible,
  MaskSetEnabled,
  MaskSelectAll,
  MaskToLayerAlpha,
  MaskFromLayer,
  MaskSplit,
  MaskGrowBy,
  MaskShrinkBy,
  PasteOpenedImage,
  Count
};

struct PaperOpEntry {
  PaperOp op;
  const char* name;
  uint8_t category;  // event packet header
  uint8_t code;
  uint8_t undoKind;
  UndoClass undoClass;
};

const PaperOpEntry& paperOpEntry(PaperOp op);

// Event categories of paper operations.
inline constexpr uint8_t kEventPaper = 2;
inline constexpr uint8_t kEventLayer = 4;
inline constexpr uint8_t kEventMask = 10;
inline constexpr uint8_t kEventImage = 12;
inline constexpr uint8_t kEventStrokeLast = 18;

}  // namespace vl
