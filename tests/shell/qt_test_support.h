#pragma once
// What the shell's Qt tests share: the offscreen platform, private folders
// for the settings and the instance socket, and a watchdog.
#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "shell/test_process.h"

namespace vl::test {

// The environment of one test: offscreen display, its own runtime and
// configuration folders, so the user's settings are never touched.
class ShellEnvironment {
 public:
  ShellEnvironment() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
  }
  std::string settingsFile() const { return dir.file("config/brennholt/Velluminar3 Plus.ini"); }
  TempDir dir;
};

// A QApplication for tests that do not run the whole program.
class TestApp {
 public:
  TestApp() {
    static int argc = 1;
    static char name[] = "vl_shell_tests";
    static char* argv[] = {name, nullptr};
    app = std::make_unique<QApplication>(argc, argv);
  }

 private:
  ShellEnvironment env;
  std::unique_ptr<QApplication> app;
};

// Ends every event loop when a test has not finished in time.
inline void startWatchdog(QObject* context, bool& fired, int ms = 60000) {
  QTimer::singleShot(ms, context, [&fired] {
    fired = true;
    QCoreApplication::quit();
  });
}

}  // namespace vl::test
