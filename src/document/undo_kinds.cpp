#include "document/undo_kinds.h"

namespace vl {
namespace {

using enum UndoClass;

constexpr UndoKindInfo kKinds[kUndoKindCount] = {
    // 0 … 6: rectangles of a layer (1 shape fill, 2 clear, 3 stroke, 5 paste into, 6 filter).
    {Rect, 0}, {Rect, 0}, {Rect, 0}, {Rect, 0}, {Rect, 0}, {Rect, 0}, {Rect, 0},
    // 7 … 11: a layer command, the alpha inverted.
    {Layer, 0}, {Layer, 0}, {Layer, 0}, {Layer, 0}, {Layer, 0},
    // 12 … 15: every visible layer transformed.
    {Layer, 0x1}, {Layer, 0x1}, {Layer, 0x1}, {Layer, 0x1},
    // 16: the alpha filled or taken from a mask.
    {LayerWithData, 0x30},
    // 17 … 25: attributes.
    {Attribute, 0x1},      // paper colour
    {Attribute, 0xC01},    // opacity
    {Attribute, 0xC01},    // dissolve
    {Attribute, 0xC01},    // blend mode
    {Attribute, 0xE01},    // visible
    {Attribute, 0x1},      // offset
    {Attribute, 0x1C0},    // offset with mask
    {Attribute, 0x1040},   // rename
    {Attribute, 0x40},     // maskLock
    // 26 … 43: objects.
    {Object, 0x11},   // insert
    {Object, 0x11},   // delete
    {Object, 0x11},   // duplicate
    {Object, 0x11},   // paste as new layer
    {Object, 0x1},    // move in order
    {Object, 0x19},   // merge down
    {Object, 0x11},   // merge visible
    {Object, 0x13},   // offset with growth
    {Object, 0x193},  // offset with growth and mask
    {Object, 0x11},   // layer replaced
    {Object, 0x31},   // selection to a new layer
    {Object, 0x1},    // show only
    {Object, 0x1},    // show or hide all
    {Object, 0x1},    // invert visibility
    {Object, 0x3},    // rotate paper
    {Object, 0x17},   // canvas size
    {Object, 0x17},   // resize image
    {Object, 0x17},   // crop
    // 44 … 54: masks.
    {Mask, 0x190},   // added
    {Mask, 0x190},   // made from a layer
    {Mask, 0x190},   // deleted
    {Mask, 0x190},   // replaced
    {Mask, 0x180},   // current set
    {Mask, 0x180},   // moved in the list
    {Mask, 0x180},   // inverted in place
    {Mask, 0x180},   // origin moved
    {Mask, 0x80},    // shown, in use
    {Mask, 0x190},   // combined
    {Mask, 0x1000},  // renamed
};

}  // namespace

UndoKindInfo undoKindInfo(int kind) {
  if (kind < 0 || kind >= kUndoKindCount) return {UndoClass::None, 0};
  return kKinds[kind];
}

}  // namespace vl
