#pragma once
// Why the last refused read on this thread failed, in more words than its
// error code: a reader that knows ("unsupported BMP bit depth 4") leaves its
// word here at the point it refuses, and the caller that shows the message
// reads it. One per thread, so readers running on several threads at once
// never mix their words.
//
//   In a reader:  if (bitCount != 24 && bitCount != 32)
//                   return failWith(BmpError::Unsupported, TextId::DetailBmpBitDepth, {bitCount});
//   In a caller:  clearFailureDetail(); e = reader(...); if (e) show(... failureDetail() ...);
//
// The detail is kept as its text id and arguments and is worded when read,
// so it speaks the language of whoever reads it.
#include <initializer_list>
#include <string>

#include "platform/strings.h"

namespace vl {

// Replaces this thread's detail. Never throws; when the words cannot be kept
// (no memory) the thread has no detail.
void setFailureDetail(TextId id, std::initializer_list<MessageArg> args = {}) noexcept;
void clearFailureDetail() noexcept;
bool hasFailureDetail() noexcept;
// This thread's detail in the program's language, or in the one given;
// empty when there is none.
std::string failureDetail();
std::string failureDetailIn(Language language);

// Sets the detail and gives back the code, for one-line refusals.
template <class Code>
Code failWith(Code code, TextId id, std::initializer_list<MessageArg> args = {}) noexcept {
  setFailureDetail(id, args);
  return code;
}

}  // namespace vl
