#include "document/new_layer_model.h"

#include <algorithm>
#include <utility>

#include "document/blend_modes.h"
#include "document/layer_manager.h"
#include "platform/strings.h"

namespace vl {

void CNewLayerModel::Open(const CLayerMngr& layers) { Open(layers.DefaultName(1)); }

void CNewLayerModel::Open(std::string proposed) {
  proposal = std::move(proposed);
  try {
    name = proposal;
  } catch (...) {
    name.clear();
  }
  modePosition = UiPositionOfMode(lastMode);
  twoEntry = lastTwoEntry;
  threeEntry = lastThreeEntry;
  keepTransparency = lastKeep;
}

int CNewLayerModel::ModeCount() { return kBlendModeCount; }

int CNewLayerModel::ModeAtPosition(int position) { return ModeAtUiPosition(position); }

void CNewLayerModel::SetModePosition(int position) {
  modePosition = std::clamp(position, 0, kBlendModeCount - 1);
}

int CNewLayerModel::Mode() const { return ModeAtUiPosition(modePosition); }

bool CNewLayerModel::threeEntries() const {
  const SLayerParam* p = LayerParam(Mode());
  return p && (p->flags & kModeHalfToneChoice) != 0;
}

int CNewLayerModel::ColourEntryCount() const { return threeEntries() ? 3 : 2; }

std::string_view CNewLayerModel::ColourEntryText(int entry) {
  switch (entry) {
    case kBlack: return text(TextId::ColourBlack);
    case kWhite: return text(TextId::ColourWhite);
    case kHalfTone: return text(TextId::ColourHalfTone);
    default: return {};
  }
}

int CNewLayerModel::SelectedColourEntry() const { return threeEntries() ? threeEntry : twoEntry; }

void CNewLayerModel::SetColourEntry(int entry) {
  if (entry < 0 || entry >= ColourEntryCount()) return;
  (threeEntries() ? threeEntry : twoEntry) = entry;
}

uint32_t CNewLayerModel::EntryColour(int entry, int mode) {
  switch (entry) {
    case kBlack: return 0x000000u;
    case kHalfTone: return NeutralColour(mode) & 0x00FFFFFFu;
    default: return 0xFFFFFFu;
  }
}

NewLayerRequest CNewLayerModel::Create() {
  NewLayerRequest r;
  r.mode = Mode();
  const int entry = SelectedColourEntry();
  r.colour = EntryColour(entry, r.mode) | (keepTransparency ? 0u : 0xFF000000u);
  if (name != proposal) {
    try {
      r.name = name;
    } catch (...) {
      r.name.reset();
    }
  }
  lastMode = r.mode;
  (threeEntries() ? lastThreeEntry : lastTwoEntry) = entry;
  lastKeep = keepTransparency;
  return r;
}

}  // namespace vl
