#include "platform/strings.h"

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
};
static_assert(std::size(kTexts) == size_t(TextId::Count));

}  // namespace

std::string_view text(TextId id) {
  size_t i = size_t(id);
  return i < std::size(kTexts) ? kTexts[i] : std::string_view();
}

}  // namespace vl
