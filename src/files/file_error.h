#pragma once
// Result codes of the file and compression functions. 0 is success; the
// number is what the user sees in "(err=%d)", so values never change. They
// start at 101 so they never read like the program's own small codes (5 file
// exists, 15, 21, 53, 56, 57 of the PSD commands).
#include <cstdint>
#include <string_view>

namespace vl {

enum class FileError : int {
  None = 0,
  CannotOpen = 101,    // missing, unreadable or not a regular file
  ReadFailed = 102,    // the system refused a read
  WriteFailed = 103,   // the system refused a write, flush or rename
  Truncated = 104,     // the data ends early
  NotThisFormat = 105, // wrong signature: not a file of the kind asked for
  Corrupt = 106,       // the data contradicts itself
  Unsupported = 107,   // a valid file of a kind we do not read
  TooLarge = 108,      // wider or taller than kMaxImageSide, or a file too big to be one
  OutOfMemory = 109,
  BadArgument = 110,   // the caller passed something unusable
  WrongLength = 111,   // compressed data that decodes to another length than expected
};

inline int errorCode(FileError e) { return int(e); }

// What the code means, in the program's language.
std::string_view fileErrorText(FileError e);

// The largest side of a paper. Decoders give larger pictures (within
// kMaxImagePixels); what becomes a paper keeps the top-left part.
inline constexpr int32_t kMaxImageSide = 10000;
// Pictures of more pixels than this are refused before anything is allocated.
inline constexpr int64_t kMaxImagePixels = 100000000;

}  // namespace vl
