#include "document/paper_catalogue.h"

namespace vl {
namespace {

using enum UndoClass;

constexpr PaperOpEntry kCatalogue[] = {
    {PaperOp::SetPaperColor, "setPaperColor", kEventPaper, 1, 17, Attribute},
    {PaperOp::TransformFlipHorizontal, "transformVisible flip horizontal", kEventPaper, 16, 12, Layer},
    {PaperOp::TransformFlipVertical, "transformVisible flip vertical", kEventPaper, 17, 13, Layer},
    {PaperOp::TransformNegate, "transformVisible negate", kEventPaper, 19, 14, Layer},
    {PaperOp::TransformRotate180, "transformVisible rotate 180", kEventPaper, 18, 15, Layer},
    {PaperOp::LayerFlipHorizontal, "layerCommand flip horizontal", kEventLayer, 32, 7, Layer},
    {PaperOp::LayerFlipVertical, "layerCommand flip vertical", kEventLayer, 33, 8, Layer},
    {PaperOp::LayerNegate, "layerCommand negate", kEventLayer, 35, 9, Layer},
    {PaperOp::LayerRotate180, "layerCommand rotate 180", kEventLayer, 34, 10, Layer},
    {PaperOp::ClearLayer, "clearLayer", kEventLayer, 2, 2, Rect},
    {PaperOp::FillLayerAlpha, "fillLayerAlpha", kEventLayer, 24, 16, LayerWithData},
    {PaperOp::InvertLayerAlpha, "invertLayerAlpha", kEventLayer, 25, 11, Layer},
    {PaperOp::InsertLayer, "insertLayer", kEventLayer, 0, 26, Object},
    {PaperOp::InsertLayerWithContent, "insertLayerWithContent", kEventLayer, 11, 26, Object},
    {PaperOp::DeleteLayer, "deleteLayer", kEventLayer, 1, 27, Object},
    {PaperOp::DuplicateLayer, "duplicateLayer", kEventLayer, 3, 28, Object},
    {PaperOp::MoveLayer, "moveLayer", kEventLayer, 4, 30, Object},
    {PaperOp::RenameLayer, "renameLayer", kEventLayer, 19, 24, Attribute},
    {PaperOp::MergeDown, "mergeDown", kEventLayer, 5, 31, Object},
    {PaperOp::MergeDownWithMode, "mergeDownWithMode", kEventLayer, 10, 31, Object},
    {PaperOp::SetVisible, "setLayerVisible", kEventLayer, 18, 21, Attribute},
    {PaperOp::SetOpacity, "setLayerOpacity", kEventLayer, 17, 18, Attribute},
    {PaperOp::SetDissolve, "setLayerDissolve", kEventLayer, 21, 19, Attribute},
    {PaperOp::SetBlendMode, "setLayerMode", kEventLayer, 16, 20, Attribute},
    {PaperOp::SetMaskLock, "setMaskLock", kEventLayer, 20, 25, Attribute},
    {PaperOp::ShowOnly, "showOnly", kEventPaper, 25, 37, Object},
    {PaperOp::ShowHideAll, "showAll", kEventPaper, 24, 38, Object},
    {PaperOp::InvertVisibility, "invertVisibility", kEventPaper, 26, 39, Object},
    {PaperOp::OffsetLayer, "offsetLayer", kEventLayer, 6, 22, Attribute},
    {PaperOp::OffsetLayerGrowing, "offsetLayer growing", kEventLayer, 7, 33, Object},
    {PaperOp::CutOutside, "cutOutside", kEventLayer, 8, 35, Object},
    {PaperOp::PasteAsNewLayer, "pasteAsNewLayer", kEventImage, 1, 29, Object},
    {PaperOp::PasteIntoLayer, "pasteIntoLayer", kEventImage, 0, 5, Rect},
    // The stroke's packets carry its points; their codes are the point counts.
    {PaperOp::Stroke, "stroke", kEventStrokeLast, 0, 3, Rect},
    {PaperOp::CutSelection, "cutSelection", kEventLayer, 9, 16, LayerWithData},
    {PaperOp::MaskNew, "newMask", kEventMask, 0, 44, Mask},
    {PaperOp::MaskClear, "clearMask", kEventMask, 1, 47, Mask},
    {PaperOp::MaskDelete, "deleteMask", kEventMask, 2, 46, Mask},
    {PaperOp::MaskInvert, "invertMask", kEventMask, 3, 47, Mask},
    {PaperOp::MaskInvertInPlace, "invertMask in place", kEventMask, 3, 50, Mask},
    {PaperOp::MaskDuplicate, "duplicateMask", kEventMask, 4, 44, Mask},
    {PaperOp::MaskSetCurrent, "setCurrentMask", kEventMask, 5, 48, Mask},
    {PaperOp::MaskTrim, "trimMask", kEventMask, 6, 47, Mask},
    {PaperOp::MaskMove, "moveMask", kEventMask, 7, 49, Mask},
    {PaperOp::MaskMoveOrigin, "moveMaskOrigin", kEventMask, 8, 51, Mask},
    {PaperOp::MaskCombine, "combineMasks", kEventMask, 9, 53, Mask},
    {PaperOp::MaskGrowShrinkOne, "growShrinkMask", kEventMask, 10, 47, Mask},
    {PaperOp::MaskSplitClearing, "splitSelection clearing", kEventMask, 11, 36, Object},
    {PaperOp::MaskRename, "renameMask", kEventMask, 12, 54, Mask},
    {PaperOp::MaskSetVisible, "setSelectionVisible", kEventMask, 13, 52, Mask},
    {PaperOp::MaskSetEnabled, "setSelectionEnabled", kEventMask, 14, 52, Mask},
    {PaperOp::MaskSelectAll, "selectAll", kEventMask, 20, 47, Mask},
    {PaperOp::MaskToLayerAlpha, "copyMaskToLayerAlpha", kEventMask, 21, 16, LayerWithData},
    {PaperOp::MaskFromLayer, "maskFromLayer", kEventMask, 22, 45, Mask},
    {PaperOp::MaskSplit, "splitSelection", kEventMask, 24, 36, Object},
    {PaperOp::MaskGrowBy, "growMaskBy", kEventMask, 25, 47, Mask},
    {PaperOp::MaskShrinkBy, "shrinkMaskBy", kEventMask, 26, 47, Mask},
    // Part of opening a paper, so it leaves no undo record; the row names
    // the paste's kind for completeness.
    {PaperOp::PasteOpenedImage, "pasteOpenedImage", kEventImage, 2, 5, Rect},
};
static_assert(std::size(kCatalogue) == size_t(PaperOp::Count));

constexpr bool inOrder() {
  for (size_t i = 0; i < std::size(kCatalogue); ++i)
    if (size_t(kCatalogue[i].op) != i) return false;
  return true;
}
static_assert(inOrder(), "catalogue rows follow the enumeration");

}  // namespace

const PaperOpEntry& paperOpEntry(PaperOp op) { return kCatalogue[size_t(op)]; }

}  // namespace vl
