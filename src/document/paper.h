#pragma once
// The document: its layers, the composite that the canvas shows, the view
// state and the working copy of the current layer that tools draw into.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "document/layer_manager.h"
#include "document/paper_catalogue.h"
#include "document/scale_image.h"
#include "pixel/dib.h"
#include "pixel/geometry.h"
#include "platform/view.h"

namespace vl {

class TPaper;

enum class DrawGeneration { Current, Legacy };

inline constexpr int kMinZoomLevel = -8;
inline constexpr int kMaxZoomLevel = 9;
inline constexpr int32_t kMaxPaperSide = 10000;

// Factor of a zoom level; 1.0 outside −8 … 9.
double zoomFactorOf(int level);
// Integer stretch num ÷ den of a zoom level.
void zoomRatioOf(int level, int& num, int& den);

// A working copy of the current layer that tools draw into, with a record of
// what the stroke touched. One per canvas window.
class TFlowImage {
 public:
  explicit TFlowImage(TPaper& p) : paper(p) {}
  TPaper& paper;
  TMTC colour;
  TChannel coverage;
  // The current selection laid out like the buffer while a stroke paints
  // through it: one read per pixel instead of a tile look-up. The key says
  // which mask, where, the values came from.
  TChannel maskValues;
  struct MaskKey {
    int32_t id = -1, revision = 0, originX = 0, originY = 0, offsetX = 0, offsetY = 0;
    friend bool operator==(const MaskKey&, const MaskKey&) = default;
  } maskKey;
  int32_t boundLayer = -1;
  int32_t offsetX = 0, offsetY = 0;  // paper (0, 0) lies here in the buffer
  int32_t paperWidth = 0, paperHeight = 0;

  // The 32 × 32 blocks of the buffer a stroke has changed, so that its end
  // commits those alone rather than its whole bounding box.
  void MarkTouched(Area a);
  bool AnyTouched() const { return anyTouched; }
  bool Touched(int32_t column, int32_t row) const { return touched[size_t(column + row * touchedAcross)] != 0; }
  void ClearTouched();
  int32_t touchedAcross = 0, touchedDown = 0;

  // Makes the buffer hold `image` (none: nothing) with transparent white
  // beyond it, and no coverage. The buffer remembers which of its 32 × 32
  // blocks hold one value throughout, so only blocks that differ are
  // rewritten: binding a large, mostly empty layer costs what it holds.
  // Whatever writes the buffer outside the paper's flow operations marks
  // what it wrote (MarkTouched) or forgets it (ForgetBlocks).
  void SyncWith(const CBlockVMTC* image);
  void ForgetBlocks(Area a);
  // Blocks rewritten by the last SyncWith, for tests and benchmarks.
  int32_t blocksRewritten = 0;

 private:
  std::vector<uint8_t> touched;
  bool anyTouched = false;
  // Per block: 1 when it holds blockValue throughout.
  std::vector<uint8_t> blockKnown;
  std::vector<uint32_t> blockValue;
  int32_t blocksAcross = 0, blocksDown = 0;
  // The buffer the record describes; another one is not known at all.
  const uint8_t* knownBits = nullptr;
  int32_t knownWidth = 0, knownHeight = 0;
};

class TPaper {
 public:
  explicit TPaper(CanvasView* view = nullptr);
  TPaper(const TPaper&) = delete;
  TPaper& operator=(const TPaper&) = delete;

  // An empty paper of that size with one standard layer; false for sizes
  // outside 1 … 10000 or when memory runs out.
  bool newPaper(TFlowImage& flow, const std::string& name, int32_t resolution, int32_t height, int32_t width);

  // Queries.
  int32_t layerCount() const { return layers.Count(); }
  int32_t topLayerIndex() const { return layers.TopIndex(); }
  int32_t currentLayerIndex() const { return layers.Current(); }
  CLayerData* layerAt(int32_t index) const { return layers.At(index); }
  CLayerData* currentLayer() const { return layers.At(layers.Current()); }
  double zoomFactor() const { return zoomFactorOf(zoomLevel); }
  // Bytes in use: composite and working buffers, layers, view, masks and undo.
  int64_t memoryUsage(int64_t* layerBytes = nullptr, int64_t* undoBytes = nullptr) const;
  std::string captionText() const;

  // Flow binding.
  bool loadLayerToFlow(TFlowImage& flow, int32_t layer, bool force);
  void resetFlow(TFlowImage& flow);
  void commitFlowRect(TFlowImage& flow, int32_t layer, bool commit, Area rect);
  void commitFlow(TFlowImage& flow, int32_t layer, bool commit);

  // Composition and display.
  void recomposeRect(Area rect, bool overlay);
  void recomposeAll(bool overlay);
  // Painting runs ahead of the screen: a stroke marks what it changed and
  // the composite there is rebuilt once, when somebody looks (composite(),
  // the window's frame), not after every segment.
  void markCompositeStale(Area rect);
  // Rebuilds whatever is stale; the window still has to be shown it.
  void settleComposite() const;
  // The composite with every layer as it stands.
  const TTC& composite() const {
    settleComposite();
    return compositeImage;
  }
  // The window's frame: settles the composite and invalidates what changed
  // since the last frame.
  void presentChanges();
  bool compositeStale() const { return !stale.empty(); }
  void refreshLayerContent(int32_t layer, bool thumbnail);
  void updateLayerThumb(bool skipThumb, int32_t layer, Area rect);
  // A stroke's part of that: the runs of thumbnail pixels whose boxes read a
  // block the stroke touched (asked before the commit forgets them); none
  // when the stroke marked no blocks and its whole rectangle is to be rendered.
  std::vector<Area> strokeThumbRuns(int32_t layer, const TFlowImage& flow) const;
  // Leaves those runs for the layer to render when its thumbnail is read.
  void deferThumbRuns(int32_t layer, const std::vector<Area>& runs);
  void drawToWindow(int32_t left, int32_t bottom, int32_t right, int32_t top);
  // Whether the composite may be stretched to the window without smoothing.
  bool directPaintAllowed() const;
  // Rebuilds the view image for a paper rectangle and shows it.
  void renderView(Area r);
  void invalidateCanvas();
  // Invalidates the window over a paper rectangle.
  void invalidatePaperRect(Area rect);
  bool setCurrentLayer(TFlowImage& flow, int32_t layer);
  void refreshLayerRect(TFlowImage& flow, int32_t layer, bool commit, Area rect);
  // Clears a layer to its neutral colour (alpha 0, or 255 in the legacy generation).
  bool clearLayerPixels(int32_t layer);

  // ---- Paper operations ----
  // Each validates its layer, records its packet and undo record when asked,
  // changes the paper, marks it modified and refreshes. An invalid layer
  // index changes nothing and records nothing.
  bool setPaperColor(uint32_t colour, bool record);
  // Code 12 flip horizontal, 13 flip vertical, 14 negate, 15 rotate 180, on every visible layer.
  bool transformVisible(TFlowImage& flow, int code, bool record);
  // Code 7 flip horizontal, 8 flip vertical, 9 negate, 10 rotate 180, 11 alpha invert.
  bool layerCommand(TFlowImage& flow, int32_t layer, int code, bool record);
  bool clearLayer(TFlowImage& flow, int32_t layer, bool record);
  // Not recorded: its callers record their own packets.
  bool fillLayer(TFlowImage& flow, int32_t layer, uint32_t colour, bool keepAlpha);
  bool fillLayerAlpha(TFlowImage& flow, int32_t layer, uint8_t alpha, bool record);
  bool invertLayerAlpha(TFlowImage& flow, int32_t layer, bool record);
  // The new layer's index, or −1.
  int32_t insertLayer(TFlowImage& flow, int32_t index, bool visible, uint8_t opacity, int mode, int32_t w, int32_t h,
                      bool record);
  // Also fills the layer: RGB from the colour, alpha from its top byte. An
  // empty name keeps the default one.
  int32_t insertLayerWithContent(TFlowImage& flow, int32_t index, bool record, bool visible, const std::string& name,
                                 uint32_t colour, uint8_t opacity, int mode, int32_t h, int32_t w);
  bool deleteLayer(TFlowImage& flow, int32_t layer, bool record);
  int32_t duplicateLayer(TFlowImage& flow, int32_t layer, bool record);
  int32_t moveLayer(TFlowImage& flow, int32_t layer, int32_t newIndex, bool record);
  bool renameLayer(TFlowImage& flow, int32_t layer, const std::string& newName, bool record);
  // Folds the layer into the one below; kind 0 by the upper mode, 1 or 2 across modes.
  bool mergeDown(TFlowImage& flow, int32_t layer, bool record) { return mergeDownWithMode(flow, layer, 0, record); }
  bool mergeDownWithMode(TFlowImage& flow, int32_t layer, int kind, bool record);
  bool canMergeDown(int32_t layer) const;
  bool setLayerVisible(int32_t layer, bool value, bool record);
  bool setLayerOpacity(int32_t layer, uint8_t value, bool record);
  bool setLayerDissolve(int32_t layer, bool on, uint8_t amount, bool record);
  bool setLayerMode(int32_t layer, int mode, bool record);
  // Layer −1 is the current one; value −1 toggles.
  bool setMaskLock(int32_t layer, int value, bool record);
  bool showOnly(int32_t layer, bool record);
  bool showAll(bool value, bool record);
  bool invertVisibility(bool record);
  bool offsetLayer(TFlowImage& flow, int32_t layer, int32_t dx, int32_t dy, bool record);
  bool cutOutside(TFlowImage& flow, int32_t layer, bool record);
  // The 72-byte attribute block of the program's own layer format.
  static constexpr size_t kLayerAttributeBlock = 72;
  // A picture from outside: sides up to 10000, a name that fits a packet,
  // and an attribute block of at least its 72 bytes when there is one.
  bool pasteAsNewLayer(TFlowImage& flow, const TMTC& image, bool record, const std::string* layerName = nullptr,
                       std::span<const uint8_t> attributes = {});
  bool pasteIntoLayer(TFlowImage& flow, int32_t layer, const TMTC& image, bool record,
                      const std::string* layerName = nullptr, std::span<const uint8_t> attributes = {});
  // The picture a paper is opened from, pasted into the first layer; when
  // that layer's image has another size, a standard layer of the picture's
  // size (at least the paper's) is inserted below everything first. It is
  // part of making the paper: recorded as the opening image packet, with
  // nothing to undo.
  bool pasteOpenedImage(TFlowImage& flow, const TMTC& image, bool record, const std::string* layerName = nullptr,
                        std::span<const uint8_t> attributes = {});
  // The paper's gradation: its line and settings (recorded with every command).
  struct Gradation {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    uint8_t type = 0, map = 0, repeat = 0;
    uint16_t repeatCount = 1;
  } gradation;

  // Kept for the oldest event streams, never recorded.
  bool flipVisibility(int32_t layer);
  // Folds every visible layer into the lowest one, two at a time; only when
  // at least two show and all share one blend mode.
  bool mergeVisibleOldest(TFlowImage& flow);
  bool offsetInPlace(TFlowImage& flow, int32_t layer, int32_t dx, int32_t dy);
  // Folds a layer into the one below with its ink and deletes it, without undo.
  bool mergeDownOldest(TFlowImage& flow, int32_t layer);
  // Legacy: the paper's undo empties and the layers made from now on keep
  // an undo of their own. Current again: those go, every layer becomes
  // opaque and the picture is composed anew.
  void setDrawGeneration(TFlowImage& flow, DrawGeneration generation);
  // In the legacy generation: a layer's pixels (all, or a rectangle in
  // layer coordinates) into its own undo before they change; false when the
  // layer keeps none.
  bool pushUndoLayer(int32_t layer);
  bool pushUndoRect(int32_t layer, Area rect);
  // The layer's own undo puts back its newest rectangle; false when it has none.
  bool undoLayerStep(TFlowImage& flow, int32_t layer);
  void clearLayerUndo(int32_t layer);

  // ---- Selections ----
  // Each works on the current mask unless it names one, records and pushes
  // as the others do, then rebuilds the outline, repaints and tells the
  // window. Refused commands change and record nothing.
  int32_t newMask(bool record);
  bool clearMask(bool record);
  // Needs at least two masks.
  bool deleteMask(bool record);
  bool invertMask(bool record);
  int32_t duplicateMask(bool record);
  bool setCurrentMask(int32_t mask, bool record);
  bool trimMask(bool record);
  bool selectAll(bool record);
  bool moveMask(int32_t from, int32_t to, bool record);
  // The mask moves by (dx, dy) on the paper.
  bool moveMaskOrigin(int32_t dx, int32_t dy, bool record);
  bool combineMasks(int32_t dest, int32_t source, int mode, bool record);
  // One pixel; without `enlarge` (streams only) the channel keeps its size.
  bool growShrinkMask(bool grow, bool enlarge, bool record);
  // 1 … 32 pixels.
  bool growShrinkMaskBy(int32_t n, bool grow, bool record);
  // Kind 0: the current layer's brightness, dark selected; 1: its alpha. The
  // new mask goes after the current one and becomes current.
  bool maskFromLayer(int kind, bool record);
  bool renameMask(int32_t mask, const std::string& newName, bool record);
  bool setSelectionVisible(bool value, bool record);
  bool setSelectionEnabled(bool value, bool record);
  // Mask −1 is the current one.
  bool copyMaskToLayerAlpha(TFlowImage& flow, int32_t layer, int32_t mask, bool record);
  // The selected part of the current layer to a new layer above it, which
  // becomes current; unless copying, it leaves the source (variant 0 by the
  // cut's rule, 1 by alpha × (255 − m) ÷ 255).
  bool splitSelection(TFlowImage& flow, int variant, bool copy, bool record);
  // Clears the selected part of a layer so that it composed back over the
  // rest gives the old picture.
  bool cutSelection(TFlowImage& flow, int32_t layer, bool record);
  // Painting and the cut honour the current mask while the selection is in
  // use and the mask holds a channel.
  bool selectionUsable() const;
  // Lays the current selection out in the flow image's mask values for the
  // bound layer; false when no selection is in use (or memory runs out).
  bool loadMaskToFlow(TFlowImage& flow) const;
  // selectionEnabled × 65536 + selectionVisible.
  int32_t selectionFlags() const { return int32_t(selectionEnabled) * 65536 + selectionVisible; }

  // A stroke's end hands the layer rectangle it is about to change (layer
  // coordinates) to undo, before the flow image is committed; with the flow
  // given, undo keeps only the tiles the stroke touched.
  bool pushStrokeUndo(int32_t layer, Area layerRect, const TFlowImage* flow = nullptr);

  // Undo and redo.
  bool canUndo() const;
  bool canRedo() const;
  bool undoStep(TFlowImage& flow, int32_t& layer, Area& rect);
  bool redoStep(TFlowImage& flow, int32_t& layer, Area& rect);
  // Empties undo and redo; the event stream's steps can then no longer be taken back.
  void clearUndo();
  // Swaps what an undo record holds with the paper's state: undo when isUndo,
  // else redo. Reports the layer, rectangle and reaction word to refresh by.
  // False when the record no longer fits the paper.
  bool applyUndo(UndoEntry& entry, bool isUndo, UndoOutcome& out);
  // Takes over the recorder and the undo manager; none restores the silent ones.
  void setHooks(std::unique_ptr<PaperEventHook> eventHook, std::unique_ptr<PaperUndoHook> undoHook);
  void setEventHook(std::unique_ptr<PaperEventHook> eventHook);
  void setUndoHook(std::unique_ptr<PaperUndoHook> undoHook);
  PaperEventHook& eventHook() { return *events; }
  PaperUndoHook& undoHook() { return *undo; }

  // View and zoom.
  void setZoomLevel(int level);
  bool canZoomIn() const { return zoomLevel < kMaxZoomLevel; }
  bool canZoomOut() const { return zoomLevel >= kMinZoomLevel + 1; }
  bool zoomIn();
  bool zoomOut();
  void setWindowOffset(int32_t x, int32_t y) { windowOffsetX = x, windowOffsetY = y; }
  void setViewOrigin(int32_t x, int32_t y) { viewOriginX = x, viewOriginY = y; }
  void setRotationDegrees(float degrees);
  void setRotationRadians(float radians);
  void setRotationCentre(float x, float y) { rotationCentreX = x, rotationCentreY = y; }
  bool rotated() const { return rotationAngle != 0.0f; }
  void screenToPaper(double sx, double sy, double& px, double& py) const;
  void paperToScreen(double px, double py, double& sx, double& sy) const;
  Point screenToPaper(Point s) const;
  Point paperToScreen(Point p) const;
  void setGrid(bool shown, int32_t spacingX, bool redraw, int32_t spacingY);

  // Document.
  std::string name;
  DrawGeneration drawGeneration = DrawGeneration::Current;
  CanvasView* view = nullptr;  // the owning window's canvas, not owned
  uint32_t paperColor = 0xFFFFFF;
  int32_t resolution = 0;
  int32_t width = 0, height = 0;
  uint8_t selectionVisible = 0;
  uint8_t selectionEnabled = 0;
  uint8_t eventProtected = 0;
  uint8_t initialised = 0;
  uint8_t gridShown = 0;
  int32_t gridSpacingX = 25, gridSpacingY = 25;

  // View state.
  int32_t windowOffsetX = 0, windowOffsetY = 0;
  int32_t viewOriginX = 0, viewOriginY = 0;
  int32_t zoomLevel = 0;
  float rotationAngle = 0.0f;
  float rotationCentreX = 0.0f, rotationCentreY = 0.0f;
  float rotationDegrees = 0.0f;
  float rotationSine = 0.0f, rotationCosine = 1.0f;
  // The window's smooth-zoom setting.
  bool zoomAntialias = false;
  // Shown around the paper in the view image; the canvas window sets its own.
  uint32_t viewBackgroundColor = kViewBackgroundColor;
  // Resamples the composite into the view image.
  CScaleImageTMTC viewScaler;

  // Read it through composite() unless nothing can be stale: a running or
  // replayed stroke leaves its rectangles to be composed later.
  TTC compositeImage;
  TTC viewImage;
  TMTC previewImage;
  CLayerMngr layers{24};
  CMaskMngr masks{16};

  // While a stroke runs on this layer, its pixels come from this flow image.
  int32_t strokeLayer = -1;
  const TFlowImage* strokeFlow = nullptr;
  // Recompose while drawing with a freshly seeded dissolve pattern.
  bool reseedDissolve = false;
  // Set while the event player runs the operations.
  bool playingBack = false;
  // While above 0 (a file building a paper layer by layer) the composite is
  // left as it is; whoever holds it rebuilds it once at the end. Layers are
  // the same either way.
  int32_t compositionHeld = 0;
  // Set by every change; the owning window shows it and clears it on save.
  bool modified = false;
  // Counts changes, for displays that follow the paper without being told.
  uint64_t changeCount = 0;
  void markModified() {
    modified = true;
    ++changeCount;
  }
  PaperObserver* observer = nullptr;  // not owned

 private:
  // The pieces every operation shares.
  bool recordEvent(PaperOp op, EventPacket packet);
  bool pushUndo(PaperOp op, UndoEntry&& entry, bool record);
  EventPacket packetOf(PaperOp op) const;
  EventPacket attributePacket(PaperOp op, const CLayerData& l, int32_t layer) const;
  // False when memory runs out.
  bool imagePacket(PaperOp op, int32_t layer, const TMTC& image, const std::string* layerName,
                   std::span<const uint8_t> attributes, EventPacket& out) const noexcept;
  void layersChanged();
  void masksChanged();
  EventPacket maskPacket(PaperOp op, int32_t mask) const;
  EventPacket maskPacket(PaperOp op, int32_t mask, int32_t p1, int32_t p2) const;
  // Records and pushes a mask replacement, then installs it.
  bool replaceMask(PaperOp op, EventPacket packet, int32_t mask, std::unique_ptr<CMaskData> made, bool record,
                   bool turnOn);
  void setSelectionFlags(int32_t flags);
  bool applyMaskUndo(UndoEntry& entry, bool isUndo);
  void refreshWholeLayer(TFlowImage& flow, int32_t layer);
  // The buffer at the size of the largest layer image.
  void sizeFlow(TFlowImage& flow);
  void afterStructureChange(TFlowImage& flow);
  // The same when the composite changed only inside `changed` (paper pixels).
  void afterStructureChange(TFlowImage& flow, Bounds changed);
  // Where a layer can show on the paper: its occupied region, or its whole
  // extent for the oldest drawings' inks, which ignore alpha.
  Bounds footprint(const CLayerData& l) const;
  // After visibility flags changed from `before`: recomposes where it shows.
  void afterVisibilityChange(const std::vector<uint8_t>& before);
  void reactTo(TFlowImage& flow, const UndoOutcome& outcome, bool isUndo);
  bool applyLayerTransform(CLayerData& l, int code);
  void applyAttributeBlock(CLayerData& l, std::span<const uint8_t> attributes, const std::string* layerName);
  bool changeAttribute(PaperOp op, int32_t layer, uint8_t CLayerData::*field, uint8_t value, bool record,
                       bool recompose);
  int32_t insertLayerAt(TFlowImage& flow, int32_t index, bool record, bool visible, const std::string& layerName,
                        uint32_t colour, uint8_t opacity, int mode, int32_t h, int32_t w, bool withContent);

  std::unique_ptr<PaperEventHook> events;
  std::unique_ptr<PaperUndoHook> undo;
  // Paper pixels to recompose, as 32 × 32 blocks and their bounds (a
  // stroke's bounding box holds far more than it touched), and recomposed
  // ones the window has not been shown.
  static constexpr int32_t kStaleShift = 5;
  mutable std::vector<uint8_t> staleBlocks;
  mutable int32_t staleAcross = 0, staleDown = 0;
  mutable Bounds stale{}, unshown{};
  void drawGrid(Area rect);
  void presentDirect(Area r, int num, int den);
  // The view image at the window's client size; false without a window.
  bool prepareViewImage();
  // Renders a paper rectangle into the view image; returns the window area rendered.
  Area renderSmoothed(Area r);
  Area renderSquare(Area r);
};

}  // namespace vl
