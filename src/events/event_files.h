#pragma once
// Event files: a paper's event stream on disk, for replay in a new window or
// unattended. The current file (.ve3, also read as .vx3) cuts the stream
// into compressed blocks; the version-2.1 file (.ves) keeps it raw. Either
// may begin with a thumbnail block.
#include <cstdint>
#include <string>
#include <vector>

#include "files/thumbnail_block.h"
#include "platform/atomic_file.h"

namespace vl {

class CEventMngr;
class TPaper;

// The codes a reader or writer reports; 0 is success. They are shown as
// "(err=%d)" and keep their numbers.
enum EventFileError : int {
  kEventFileOk = 0,
  kEventFileNoMemory = 1,
  kEventFileException = 3,
  kEventFileNotFound = 4,
  kEventFileCannotOpen = 6,
  kEventFileWriteError = 8,
  kEventFileShortRead = 9,
  kEventFileNoThumbnail = 10,
  kEventFileThumbnailPastEnd = 11,
  kEventFileVersion = 12,
  kEventFileThumbnailForm = 14,
  kEventFileFlags = 15,
  kEventFileMagic = 16,
  kEventFileHeaderLength = 17,
  kEventFileNoManager = 40,
  kEventFileNoLength = 41,
  kEventFileEmpty = 42,
  kEventFileSegmentSize = 44,
  kEventFileBlockLength = 45,
  kEventFilePacket = 47,
};

inline constexpr uint16_t kEventFileVersionCurrent = 17;
// Files are refused beyond this size before anything is read.
inline constexpr uint64_t kMaxEventFileBytes = uint64_t(0x7FFFFFFF) + (uint64_t(1) << 24);

// A stream as a file holds it.
struct EventStreamFile {
  std::vector<uint8_t> stream;
  int32_t steps = 0;
  uint16_t version = kEventFileVersionCurrent;
  uint16_t flags = 0;
  int32_t paperWidth = 0, paperHeight = 0;
  std::string name;     // the paper's name when replayed (not stored)
  bool current = true;  // .ve3 blocks; false for .ves
  // The render mode scrambles the thumbnail of the files it writes again;
  // the save commands do not.
  bool scrambleThumbnail = false;
};

// Writes the stream's committed bytes as a current (.ve3) or 2.1 (.ves)
// file, through a temporary file that replaces the target only when
// complete. A thumbnail block first when one is given.
int writeEventFile(const std::string& path, const EventStreamFile& file, const TMTC* thumbnail,
                   const AtomicFileCalls& calls = {});
// The bytes of such a file.
int encodeEventFile(const EventStreamFile& file, const TMTC* thumbnail, std::vector<uint8_t>& out);
// Reads a file into `out`; the code says what went wrong.
int readEventFile(const std::string& path, EventStreamFile& out);
int decodeEventFile(const uint8_t* data, size_t size, EventStreamFile& out);
// The thumbnail of an event or paper file.
int readEventThumbnail(const std::string& path, TMTC& thumbnail, int32_t& paperWidth, int32_t& paperHeight);

// A paper's stream saved as it is now: the end packet closes it for the
// file and goes again afterwards; the thumbnail is the paper's picture.
// `version` 0 is what the save commands write (the current version, a plain
// thumbnail); a loaded file's own version keeps it and scrambles the thumbnail.
int saveEventStream(const std::string& path, TPaper& paper, CEventMngr& events, bool current, uint16_t version = 0,
                    uint16_t flags = 0);

// Which kind a path names by its extension: .ve3/.vx3 current, .ves 2.1, .wpe oldest, else none.
enum class EventFileKind { None, Current, Version21, Oldest };
EventFileKind eventFileKindOf(const std::string& path);

}  // namespace vl
