#include "platform/ui_services.h"

#include <cstdio>
#include <cstdlib>

namespace vl {
namespace {

HeadlessUi& defaultUi() {
  static HeadlessUi headless = [] {
    HeadlessUi h;
    h.printTrace = std::getenv("VELLUMINAR_TRACE") != nullptr;
    return h;
  }();
  return headless;
}

UiServices* current = nullptr;

void printLine(std::string_view prefix, std::string_view text) {
  std::fprintf(stderr, "%.*s%.*s\n", int(prefix.size()), prefix.data(), int(text.size()), text.data());
}

}  // namespace

void HeadlessUi::Warning(std::string_view text) {
  warnings.emplace_back(text);
  if (print) printLine("warning: ", text);
}

void HeadlessUi::Information(std::string_view text) {
  informations.emplace_back(text);
  if (print) printLine("", text);
}

bool HeadlessUi::Question(std::string_view text, Buttons) {
  questions.emplace_back(text);
  if (print) printLine(answerYes ? "question (yes): " : "question (no): ", text);
  return answerYes;
}

Answer HeadlessUi::QuestionYesNoCancel(std::string_view text) {
  if (!answerCancel) return Question(text, Buttons::YesNo) ? Answer::Yes : Answer::No;
  questions.emplace_back(text);
  if (print) printLine("question (cancel): ", text);
  return Answer::Cancel;
}

void HeadlessUi::Trace(std::string_view line) {
  traces.emplace_back(line);
  if (printTrace) printLine("trace: ", line);
}

UiServices& ui() { return current ? *current : defaultUi(); }

UiServices* setUi(UiServices* services) {
  UiServices* previous = current ? current : &defaultUi();
  current = services;
  return previous;
}

}  // namespace vl
