#include "events/event_render.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "files/image_files.h"
#include "files/psd.h"
#include "platform/strings.h"

namespace vl {
namespace {

// The completion codes of the unattended modes.
constexpr int kWritten = 8, kWriteFailed = 9, kNotPlayed = 10, kProtected = 11;

std::string lowerExtension(const std::string& path) {
  const size_t dot = path.rfind('.'), slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string e = path.substr(dot + 1);
  for (char& c : e) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return e;
}

// "folder/name" of a path without its extension.
std::string withoutExtension(const std::string& path) {
  const size_t dot = path.rfind('.'), slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

std::string baseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return withoutExtension(slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace

HeadlessReplay::HeadlessReplay() {
  auto rec = std::make_unique<CEventMngr>(paper);
  events = rec.get();
  rec->setRecordStroke(&stroke);
  paper.setEventHook(std::move(rec));
}

int HeadlessReplay::Open(const EventStreamFile& file, bool refuseProtected) {
  if (!events->loadStream(file.stream, file.steps, uint8_t(file.version), file.flags)) return 1;
  return events->openForPlayback(flow, refuseProtected);
}

int HeadlessReplay::PlayToEnd(int32_t frameEvery, const std::function<bool(int32_t)>& frame) {
  int r = 0;
  int32_t nextFrame = frameEvery;
  while ((r = events->playStep()) == 0) {
    if (frameEvery > 0 && frame && events->PlayedSteps() >= nextFrame) {
      if (!frame(events->PlayedSteps())) return 3;
      nextFrame += frameEvery;
    }
  }
  return r;
}

bool compositeImageOf(const TPaper& paper, TMTC& out) {
  const TTC& c = paper.compositeImage;
  if (!c.IsAllocated() || !out.Resize(c.width, c.height)) return false;
  for (int32_t y = 0; y < c.height; ++y) {
    const uint32_t* src = c.Row(y);
    uint32_t* dst = out.Row(y);
    for (int32_t x = 0; x < c.width; ++x) dst[x] = 0xFF000000u | src[x];
  }
  return true;
}

bool savePictureByExtension(const std::string& path, const TMTC& picture, int32_t dpi, std::string& reason) {
  BitmapInfoHeader h;
  h.width = picture.width;
  h.height = picture.height;
  h.bitCount = 24;
  h.imageSize = uint32_t(uint64_t(picture.width) * 4 * uint64_t(picture.height));
  h.xPelsPerMeter = h.yPelsPerMeter = pelsPerMeter(dpi > 0 ? dpi : 72);
  const std::string ext = lowerExtension(path);
  FileError e;
  if (ext == "png") {
    e = pngSaveImage(path, h, picture);
  } else if (ext == "bmp") {
    e = bmpSaveImage(path, h, picture);
  } else if (ext == "jpg" || ext == "jpeg") {
    e = jpegSaveImage(path, h, picture, JpegOptions{});
  } else {
    reason = formatMessage(text(TextId::ExportUnknownKind), {path});
    return false;
  }
  if (e != FileError::None) {
    reason = formatMessage(text(TextId::ExportWriteFailed), {path, fileErrorText(e)});
    return false;
  }
  return true;
}

int renderEventFile(const std::string& eventFile, const std::string& outputFolder) {
  EventStreamFile file;
  if (eventFileKindOf(eventFile) == EventFileKind::Oldest || eventFileKindOf(eventFile) == EventFileKind::None)
    return kNotPlayed;
  if (readEventFile(eventFile, file) != kEventFileOk) return kNotPlayed;
  HeadlessReplay replay;
  const int opened = replay.Open(file, true);
  if (opened == 5) return kProtected;
  if (opened != 0 || replay.PlayToEnd() != 2) return kNotPlayed;
  // The picture, then the stream again beside it, each written whole or not at all.
  const std::string stem = outputFolder + "/" + baseName(eventFile);
  TMTC picture;
  std::string reason;
  bool ok = compositeImageOf(replay.Paper(), picture) &&
            savePictureByExtension(stem + ".bmp", picture, replay.Paper().resolution, reason);
  TMTC thumbnail;
  const bool haveThumbnail = reduceToThumbnail(replay.Paper().compositeImage, thumbnail);
  file.current = file.version >= 16;
  file.scrambleThumbnail = file.version >= 16;
  ok = writeEventFile(stem + (file.current ? ".ve3" : ".ves"), file, haveThumbnail ? &thumbnail : nullptr) ==
           kEventFileOk &&
       ok;
  return ok ? kWritten : kWriteFailed;
}

bool exportFile(const std::string& input, const std::string& output, int32_t frames, std::string& reason,
                const std::function<void(float)>& progress) {
  const EventFileKind kind = eventFileKindOf(input);
  if (kind == EventFileKind::Current || kind == EventFileKind::Version21) {
    EventStreamFile file;
    const int e = readEventFile(input, file);
    if (e != kEventFileOk) {
      reason = formatMessage(text(TextId::ExportCannotRead), {input, e});
      return false;
    }
    HeadlessReplay replay;
    const int opened = replay.Open(file, false);
    if (opened != 0) {
      reason = formatMessage(text(TextId::ExportCannotReplay), {input, opened});
      return false;
    }
    const std::string stem = withoutExtension(output);
    int32_t frameNumber = 0;
    TMTC picture;
    const int r = replay.PlayToEnd(frames, [&](int32_t played) {
      if (progress) progress(replay.Events().progress());
      if (frames <= 0) return true;
      char name[32];
      std::snprintf(name, sizeof name, "-%05d.png", ++frameNumber);
      return compositeImageOf(replay.Paper(), picture) &&
             savePictureByExtension(stem + name, picture, replay.Paper().resolution, reason);
    });
    if (r != 2) {
      if (reason.empty()) reason = formatMessage(text(TextId::ExportCannotReplay), {input, 3});
      return false;
    }
    return compositeImageOf(replay.Paper(), picture) &&
           savePictureByExtension(output, picture, replay.Paper().resolution, reason);
  }
  // A picture: decoded and written again.
  const std::string ext = lowerExtension(input);
  BitmapInfoHeader h;
  TMTC picture;
  FileError e = FileError::NotThisFormat;
  if (ext == "bmp") {
    e = bmpGetImage(input, h, picture);
  } else if (ext == "png") {
    e = pngGetImage(input, h, picture);
  } else if (ext == "jpg" || ext == "jpeg") {
    e = jpegGetImage(input, h, picture);
  } else if (ext == "psd") {
    e = psdGetImage(input, h, picture);
  } else {
    reason = formatMessage(text(TextId::ExportUnknownKind), {input});
    return false;
  }
  if (e != FileError::None) {
    reason = formatMessage(text(TextId::ExportCannotRead), {input, errorCode(e)}) + ": " + fileErrorText(e);
    return false;
  }
  // Pictures keep what they show; where they are transparent the paper is white.
  for (int32_t y = 0; y < picture.height; ++y) {
    uint32_t* row = picture.Row(y);
    for (int32_t x = 0; x < picture.width; ++x) {
      const uint32_t p = row[x], a = p >> 24;
      row[x] = a == 255 ? p : 0xFF000000u | blendRGB(0x00FFFFFFu, p, int(a));
    }
  }
  return savePictureByExtension(output, picture, dpiFromHeader(40, h.xPelsPerMeter), reason);
}

std::vector<std::string> exportFiles(const std::vector<std::string>& inputs, const std::string& folder,
                                     int32_t frames, int32_t threads) {
  std::vector<std::string> reasons(inputs.size());
  std::vector<uint8_t> failed(inputs.size(), 0);
  const int32_t n = std::max<int32_t>(1, std::min<int32_t>(threads > 0 ? threads : int32_t(std::thread::hardware_concurrency()),
                                                           int32_t(inputs.size())));
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < inputs.size();) {
      const std::string out = folder + "/" + baseName(inputs[i]) + ".png";
      failed[i] = exportFile(inputs[i], out, frames, reasons[i]) ? 0 : 1;
    }
  };
  std::vector<std::thread> pool;
  for (int32_t t = 1; t < n; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  std::vector<std::string> out;
  for (size_t i = 0; i < inputs.size(); ++i)
    if (failed[i]) out.push_back(reasons[i]);
  return out;
}

}  // namespace vl
