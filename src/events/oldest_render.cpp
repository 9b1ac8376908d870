// The oldest drawings without a window: the render mode's replay of a .wpe
// stream, and the export of .wpe streams and .wpb papers to pictures.
#include <cstdio>

#include "events/event_render.h"
#include "events/oldest_paper.h"
#include "events/oldest_player.h"
#include "platform/clock.h"
#include "platform/strings.h"
#include "platform/ui_services.h"

namespace vl {
namespace {

constexpr int kWritten = 8, kWriteFailed = 9, kNotPlayed = 10, kProtected = 11;

std::string withoutExtension(const std::string& path) {
  const size_t dot = path.rfind('.'), slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

std::string stemOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return withoutExtension(slash == std::string::npos ? path : path.substr(slash + 1));
}

// Replays a stream to a picture, with a numbered frame every `frames` steps.
bool exportStream(const TEventPacket& stream, const std::string& input, const std::string& output, int32_t frames,
                  std::string& reason, const std::function<void(float)>& progress) {
  HeadlessOldestReplay replay;
  const std::string stem = withoutExtension(output);
  int32_t frameNumber = 0;
  TMTC picture;
  const int r = replay.Play(stream, stemOf(input), frames, [&](int32_t) {
    if (progress) progress(replay.Player().progress());
    char name[32];
    std::snprintf(name, sizeof name, "-%05d.png", ++frameNumber);
    return compositeImageOf(replay.Paper(), picture) &&
           savePictureByExtension(stem + name, picture, replay.Paper().resolution, reason);
  });
  if (r != 2) {
    if (reason.empty())
      reason = formatMessage(text(TextId::ExportCannotReplay), {input, int64_t(r)}) + ": " + replay.Player().Reason();
    return false;
  }
  return compositeImageOf(replay.Paper(), picture) &&
         savePictureByExtension(output, picture, replay.Paper().resolution, reason);
}

}  // namespace

int renderOldestFile(const std::string& eventFile, const std::string& outputFolder) {
  TEventPacket stream;
  if (const int e = readOldestStream(eventFile, stream); e != kEventFileOk) {
    ui().Warning(formatMessage(text(TextId::ExportCannotRead), {eventFile, int64_t(e)}));
    return kNotPlayed;
  }
  // A stream with all sixteen markers may be watched, not rendered again.
  if (stream.IsProtected()) return kProtected;
  HeadlessOldestReplay replay;
  if (replay.Play(stream, stemOf(eventFile)) != 2) {
    ui().Warning(replay.Player().Reason());
    return kNotPlayed;
  }
  const std::string stem = outputFolder + "/" + stemOf(eventFile);
  TMTC picture;
  std::string reason;
  bool ok = compositeImageOf(replay.Paper(), picture) &&
            savePictureByExtension(stem + ".bmp", picture, replay.Paper().resolution, reason);
  if (!ok) ui().Warning(reason);
  // The stream again, protected: too short a stream cannot be, and counts as a failed write.
  const int written = writeOldestStream(stem + ".wpe", stream, true, appClock().Milliseconds());
  if (written != kEventFileOk) {
    ui().Warning(formatMessage(text(TextId::EventSaveFailed), {stem + ".wpe", int64_t(written)}));
    ok = false;
  }
  return ok ? kWritten : kWriteFailed;
}

bool exportOldestFile(const std::string& input, const std::string& output, int32_t frames, std::string& reason,
                      const std::function<void(float)>& progress) {
  if (isWpbPath(input)) {
    WpbImage image;
    if (const int e = readWpbFile(input, image); e != kEventFileOk) {
      reason = formatMessage(text(TextId::ExportCannotRead), {input, int64_t(e)});
      return false;
    }
    // A paper without layers is its stream.
    if (!image.hasLayers) {
      if (image.streamState != WpbStream::Valid) {
        reason = formatMessage(text(TextId::ExportCannotRead), {input, int64_t(kEventFilePacket)});
        return false;
      }
      return exportStream(image.stream, input, output, frames, reason, progress);
    }
    TPaper paper;
    TFlowImage flow(paper);
    TMTC picture;
    if (!buildWpbPaper(paper, flow, image, stemOf(input)) || !compositeImageOf(paper, picture)) {
      reason = formatMessage(text(TextId::ExportCannotRead), {input, int64_t(kEventFileNoMemory)});
      return false;
    }
    return savePictureByExtension(output, picture, 0, reason);
  }
  TEventPacket stream;
  if (const int e = readOldestStream(input, stream); e != kEventFileOk) {
    reason = formatMessage(text(TextId::ExportCannotRead), {input, int64_t(e)});
    return false;
  }
  return exportStream(stream, input, output, frames, reason, progress);
}

}  // namespace vl
