#pragma once
// The user-interface services as Qt dialogs.
#include <QPointer>
#include <QString>
#include <QTranslator>
#include <QWidget>
#include <string_view>

#include "platform/strings.h"
#include "platform/ui_services.h"

namespace vl {

// UTF-8 to QString, and the message boxes' "\r\n" and "\r" as line breaks.
QString toQt(std::string_view text);
QString dialogText(std::string_view text);
// A command caption as a label: without its accelerator ("레이어 복제(&C)" → "레이어 복제").
QString plainCaption(std::string_view caption);

// Qt's own texts (the buttons of its message boxes, its colour and file
// dialogs) in the program's language: Korean loads Qt's Korean catalogue,
// English leaves Qt's built-in texts. Made after the application object.
class QtTranslations {
 public:
  // False when the Korean catalogue is wanted and cannot be found.
  bool follow(Language language);

 private:
  QTranslator korean;
  bool loaded = false, installed = false;
};

class QtUi : public UiServices {
 public:
  void setMainWindow(QWidget* window) { mainWindow = window; }
  // Every warning of the program: the warning icon, owned by the active
  // window (else the main window, else none), captioned "경고 (Velluminar)".
  void Warning(std::string_view text) override;
  void Information(std::string_view text) override;
  bool Question(std::string_view text, Buttons buttons) override;
  Answer QuestionYesNoCancel(std::string_view text) override;
  void BeginWait() override;
  void EndWait() override;
  void Trace(std::string_view line) override;

  // The window a box should belong to.
  QWidget* owner() const;

 private:
  QPointer<QWidget> mainWindow;
  int waitDepth = 0;
};

}  // namespace vl
