#pragma once
// Hooks that keep every packet and undo record a paper hands on, for tests
// of the paper operations.
#include <cstdint>
#include <vector>

#include "document/paper.h"

namespace vl {

struct Packet {
  uint8_t category, code;
  std::vector<uint8_t> payload;
};
struct Pushed {
  uint8_t kind;
  UndoClass cls;
  int32_t layerIndex;
  bool hasObject;
};

// Keeps every packet and undo record it is given.
struct Log {
  std::vector<Packet> packets;
  std::vector<Pushed> pushed;
  UndoOutcome next;
  int undos = 0;
};

class CapturingEvents : public PaperEventHook {
 public:
  explicit CapturingEvents(Log& l) : log(l) {}
  bool Recording() const override { return true; }
  bool Record(EventPacket&& p) override {
    log.packets.push_back({p.category, p.code, p.payload});
    return true;
  }
  int32_t EventCount() const override { return int32_t(log.packets.size()); }
  Log& log;
};

class CapturingUndo : public PaperUndoHook {
 public:
  explicit CapturingUndo(Log& l) : log(l) {}
  bool Enabled() const override { return true; }
  bool CanUndo() const override { return !log.pushed.empty(); }
  int32_t UndoCount() const override { return int32_t(log.pushed.size()); }
  bool Push(UndoEntry&& e) override {
    log.pushed.push_back({e.kind, e.cls, e.layerIndex, e.object != nullptr});
    return true;
  }
  bool Undo(UndoOutcome& out) override {
    ++log.undos;
    out = log.next;
    return true;
  }
  Log& log;
};

inline uint16_t u16At(const std::vector<uint8_t>& p, size_t at) { return uint16_t(p[at] | p[at + 1] << 8); }
inline int32_t i32At(const std::vector<uint8_t>& p, size_t at) {
  return int32_t(uint32_t(p[at]) | uint32_t(p[at + 1]) << 8 | uint32_t(p[at + 2]) << 16 | uint32_t(p[at + 3]) << 24);
}

}  // namespace vl
