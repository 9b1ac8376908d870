#pragma once
// Every user text in one place, keyed. The texts are UTF-8.
#include <string_view>

namespace vl {

enum class TextId {
  OutOfMemory,         // "메모리 부족 !"
  UnexpectedError,     // "예상치 못한 오류발생 !"
  TileOutOfMemory,     // tile allocation failed
  TileFreeFailed,      // tile release failed
  Count
};

std::string_view text(TextId id);

}  // namespace vl
