#include "platform/failure_detail.h"

namespace vl {
namespace {

constexpr size_t kMaxArgs = 4;

// The id and copies of the arguments: the caller's strings are gone by the
// time the detail is read.
struct Detail {
  bool set = false;
  TextId id = TextId::Count;
  size_t count = 0;
  std::string strings[kMaxArgs];
  int64_t numbers[kMaxArgs] = {};
  bool isNumber[kMaxArgs] = {};
};

thread_local Detail tDetail;

}  // namespace

void setFailureDetail(TextId id, std::initializer_list<MessageArg> args) noexcept {
  Detail& d = tDetail;
  d.set = false;
  try {
    d.count = 0;
    for (const MessageArg& a : args) {
      if (d.count == kMaxArgs) break;
      d.isNumber[d.count] = a.isInt;
      d.numbers[d.count] = a.d;
      d.strings[d.count].assign(a.isInt ? std::string_view() : a.s);
      ++d.count;
    }
    d.id = id;
    d.set = true;
  } catch (...) {
    d.count = 0;
  }
}

void clearFailureDetail() noexcept { tDetail.set = false; }

bool hasFailureDetail() noexcept { return tDetail.set; }

std::string failureDetailIn(Language language) {
  const Detail& d = tDetail;
  if (!d.set) return {};
  // MessageArg refers to the strings kept here; they live until the next set.
  MessageArg args[kMaxArgs] = {int64_t(0), int64_t(0), int64_t(0), int64_t(0)};
  for (size_t i = 0; i < d.count; ++i)
    args[i] = d.isNumber[i] ? MessageArg(d.numbers[i]) : MessageArg(std::string_view(d.strings[i]));
  return formatMessage(textIn(d.id, language), args, d.count);
}

std::string failureDetail() { return failureDetailIn(language()); }

}  // namespace vl
