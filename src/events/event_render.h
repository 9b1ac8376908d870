#pragma once
// Replays without a window: the render mode's replay of one event file, and
// the export of any file the program opens to a picture, with a timelapse
// of numbered frames and several files rendered at once.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "document/paper.h"
#include "drawing/stroke.h"
#include "events/event_files.h"
#include "events/event_manager.h"

namespace vl {

// A paper of its own that replays one stream to its end.
class HeadlessReplay {
 public:
  HeadlessReplay();
  // 0 ready; otherwise the player's open result (1 not a paper's stream, 3 a
  // broken packet, 5 protected and refused).
  int Open(const EventStreamFile& file, bool refuseProtected);
  // Plays to the end; every `frameEvery` steps (0: never) `frame` is told
  // the steps played. The last step's result: 2 the end, 3 an error.
  int PlayToEnd(int32_t frameEvery = 0, const std::function<bool(int32_t)>& frame = {});
  TPaper& Paper() { return paper; }
  CEventMngr& Events() { return *events; }

 private:
  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
  CEventMngr* events = nullptr;
};

// The paper's picture, opaque, rows from the top.
bool compositeImageOf(const TPaper& paper, TMTC& out);
// A picture saved by the output's extension (.png, .bmp, .jpg, .jpeg);
// false with a reason otherwise.
bool savePictureByExtension(const std::string& path, const TMTC& picture, int32_t dpi, std::string& reason);

// The render mode: replays the event file, writes the picture as a 24-bit
// BMP named after it in the folder, then the stream again beside it (with
// the loaded version: below 16 as .ves, else .ve3). Returns the completion
// code: 8 written, 9 a write failed, 10 not played, 11 protected.
int renderEventFile(const std::string& eventFile, const std::string& outputFolder);

// Renders one input (an event file is replayed; a picture is opened) to a
// picture file; with frames > 0 an event file also leaves a numbered PNG
// every that many steps ("out-00001.png" beside "out.png"). False with a
// one-line reason.
bool exportFile(const std::string& input, const std::string& output, int32_t frames, std::string& reason,
                const std::function<void(float)>& progress = {});

// Several inputs into a folder (each as <name>.png), on `threads` threads
// (0: one per core); each input is replayed on its own thread with its own
// paper, so the outputs are those of rendering them one by one. The reasons
// of the inputs that failed, in input order (empty when all succeeded).
std::vector<std::string> exportFiles(const std::vector<std::string>& inputs, const std::string& folder,
                                     int32_t frames, int32_t threads);

}  // namespace vl
