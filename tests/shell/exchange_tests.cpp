// Pictures and PSD files through the main window: opening, saving by kind
// with its messages, the JPEG options dialog, layer saves and quick saves.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QMenu>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "files/image_files.h"
#include "paperfile/paper_pictures.h"
#include "files/psd.h"
#include "platform/app_profile.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "shell/draw_window.h"
#include "shell/jpeg_options_dialog.h"
#include "shell/layer_list.h"
#include "shell/main_form.h"
#include "shell/png_options_dialog.h"
#include "shell/qt_test_support.h"

namespace vl {
namespace {

namespace fs = std::filesystem;

void acceptModal() {
  if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->accept();
}

class Exchange : public ::testing::Test {
 protected:
  Exchange() {
    setLanguage(Language::English);
    form.resize(800, 600);
    form.show();
  }
  ~Exchange() override {
    appProfile() = savedProfile;
    setLanguage(Language::Korean);
  }

  // A picture file of w × h written by our own saver.
  std::string picture(const std::string& name, int32_t w, int32_t h) {
    TMTC img(w, h);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) img.Row(y)[x] = 0xFF000000u | uint32_t(x * 9) << 16 | uint32_t(y * 7) << 8 | 99;
    BitmapInfoHeader header = img.InfoHeader(96);
    header.bitCount = 24;
    const std::string path = dir.file(name);
    EXPECT_EQ(pngSaveImage(path, header, img), FileError::None);
    return path;
  }
  // The canvas showing the paper that was opened last.
  TDrawWindow* last() const {
    const std::vector<TDrawWindow*> all = form.canvases();
    return all.empty() ? nullptr : all.back();
  }

  test::TestApp app;
  CAppProfile savedProfile = appProfile();
  ScopedUiCapture ui;
  test::TempDir dir;
  TMainForm form{StartupOptions{}};
};

TEST_F(Exchange, PicturesAndPsdFilesOpenAsPapers) {
  const std::string png = picture("sky.png", 30, 20);
  ASSERT_TRUE(form.openFile(png));
  TDrawWindow* c = last();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->paper().width, 30);
  EXPECT_EQ(c->paper().resolution, 96);
  EXPECT_EQ(c->paper().name, "sky.png");
  EXPECT_FALSE(c->paper().modified);
  EXPECT_EQ(c->paper().layerAt(0)->pixels->Pixel(4, 3), 0xFF000000u | 36u << 16 | 21u << 8 | 99);

  // The paper saved as PSD with a second layer opens with both.
  TMTC dot(3, 3);
  dot.Fill(0x80FF0000u);
  ASSERT_TRUE(c->paper().pasteAsNewLayer(c->flow(), dot, true));
  ASSERT_TRUE(form.saveExchangeFile(*c, dir.file("two.psd")));
  ASSERT_TRUE(form.openFile(dir.file("two.psd")));
  TDrawWindow* p = last();
  ASSERT_NE(p, c);
  ASSERT_EQ(p->paper().layerCount(), 2);
  EXPECT_EQ(p->paper().layerAt(1)->pixels->Pixel(1, 1), 0x80FF0000u);
  EXPECT_EQ(p->paper().layerAt(0)->name, c->paper().layerAt(0)->name);

  // A damaged file says why, and leaves no window behind.
  std::vector<char> bytes(64, 'x');
  std::memcpy(bytes.data(), "8BPS\0\1", 6);
  { std::ofstream(dir.file("bad.psd"), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size())); }
  const size_t windows = form.canvases().size();
  ui.capture.warnings.clear();
  EXPECT_FALSE(form.openFile(dir.file("bad.psd")));
  QApplication::processEvents();
  EXPECT_EQ(form.canvases().size(), windows);
  ASSERT_EQ(ui.capture.warnings.size(), 1u);
  EXPECT_NE(ui.capture.warnings[0].find("Open failed"), std::string::npos) << ui.capture.warnings[0];
}

TEST_F(Exchange, SaveAsWritesEveryKindAndSaysSo) {
  TDrawWindow* c = form.newCanvas(40, 30, 72, "paper");
  ASSERT_NE(c, nullptr);
  const struct {
    const char* name;
    bool saved;
    const char* says;  // status line on success, warning otherwise
  } cases[] = {
      {"a.bmp", true, "The picture was saved in BMP format"},
      {"a.PNG", true, "Picture saved in PNG format"},
      {"a.psd", true, "Picture saved in PSD format"},
      {"a.wpb", false, "Pictures cannot be saved in this format !"},
      {"a.gif", false, ".gif is an unknown format"},
      {"missing/a.png", false, "Could not save PNG ! (err="},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ui.capture.warnings.clear();
    form.statusBar()->clearMessage();
    // PNG asks for its compression first.
    if (fileKindOf(k.name) == FileKind::Png) QTimer::singleShot(0, &form, [] { acceptModal(); });
    EXPECT_EQ(form.saveExchangeFile(*c, dir.file(k.name)), k.saved);
    EXPECT_EQ(fs::exists(dir.file(k.name)), k.saved);
    if (k.saved) {
      EXPECT_TRUE(ui.capture.warnings.empty());
      EXPECT_EQ(form.statusBar()->currentMessage().toStdString(), k.says);
    } else {
      ASSERT_EQ(ui.capture.warnings.size(), 1u);
      EXPECT_EQ(ui.capture.warnings[0].rfind(k.says, 0), 0u) << ui.capture.warnings[0];
    }
  }
}

// One Save As for every kind: a picture kind saves the composite and leaves
// the paper's own file as it was; a name without an extension is a paper file.
TEST_F(Exchange, SaveAsOffersPapersAndPictures) {
  TDrawWindow* c = form.newCanvas(40, 30, 72, "paper");
  ASSERT_NE(c, nullptr);
  std::string answer;
  form.chooseSavePath = [&](const std::string&) { return answer; };
  answer = dir.file("p.psd");
  ASSERT_TRUE(form.saveCanvasAs(*c));
  EXPECT_TRUE(fs::exists(answer));
  EXPECT_EQ(c->filePath(), "");
  EXPECT_EQ(c->paper().name, "paper");
  EXPECT_EQ(form.statusBar()->currentMessage().toStdString(), "Picture saved in PSD format");
  answer = dir.file("p.bmp");
  ASSERT_TRUE(form.saveCanvasAs(*c));
  EXPECT_TRUE(fs::exists(answer));
  answer = dir.file("plain");
  ASSERT_TRUE(form.saveCanvasAs(*c));
  EXPECT_TRUE(fs::exists(dir.file("plain.vci")));
  EXPECT_EQ(c->filePath(), dir.file("plain.vci"));
  ui.capture.warnings.clear();
  answer = dir.file("p.gif");
  EXPECT_FALSE(form.saveCanvasAs(*c));
  ASSERT_EQ(ui.capture.warnings.size(), 1u);
  EXPECT_EQ(ui.capture.warnings[0], ".gif is an unknown format");
  EXPECT_EQ(c->filePath(), dir.file("plain.vci"));
}

// The JPEG dialog starts from the settings, keeps what OK chose, and
// Cancel saves nothing and says nothing.
TEST_F(Exchange, JpegOptionsDialogDecidesTheSave) {
  TDrawWindow* c = form.newCanvas(40, 30, 72, "paper");
  ASSERT_NE(c, nullptr);
  CAppProfile& profile = appProfile();
  profile.jpegQType = 1;
  profile.jpegUseSmooth = false;
  bool shown = false;
  QTimer::singleShot(0, &form, [&] {
    auto* d = qobject_cast<TJpegOptionsDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    shown = true;
    EXPECT_EQ(d->presetBox()->currentIndex(), 1);
    EXPECT_FALSE(d->qualityBox()->isEnabled());
    EXPECT_FALSE(d->smoothAmountBox()->isEnabled());
    d->presetBox()->setCurrentIndex(0);
    EXPECT_TRUE(d->qualityBox()->isEnabled());
    d->qualityBox()->setValue(40);
    d->smoothBox()->setChecked(true);
    EXPECT_TRUE(d->smoothAmountBox()->isEnabled());
    d->smoothAmountBox()->setValue(20);
    d->accept();
  });
  EXPECT_TRUE(form.saveExchangeFile(*c, dir.file("a.jpg")));
  EXPECT_TRUE(shown);
  EXPECT_TRUE(fs::exists(dir.file("a.jpg")));
  EXPECT_EQ(form.statusBar()->currentMessage().toStdString(), "The picture was saved in JPEG format");
  EXPECT_EQ(profile.jpegQType, 0);
  EXPECT_EQ(profile.jpegQuality, 40);
  EXPECT_TRUE(profile.jpegUseSmooth);
  EXPECT_EQ(profile.jpegValSmooth, 20);

  ui.capture.warnings.clear();
  QTimer::singleShot(0, &form, [] {
    if (QWidget* d = QApplication::activeModalWidget()) qobject_cast<QDialog*>(d)->reject();
  });
  EXPECT_FALSE(form.saveExchangeFile(*c, dir.file("b.jpg")));
  EXPECT_FALSE(fs::exists(dir.file("b.jpg")));
  EXPECT_TRUE(ui.capture.warnings.empty());
  EXPECT_EQ(profile.jpegQuality, 40);
}

// The PNG dialog offers the compression level and keeps the choice; the
// file stays a PNG that reads back; Cancel saves nothing.
TEST_F(Exchange, PngOptionsDialogChoosesTheLevel) {
  TDrawWindow* c = form.newCanvas(64, 48, 72, "paper");
  ASSERT_NE(c, nullptr);
  TMTC dots(64, 48);
  for (int32_t y = 0; y < 48; ++y)
    for (int32_t x = 0; x < 64; ++x) dots.Row(y)[x] = 0xFF000000u | uint32_t(x * 4) << 16 | uint32_t(y * 5) << 8;
  ASSERT_TRUE(c->paper().pasteAsNewLayer(c->flow(), dots, true));
  CAppProfile& profile = appProfile();
  profile.pngLevel = kPngLevelAuto;
  std::uintmax_t bytes[2] = {};
  for (int level : {0, 9}) {
    bool shown = false;
    QTimer::singleShot(0, &form, [&] {
      auto* d = qobject_cast<TPngOptionsDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(d, nullptr);
      shown = true;
      EXPECT_EQ(d->level(), level == 0 ? kPngLevelAuto : 0);  // what the last save chose
      d->levelBox()->setCurrentIndex(level + 1);
      d->accept();
    });
    const std::string name = "l" + std::to_string(level) + ".png";
    EXPECT_TRUE(form.saveExchangeFile(*c, dir.file(name)));
    EXPECT_TRUE(shown);
    EXPECT_EQ(profile.pngLevel, level);
    TMTC back;
    int dpi;
    ASSERT_EQ(loadPicture(dir.file(name), back, dpi), FileError::None);
    EXPECT_EQ(back.Row(40)[50], dots.Row(40)[50]);
    bytes[level ? 1 : 0] = fs::file_size(dir.file(name));
  }
  EXPECT_LT(bytes[1], bytes[0]);  // level 0 stores, 9 compresses

  ui.capture.warnings.clear();
  QTimer::singleShot(0, &form, [] {
    if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
  });
  EXPECT_FALSE(form.saveExchangeFile(*c, dir.file("none.png")));
  EXPECT_FALSE(fs::exists(dir.file("none.png")));
  EXPECT_TRUE(ui.capture.warnings.empty());
  EXPECT_EQ(profile.pngLevel, 9);
}

TEST_F(Exchange, QuickSavesAndLayerSaves) {
  TDrawWindow* c = form.newCanvas(40, 30, 72, "paper");
  ASSERT_NE(c, nullptr);
  appProfile().savePath = dir.path();
  QAction* quick = form.command("actSaveAutoBmp");
  ASSERT_NE(quick, nullptr);
  emit form.menu(TMainForm::kMenuFile)->aboutToShow();
  ASSERT_TRUE(quick->isEnabled());
  quick->trigger();
  quick->trigger();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string day = formatMessage("%d-%d-%d-", {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday});
  EXPECT_TRUE(fs::exists(dir.file(day + "0.bmp")));
  EXPECT_TRUE(fs::exists(dir.file(day + "1.bmp")));

  TMTC big(50, 44);
  big.Fill(0x40112233u);
  ASSERT_TRUE(c->paper().pasteAsNewLayer(c->flow(), big, true));
  EXPECT_TRUE(form.saveLayerFile(*c, dir.file("layer.png")));
  EXPECT_EQ(form.statusBar()->currentMessage().toStdString(), "Layer saved");
  TMTC back;
  int dpi;
  ASSERT_EQ(loadPicture(dir.file("layer.png"), back, dpi), FileError::None);
  EXPECT_EQ(back.size(), (Size{50, 44}));
  EXPECT_EQ(back.Row(40)[45], 0x40112233u);
  ui.capture.warnings.clear();
  EXPECT_FALSE(form.saveLayerFile(*c, dir.file("layer.tif")));
  ASSERT_EQ(ui.capture.warnings.size(), 1u);
  EXPECT_EQ(ui.capture.warnings[0], ".tif is an unknown format");
  EXPECT_FALSE(form.saveLayerFile(*c, dir.file("nowhere/layer.bmp")));
  EXPECT_EQ(ui.capture.warnings.back().rfind("Could not save the layer !", 0), 0u);
}

// Where the commands stand and when they can be used.
TEST_F(Exchange, CommandsStandInTheirMenusAndFollowThePaper) {
  QMenu* file = form.menu(TMainForm::kMenuFile);
  const QList<QAction*> actions = file->actions();
  const qsizetype saveAs = actions.indexOf(form.command("actFileSaveAs"));
  const qsizetype close = actions.indexOf(form.command("actFileClose"));
  const qsizetype quick = actions.indexOf(form.command("actSaveAutoBmp"));
  ASSERT_GE(saveAs, 0);
  EXPECT_EQ(close, saveAs + 1);
  EXPECT_TRUE(actions[close + 1]->isSeparator());
  EXPECT_EQ(quick, close + 2);
  EXPECT_TRUE(form.layers()->list()->actions().contains(form.command("actLayerSave")));

  emit file->aboutToShow();
  EXPECT_FALSE(form.command("actFileSaveAs")->isEnabled());
  EXPECT_FALSE(form.command("actLayerSave")->isEnabled());
  TDrawWindow* c = form.newCanvas(40, 30, 72, "paper");
  ASSERT_NE(c, nullptr);
  emit file->aboutToShow();
  EXPECT_TRUE(form.command("actFileSaveAs")->isEnabled());
  EXPECT_TRUE(form.command("actSaveAutoBmp")->isEnabled());
  EXPECT_TRUE(form.command("actLayerSave")->isEnabled());
  // A protected stream may not be saved; a replaying window neither.
  c->paper().eventProtected = 1;
  emit file->aboutToShow();
  EXPECT_FALSE(form.command("actFileSaveAs")->isEnabled());
  EXPECT_FALSE(form.command("actSaveAutoBmp")->isEnabled());
  c->paper().eventProtected = 0;
  c->paper().playingBack = true;
  emit file->aboutToShow();
  EXPECT_FALSE(form.command("actFileSaveAs")->isEnabled());
  EXPECT_FALSE(form.command("actLayerSave")->isEnabled());
  c->paper().playingBack = false;
}

}  // namespace
}  // namespace vl
