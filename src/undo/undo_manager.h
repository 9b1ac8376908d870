#pragma once
// Undo and redo. A manager keeps two lists of records, newest first: the
// undo side and the redo side. Stepping a record moves it to the other side;
// what it owns follows from where it is, because every record holds exactly
// the objects the paper does not hold at that moment.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "document/paper.h"
#include "document/paper_hooks.h"

namespace vl {

// One record.
struct CUndoData {
  uint8_t captured = 0;  // holds its data
  uint8_t applied = 0;   // its change is in the paper now (on the undo side)
  UndoEntry entry;
  int64_t bytes = 0;     // memory it holds

  // Records holding pixels, and kinds flagged to count, are limited by the undo limit.
  bool Counts() const;
  void Measure();
};

// Newest first. An uncounted list holds at most its capacity; a counted one
// is limited by its manager.
class CUndoList {
 public:
  CUndoList(bool counted, int32_t capacity) : counted(counted), capacity(capacity) {}

  int32_t Count() const { return int32_t(items.size()); }
  bool Empty() const { return items.empty(); }
  // Records that count against the limit.
  int32_t CountedRecords() const;
  int64_t Bytes() const;
  void PushNewest(std::unique_ptr<CUndoData> r);
  std::unique_ptr<CUndoData> TakeNewest();
  void DropOldest() { items.pop_back(); }
  void Clear() { items.clear(); }
  CUndoData* Newest() const { return items.empty() ? nullptr : items.front().get(); }

  bool counted;
  int32_t capacity;

 private:
  std::deque<std::unique_ptr<CUndoData>> items;
};

// The rectangle-only manager that each layer of the oldest drawings keeps
// (eight steps each way), and the base of the paper's manager.
class CUndoMngr : public LayerOwnUndo {
 public:
  CUndoMngr(int32_t undoLimit, int32_t redoLimit);
  ~CUndoMngr() override = default;

  bool Enabled() const { return undoLimit > 0; }
  bool CanUndoStep() const { return !undoList.Empty(); }
  bool CanRedoStep() const { return !redoList.Empty(); }
  int32_t UndoCount() const { return undoList.Count(); }
  int32_t RedoCount() const { return redoList.Count(); }
  int32_t UndoLimit() const { return undoLimit; }
  int32_t RedoLimit() const { return redoLimit; }

  // Drops the oldest undo records beyond the limit.
  virtual void Trim();
  // Adds a record to a side; pushing to the undo side empties the redo side.
  virtual bool PushUndo(std::unique_ptr<CUndoData> r);
  virtual bool PushRedo(std::unique_ptr<CUndoData> r);
  void ClearUndo() { undoList.Clear(); }
  void ClearRedo() { redoList.Clear(); }
  void ClearAll();
  // A limit of 0 or less turns undo off; redo never exceeds undo. Records
  // beyond the new limits go at once.
  void SetLimits(int32_t undo, int32_t redo);
  int64_t MemoryBytes() const { return undoList.Bytes() + redoList.Bytes(); }

  // LayerOwnUndo: rectangles of one layer's image.
  bool PushRect(const CBlockVMTC& image, Area rect) override;
  bool UndoRect(CBlockVMTC& image, Area& rect) override { return stepRect(image, rect, true); }
  bool RedoRect(CBlockVMTC& image, Area& rect) override { return stepRect(image, rect, false); }
  int64_t MemoryUsed() const override { return MemoryBytes(); }
  void Clear() override { ClearAll(); }

 protected:
  // Frees the oldest records of a counted list until it holds fewer than `limit` counted ones.
  static void fitCounted(CUndoList& list, int32_t limit);
  bool stepRect(CBlockVMTC& image, Area& rect, bool undo);

  int32_t undoLimit = 0, redoLimit = 0;
  CUndoList undoList, redoList;
};

// The paper's manager: counted lists, the limit plus a spare of records that
// do not count, and the swaps of every record class through the paper.
class CUndoMngrEx : public CUndoMngr, public PaperUndoHook {
 public:
  static constexpr int32_t kSpare = 32;
  CUndoMngrEx(TPaper& paper, int32_t spare, int32_t undoLimit, int32_t redoLimit);

  void Trim() override;
  bool PushUndo(std::unique_ptr<CUndoData> r) override;

  // PaperUndoHook.
  bool Enabled() const override { return CUndoMngr::Enabled(); }
  bool CanUndo() const override { return CanUndoStep(); }
  bool CanRedo() const override { return CanRedoStep(); }
  int32_t UndoCount() const override { return CUndoMngr::UndoCount(); }
  // Builds the record of the entry's class; false (with "메모리 부족 !") when
  // memory runs out, and when undo is off.
  bool Push(UndoEntry&& entry) override;
  bool Undo(UndoOutcome& out) override { return step(out, true); }
  bool Redo(UndoOutcome& out) override { return step(out, false); }
  void TrimTo(int32_t count) override;
  void Clear() override { ClearAll(); }
  int64_t MemoryUsed() const override { return MemoryBytes(); }
  std::unique_ptr<LayerOwnUndo> MakeLayerUndo() override;
  // Steps each way of a layer's own undo.
  static constexpr int32_t kLayerUndoSteps = 8;

 private:
  bool step(UndoOutcome& out, bool undo);

  TPaper& paper;
  int32_t spare;
};

// "레이어: %dKB, 실행취소: %dKB" for a paper.
std::string memoryLine(const TPaper& paper);

}  // namespace vl
