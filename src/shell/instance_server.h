#pragma once
// The single-instance socket: the first normal instance listens, a second
// one hands its files over and ends.
#include <QObject>
#include <QString>
#include <sys/types.h>
#include <unistd.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "shell/cli/instance.h"

class QLocalServer;
class QLocalSocket;

namespace vl {

class TInstanceServer : public QObject {
  Q_OBJECT

 public:
  // answer: what a query with parameter 0 gets ("VL20" for a normal instance);
  // user: the only user whose programs are heard (this process's own).
  TInstanceServer(uint32_t answer, uid_t user = ::getuid(), QObject* parent = nullptr);
  // Listens at the path, replacing a socket of this user left behind by an
  // instance that ended without removing it; anything else there is kept and
  // the reason told. Only the holder of the instance lock calls this.
  bool listen(const std::string& path, std::string& problem);

 signals:
  // Queued: each runs once the socket has been read, never inside it.
  void openRequested(const QString& path);
  void activateRequested();

 private:
  void accepted();
  void readFrom(QLocalSocket* socket, CInstanceReader* reader);

  QLocalServer* server;
  uint32_t queryValue;
  uid_t allowedUser;
  std::map<const QObject*, std::unique_ptr<CInstanceReader>> readers;
};

enum class HandOver {
  Done,         // the running instance took the files: end this one
  NoAnswer,     // nobody answered "VL20": start normally
};

// Asks the instance at `path` who it is; when it runs as `user` and answers
// "VL20", sends it one open message per file and the activate message. A
// program of another user is told nothing. Waits at most about timeoutMs for
// each step.
HandOver handOverToRunningInstance(const std::string& path, const std::vector<std::string>& files, int timeoutMs = 2000,
                                   uid_t user = ::getuid());

}  // namespace vl
