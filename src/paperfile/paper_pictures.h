#pragma once
// Papers and picture files: which kind a file name stands for, pictures
// opened as new papers, and the composite or one layer saved as BMP, JPEG
// or PNG. The messages around these are the shell's; this is the work.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "document/paper.h"
#include "files/file_error.h"
#include "files/image_files.h"

namespace vl {

class CAppProfile;

// File kinds by extension, case-insensitive; the numbers are the ones the
// open, save and event dialogs use.
enum class FileKind : int {
  Unknown = 0,
  Wpb = 1,   // the oldest paper images, read only
  Wpe = 2,
  Vci = 3,   // the program's own papers
  Ves = 4,
  Ve3 = 5,   // also ".vx3"
  Bmp = 6,
  Jpeg = 7,  // ".jpg", also ".jpeg"
  Png = 8,
  Psd = 9,
};
FileKind fileKindOf(std::string_view path);
// The extension with its dot (".Png" stays as written); empty when there is none.
std::string extensionOf(std::string_view path);
// The name after the last '/'.
std::string fileNameOf(std::string_view path);

// A BMP, JPEG or PNG file as upright 32-bit pixels and its resolution in
// dots per inch (0 when the file gives none). BadArgument for other kinds;
// a refusal leaves its reason as the thread's failure detail.
FileError loadPicture(const std::string& path, TMTC& pixels, int& dpi);

// A picture as the content of a fresh paper of its size (the top-left
// 10000 a side of a larger one): pasted into the first layer as the opening
// image, so that the paper's event stream replays to it. False when memory
// runs out or the paper does not have the picture's size.
bool putOpenedPicture(TPaper& paper, TFlowImage& flow, const TMTC& pixels);

// Saves the composite (brought up to date, without the grid) as a 24-bit
// BMP, a JPEG with these options, or a PNG (compression as pngLevelFor),
// with the paper's resolution. BadArgument for other kinds.
FileError saveComposite(TPaper& paper, const std::string& path, FileKind kind, const JpegOptions& jpeg = {},
                        int pngLevel = kPngLevelAuto);

// Saves a layer's whole image (not only the paper area) as a 24-bit BMP or
// a PNG with its transparency, with the paper's resolution.
FileError saveLayerImage(const CLayerData& layer, int32_t resolution, const std::string& path, FileKind kind);

// The file name a layer is offered under: "<paper>_layer<n>", or
// "layer<n>" when the paper has no name.
std::string layerFileSuggestion(const std::string& paperName, int32_t layerIndex);

// The quick BMP save's file: folder + "year-month-day-" + the first n
// (0, 1, …) for which "<prefix><n>.bmp" does not exist yet; empty when none
// is free.
std::string quickSaveName(const std::string& folder, int year, int month, int day,
                          const std::function<bool(const std::string&)>& exists);

// The JPEG settings of the profile and back.
JpegOptions jpegOptionsOf(const CAppProfile& profile);
void storeJpegOptions(CAppProfile& profile, const JpegOptions& options);

}  // namespace vl
