// Pictures and PSD files: opening them as papers, saving papers and layers
// as pictures, and the quick BMP save.
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QStandardPaths>
#include <QStatusBar>
#include <ctime>
#include <filesystem>

#include "events/event_manager.h"
#include "paperfile/paper_pictures.h"
#include "paperfile/paper_psd.h"
#include "platform/app_profile.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "shell/cli/dialog_folder.h"
#include "shell/draw_window.h"
#include "shell/jpeg_options_dialog.h"
#include "shell/png_options_dialog.h"
#include "shell/layer_list.h"
#include "shell/main_form.h"
#include "shell/qt_ui.h"

namespace vl {
namespace {

std::string saveFolder() {
  const CAppProfile& profile = appProfile();
  return dialogStartFolder(profile.savePath, profile.machine.programFolder,
                           QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdString(),
                           QDir::homePath().toStdString());
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A save dialog; the name gains the chosen filter's extension when it has none.
std::string askSavePath(QWidget* parent, const QString& caption, const std::string& start, const QString& filters) {
  QString chosen;
  const QString file = QFileDialog::getSaveFileName(parent, caption, toQt(start), filters, &chosen);
  if (file.isEmpty()) return {};
  std::string path = file.toStdString();
  if (extensionOf(path).empty()) path += filterExtension(chosen);
  return path;
}

}  // namespace

std::string filterExtension(const QString& filter) {
  const qsizetype star = filter.indexOf("*.");
  if (star < 0) return {};
  qsizetype end = star + 2;
  while (end < filter.size() && filter[end].isLetterOrNumber()) ++end;
  return end > star + 2 ? filter.mid(star + 1, end - star - 1).toStdString() : std::string();
}

// ---- commands ----

void TMainForm::createExchangeCommands() {
  QMenu* file = menus[kMenuFile];
  // The quick save stands after Close, behind a separator; Save As (main_form_file.cpp) offers every kind.
  QAction* close = command("actFileClose");
  QAction* quick = addCommand("actSaveAutoBmp", text(TextId::CmdSaveAutoBmp), text(TextId::HintSaveAutoBmp), {},
                              kMenuFile, [this] { actSaveAutoBmp(); });
  file->removeAction(quick);
  const QList<QAction*> actions = file->actions();
  const qsizetype at = close ? actions.indexOf(close) : -1;
  QAction* after = at >= 0 && at + 1 < actions.size() ? actions[at + 1] : nullptr;
  file->insertAction(after, quick);
  file->insertSeparator(quick);

  // The layer panel's own menu, on its list.
  QAction* layerSave = addCommand("actLayerSave", text(TextId::CmdLayerSave), text(TextId::HintLayerSave), {},
                                  kMenuCount, [this] { actLayerSave(); });
  if (layerList) {
    layerList->list()->setContextMenuPolicy(Qt::ActionsContextMenu);
    layerList->list()->addAction(layerSave);
  }
}

bool TMainForm::canSaveFile(const TDrawWindow* c) const {
  return c && !c->paper().eventProtected && !c->paper().playingBack;
}

bool TMainForm::isCommandReady(const TDrawWindow* c) const {
  return c && !startup.unattended && c->paper().drawGeneration == DrawGeneration::Current &&
         !c->strokeInProgress() && !c->paper().playingBack;
}

void TMainForm::updateExchangeCommands() {
  const TDrawWindow* c = activeCanvas();
  if (QAction* a = command("actSaveAutoBmp")) a->setEnabled(canSaveFile(c));
  if (QAction* a = command("actLayerSave")) a->setEnabled(isCommandReady(c));
}

void TMainForm::actSaveAutoBmp() {
  TDrawWindow* c = activeCanvas();
  if (!canSaveFile(c)) return;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string path =
      quickSaveName(saveFolder(), local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                    [](const std::string& f) {
                      std::error_code e;
                      return std::filesystem::exists(std::filesystem::symlink_status(f, e));
                    });
  if (path.empty()) return;
  saveExchangeFile(*c, path);
}

void TMainForm::actLayerSave() {
  TDrawWindow* c = activeCanvas();
  if (!isCommandReady(c) || !canSaveFile(c)) return;
  const TPaper& paper = c->paper();
  const std::string start = saveFolder() + "/" + layerFileSuggestion(paper.name, paper.currentLayerIndex());
  const std::string path =
      askSavePath(this, toQt(text(TextId::LayerSaveCaption)), start, toQt(text(TextId::LayerSaveFilter)));
  if (path.empty()) return;
  if (saveLayerFile(*c, path)) appProfile().savePath = folderOf(path);
}

// ---- saving ----

bool TMainForm::saveExchangeFile(TDrawWindow& c, const std::string& path) {
  TPaper& paper = c.paper();
  const FileKind kind = fileKindOf(path);
  clearFailureDetail();
  switch (kind) {
    case FileKind::Wpb:
      ui().Warning(text(TextId::CannotSaveThisKind));
      return false;
    case FileKind::Bmp:
    case FileKind::Jpeg:
    case FileKind::Png: {
      JpegOptions jpeg = jpegOptionsOf(appProfile());
      if (kind == FileKind::Jpeg) {
        TJpegOptionsDialog dialog(jpeg, this);
        if (dialog.exec() != QDialog::Accepted) return false;
        jpeg = dialog.options();
        storeJpegOptions(appProfile(), jpeg);
      }
      int pngLevel = appProfile().pngLevel;
      if (kind == FileKind::Png) {
        TPngOptionsDialog dialog(pngLevel, this);
        if (dialog.exec() != QDialog::Accepted) return false;
        pngLevel = dialog.level();
        appProfile().pngLevel = pngLevel;
      }
      FileError e;
      {
        WaitCursor wait;
        e = saveComposite(paper, path, kind, jpeg, pngLevel);
      }
      c.viewport()->update();
      const char* name = kind == FileKind::Bmp ? "BMP " : kind == FileKind::Jpeg ? "JPEG " : "PNG ";
      if (e != FileError::None) {
        ui().Warning(withFailureReason(formatMessage(text(TextId::SaveFailedKind), {name, errorCode(e)}), errorCode(e)));
        return false;
      }
      const std::string done = kind == FileKind::Bmp    ? std::string(text(TextId::SavedBmp))
                               : kind == FileKind::Jpeg ? std::string(text(TextId::SavedJpeg))
                                                        : formatMessage(text(TextId::SavedInFormat), {"PNG"});
      statusBar()->showMessage(toQt(done));
      return true;
    }
    case FileKind::Psd: {
      int32_t dropped = 0;
      int code;
      {
        WaitCursor wait;
        code = savePaperPsd(paper, path, appProfile().psdSaveVer, true, &dropped);
      }
      c.viewport()->update();
      if (code != 0) {
        ui().Warning(withFailureReason(formatMessage(text(TextId::SaveFailedKind), {"PSD ", code}), code));
        return false;
      }
      if (dropped > 0) ui().Warning(formatMessage(text(TextId::PsdMasksDropped), {kPsdSaveChannels, dropped}));
      statusBar()->showMessage(toQt(formatMessage(text(TextId::SavedInFormat), {"PSD"})));
      return true;
    }
    default:
      ui().Warning(formatMessage(text(TextId::UnknownFormat), {extensionOf(path)}));
      return false;
  }
}

bool TMainForm::saveLayerFile(TDrawWindow& c, const std::string& path) {
  const FileKind kind = fileKindOf(path);
  if (kind != FileKind::Png && kind != FileKind::Bmp) {
    ui().Warning(formatMessage(text(TextId::UnknownFormat), {extensionOf(path)}));
    return false;
  }
  const CLayerData* layer = c.paper().currentLayer();
  if (!layer) return false;
  clearFailureDetail();
  FileError e;
  {
    WaitCursor wait;
    e = saveLayerImage(*layer, c.paper().resolution, path, kind);
  }
  if (e == FileError::OutOfMemory) {
    ui().Warning(text(TextId::OutOfMemory));
    return false;
  }
  if (e != FileError::None) {
    ui().Warning(withFailureReason(std::string(text(TextId::LayerSaveFailed)), errorCode(e)));
    return false;
  }
  statusBar()->showMessage(toQt(text(TextId::LayerSaved)));
  return true;
}

// ---- opening ----

int TMainForm::openExchangeFile(const std::string& path) {
  switch (fileKindOf(path)) {
    case FileKind::Bmp:
    case FileKind::Jpeg:
    case FileKind::Png: return openRasterFile(path);
    case FileKind::Psd: return openPsdFile(path);
    default: return -1;
  }
}

void TMainForm::discardCanvas(TDrawWindow* canvas) {
  canvas->paper().modified = false;
  for (QMdiSubWindow* sub : area->subWindowList())
    if (sub->widget() == canvas) sub->close();
  updateCommands();
}

int TMainForm::openRasterFile(const std::string& path) {
  clearFailureDetail();
  TMTC pixels;
  int dpi = 0;
  if (const FileError e = loadPicture(path, pixels, dpi); e != FileError::None) return errorCode(e);
  // Decoders give pictures larger than a paper; the paper keeps the top-left part.
  TDrawWindow* canvas = newCanvas(std::min(pixels.width, kMaxImageSide), std::min(pixels.height, kMaxImageSide), dpi,
                                  fileNameOf(path));
  if (!canvas) return 0;  // already told
  if (!putOpenedPicture(canvas->paper(), canvas->flow(), pixels)) {
    discardCanvas(canvas);
    return errorCode(FileError::OutOfMemory);
  }
  canvas->paper().modified = false;
  canvas->LayersChanged();
  canvas->viewport()->update();
  return 0;
}

int TMainForm::openPsdFile(const std::string& path) {
  clearFailureDetail();
  PsdFilePtr reader;
  if (const FileError e = psdOpenReader(path, reader); e != FileError::None) {
    if (reader && !psdErrorText(*reader).empty()) setFailureDetail(TextId::DetailText, {psdErrorText(*reader)});
    return errorCode(e);
  }
  PsdPaperSize size;
  if (const FileError e = psdPaperSize(*reader, size); e != FileError::None) return errorCode(e);
  TDrawWindow* canvas = newCanvas(size.width, size.height, size.resolution, fileNameOf(path));
  if (!canvas) return 0;  // already told
  TPaper& paper = canvas->paper();
  // A file whose layers the event stream cannot carry opens without recording.
  const bool record = psdRecordable(*reader);
  if (!record) {
    if (auto* recorder = dynamic_cast<CEventMngr*>(&paper.eventHook())) recorder->clear();
    statusBar()->showMessage(toQt(text(TextId::OpenedWithoutRecording)));
  }
  int code;
  {
    WaitCursor wait;
    code = psdIntoPaper(*reader, paper, canvas->flow(), record);
  }
  if (code != 0) {
    discardCanvas(canvas);
    return code;
  }
  paper.modified = false;
  canvas->LayersChanged();
  canvas->MasksChanged();
  canvas->viewport()->update();
  return 0;
}

}  // namespace vl
