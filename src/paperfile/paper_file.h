#pragma once
// The native paper file (.vci): a paper with its layers, its masks, a
// thumbnail and, while the paper records, its whole event stream, so that
// opening it restores the picture and recording goes on after the stored
// steps. The file is the 56-byte header followed by chunks (files/
// paper_image_format.h): the thumbnail, each layer from the bottom with its
// tile runs, each mask with its runs, then the event data as the body of a
// current event file (files/event_body.h).
#include <cstdint>
#include <string>

#include "document/paper.h"
#include "events/event_manager.h"
#include "files/byte_io.h"
#include "files/file_error.h"
#include "files/paper_image_format.h"
#include "platform/atomic_file.h"
#include "platform/strings.h"
#include "selection/mask.h"

namespace vl {

struct PaperSaveOptions {
  // Threads that compress tiles; 0 as many as the machine has. The bytes
  // written never depend on it.
  int threads = 0;
  // The system calls of the save; tests put in failing ones.
  AtomicFileCalls calls;
};

// The layer or mask a failed save could not write.
struct PaperSaveFailure {
  TextId part = TextId::Count;  // PartLayer or PartMask; Count: the file as a whole
  std::string name;
};

// Writes the whole file. Every layer and mask must be written, else the save
// fails with that part's code and `failure` names it. The event stream goes
// with it when the paper records; it is written closed by an end-of-recording
// step, which the live stream never gets, so recording, undo and redo go on
// untouched.
FileError writePaperFile(TPaper& paper, ByteSink& sink, const PaperSaveOptions& options = {},
                         PaperSaveFailure* failure = nullptr);
// writePaperFile into a temporary file renamed over `path` only when all of
// it was written; a failed save leaves the previous file as it was. The
// caller marks the paper saved.
FileError savePaperFile(const std::string& path, TPaper& paper, const PaperSaveOptions& options = {},
                        PaperSaveFailure* failure = nullptr);
// What the user is told of a failed save: the part that failed, else the
// file, with the code and its reason.
std::string paperSaveFailureText(const std::string& path, FileError e, const PaperSaveFailure& failure);

struct PaperLoadOptions {
  // Threads that decode tiles and draw thumbnails; 0 as many as the machine has.
  int threads = 0;
  // The largest paper and layer or mask image side accepted (smaller for fuzzing).
  int32_t maxPaperSide = kMaxPaperSide;
  int32_t maxImageSide = kMaxLayerSide;
  uint32_t maxStream = CEventMngr::kMaxStream;
  // Both sides of the step history of a paper that goes on recording.
  int32_t historyDepth = 8;
};

// What a load met besides its result, for tests.
struct PaperLoadReport {
  int32_t failedParts = 0;    // layers and masks that could not be read
  int32_t ignoredChunks = 0;  // chunks of kinds this program does not know
  bool eventsFound = false;
  bool recording = false;     // the paper goes on recording after the stored steps
};

// The header alone: the size and resolution of the paper a file holds.
FileError readPaperFileHeader(InputSource& in, PaperHeader& header, int32_t maxSide = kMaxPaperSide);

// Makes `paper` anew from the file, named `name`: its layers, masks,
// selection state and counters. With event data the paper's recorder (when
// it has one) takes the stream and records on after it; without, it records
// nothing. A layer or mask that cannot be read is reported to the user and
// left out (its recording is then dropped too, since it would no longer
// replay to this picture); chunks of unknown kinds are skipped and reported
// once. An error of the file as a whole (a chunk past its end, a broken
// header) is returned; the paper is then unusable and the caller drops it.
FileError loadPaperFile(InputSource& in, TPaper& paper, TFlowImage& flow, const std::string& name,
                        const PaperLoadOptions& options = {}, PaperLoadReport* report = nullptr);
FileError loadPaperFile(const std::string& path, TPaper& paper, TFlowImage& flow, const std::string& name,
                        const PaperLoadOptions& options = {}, PaperLoadReport* report = nullptr);

}  // namespace vl
