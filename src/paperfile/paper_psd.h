#pragma once
// Papers as layered PSD files: a file opened as a new paper with its layers
// and extra channels, and a paper saved with its layers, composite and masks.
//
// Opening keeps every layer's stored rectangle whole: a layer image covers
// the paper and the layer's rectangle together, its offset placing the
// rectangle where the file has it, so nothing outside the paper is cut.
// Folder records are not layers: their markers are skipped and a layer in
// a hidden folder opens hidden. The paper is built by its own recorded
// operations (the first layer as the opening image when it covers the
// paper exactly, every other layer inserted and pasted into, extra channels
// through a passing layer's transparency), so a paper that records replays
// to what was opened.
#include <cstdint>
#include <string>

#include "document/paper.h"
#include "files/psd.h"

namespace vl {

// The program's own codes of PSD opening and saving; the reader's and the
// writer's are FileError codes.
inline constexpr int kPsdFileExists = 5;
inline constexpr int kPsdMergedModeUnsupported = 15;
inline constexpr int kPsdLayerNotCreated = 21;
inline constexpr int kPsdWriterNotCreated = 53;
inline constexpr int kPsdNoMergedChannel = 56;
inline constexpr int kPsdNoLayerChannel = 57;

// Most channels a saved file has: the colours and one per mask.
inline constexpr int32_t kPsdSaveChannels = 24;

// The paper a file makes: the document's size (the top-left 10000 a side
// of a larger one) and resolution. The reader must be open.
struct PsdPaperSize {
  int32_t width = 0, height = 0, resolution = 0;
};
FileError psdPaperSize(PsdFile& reader, PsdPaperSize& size);

// Whether the event stream can carry the file: every layer's picture fits
// an image packet and all of them the stream. A paper that records and
// opens a file that does not fit must stop recording first.
bool psdRecordable(PsdFile& reader);

// Reads the file into a paper that newPaper has just made at psdPaperSize.
// With record, every step is recorded (the paper's undo is then emptied:
// the opened picture is where the history starts). 0, a code of the
// program's own above, or a FileError code; each leaves its reason as the
// thread's failure detail. On failure the paper holds part of the file.
int psdIntoPaper(PsdFile& reader, TPaper& paper, TFlowImage& flow, bool record);

// Saves the paper: its layers bottom first, the composite (brought up to
// date without the grid) as the merged image, and, when any mask holds a
// channel, every mask as an extra channel named after it, up to
// kPsdSaveChannels channels in all; `droppedMasks` receives how many did
// not fit. `version` is "psdSaveVer". Without `overwrite` an existing file
// gives kPsdFileExists. 0 or a code, as psdIntoPaper.
int savePaperPsd(TPaper& paper, const std::string& path, int version, bool overwrite, int32_t* droppedMasks = nullptr);

}  // namespace vl
