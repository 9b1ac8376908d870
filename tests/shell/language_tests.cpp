// The windowed program in each language on Qt's offscreen platform: its
// menus, its message boxes (Qt's own buttons included) and the reason an
// open failed, chosen by "--lang" or by the "language" setting.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "shell/main_form.h"
#include "shell/qt_test_support.h"
#include "shell/shell_main.h"

namespace vl {
namespace {

struct ShownBox {
  std::string title, text;
  std::vector<std::string> buttons;
};

// Reads the first message box that opens and presses its first button.
void answerNextBox(QObject* context, ShownBox& seen) {
  QTimer::singleShot(10, context, [context, &seen] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box || !box->isVisible()) continue;
      seen.title = box->windowTitle().toStdString();
      seen.text = box->text().toStdString();
      for (QAbstractButton* b : box->buttons()) seen.buttons.push_back(b->text().toStdString());
      box->buttons().front()->click();
      return;
    }
    answerNextBox(context, seen);  // not open yet
  });
}

// A BMP of 64 bits per pixel, which the program does not read.
void writeUnreadBmp(const std::string& path) {
  std::vector<char> b(14 + 40 + 64, 0);
  auto put = [&b](size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + size_t(i)] = char(uint8_t(v >> (8 * i)));
  };
  b[0] = 'B';
  b[1] = 'M';
  put(2, uint32_t(b.size()), 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, 4, 4);
  put(22, 4, 4);
  put(26, 1, 2);
  put(28, 64, 2);
  std::ofstream(path, std::ios::binary).write(b.data(), std::streamsize(b.size()));
}

struct Seen {
  int status = -1;
  bool timedOut = false;
  std::string fileMenu, fileOpen, layerPanel;
  ShownBox box;
};

// One run of the program: the File menu, then an open that fails.
Seen run(const std::vector<std::string>& args, const std::string& setting) {
  test::ShellEnvironment env;
  if (!setting.empty()) {
    std::filesystem::create_directories(std::filesystem::path(env.settingsFile()).parent_path());
    std::ofstream(env.settingsFile()) << "[config]\nlanguage=s:" << setting << "\n";
  }
  const std::string bmp = env.dir.file("four.bmp");
  writeUnreadBmp(bmp);
  Seen seen;
  ShellHooks hooks;
  hooks.started = [&](TMainForm& form) {
    test::startWatchdog(&form, seen.timedOut);
    QTimer::singleShot(0, &form, [&] {
      QMenu* file = form.menu(TMainForm::kMenuFile);
      seen.fileMenu = file->title().toStdString();
      seen.fileOpen = file->actions().at(1)->text().toStdString();
      seen.layerPanel = form.command("actShowLayerWindow")->text().toStdString();
      answerNextBox(&form, seen.box);
      EXPECT_FALSE(form.openFile(bmp));
      form.close();
    });
  };
  seen.status = runShell(parseCommandLine(args), "velluminar", hooks);
  const std::string shown = bmp + "\n";
  if (seen.box.text.rfind(shown, 0) == 0) seen.box.text.replace(0, shown.size(), "<path>\n");
  return seen;
}

TEST(Language, TheWindowSpeaksTheChosenLanguage) {
  const Language before = language();
  struct {
    const char* name;
    std::vector<std::string> args;
    const char* setting;
    bool korean;
  } cases[] = {
      {"--lang en", {"--lang", "en"}, "", false},
      {"--lang ko", {"--lang=ko"}, "", true},
      {"the setting", {}, "en", false},
      {"the setting, Korean", {}, "ko", true},
      {"the switch over the setting", {"--lang", "ko"}, "en", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Seen s = run(c.args, c.setting);
    EXPECT_FALSE(s.timedOut);
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(language(), before) << "the run leaves the language as it found it";
    if (c.korean) {
      EXPECT_EQ(s.fileMenu, "파일(&F)");
      EXPECT_EQ(s.fileOpen, "열기(&O)...");
      EXPECT_EQ(s.layerPanel, "레이어 윈도우");
      EXPECT_EQ(s.box.title, "경고 (Velluminar)");
      EXPECT_EQ(s.box.text, "<path>\n열기 실패 ! (err=107)\n지원하지 않는 BMP 비트 깊이 64");
      // Qt's own button, from Qt's Korean catalogue.
      EXPECT_EQ(s.box.buttons, std::vector<std::string>{"확인"});
    } else {
      EXPECT_EQ(s.fileMenu, "&File");
      EXPECT_EQ(s.fileOpen, "&Open...");
      EXPECT_EQ(s.layerPanel, "Layer window");
      EXPECT_EQ(s.box.title, "Warning (Velluminar)");
      EXPECT_EQ(s.box.text, "<path>\nOpen failed ! (err=107)\nunsupported BMP bit depth 64");
      EXPECT_EQ(s.box.buttons, std::vector<std::string>{"OK"});
    }
  }
}

}  // namespace
}  // namespace vl
