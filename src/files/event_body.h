#pragma once
// The body of a current event file, which the paper file also carries: the
// 56-byte "VEVP" header, then the stream cut into blocks of 65536 bytes,
// each compressed in a "VBEV" block with a 28-byte head and padded to a
// multiple of 4 bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "files/byte_io.h"
#include "files/file_error.h"

namespace vl {

inline constexpr uint32_t kEventBodyHeaderBytes = 56;
inline constexpr uint32_t kEventBlockHeadBytes = 28;
inline constexpr uint32_t kEventSegmentBytes = 65536;
// The newest file version; readers refuse anything above it.
inline constexpr uint16_t kEventFileVersion = 17;

struct EventBodyInfo {
  int32_t paperWidth = 0, paperHeight = 0;
  uint16_t version = kEventFileVersion;
  uint16_t flags = 0;
  uint32_t steps = 0;
};

// Header and blocks of `stream` (at least one byte).
FileError writeEventBody(const uint8_t* stream, size_t length, const EventBodyInfo& info, ByteSink& sink);

// Reads a body whose header starts at `at`. On success `at` lies past its
// last block. A block that fails leaves `at` at that block's start, so a
// reader of chunks can go on from there; a failing header leaves it where
// it was. Streams longer than maxStream are refused before anything is read.
FileError readEventBody(InputSource& in, uint64_t& at, uint64_t maxStream, EventBodyInfo& info,
                        std::vector<uint8_t>& stream);

}  // namespace vl
