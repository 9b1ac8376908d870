// The file commands of the main window: saving and opening native paper
// files, and the question about unsaved changes when a canvas closes.
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QStandardPaths>
#include <algorithm>

#include "paperfile/paper_file.h"
#include "paperfile/paper_pictures.h"
#include "platform/app_profile.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "shell/cli/dialog_folder.h"
#include "shell/draw_window.h"
#include "shell/main_form.h"
#include "shell/qt_ui.h"

namespace vl {
namespace {

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : slash == 0 ? "/" : path.substr(0, slash);
}

// The name without its extension.
std::string stemOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool hasPaperExtension(const std::string& path) {
  const std::string name = fileNameOf(path);
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return ext == ".vci";
}

}  // namespace

void TMainForm::createFileCommands() {
  QAction* save = addCommand("actFileSave", text(TextId::CmdFileSave), text(TextId::HintFileSave),
                             QKeySequence(Qt::CTRL | Qt::Key_S), kMenuFile, [this] {
                               if (TDrawWindow* c = activeCanvas()) saveCanvas(*c);
                               updateCommands();
                             });
  QAction* saveAs = addCommand("actFileSaveAs", text(TextId::CmdFileSaveAs), text(TextId::HintFileSaveAs),
                               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), kMenuFile, [this] {
                                 if (TDrawWindow* c = activeCanvas()) saveCanvasAs(*c);
                                 updateCommands();
                               });
  // Both stand with Close, after the separator that follows Open.
  QMenu* file = menu(kMenuFile);
  if (QAction* close = command("actFileClose")) {
    for (QAction* a : {save, saveAs}) {
      file->removeAction(a);
      file->insertAction(close, a);
    }
  }
}

void TMainForm::updateFileCommands() {
  // Save works without a file name too: it asks for one, as Save As does.
  const bool savable = canSaveFile(activeCanvas());
  for (const char* name : {"actFileSave", "actFileSaveAs"})
    if (QAction* a = command(name)) a->setEnabled(savable);
}

bool TMainForm::saveCanvas(TDrawWindow& canvas) {
  if (!canSaveFile(&canvas)) return false;
  const std::string& path = canvas.filePath();
  if (path.empty() || !hasPaperExtension(path)) return saveCanvasAs(canvas);
  return saveCanvasTo(canvas, path);
}

bool TMainForm::saveCanvasAs(TDrawWindow& canvas) {
  if (!canSaveFile(&canvas)) return false;
  CAppProfile& profile = appProfile();
  std::string folder = folderOf(canvas.filePath());
  if (folder.empty())
    folder = dialogStartFolder(profile.savePath, profile.machine.programFolder,
                               QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdString(),
                               QDir::homePath().toStdString());
  const std::string suggested = (folder.empty() ? std::string() : folder + "/") + stemOf(canvas.paper().name) + ".vci";
  // One dialog for every kind: the paper file first, then the pictures.
  std::string path;
  if (chooseSavePath) {
    path = chooseSavePath(suggested);
  } else {
    QString chosen;
    const QString file = QFileDialog::getSaveFileName(
        this, plainCaption(text(TextId::CmdFileSaveAs)), toQt(suggested),
        toQt(text(TextId::SavePaperFilter)) + ";;" + toQt(text(TextId::SaveImageFilter)), &chosen);
    path = file.toStdString();
    if (!path.empty() && extensionOf(path).empty()) path += filterExtension(chosen);
  }
  if (path.empty()) return false;
  if (extensionOf(path).empty()) path += ".vci";
  // Pictures leave the paper's own file name as it was.
  if (fileKindOf(path) == FileKind::Vci ? !saveCanvasTo(canvas, path) : !saveExchangeFile(canvas, path)) return false;
  profile.savePath = folderOf(path);
  return true;
}

bool TMainForm::saveCanvasTo(TDrawWindow& canvas, const std::string& path) {
  // Never half a stroke.
  if (!canSaveFile(&canvas) || canvas.strokeInProgress()) return false;
  TPaper& paper = canvas.paper();
  PaperSaveFailure failure;
  const FileError e = savePaperFile(path, paper, {}, &failure);
  if (e != FileError::None) {
    ui().Warning(paperSaveFailureText(path, e, failure));
    return false;
  }
  paper.modified = false;
  paper.name = fileNameOf(path);
  canvas.setFilePath(path);
  canvas.updateCaption();
  ui().Trace("saved " + path);
  return true;
}

int TMainForm::openPaperFile(const std::string& path) {
  clearFailureDetail();
  FileInput in;
  if (const FileError e = in.Open(path); e != FileError::None) return errorCode(e);
  PaperHeader header;
  if (const FileError e = readPaperFileHeader(in, header); e != FileError::None) return errorCode(e);
  const std::string name = fileNameOf(path);
  TDrawWindow* canvas = newCanvas(header.width, header.height, header.resolution, name);
  if (!canvas) return 0;  // already told
  PaperLoadOptions options;
  // Undo and the stream's steps go back equally far.
  options.historyDepth = std::max(8, appProfile().undoMax + 34);
  if (const FileError e = loadPaperFile(in, canvas->paper(), canvas->flow(), name, options); e != FileError::None) {
    // The window goes again, without asking about a paper that was never the user's.
    canvas->paper().modified = false;
    if (auto* sub = qobject_cast<QMdiSubWindow*>(canvas->parentWidget())) delete sub;
    return errorCode(e);
  }
  canvas->setFilePath(path);
  canvas->updateCaption();
  canvas->LayersChanged();
  canvas->MasksChanged();
  canvas->viewport()->update();
  updateCommands();
  return 0;
}

bool TMainForm::canvasMayClose(TDrawWindow& canvas) {
  const TPaper& paper = canvas.paper();
  if (startup.unattended || !paper.modified || paper.eventProtected) return true;
  // The user sees which picture the question is about.
  if (auto* sub = qobject_cast<QMdiSubWindow*>(canvas.parentWidget())) area->setActiveSubWindow(sub);
  switch (ui().QuestionYesNoCancel(formatMessage(text(TextId::AskSaveChanges), {paper.name}))) {
    case Answer::Yes: return saveCanvas(canvas);
    case Answer::No: return true;
    case Answer::Cancel: break;
  }
  return false;
}

bool TMainForm::mayQuit() {
  for (TDrawWindow* c : canvases())
    if (!canvasMayClose(*c)) return false;
  return true;
}

}  // namespace vl
