#pragma once
// What the core asks of the user interface: warnings, information, questions,
// the wait cursor and debug trace lines. The shell shows Qt dialogs; the
// headless services print to standard error and let tests capture every text.
#include <string>
#include <string_view>
#include <vector>

namespace vl {

enum class Buttons { YesNo, OkCancel };
enum class Answer { Yes, No, Cancel };

class UiServices {
 public:
  virtual ~UiServices() = default;
  virtual void Warning(std::string_view text) = 0;
  virtual void Information(std::string_view text) = 0;
  // True only for Yes (or OK).
  virtual bool Question(std::string_view text, Buttons buttons) = 0;
  // Yes, No or Cancel. Services without a third button ask Yes or No.
  virtual Answer QuestionYesNoCancel(std::string_view text) {
    return Question(text, Buttons::YesNo) ? Answer::Yes : Answer::No;
  }
  virtual void BeginWait() {}
  virtual void EndWait() {}
  // Debug lines for developers, never shown to the user.
  virtual void Trace(std::string_view line) = 0;
};

class HeadlessUi : public UiServices {
 public:
  // printWarnings: warnings and information also go to standard error.
  explicit HeadlessUi(bool printWarnings = true, bool answer = false) : print(printWarnings), answerYes(answer) {}
  void Warning(std::string_view text) override;
  void Information(std::string_view text) override;
  bool Question(std::string_view text, Buttons buttons) override;
  // Cancel when answerCancel is set, else as Question.
  Answer QuestionYesNoCancel(std::string_view text) override;
  void Trace(std::string_view line) override;

  bool print;
  bool answerYes;
  bool answerCancel = false;
  bool printTrace = false;  // on when VELLUMINAR_TRACE is set
  std::vector<std::string> warnings, informations, questions, traces;
};

// The process-wide services; headless until the shell installs its own.
UiServices& ui();
// Installs `services` (not owned) and returns the previous ones; nullptr restores the default.
UiServices* setUi(UiServices* services);

// The wait cursor for the length of a scope.
struct WaitCursor {
  WaitCursor() { ui().BeginWait(); }
  ~WaitCursor() { ui().EndWait(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// Installs a capturing headless UI for the lifetime of the object (tests).
class ScopedUiCapture {
 public:
  ScopedUiCapture() : previous(setUi(&capture)) {}
  ~ScopedUiCapture() { setUi(previous); }
  HeadlessUi capture{false, false};

 private:
  UiServices* previous;
};

}  // namespace vl
