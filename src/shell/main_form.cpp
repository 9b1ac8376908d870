#include "shell/main_form.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <cstdio>

#include "events/oldest_paper.h"
#include "files/image_files.h"
#include "paperfile/paper_pictures.h"
#include "platform/app_profile.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "shell/cli/dialog_folder.h"
#include "shell/cli/product.h"
#include "shell/cli/render_mode.h"
#include "shell/cli/unattended_ui.h"
#include "shell/draw_window.h"
#include "shell/brush_picker.h"
#include "shell/layer_list.h"
#include "shell/new_canvas_dialog.h"
#include "shell/selection_list.h"
#include "shell/qt_ui.h"
#include "shell/tablet_input.h"

namespace vl {
namespace {

ViewerReplay& viewerReplay() {
  static ViewerReplay replay;
  return replay;
}

}  // namespace

void setViewerReplay(ViewerReplay replay) { viewerReplay() = std::move(replay); }

TMainForm::TMainForm(const StartupOptions& options, QWidget* parent)
    : QMainWindow(parent), startup(options), report(options) {
  setWindowTitle(toQt(kProductName));
  area = new QMdiArea(this);
  setCentralWidget(area);
  statusBar();
  setAcceptDrops(true);
  createMenus();
  createCommands();
  // A pen that draws a visible line until the pen slots bring the stored ones.
  stroke.SetWidth(5.0f);
  brushPicker = new TBrushPicker(stroke, this);
  addDockWidget(Qt::RightDockWidgetArea, brushPicker);
  tabletInput = new TTabletInput(stroke, !appProfile().ignoreTablet, this);
  connect(tabletInput, &TTabletInput::penChanged, brushPicker, &TBrushPicker::refresh);
  layerList = new TLayerList(this);
  addDockWidget(Qt::RightDockWidgetArea, layerList);
  selectionList = new TSelectionList(this);
  addDockWidget(Qt::RightDockWidgetArea, selectionList);
  createPanelCommands();
  createExchangeCommands();
  connect(area, &QMdiArea::subWindowActivated, this, [this] {
    updateCommands();
    layerList->setCanvas(activeCanvas());
    selectionList->setCanvas(activeCanvas());
  });

  timer = new QTimer(this);
  timer->setInterval(30);
  connect(timer, &QTimer::timeout, this, &TMainForm::timerTick);
  timer->start();
}

TMainForm::~TMainForm() {
  // The base class closes the canvases and panels after this object's own
  // members are gone; their signals must find nobody here by then.
  for (QObject* sender : {static_cast<QObject*>(area), static_cast<QObject*>(brushPicker),
                          static_cast<QObject*>(layerList), static_cast<QObject*>(selectionList),
                          static_cast<QObject*>(tabletInput)})
    if (sender) sender->disconnect(this);
}

void TMainForm::createMenus() {
  const TextId names[kMenuCount] = {TextId::MenuFile,  TextId::MenuEdit, TextId::MenuSelection, TextId::MenuFilter,
                                    TextId::MenuEvent, TextId::MenuView, TextId::MenuWindow,    TextId::MenuHelp};
  for (int m = 0; m < kMenuCount; ++m) {
    menus[m] = menuBar()->addMenu(toQt(text(names[m])));
    // Menus whose commands come later stay out of the bar until they have some.
    menus[m]->menuAction()->setVisible(false);
    connect(menus[m], &QMenu::aboutToShow, this, [this] { updateCommands(); });
  }
}

QAction* TMainForm::addCommand(std::string_view name, std::string_view caption, std::string_view hint,
                               const QKeySequence& key, Menu m, std::function<void()> run) {
  auto* action = new QAction(toQt(caption), this);
  action->setObjectName(toQt(name));
  action->setStatusTip(toQt(hint));
  action->setShortcut(key);
  action->setShortcutContext(Qt::WindowShortcut);
  connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
  commands[std::string(name)] = action;
  if (m >= 0 && m < kMenuCount) {
    menus[m]->addAction(action);
    menus[m]->menuAction()->setVisible(true);
  } else {
    addAction(action);  // shortcut without a menu item
  }
  return action;
}

QAction* TMainForm::command(std::string_view name) const {
  const auto it = commands.find(name);
  return it == commands.end() ? nullptr : it->second;
}

void TMainForm::createCommands() {
  addCommand("actFileNew", text(TextId::CmdFileNew), text(TextId::HintFileNew), QKeySequence(Qt::CTRL | Qt::Key_N),
             kMenuFile, [this] { actFileNew(); });
  addCommand("actFileOpen", text(TextId::CmdFileOpen), text(TextId::HintFileOpen),
             QKeySequence(Qt::CTRL | Qt::Key_O), kMenuFile, [this] { actFileOpen(); });
  menus[kMenuFile]->addSeparator();
  addCommand("actFileClose", text(TextId::CmdFileClose), text(TextId::HintFileClose),
             QKeySequence(Qt::CTRL | Qt::Key_F4), kMenuFile, [this] {
               if (QMdiSubWindow* sub = area->activeSubWindow()) sub->close();
             });
  menus[kMenuFile]->addSeparator();
  addCommand("actCloseApp", text(TextId::CmdCloseApp), text(TextId::HintCloseApp), {}, kMenuFile,
             [this] { close(); });

  addCommand("actViewZoomIn", text(TextId::CmdViewZoomIn), text(TextId::HintViewZoomIn), {}, kMenuView, [this] {
    if (TDrawWindow* c = activeCanvas()) c->zoomIn();
  });
  addCommand("actViewZoomOut", text(TextId::CmdViewZoomOut), text(TextId::HintViewZoomOut), {}, kMenuView, [this] {
    if (TDrawWindow* c = activeCanvas()) c->zoomOut();
  });
  menus[kMenuView]->addSeparator();
  addCommand("actViewZoomCancel", text(TextId::CmdViewZoomCancel), text(TextId::HintViewZoomCancel),
             QKeySequence(Qt::Key_F7), kMenuView, [this] {
               if (TDrawWindow* c = activeCanvas()) c->zoomCancel();
             });

  menus[kMenuView]->addSeparator();
  QAction* aa = addCommand("actViewAntiAlias", text(TextId::CmdViewAntiAlias), text(TextId::HintViewAntiAlias),
                           QKeySequence(Qt::Key_F9), kMenuView, [this] {
                             TDrawWindow* c = activeCanvas();
                             if (!c) return;
                             c->setAntialias(!c->antialias());
                             const std::string_view state = text(c->antialias() ? TextId::SettingOn : TextId::SettingOff);
                             statusBar()->showMessage(toQt(formatMessage("%s %s", {text(TextId::SmoothDisplay), state})));
                             updateCommands();
                           });
  aa->setCheckable(true);
  addCommand("actViewRotateLeft", text(TextId::CmdViewRotateLeft), text(TextId::HintViewRotateLeft),
             QKeySequence(Qt::CTRL | Qt::Key_BracketLeft), kMenuView, [this] {
               if (TDrawWindow* c = activeCanvas()) c->rotateViewBy(15.0f);
               updateCommands();
             });
  addCommand("actViewRotateRight", text(TextId::CmdViewRotateRight), text(TextId::HintViewRotateRight),
             QKeySequence(Qt::CTRL | Qt::Key_BracketRight), kMenuView, [this] {
               if (TDrawWindow* c = activeCanvas()) c->rotateViewBy(-15.0f);
               updateCommands();
             });
  addCommand("actViewRotateCancel", text(TextId::CmdViewRotateCancel), text(TextId::HintViewRotateCancel),
             QKeySequence(Qt::CTRL | Qt::Key_Backslash), kMenuView, [this] {
               if (TDrawWindow* c = activeCanvas()) c->setViewRotation(0.0f);
               updateCommands();
             });

  createEditCommands();
  createSelectionCommands();
  createEventCommands();
  createFileCommands();

  addCommand("actWindowCascade", text(TextId::CmdWindowCascade), text(TextId::HintWindowCascade), {}, kMenuWindow,
             [this] { area->cascadeSubWindows(); });
  addCommand("actWindowTileVertical", text(TextId::CmdWindowTileVertical), text(TextId::HintWindowTileVertical), {},
             kMenuWindow, [this] { tileCanvases(true); });
  addCommand("actWindowTileHorizontal", text(TextId::CmdWindowTileHorizontal),
             text(TextId::HintWindowTileHorizontal), {}, kMenuWindow, [this] { tileCanvases(false); });
  addCommand("actWindowMinimizeAll", text(TextId::CmdWindowMinimizeAll), text(TextId::HintWindowMinimizeAll), {},
             kMenuWindow, [this] {
               for (QMdiSubWindow* sub : area->subWindowList()) sub->showMinimized();
             });
  updateCommands();
}

void TMainForm::createPanelCommands() {
  struct {
    const char* name;
    TextId caption, hint;
    QDockWidget* panel;
  } panels[] = {{"actShowPenWindow", TextId::CmdShowPenWindow, TextId::HintShowPenWindow, brushPicker},
                {"actShowLayerWindow", TextId::CmdShowLayerWindow, TextId::HintShowLayerWindow, layerList},
                {"actShowSelectWindow", TextId::CmdShowSelectWindow, TextId::HintShowSelectWindow, selectionList}};
  menus[kMenuWindow]->addSeparator();
  for (const auto& p : panels) {
    QDockWidget* panel = p.panel;
    QAction* a = addCommand(p.name, text(p.caption), text(p.hint), {}, kMenuWindow, [this, panel] {
      if (panel->isHidden()) {
        panel->show();
        panel->raise();
      } else {
        panel->hide();
      }
      updateCommands();
    });
    a->setCheckable(true);
    a->setChecked(!panel->isHidden());
    connect(panel, &QDockWidget::visibilityChanged, this, [this] { updateCommands(); });
  }
}

void TMainForm::updateCommands() {
  const TDrawWindow* c = activeCanvas();
  for (const char* name : {"actFileClose", "actViewZoomIn", "actViewZoomOut"})
    if (QAction* a = command(name)) a->setEnabled(c != nullptr);
  if (QAction* a = command("actViewZoomCancel")) a->setEnabled(c && c->paper().zoomLevel != 0);
  for (const char* name : {"actViewAntiAlias", "actViewRotateLeft", "actViewRotateRight"})
    if (QAction* a = command(name)) a->setEnabled(c != nullptr);
  if (QAction* a = command("actViewAntiAlias")) a->setChecked(c && c->antialias());
  if (QAction* a = command("actViewRotateCancel")) a->setEnabled(c && c->paper().rotated());
  // Panels count as shown unless they were closed: one tabbed behind another is still open.
  if (QAction* a = command("actShowPenWindow")) a->setChecked(brushPicker && !brushPicker->isHidden());
  if (QAction* a = command("actShowLayerWindow")) a->setChecked(layerList && !layerList->isHidden());
  const bool any = !area->subWindowList().isEmpty();
  for (const char* name : {"actWindowCascade", "actWindowTileVertical", "actWindowTileHorizontal", "actWindowMinimizeAll"})
    if (QAction* a = command(name)) a->setEnabled(any);
  updateEditCommands();
  updateExchangeCommands();
  updateEventCommands();
  updateFileCommands();
}

void TMainForm::tileCanvases(bool sideBySide) {
  QList<QMdiSubWindow*> subs;
  for (QMdiSubWindow* sub : area->subWindowList())
    if (!sub->isMinimized()) subs.push_back(sub);
  if (subs.isEmpty()) return;
  const QSize all = area->viewport()->size();
  const int n = int(subs.size());
  for (int i = 0; i < n; ++i) {
    subs[i]->showNormal();
    if (sideBySide) {
      const int x0 = all.width() * i / n, x1 = all.width() * (i + 1) / n;
      subs[i]->setGeometry(x0, 0, x1 - x0, all.height());
    } else {
      const int y0 = all.height() * i / n, y1 = all.height() * (i + 1) / n;
      subs[i]->setGeometry(0, y0, all.width(), y1 - y0);
    }
  }
}

TDrawWindow* TMainForm::activeCanvas() const {
  QMdiSubWindow* sub = area->activeSubWindow();
  return sub ? qobject_cast<TDrawWindow*>(sub->widget()) : nullptr;
}

std::vector<TDrawWindow*> TMainForm::canvases() const {
  std::vector<TDrawWindow*> out;
  for (QMdiSubWindow* sub : area->subWindowList())
    if (auto* c = qobject_cast<TDrawWindow*>(sub->widget())) out.push_back(c);
  return out;
}

void TMainForm::timerTick() {
  for (TDrawWindow* c : canvases()) c->timerTick();
  updateCommands();
  updateMemoryLine();
  emit ticked();
}

// ---- canvas windows ----

TDrawWindow* TMainForm::newCanvas(int32_t width, int32_t height, int32_t resolution, const std::string& name) {
  auto* canvas = new TDrawWindow;
  canvas->setStroke(&stroke);
  canvas->setTablet(tabletInput);
  if (!canvas->newPaper(name, resolution, height, width)) {
    delete canvas;
    ui().Warning(text(TextId::OutOfMemory));
    return nullptr;
  }
  QMdiSubWindow* sub = area->addSubWindow(canvas);
  sub->setAttribute(Qt::WA_DeleteOnClose);
  connect(sub, &QMdiSubWindow::windowStateChanged, this, [](Qt::WindowStates, Qt::WindowStates now) {
    if (!(now & Qt::WindowMinimized)) appProfile().childWinMax = (now & Qt::WindowMaximized) != 0;
  });
  placeCanvasWindow(sub, canvas);
  if (appProfile().childWinMax) sub->showMaximized();
  canvas->setFocus();
  area->setActiveSubWindow(sub);
  updateCommands();
  return canvas;
}

void TMainForm::placeCanvasWindow(QMdiSubWindow* sub, TDrawWindow* canvas) {
  int k = area->subWindowList().size() <= 1 ? 0 : cascadeIndex;
  if (k > 6) k = 0;
  cascadeIndex = k + 1;
  sub->move(24 * k, 24 * k);
  sub->show();
  // The zoomed picture plus 80 pixels, with the scroll bars and the frame,
  // inside the client area.
  const QSize chrome = sub->size() - canvas->viewport()->size();
  const QSize client = area->viewport()->size();
  const QSize want = canvas->preferredClientSize() + chrome;
  const int w = std::min(want.width(), client.width()), h = std::min(want.height(), client.height());
  sub->resize(w, h);
  sub->move(std::max(0, std::min(24 * k, client.width() - w)), std::max(0, std::min(24 * k, client.height() - h)));
}

int TMainForm::openPicture(const std::string& path) {
  if (fileKindOf(path) == FileKind::Vci) return openPaperFile(path);
  return openExchangeFile(path);
}

bool TMainForm::openFile(const std::string& path) {
  if (eventFileKindOf(path) != EventFileKind::None) return openEventFile(path);
  if (isWpbPath(path)) return openOldestPaper(path);
  const size_t before = area->subWindowList().size();
  const int e = openPicture(path);
  if (e < 0) {
    ui().Warning(formatMessage(text(TextId::CannotOpenFile), {path}));
  } else if (e > 0) {
    ui().Warning(withFailureReason(formatMessage(text(TextId::OpenFailed), {path, e}), e));
  }
  const bool opened = e == 0 && size_t(area->subWindowList().size()) > before;
  if (opened) ui().Trace("opened " + path);
  return opened;
}

void TMainForm::actFileNew() {
  TNewWindow dialog(appProfile(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  const NewCanvasSize s = dialog.size();
  newCanvas(s.width, s.height, s.resolution, generatedPaperName("Untitled"));
}

void TMainForm::actFileOpen() {
  CAppProfile& profile = appProfile();
  const std::string folder =
      dialogStartFolder(profile.loadPath, profile.machine.programFolder,
                        QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdString(),
                        QDir::homePath().toStdString());
  const QStringList files = QFileDialog::getOpenFileNames(
      this, {}, toQt(folder), toQt(text(TextId::OpenImageFilter)));
  for (const QString& f : files) {
    const std::string path = f.toStdString();
    if (openFile(path)) profile.loadPath = path.substr(0, path.rfind('/'));
  }
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  for (const QUrl& url : event->mimeData()->urls()) {
    if (!url.isLocalFile()) continue;
    // Event files dropped on the window replay, as when opened from the menu.
    openFile(url.toLocalFile().toStdString());
  }
  event->acceptProposedAction();
}

// ---- placement ----

void TMainForm::applyPlacement(const CAppProfile& profile) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  // Also the size to return to from the maximised state.
  resize(avail.width() * 4 / 5, avail.height() * 4 / 5);
  if (profile.mainWinX >= 0 && profile.mainWinY >= 0) move(profile.mainWinX, profile.mainWinY);
  if (profile.mainWinW >= 0 && profile.mainWinH >= 0) resize(profile.mainWinW, profile.mainWinH);
  if (profile.mainWinMax) setWindowState(windowState() | Qt::WindowMaximized);
}

void TMainForm::storePlacement(CAppProfile& profile) const {
  profile.mainWinMax = isMaximized();
  if (isMaximized() || isMinimized()) return;
  profile.mainWinX = pos().x();
  profile.mainWinY = pos().y();
  profile.mainWinW = width();
  profile.mainWinH = height();
}

void TMainForm::bringToFront() {
  if (isMinimized()) setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

// ---- start and end ----

bool TMainForm::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate && !firstActivationDone) {
    // After the activation has been handled, as the platform's own order has it.
    QTimer::singleShot(0, this, &TMainForm::firstActivation);
  } else if (e->type() == QEvent::Show && !firstActivationDone) {
    // Without a window manager the window may never be activated.
    QTimer::singleShot(0, this, &TMainForm::firstActivation);
  }
  return QMainWindow::event(e);
}

void TMainForm::firstActivation() {
  if (firstActivationDone) return;
  firstActivationDone = true;
  setWindowTitle(toQt(mainWindowCaption()));
  if (startup.unattended) {
    startViewer();
  } else {
    for (const std::string& f : startup.files) openFile(absoluteFilePath(f));
  }
  activateWindow();
}

void TMainForm::startViewer() {
  if (startup.files.empty()) {
    printError(text(TextId::ViewerNeedsFile));
    reportAndClose(kFileFailed, {});
    return;
  }
  viewerSource = absoluteFilePath(startup.files.front());
  // A pipe in the file's place would stall the viewer for ever.
  if (std::string reason; !readableEventFile(viewerSource, reason)) {
    printError(formatMessage(text(TextId::RenderCannotOpen), {viewerSource, reason}));
    reportAndClose(kFileFailed, viewerSource);
    return;
  }
  const ViewerReplay& replay = viewerReplay();
  if (!replay) {
    printError(formatMessage(text(TextId::RenderCannotReplay), {viewerSource}));
    reportAndClose(kFileFailed, viewerSource);
    return;
  }
  if (!replay(*this, viewerSource)) reportAndClose(kFileFailed, viewerSource);
}

void TMainForm::playbackEnded() {
  if (!startup.viewerMode || report.reported() || viewerWaiting) return;
  viewerWaiting = true;
  // Seconds as the caller gave them; a delay the timer cannot hold is cut to the longest it can.
  const int64_t ms = std::clamp<int64_t>(int64_t(startup.viewerDelay) * 1000, 0, INT_MAX);
  QTimer::singleShot(int(ms), this, [this] { reportAndClose(kViewerDone, viewerSource); });
}

void TMainForm::reportAndClose(int code, const std::string& source) {
  exitStatus = report.report(code, source);
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!mayQuit()) {
    event->ignore();
    return;
  }
  // The tool windows' unsaved sets will be asked about here.
  event->accept();
  timer->stop();
  QCoreApplication::quit();
}

}  // namespace vl
