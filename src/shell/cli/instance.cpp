#include "shell/cli/instance.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "pixel/text_util.h"

namespace vl {

InstanceNames instanceNames(std::string_view runtimeDir, std::string_view fallbackDir, std::string_view user) {
  const std::string_view dir = !runtimeDir.empty() && runtimeDir[0] == '/' ? runtimeDir
                               : !fallbackDir.empty() && fallbackDir[0] == '/' ? fallbackDir
                                                                                : std::string_view("/tmp");
  InstanceNames n;
  n.server = joinPath(dir, std::string(kInstanceName) + "-" + std::string(user));
  n.lock = n.server + ".lock";
  return n;
}

InstanceNames instanceNames() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const char* tmp = std::getenv("TMPDIR");
  std::string user;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name && *pw->pw_name) {
    user = pw->pw_name;
  } else {
    user = std::to_string(::getuid());
  }
  // A name from the password file may hold anything; keep the socket a plain name.
  for (char& c : user)
    if (c == '/' || c == '\0') c = '_';
  return instanceNames(runtime ? runtime : "", tmp ? tmp : "", user);
}

bool CInstanceLock::acquire(const std::string& path) {
  release();
  const int f = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (f < 0) return false;
  if (::flock(f, LOCK_EX | LOCK_NB) != 0) {
    ::close(f);
    return false;
  }
  fd = f;
  return true;
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
