#include "platform/strings.h"

#include <charconv>

namespace vl {
namespace {

constexpr std::string_view kTexts[] = {
    "메모리 부족 !",
    "예상치 못한 오류발생 !",
    "메모리 부족으로 정상실행이 안됩니다 !",
    "메모리 오류\r\n파일을 저장하고 종료하십시요",
    "승산",
    "가산",
    "감소",
    "표준",
    "스크린",
    "오버레이",
    "하드 라이트",
    "소프트 라이트",
    "차이",
    "제외",
    "더 어둡게",
    "더 밝게",
    "번",
    "닷지",
    "색조",
    "채도",
    "컬러",
    "광도",
    "감소(Nega)",
    "선형 라이트",
    "선명한 라이트",
    "핀 라이트",
    "레이어",
    "잘못된 레이어 인덱스 !",
    "레이어 초기화 실패 !",
    "레이어결합 실패 !",
    "실행취소 실패.\r\n저장된 명령들은 모두 클리어 됩니다",
    "새 레이어",
    "생성",
    "취소",
    "이름(&N)",
    "모드(&M)",
    "컬러(&C)",
    "검정색",
    "흰색",
    "중간색",
    "투명도 유지(&T)",
    "설정 파일이 손상되어 기본값을 사용합니다 !",
    "새 캔버스",
    "&1",
    "&2",
    "&3",
    "&4",
    "&5",
    "&clipboard",
    "pixel",
    "inch",
    "cm",
    "pixels/inch",
    "잘못된 문자로 인해 수치를 읽을수 없습니다 !",
    "정확한 수치를 입력해 주십시요 !",
    "%s가 필요합니다 !",
    "폭",
    "높이",
    "해상도",
    "%s(%d) 는 %d 부터 %d 로 해주십시요 !",
    "%s 는 %d 부터 %d 로 해주십시요 !",
    "경고",
    "unknown command line switch!\r    arg = %s",
    "command line switch needs a decimal number!\r    arg = %s",
    "%s 가 팔레트 모드로 동작하고 있습니다.\n16비트컬러 이상으로 설정해 주십시요.(** 32비트컬러가 최적입니다. **)\n무시 하고 실행하시겠습니까 ?",
    "파일을 열수 없습니다. !\r\n    경로 = %s",
    "%s\r\n열기 실패 ! (err=%d)",
    "파일(&F)",
    "편집(&E)",
    "선택범위(&S)",
    "필터(&T)",
    "이벤트(&N)",
    "보기(&V)",
    "윈도우(&W)",
    "도움말(&H)",
    "신규 작성(&N)...",
    "새로운 화상을 엽니다",
    "열기(&O)...",
    "화상을 엽니다",
    "닫기(&C)",
    "현재 편집중의 화상을 닫습니다",
    "종료(&X)",
    "Velluminar를 종료 합니다",
    "확대(&I)",
    "화상의 표시를 확대합니다",
    "축소(&O)",
    "화상의 표시를 축소 합니다",
    "원본 사이즈(&N)",
    "원본 사이즈로 되돌립니다",
    "중복 표시(&C)",
    "윈도우를 겹쳐서 표시 합니다",
    "좌우 정렬(&T)",
    "윈도우를 좌우로 표시 합니다",
    "상하 정렬(&H)",
    "윈도우를 상하로 표시 합니다",
    "모두 최소화(&M)",
    "모든 윈도우를 아이콘화 합니다",
    "Failed to execute layer command!",
    "비트맵 테이터가 클립보드에 없습니다 !",
    "이벤트 오류수정 !",
    "이벤트레코드 오류 !",
    "failed to undo event!",
    "failed to redo event!",
    "not implemented!",
    "레이어",
    "표준 레이어(&N)",
    "선택 레이어 삭제(&D)",
    "레이어 복제(&C)",
    "아래 레이어와 결합(&B)",
    "불투명도",
    "연산모드",
    "투명영역 드로잉 금지",
    "이름(&N)",
    "안티알리아싱(&A)",
    "화면에 안티알리아싱 효과를 줍니다",
    "부드럽게 표시",
    "유효",
    "비유효",
    "왼쪽으로 회전(&L)",
    "화면을 왼쪽으로 15도 회전합니다",
    "오른쪽으로 회전(&R)",
    "화면을 오른쪽으로 15도 회전합니다",
    "회전 취소(&E)",
    "화면의 회전을 취소합니다",
    "펜 브러쉬",
    "수채 브러쉬",
    "블러",
    "지우개",
    "블러2",
    "에어 브러쉬",
    "스머지",
    "번",
    "닷지",
    "브러쉬",
    "크기",
    "효과",
    "컬러",
    "부드러운 가장자리",
};
static_assert(std::size(kTexts) == size_t(TextId::Count));

}  // namespace

std::string_view text(TextId id) {
  size_t i = size_t(id);
  return i < std::size(kTexts) ? kTexts[i] : std::string_view();
}

std::string formatMessage(std::string_view pattern, std::initializer_list<MessageArg> args) {
  std::string out;
  out.reserve(pattern.size() + 64);
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    if (c == '%' && i + 1 < pattern.size() && (pattern[i + 1] == 's' || pattern[i + 1] == 'd') &&
        next != args.end()) {
      if (next->isInt) {
        char buf[24];
        out.append(buf, std::to_chars(buf, buf + sizeof buf, next->d).ptr);
      } else {
        out.append(next->s);
      }
      ++next;
      ++i;
      continue;
    }
    out.push_back(c);
  }
  return out;
}

}  // namespace vl
