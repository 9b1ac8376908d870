#pragma once
// One normal instance per user. The first one holds a lock file and listens
// on a local socket beside it; a second one asks the socket who answers,
// hands its files over and ends. Unattended instances take no part.
//
// Messages on the socket: one kind byte, the payload length as 4 bytes
// (little-endian) and the payload.
//   'Q' query: 4 bytes parameter; answered with 4 bytes, "VL20" for a normal
//       instance ("VLVw" viewer, "VLRe" render), 0 for a parameter other than 0
//   'O' open: an absolute path and its terminating zero; no answer
//   'A' activate: empty; the instance comes to the front
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vl {

inline constexpr std::string_view kInstanceName = "vL3 Application";

struct InstanceNames {
  std::string server;  // the socket's path
  std::string lock;    // the lock file's path
};

// The folder of the socket and the lock: runtimeDir when it is an absolute
// path, else "velluminar-<uid>" in tempDir (when absolute, else /tmp).
std::string instanceFolder(std::string_view runtimeDir, std::string_view tempDir, uid_t uid);
// Makes the folder when it is missing (mode 0700) and checks it with lstat:
// a real folder, not a link, owned by uid, no access for group or others.
// Other local users are hostile: anything else is refused, with the reason.
bool makePrivateFolder(const std::string& folder, uid_t uid, std::string& problem);
// The socket and lock in that folder; the names carry the user.
InstanceNames instanceNames(std::string_view folder, std::string_view user);
// From $XDG_RUNTIME_DIR, else $TMPDIR or /tmp, and the user's login name (else
// uid), with the folder made and checked; false, with the reason, when the
// folder is not private.
bool instanceNames(InstanceNames& names, std::string& problem);

// Whether the process at the other end of a connected local socket runs as uid.
bool peerIsUser(int fd, uid_t uid);

// Before listening at path: a socket of uid that nobody listens at was left by
// an instance that ended without removing it, and is removed. False, with the
// reason, when something else is there (a live socket, another user's, a file
// that is no socket).
bool clearStaleSocket(const std::string& path, uid_t uid, std::string& problem);

// Whoever holds the lock is the first instance. Released with the object or
// when the process ends, however it ends.
class CInstanceLock {
 public:
  enum Result {
    kAcquired,
    kBusy,      // another process holds it
    kUnusable,  // no lock file of our own can be had there (a link, no folder, ...)
  };
  CInstanceLock() = default;
  CInstanceLock(const CInstanceLock&) = delete;
  CInstanceLock& operator=(const CInstanceLock&) = delete;
  ~CInstanceLock() { release(); }
  // The lock file is opened without following links and must be a regular file.
  Result acquire(const std::string& path);
  void release();
  bool held() const { return fd >= 0; }

 private:
  int fd = -1;
};

// The 32-bit value whose four bytes are these letters, first letter lowest.
constexpr uint32_t fourLetters(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}
inline constexpr uint32_t kAnswerNormal = fourLetters("VL20");
inline constexpr uint32_t kAnswerViewer = fourLetters("VLVw");
inline constexpr uint32_t kAnswerRender = fourLetters("VLRe");

uint32_t queryAnswer(uint32_t param, bool unattended, bool viewerMode);

enum class InstanceMessage : uint8_t { Query = 'Q', Open = 'O', Activate = 'A' };

// Longer payloads are refused: no path is this long.
inline constexpr size_t kMaxInstancePayload = 64 * 1024;

std::string encodeQuery(uint32_t param);
std::string encodeOpen(std::string_view path);
std::string encodeActivate();
std::string encodeUint32(uint32_t v);
uint32_t decodeUint32(const char* p);

// Splits the bytes of a connection into messages.
class CInstanceReader {
 public:
  enum Result { kNeedMore, kMessage, kBad };
  // What earlier messages used is dropped first, so a peer that keeps
  // sending never grows the buffer beyond one unread message and a read.
  void feed(const char* data, size_t size) {
    buffer.erase(0, start);
    start = 0;
    buffer.append(data, size);
  }
  // Bytes kept, read or not.
  size_t held() const { return buffer.size(); }
  // The next whole message; kBad for an unknown kind, a payload of the wrong
  // size or a path without its zero (the connection is then dropped).
  Result next(InstanceMessage& kind, std::string& payload);

 private:
  std::string buffer;
  size_t start = 0;
};

// The path carried by an open payload (without its zero).
std::string_view openPath(std::string_view payload);

}  // namespace vl
