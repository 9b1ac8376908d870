#include "shell/shell_main.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSocketNotifier>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string>
#include <vector>
#include <unistd.h>

#include "files/timing.h"
#include "platform/app_profile.h"
#include "platform/settings_store.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "shell/cli/completion.h"
#include "shell/cli/instance.h"
#include "shell/cli/product.h"
#include "shell/cli/render_mode.h"
#include "shell/cli/unattended_ui.h"
#include "shell/instance_server.h"
#include "events/event_render.h"
#include "shell/export_mode.h"
#include "shell/main_form.h"
#include "shell/qt_ui.h"

#ifndef VL_VERSION
#define VL_VERSION "0"
#endif

namespace vl {
namespace {

// SIGTERM, SIGINT and SIGHUP end the program as its close command does, so
// the settings are written. The handler only writes a byte into a pipe.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char b = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &b, 1);
}

class SignalWatch {
 public:
  explicit SignalWatch(TMainForm& form) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &form, [&form] {
      char buf[16];
      while (::read(signalPipe[0], buf, sizeof buf) > 0) {
      }
      // A modal dialog may be open: leave every loop; the settings are written after them.
      form.close();
      QCoreApplication::quit();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
  }
  ~SignalWatch() {
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
    notifier.reset();
    for (int& fd : signalPipe)
      if (fd >= 0) {
        ::close(fd);
        fd = -1;
      }
  }

 private:
  std::unique_ptr<QSocketNotifier> notifier;
};

// The program's icon, drawn rather than loaded: no image plug-in is needed.
QIcon programIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xF4, 0xF1, 0xEA));
    p.drawRoundedRect(QRectF(4, 4, 56, 56), 10, 10);
    p.setBrush(QColor(0x3C, 0x6E, 0x9F));
    p.drawEllipse(QPointF(26, 36), 16, 16);
    p.setBrush(QColor(0xC8, 0x55, 0x3D));
    p.drawEllipse(QPointF(42, 24), 11, 11);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

// Qt ends the process when it cannot open a display. While the application
// object is being made, this turns that end into one line and an ordinary
// exit, after the report the caller of viewer mode waits for. Qt's platform
// messages of that time are held: one of them is the reason.
class DisplayWatch {
 public:
  explicit DisplayWatch(const StartupOptions& options) : startup(options) {
    current = this;
    previous = qInstallMessageHandler(&DisplayWatch::handle);
  }
  ~DisplayWatch() { opened(); }
  DisplayWatch(const DisplayWatch&) = delete;
  DisplayWatch& operator=(const DisplayWatch&) = delete;

  // The display is open: the held messages go out as they would have.
  void opened() {
    if (current != this) return;
    qInstallMessageHandler(previous);
    current = nullptr;
    for (const Held& h : held) {
      const QMessageLogContext context(nullptr, 0, nullptr, h.category.c_str());
      qt_message_output(h.type, context, h.text);
    }
    held.clear();
  }

 private:
  struct Held {
    QtMsgType type;
    std::string category;
    QString text;
  };

  static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    DisplayWatch* w = current;
    if (!w) return;
    if (type == QtFatalMsg) w->fail(text);
    if (context.category && std::strncmp(context.category, "qt.qpa", 6) == 0) {
      if (w->reason.isEmpty() && (type == QtWarningMsg || type == QtCriticalMsg)) w->reason = text;
      w->held.push_back({type, context.category, text});
      return;
    }
    if (w->previous) w->previous(type, context, text);
  }

  [[noreturn]] void fail(const QString& fatal) {
    // The platform's first complaint names the display; Qt's own last word does not.
    const QString why = (reason.isEmpty() ? fatal : reason).section(QLatin1Char('\n'), 0, 0).trimmed();
    std::string line = why.toStdString();
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!x || !*x) && (!wayland || !*wayland)) line += text(TextId::DisplayNotSet);
    printError(formatMessage(text(TextId::CannotOpenDisplay), {line}));
    int status = 1;
    if (startup.unattended) {
      // Nothing was played: the code of a file that could not be played,
      // without the marker that would call the file bad.
      CCompletionReport report(startup);
      status = report.report(kFileFailed, {});
    }
    std::fflush(nullptr);
    std::_Exit(status);
  }

  static inline DisplayWatch* current = nullptr;
  const StartupOptions& startup;
  QtMessageHandler previous = nullptr;
  QString reason;
  std::vector<Held> held;
};

void printMessages(const ParsedCommandLine& cl) {
  for (const CommandLineMessage& m : cl.messages) printError(m.text());
}

}  // namespace

int velluminarMain(int argc, char** argv) {
  // A report channel whose reader went away must not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  ParsedCommandLine cl = parseCommandLine(argc, argv);
  cl.options.reportChannel = checkedReportChannel(cl.options.reportChannel);
  // The locale speaks unless the command line says otherwise; a normal run
  // may still follow its setting once the settings are read.
  setLanguage(chooseLanguage(cl.options, {}, localeLanguage()));
  if (cl.options.showHelp) {
    std::fputs(commandLineHelp().c_str(), stdout);
    return 0;
  }
  if (cl.options.showVersion) {
    std::printf("velluminar %s (%s)\n", VL_VERSION, mainWindowCaption().c_str());
    return 0;
  }
  if (cl.options.exportMode) {
    printMessages(cl);
    return runExportMode(cl.options);
  }
  if (cl.options.renderMode()) {
    printMessages(cl);
    setRenderFunction(renderEventFile);
    return runRenderMode(cl.options);
  }
  // Viewer mode replays its file in a canvas window and reports when it ends.
  setViewerReplay([](TMainForm& form, const std::string& path) { return form.openEventFile(path); });
  return runShell(cl, argc > 0 ? argv[0] : "velluminar", {});
}

int runShell(const ParsedCommandLine& cl, const char* programPath, const ShellHooks& hooks) {
  const StartupOptions& options = cl.options;
  struct RestoreLanguage {
    Language previous = language();
    ~RestoreLanguage() { setLanguage(previous); }
  } restoreLanguage;
  setLanguage(chooseLanguage(options, {}, language()));
  // Qt sees none of the arguments: every "-" argument is ours.
  static int qtArgc = 1;
  static char qtProgram[256];
  std::snprintf(qtProgram, sizeof qtProgram, "%s", programPath ? programPath : "velluminar");
  static char* qtArgv[] = {qtProgram, nullptr};
  QApplication::setApplicationName(QStringLiteral("velluminar"));
  QApplication::setDesktopFileName(QStringLiteral("velluminar"));
  DisplayWatch displayWatch(options);
  QApplication app(qtArgc, qtArgv);
  displayWatch.opened();
  app.setQuitOnLastWindowClosed(false);
  app.setWindowIcon(programIcon());
  QtTranslations qtTexts;
  if (!qtTexts.follow(language())) ui().Trace("Qt's Korean texts (qtbase_ko.qm) were not found");

  QtUi qtUi;
  UnattendedUi unattendedUi;
  UiServices& services = options.unattended ? static_cast<UiServices&>(unattendedUi) : qtUi;
  UiServices* previousUi = setUi(&services);
  struct RestoreUi {
    UiServices* previous;
    ~RestoreUi() { setUi(previous); }
  } restoreUi{previousUi};

  // 1. A palette display cannot show the pictures.
  if (const QScreen* screen = QGuiApplication::primaryScreen(); screen && screen->depth() < 15) {
    if (!ui().Question(formatMessage(text(TextId::PaletteMode), {kProductName}), Buttons::YesNo)) return 1;
  }
  // 2. The command line was read before the display was opened; its messages come now.
  for (const CommandLineMessage& m : cl.messages) ui().Warning(m.text());

  // 3. One normal instance per user.
  CInstanceLock lock;
  std::unique_ptr<TInstanceServer> server;
  if (!options.unattended) {
    // Without a private folder, or a lock of our own, nothing is exchanged:
    // another user could listen there. This instance then runs on its own.
    InstanceNames names;
    std::string problem;
    if (!instanceNames(names, problem)) {
      printError(formatMessage(text(TextId::InstanceRunsAlone), {problem}));
    } else {
      switch (lock.acquire(names.lock)) {
        case CInstanceLock::kAcquired:
          server = std::make_unique<TInstanceServer>(queryAnswer(0, false, false));
          if (!server->listen(names.server, problem)) {
            printError(problem);
            server.reset();
          }
          break;
        case CInstanceLock::kBusy: {
          std::vector<std::string> files;
          for (const std::string& f : options.files) files.push_back(absoluteFilePath(f));
          if (handOverToRunningInstance(names.server, files) == HandOver::Done) return 0;
          // Nobody answered: this one starts normally, without the socket.
          break;
        }
        case CInstanceLock::kUnusable:
          printError(formatMessage(text(TextId::InstanceCannotLock), {names.lock}));
          break;
      }
    }
  }

  // 4. The machine and the settings.
  FileSettingsStore store(settingsFilePath());
  store.load();
  SettingsStore* previousStore = setAppSettings(&store);
  struct RestoreStore {
    SettingsStore* previous;
    ~RestoreStore() { setAppSettings(previous); }
  } restoreStore{previousStore};
  const QScreen* primary = QGuiApplication::primaryScreen();
  const QSize screenSize = primary ? primary->size() : QSize();
  CAppProfile& profile = appProfile();
  profile.load(store, gatherMachineFacts("", timingCalibration(100), int32_t(QGuiApplication::screens().size()),
                                         screenSize.width(), screenSize.height()));

  // 5. The user texts are built into the program: nothing to open, nothing to
  // fail. A normal run speaks the language of its setting from here on.
  profile.machine.langClass = 2;
  setLanguage(chooseLanguage(options, profile.language, language()));
  if (!qtTexts.follow(language())) ui().Trace("Qt's Korean texts (qtbase_ko.qm) were not found");

  // 6. The windows. The tool windows join the main window as they arrive.
  TMainForm form(options);
  qtUi.setMainWindow(&form);
  if (server) {
    QObject::connect(server.get(), &TInstanceServer::openRequested, &form, [&form](const QString& path) {
      if (form.openFile(path.toStdString())) form.bringToFront();
    });
    QObject::connect(server.get(), &TInstanceServer::activateRequested, &form, [&form] { form.bringToFront(); });
  }
  SignalWatch signalWatch(form);
  form.applyPlacement(profile);
  form.show();
  if (hooks.started) hooks.started(form);

  // 7. The loop.
  QApplication::exec();

  // 8. The settings go back. Unattended runs leave them to the user's own instance.
  if (!options.unattended) {
    form.storePlacement(profile);
    profile.save(store);
    if (!store.save()) printError(formatMessage(text(TextId::CannotWriteSettings), {store.path()}));
  }
  qtUi.setMainWindow(nullptr);
  return form.exitCode();
}

}  // namespace vl
