#include "shell/instance_server.h"

#include <QLocalServer>
#include <QLocalSocket>

#include "platform/strings.h"

namespace vl {

TInstanceServer::TInstanceServer(uint32_t answer, uid_t user, QObject* parent)
    : QObject(parent), server(new QLocalServer(this)), queryValue(answer), allowedUser(user) {
  server->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server, &QLocalServer::newConnection, this, &TInstanceServer::accepted);
}

bool TInstanceServer::listen(const std::string& path, std::string& problem) {
  if (!clearStaleSocket(path, allowedUser, problem)) return false;
  if (server->listen(QString::fromStdString(path))) return true;
  problem = formatMessage(text(TextId::InstanceCannotListen), {path, server->errorString().toStdString()});
  return false;
}

void TInstanceServer::accepted() {
  while (QLocalSocket* socket = server->nextPendingConnection()) {
    // Programs of other users are not heard at all.
    if (!peerIsUser(int(socket->socketDescriptor()), allowedUser)) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    // The server keeps each connection's reader, so readers of connections
    // still open when the server ends go with it.
    CInstanceReader* reader = readers.emplace(socket, std::make_unique<CInstanceReader>()).first->second.get();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, reader] { readFrom(socket, reader); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QObject::destroyed, this, [this, socket] { readers.erase(socket); });
    readFrom(socket, reader);
  }
}

void TInstanceServer::readFrom(QLocalSocket* socket, CInstanceReader* reader) {
  const QByteArray bytes = socket->readAll();
  reader->feed(bytes.constData(), size_t(bytes.size()));
  InstanceMessage kind;
  std::string payload;
  for (;;) {
    const CInstanceReader::Result r = reader->next(kind, payload);
    if (r == CInstanceReader::kNeedMore) return;
    if (r == CInstanceReader::kBad) {
      socket->abort();
      return;
    }
    switch (kind) {
      case InstanceMessage::Query: {
        const std::string answer = encodeUint32(decodeUint32(payload.data()) == 0 ? queryValue : 0);
        socket->write(answer.data(), qint64(answer.size()));
        break;
      }
      case InstanceMessage::Open: {
        const QString path = QString::fromStdString(std::string(openPath(payload)));
        QMetaObject::invokeMethod(this, [this, path] { emit openRequested(path); }, Qt::QueuedConnection);
        break;
      }
      case InstanceMessage::Activate:
        QMetaObject::invokeMethod(this, [this] { emit activateRequested(); }, Qt::QueuedConnection);
        break;
    }
  }
}

HandOver handOverToRunningInstance(const std::string& path, const std::vector<std::string>& files, int timeoutMs,
                                   uid_t user) {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(path));
  if (!socket.waitForConnected(timeoutMs)) return HandOver::NoAnswer;
  // Paths go to no program of another user.
  if (!peerIsUser(int(socket.socketDescriptor()), user)) {
    socket.abort();
    return HandOver::NoAnswer;
  }
  const std::string query = encodeQuery(0);
  socket.write(query.data(), qint64(query.size()));
  if (!socket.waitForBytesWritten(timeoutMs)) return HandOver::NoAnswer;
  QByteArray answer;
  while (answer.size() < 4) {
    if (!socket.waitForReadyRead(timeoutMs)) return HandOver::NoAnswer;
    answer += socket.readAll();
  }
  if (decodeUint32(answer.constData()) != kAnswerNormal) return HandOver::NoAnswer;

  std::string messages;
  for (const std::string& f : files)
    if (f.size() < kMaxInstancePayload) messages += encodeOpen(f);
  messages += encodeActivate();
  socket.write(messages.data(), qint64(messages.size()));
  while (socket.bytesToWrite() > 0)
    if (!socket.waitForBytesWritten(timeoutMs)) break;
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
  return HandOver::Done;
}

}  // namespace vl
