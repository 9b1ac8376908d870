#pragma once
// Result codes of the file and compression functions. 0 is success; the
// number is what the user sees in "(err=%d)", so values never change. They
// start at 101 so they never read like the program's own small codes (5 file
// exists, 15, 21, 53, 56, 57 of the PSD commands).
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/failure_detail.h"

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

// What a code means, in the program's language ("the file ends too early").
// Codes without a text of their own read "unknown error (n)".
std::string fileErrorText(int code);
inline std::string fileErrorText(FileError e) { return fileErrorText(errorCode(e)); }

// The reason a message shows below its code: the detail the failing reader
// left on this thread (platform/failure_detail.h) when there is one, else
// the code's own text. The caller clears the detail before the read.
std::string failureReason(int code);

// A message that names a code, followed by the reason on a line of its own.
std::string withFailureReason(std::string message, int code);

// The largest side of a paper. Decoders give larger pictures (within
// kMaxImagePixels); what becomes a paper keeps the top-left part.
inline constexpr int32_t kMaxImageSide = 10000;
// Pictures of more pixels than this are refused before anything is allocated.
inline constexpr int64_t kMaxImagePixels = 100000000;

}  // namespace vl
