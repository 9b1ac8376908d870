#pragma once
// The kinds of undo record: which builder a kind needs and what the paper
// must refresh after stepping it. Flag 0x10 makes a kind count against the
// undo limit as pixel records do; 0x20 marks a kind that keeps a data block.
#include <cstdint>

#include "document/paper_hooks.h"

namespace vl {

inline constexpr int kUndoKindCount = 55;
inline constexpr uint16_t kUndoCounts = 0x10;
inline constexpr uint16_t kUndoOwnsData = 0x20;

struct UndoKindInfo {
  UndoClass cls;
  uint16_t flags;  // also the reaction word of a step
};

// None with flags 0 for a kind outside 0 … 54.
UndoKindInfo undoKindInfo(int kind);

}  // namespace vl
