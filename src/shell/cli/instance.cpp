#include "shell/cli/instance.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pixel/text_util.h"
#include "platform/strings.h"

namespace vl {

std::string instanceFolder(std::string_view runtimeDir, std::string_view tempDir, uid_t uid) {
  if (!runtimeDir.empty() && runtimeDir[0] == '/') return std::string(runtimeDir);
  const std::string_view tmp = !tempDir.empty() && tempDir[0] == '/' ? tempDir : std::string_view("/tmp");
  return joinPath(tmp, "velluminar-" + std::to_string(uid));
}

bool makePrivateFolder(const std::string& folder, uid_t uid, std::string& problem) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    problem = formatMessage(text(TextId::InstanceCannotMake), {folder, std::strerror(errno)});
    return false;
  }
  struct stat st;
  if (::lstat(folder.c_str(), &st) != 0) {
    problem = formatMessage(text(TextId::InstanceCannotExamine), {folder, std::strerror(errno)});
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    problem = formatMessage(text(TextId::InstanceNotFolder), {folder});
  } else if (st.st_uid != uid) {
    problem = formatMessage(text(TextId::InstanceOtherOwner), {folder});
  } else if ((st.st_mode & 077) != 0) {
    problem = formatMessage(text(TextId::InstanceOpenToOthers), {folder});
  } else if ((st.st_mode & 0700) != 0700) {
    problem = formatMessage(text(TextId::InstanceNotUsable), {folder});
  } else {
    return true;
  }
  return false;
}

InstanceNames instanceNames(std::string_view folder, std::string_view user) {
  InstanceNames n;
  n.server = joinPath(folder, std::string(kInstanceName) + "-" + std::string(user));
  n.lock = n.server + ".lock";
  return n;
}

bool instanceNames(InstanceNames& names, std::string& problem) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const char* tmp = std::getenv("TMPDIR");
  const uid_t uid = ::getuid();
  std::string user;
  if (const passwd* pw = ::getpwuid(uid); pw && pw->pw_name && *pw->pw_name) {
    user = pw->pw_name;
  } else {
    user = std::to_string(uid);
  }
  // A name from the password file may hold anything; keep the socket a plain name.
  for (char& c : user)
    if (c == '/' || c == '\0') c = '_';
  const std::string folder = instanceFolder(runtime ? runtime : "", tmp ? tmp : "", uid);
  if (!makePrivateFolder(folder, uid, problem)) return false;
  names = instanceNames(folder, user);
  return true;
}

bool peerIsUser(int fd, uid_t uid) {
  ucred cred{};
  socklen_t size = sizeof cred;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && size == sizeof cred && cred.uid == uid;
}

bool clearStaleSocket(const std::string& path, uid_t uid, std::string& problem) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    problem = formatMessage(text(TextId::InstanceCannotExamine), {path, std::strerror(errno)});
    return false;
  }
  if (!S_ISSOCK(st.st_mode) || st.st_uid != uid) {
    problem = formatMessage(text(TextId::InstanceNotSocket), {path});
    return false;
  }
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) {
    problem = formatMessage(text(TextId::InstanceNameTooLong), {path});
    return false;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    problem = formatMessage(text(TextId::InstanceNoSocket), {std::strerror(errno)});
    return false;
  }
  const bool live = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  const int error = errno;
  ::close(fd);
  if (live) {
    problem = formatMessage(text(TextId::InstanceListening), {path});
    return false;
  }
  if (error != ECONNREFUSED) {
    problem = formatMessage(text(TextId::InstanceCannotExamine), {path, std::strerror(error)});
    return false;
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    problem = formatMessage(text(TextId::InstanceCannotRemove), {path, std::strerror(errno)});
    return false;
  }
  return true;
}

CInstanceLock::Result CInstanceLock::acquire(const std::string& path) {
  release();
  // Never through a link, and nothing but a plain file of our own: the lock
  // must not create or lock anything elsewhere.
  const int f = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (f < 0) return kUnusable;
  struct stat st;
  if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
    ::close(f);
    return kUnusable;
  }
  if (::flock(f, LOCK_EX | LOCK_NB) != 0) {
    const bool busy = errno == EWOULDBLOCK;
    ::close(f);
    return busy ? kBusy : kUnusable;
  }
  fd = f;
  return kAcquired;
}

void CInstanceLock::release() {
  if (fd < 0) return;
  ::close(fd);  // drops the lock
  fd = -1;
}

uint32_t queryAnswer(uint32_t param, bool unattended, bool viewerMode) {
  if (param != 0) return 0;
  if (!unattended) return kAnswerNormal;
  return viewerMode ? kAnswerViewer : kAnswerRender;
}

std::string encodeUint32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = char(uint8_t(v >> (8 * i)));
  return s;
}

uint32_t decodeUint32(const char* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(p[i])) << (8 * i);
  return v;
}

namespace {

std::string encode(InstanceMessage kind, std::string_view payload) {
  std::string s(1, char(kind));
  s += encodeUint32(uint32_t(payload.size()));
  s.append(payload);
  return s;
}

}  // namespace

std::string encodeQuery(uint32_t param) { return encode(InstanceMessage::Query, encodeUint32(param)); }

std::string encodeOpen(std::string_view path) {
  std::string payload(path);
  payload.push_back('\0');
  return encode(InstanceMessage::Open, payload);
}

std::string encodeActivate() { return encode(InstanceMessage::Activate, {}); }

std::string_view openPath(std::string_view payload) {
  return payload.empty() ? payload : payload.substr(0, payload.size() - 1);
}

CInstanceReader::Result CInstanceReader::next(InstanceMessage& kind, std::string& payload) {
  const size_t available = buffer.size() - start;
  if (available < 5) return kNeedMore;
  const char* p = buffer.data() + start;
  const uint8_t k = uint8_t(p[0]);
  const uint32_t length = decodeUint32(p + 1);
  if (k != uint8_t(InstanceMessage::Query) && k != uint8_t(InstanceMessage::Open) &&
      k != uint8_t(InstanceMessage::Activate))
    return kBad;
  if (length > kMaxInstancePayload) return kBad;
  if (k == uint8_t(InstanceMessage::Query) && length != 4) return kBad;
  if (k == uint8_t(InstanceMessage::Activate) && length != 0) return kBad;
  if (k == uint8_t(InstanceMessage::Open) && length < 2) return kBad;  // a path and its zero
  if (available - 5 < length) return kNeedMore;
  std::string_view body(p + 5, length);
  if (k == uint8_t(InstanceMessage::Open) && body.find('\0') != length - 1) return kBad;
  kind = InstanceMessage(k);
  payload.assign(body);
  start += 5 + size_t(length);
  if (start == buffer.size()) {
    buffer.clear();
    start = 0;
  }
  return kMessage;
}

}  // namespace vl
