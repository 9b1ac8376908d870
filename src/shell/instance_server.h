#pragma once
// The single-instance socket: the first normal instance listens, a second
// one hands its files over and ends.
#include <QObject>
#include <QString>
#include <string>
#include <vector>

#include "shell/cli/instance.h"

class QLocalServer;
class QLocalSocket;

namespace vl {

class TInstanceServer : public QObject {
  Q_OBJECT

 public:
  // answer: what a query with parameter 0 gets ("VL20" for a normal instance).
  TInstanceServer(uint32_t answer, QObject* parent = nullptr);
  // Listens at the path, removing a socket left behind by an instance that
  // ended without closing it. Only the holder of the instance lock calls this.
  bool listen(const std::string& path);

 signals:
  // Queued: each runs once the socket has been read, never inside it.
  void openRequested(const QString& path);
  void activateRequested();

 private:
  void accepted();
  void readFrom(QLocalSocket* socket, CInstanceReader* reader);

  QLocalServer* server;
  uint32_t queryValue;
};

enum class HandOver {
  Done,         // the running instance took the files: end this one
  NoAnswer,     // nobody answered "VL20": start normally
};

// Asks the instance at `path` who it is; when it answers "VL20", sends it
// one open message per file and the activate message. Waits at most about
// timeoutMs for each step.
HandOver handOverToRunningInstance(const std::string& path, const std::vector<std::string>& files, int timeoutMs = 2000);

}  // namespace vl
