#include "platform/strings.h"

namespace vl {
namespace {

constexpr std::string_view kTexts[] = {
    "메모리 부족 !",
    "예상치 못한 오류발생 !",
    "메모리 부족으로 정상실행이 안됩니다 !",
    "메모리 오류\r\n파일을 저장하고 종료하십시요",
};
static_assert(std::size(kTexts) == size_t(TextId::Count));

}  // namespace

std::string_view text(TextId id) {
  size_t i = size_t(id);
  return i < std::size(kTexts) ? kTexts[i] : std::string_view();
}

}  // namespace vl
