// Arbitrary bytes as an oldest event stream. The walk refuses them or keeps
// packets that lie inside the bytes; what it keeps encodes (plain and
// protected) and walks again to the same operations; and a small stream
// replays to its end or to an error with a reason, never further.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "events/oldest_player.h"
#include "events/oldest_stream.h"
#include "platform/ui_services.h"

namespace {

// Replays cost what their strokes walk: papers and paths are kept small.
constexpr int32_t kMostSide = 96;
constexpr int64_t kMostWalk = 100000;

// The unit steps the strokes of a stream walk, about.
int64_t walkOf(const vl::TEventPacket& s) {
  int64_t walk = 0;
  for (size_t i = 0; i < s.Count(); ++i) {
    const vl::OldestPacket& p = s.At(i);
    if (p.code > vl::oldest::kStrokeLast) continue;
    const uint8_t* q = s.Payload(p) + vl::oldest::kPenSettingsBytes;
    const uint32_t n = uint32_t(q[6] | q[7] << 8);
    int32_t x = int16_t(q[0] | q[1] << 8), y = int16_t(q[2] | q[3] << 8);
    for (uint32_t k = 0; k < n; ++k) {
      const uint8_t* pt = q + 8 + 6 * k;
      const int32_t nx = int16_t(pt[0] | pt[1] << 8), ny = int16_t(pt[2] | pt[3] << 8);
      walk += 2 * std::max(std::abs(nx - x), std::abs(ny - y)) + 1;
      x = nx, y = ny;
    }
  }
  return walk;
}

std::vector<std::vector<uint8_t>> operations(const vl::TEventPacket& s) {
  std::vector<std::vector<uint8_t>> out;
  for (size_t i = 0; i < s.Count(); ++i) {
    const vl::OldestPacket& p = s.At(i);
    if (vl::oldest::isMarker(p.code)) continue;
    std::vector<uint8_t> v = {uint8_t(p.code), uint8_t(p.code >> 8)};
    v.insert(v.end(), s.Payload(p), s.Payload(p) + p.size);
    out.push_back(std::move(v));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vl::HeadlessUi quiet(false, false);
  vl::setUi(&quiet);
  quiet.warnings.clear();
  vl::TEventPacket s;
  if (!s.Load(data, size)) {
    if (s.Count() != 0 || s.Fault() == vl::oldest::StreamFault::None) __builtin_trap();
    return 0;
  }
  if (s.Count() == 0 || (s.At(0).code != vl::oldest::kNewPaper && s.At(0).code != vl::oldest::kNewPaper2))
    __builtin_trap();
  for (size_t i = 0; i < s.Count(); ++i) {
    const vl::OldestPacket& p = s.At(i);
    if (p.at < 2 || uint64_t(p.at) + p.size > size) __builtin_trap();
  }
  if (s.MaxWidth() < 1 || s.MaxWidth() > 10000 || s.MaxHeight() < 1 || s.MaxHeight() > 10000) __builtin_trap();

  std::vector<uint8_t> plain;
  if (!s.Encode(false, 0, plain)) __builtin_trap();
  vl::TEventPacket again;
  if (!again.Load(plain) || operations(again) != operations(s) || again.Markers() != 0) __builtin_trap();
  std::vector<uint8_t> guarded;
  const bool protectable = s.OperationCount() >= vl::oldest::kFewestProtected;
  if (s.Encode(true, uint32_t(size), guarded) != protectable) __builtin_trap();
  if (protectable && (!again.Load(guarded) || !again.IsProtected() || operations(again) != operations(s)))
    __builtin_trap();

  if (s.MaxWidth() > kMostSide || s.MaxHeight() > kMostSide || walkOf(s) > kMostWalk) return 0;
  vl::HeadlessOldestReplay replay;
  replay.Player().maxPaperSide = kMostSide;
  const int r = replay.Play(s, "fuzz");
  if (r != 1 && r != 2 && r != 3) __builtin_trap();
  if (r != 2 && replay.Player().Reason().empty()) __builtin_trap();
  if (replay.Paper().drawGeneration != vl::DrawGeneration::Current || replay.Paper().playingBack) __builtin_trap();
  return 0;
}
