#pragma once
// The main window: a multiple-document frame with one canvas window per
// paper, the menus and the command list, the 30 ms main timer, and the
// end of the unattended viewer mode.
#include <QMainWindow>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/stroke.h"
#include "shell/cli/command_line.h"
#include "events/event_files.h"
#include "shell/cli/completion.h"

class QMdiArea;
class QMdiSubWindow;
class QLabel;
class QMenu;
class QTimer;

namespace vl {

class CAppProfile;
class TDrawWindow;
class TEventPacket;
class TLayerList;
class TSelectionList;
class TBrushPicker;
class TTabletInput;
class TMainForm;

// Starts replaying an event file in a canvas window for viewer mode; the
// event player installs it and calls form.playbackEnded() when the replay
// is over. False when the file cannot be opened or played.
using ViewerReplay = std::function<bool(TMainForm& form, const std::string& path)>;
void setViewerReplay(ViewerReplay replay);

// The first extension a save dialog's filter entry offers ("PNG format (*.png)" → ".png").
std::string filterExtension(const QString& filter);

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // The menus of the main window, in menu-bar order.
  enum Menu { kMenuFile, kMenuEdit, kMenuSelection, kMenuFilter, kMenuEvent, kMenuView, kMenuWindow, kMenuHelp,
              kMenuCount };

  explicit TMainForm(const StartupOptions& options, QWidget* parent = nullptr);
  ~TMainForm() override;

  // A command by its name ("actFileNew"); nullptr when there is none.
  QAction* command(std::string_view name) const;
  // Adds a command to the list and, unless menu is kMenuCount, to the end of a menu.
  QAction* addCommand(std::string_view name, std::string_view caption, std::string_view hint,
                      const QKeySequence& key, Menu menu, std::function<void()> run);
  QMenu* menu(Menu m) const { return menus[m]; }

  QMdiArea* mdiArea() const { return area; }
  TLayerList* layers() const { return layerList; }
  TSelectionList* selections() const { return selectionList; }
  TBrushPicker* brushes() const { return brushPicker; }
  TTabletInput* tablet() const { return tabletInput; }
  // The one pen every canvas paints with.
  TStroke& liveStroke() { return stroke; }
  TDrawWindow* activeCanvas() const;
  std::vector<TDrawWindow*> canvases() const;

  // A new canvas window with an empty paper; nullptr after a warning when it cannot be made.
  TDrawWindow* newCanvas(int32_t width, int32_t height, int32_t resolution, const std::string& name);
  // Opens a picture file in a new canvas window; warns and returns false when it cannot.
  bool openFile(const std::string& path);
  // Saves a canvas's paper as a picture file of the path's kind (BMP, JPEG
  // after the options dialog, PNG, PSD), telling the user how it went; false
  // when nothing was saved.
  bool saveExchangeFile(TDrawWindow& canvas, const std::string& path);
  // Saves the canvas's current layer as a BMP or PNG file, telling the user.
  bool saveLayerFile(TDrawWindow& canvas, const std::string& path);
  // Replays an event file in a new canvas window; warns and returns false
  // when it cannot (viewer mode: without boxes, reporting instead).
  bool openEventFile(const std::string& path);
  // Replays a stream in a new canvas window; the player's open result.
  int replayInNewCanvas(const EventStreamFile& file);
  int replayInNewCanvas(const std::function<int(TDrawWindow&)>& start);
  // The oldest drawings: a .wpe stream replayed, a .wpb paper opened.
  bool replayOldestStream(const TEventPacket& stream, const std::string& name);
  bool openOldestPaper(const std::string& path);

  // The native paper file (main_form_file.cpp). Opens one in a new canvas
  // window: 0, or an error code with no window left.
  int openPaperFile(const std::string& path);
  // Saves under the canvas's file name, or asks for one first when it has
  // none; Save As always asks. True when saved; failures are told.
  bool saveCanvas(TDrawWindow& canvas);
  bool saveCanvasAs(TDrawWindow& canvas);
  bool saveCanvasTo(TDrawWindow& canvas, const std::string& path);
  // Whether a canvas may close now: a paper with unsaved changes asks to
  // save (Yes saves, and a failed or cancelled save keeps it open).
  bool canvasMayClose(TDrawWindow& canvas);
  // Answers the save dialog instead of the user (tests): the path, or empty to cancel.
  std::function<std::string(const std::string& suggested)> chooseSavePath;

  // The window from the settings (maximised, or at the stored place), and back.
  void applyPlacement(const CAppProfile& profile);
  void storePlacement(CAppProfile& profile) const;
  // To the front, restored when minimised.
  void bringToFront();

  // The steps of the first activation: caption, file arguments.
  void firstActivation();
  bool activated() const { return firstActivationDone; }

  // Viewer mode: the replay is over; waits the "T" seconds, reports 13 and closes.
  void playbackEnded();
  // The process's exit status once the loop has ended (the completion code
  // in viewer mode, else 0).
  int exitCode() const { return exitStatus; }

 signals:
  // The 30 ms tick, after the canvas windows had theirs.
  void ticked();

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void createMenus();
  void createCommands();
  void createSelectionCommands();
  void createEditCommands();
  void createEventCommands();
  void updateEventCommands();
  void createFileCommands();
  void updateFileCommands();
  // Every canvas may close (asked in turn); false keeps the program running.
  bool mayQuit();
  // Undo (or redo) one step of the active canvas.
  void stepUndo(bool undo);
  // The status bar's memory line, when the active paper changed.
  void updateMemoryLine();
  void updateEditCommands();
  // The active canvas when its paper may be changed now (no stroke running), else none.
  TDrawWindow* editableCanvas() const;
  // The Window menu's show commands of the panels.
  void createPanelCommands();
  void timerTick();
  // The enabled state of the commands.
  void updateCommands();
  void tileCanvases(bool sideBySide);
  // Opens a picture without telling the user: 0, an error code, or −1 for a
  // type that is not opened.
  int openPicture(const std::string& path);
  // Picture and PSD files (main_form_exchange.cpp).
  void createExchangeCommands();
  void updateExchangeCommands();
  int openExchangeFile(const std::string& path);
  int openRasterFile(const std::string& path);
  int openPsdFile(const std::string& path);
  void actSaveAutoBmp();
  void actLayerSave();
  // A canvas whose paper may be saved: not protected, not replaying.
  bool canSaveFile(const TDrawWindow* canvas) const;
  // A canvas whose paper may be changed by a command now.
  bool isCommandReady(const TDrawWindow* canvas) const;
  // Closes a canvas that could not be filled, without asking.
  void discardCanvas(TDrawWindow* canvas);
  void placeCanvasWindow(QMdiSubWindow* sub, TDrawWindow* canvas);
  void actFileNew();
  void actFileOpen();
  void startViewer();
  void reportAndClose(int code, const std::string& source);

  StartupOptions startup;
  TStroke stroke;
  CCompletionReport report;
  QMdiArea* area = nullptr;
  TLayerList* layerList = nullptr;
  TSelectionList* selectionList = nullptr;
  TBrushPicker* brushPicker = nullptr;
  TTabletInput* tabletInput = nullptr;
  QTimer* timer = nullptr;
  QMenu* menus[kMenuCount] = {};
  std::map<std::string, QAction*, std::less<>> commands;
  bool firstActivationDone = false;
  int cascadeIndex = 0;
  // The grow and shrink amount dialogs start from the last value given.
  int lastGrowAmount = 1, lastShrinkAmount = 1;
  QLabel* memoryLabel = nullptr;
  QLabel* replayLabel = nullptr;
  const void* memoryShownFor = nullptr;
  uint64_t memoryShownAt = 0;
  int exitStatus = 0;
  std::string viewerSource;
  bool viewerWaiting = false;
};

}  // namespace vl
