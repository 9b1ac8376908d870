#include "shell/qt_ui.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

#include "shell/cli/product.h"
#include "shell/cli/unattended_ui.h"

namespace vl {

QString toQt(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

QString plainCaption(std::string_view caption) {
  QString s = toQt(caption);
  const qsizetype amp = s.indexOf(QLatin1String("(&"));
  if (amp >= 0) s.truncate(amp);
  return s.remove(QLatin1Char('&'));
}

QString dialogText(std::string_view text) { return toQt(plainLines(text)); }

bool QtTranslations::follow(Language language) {
  if (language != Language::Korean) {
    if (installed) QCoreApplication::removeTranslator(&korean);
    installed = false;
    return true;
  }
  // Debian installs the catalogue as /usr/share/qt6/translations/qtbase_ko.qm.
  if (!loaded) loaded = korean.load(QStringLiteral("qtbase_ko"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  if (loaded && !installed) installed = QCoreApplication::installTranslator(&korean);
  return installed;
}

QWidget* QtUi::owner() const {
  if (QWidget* w = QApplication::activeModalWidget()) return w;
  if (QWidget* w = QApplication::activeWindow()) return w;
  return mainWindow.data();
}

void QtUi::Warning(std::string_view text) {
  QMessageBox box(QMessageBox::Warning, toQt(warningCaption()), dialogText(text), QMessageBox::Ok, owner());
  box.exec();
}

void QtUi::Information(std::string_view text) {
  QMessageBox box(QMessageBox::Information, toQt(kProductName), dialogText(text), QMessageBox::Ok, owner());
  box.exec();
}

bool QtUi::Question(std::string_view text, Buttons buttons) {
  const bool yesNo = buttons == Buttons::YesNo;
  const QMessageBox::StandardButton yes = yesNo ? QMessageBox::Yes : QMessageBox::Ok;
  const QMessageBox::StandardButton no = yesNo ? QMessageBox::No : QMessageBox::Cancel;
  QMessageBox box(QMessageBox::Question, toQt(kProductName), dialogText(text), yes | no, owner());
  box.setDefaultButton(yes);  // the first button, as the platform's boxes do
  return box.exec() == yes;
}

Answer QtUi::QuestionYesNoCancel(std::string_view text) {
  QMessageBox box(QMessageBox::Question, toQt(kProductName), dialogText(text),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, owner());
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::Cancel);
  const int pressed = box.exec();
  return pressed == QMessageBox::Yes ? Answer::Yes : pressed == QMessageBox::No ? Answer::No : Answer::Cancel;
}

void QtUi::BeginWait() {
  if (waitDepth++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtUi::EndWait() {
  if (waitDepth > 0 && --waitDepth == 0) QApplication::restoreOverrideCursor();
}

void QtUi::Trace(std::string_view line) {
  static const bool shown = std::getenv("VELLUMINAR_TRACE") != nullptr;
  if (shown) std::fprintf(stderr, "velluminar: trace: %.*s\n", int(line.size()), line.data());
}

}  // namespace vl
