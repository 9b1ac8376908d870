#pragma once
// Rules of the new-layer dialog: what it proposes, what it offers for each
// mode, what it remembers between uses and what it hands to the insertion.
// The shell keeps one model for the whole run and shows it in its dialog.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vl {

class CLayerMngr;

struct NewLayerRequest {
  int mode = 3;
  uint32_t colour = 0;               // RGB, top byte 0 (keep transparency) or 0xFF
  std::optional<std::string> name;  // only when the proposal was changed
};

class CNewLayerModel {
 public:
  enum ColourEntry : int { kBlack = 0, kWhite = 1, kHalfTone = 2 };

  // Starts a use of the dialog: proposes the paper's next default name and
  // restores the choices of the last "생성".
  void Open(const CLayerMngr& layers);
  void Open(std::string proposal);

  const std::string& ProposedName() const { return proposal; }

  // The mode list, in the order lists offer the modes.
  static int ModeCount();
  static int ModeAtPosition(int position);
  int ModePosition() const { return modePosition; }
  void SetModePosition(int position);
  int Mode() const;

  // "검정색" and "흰색", and "중간색" for modes that offer it.
  int ColourEntryCount() const;
  static std::string_view ColourEntryText(int entry);
  // The entry shown for the selected mode; each kind of list keeps its own.
  int SelectedColourEntry() const;
  void SetColourEntry(int entry);
  // RGB of an entry for a mode (alpha 0).
  static uint32_t EntryColour(int entry, int mode);

  // "생성": remembers mode, colour entry and check box for the next use.
  NewLayerRequest Create();

  std::string name;               // the edited name
  bool keepTransparency = true;   // "투명도 유지"

 private:
  bool threeEntries() const;

  // Remembered for the rest of the run.
  int lastMode = 3;
  int lastTwoEntry = kWhite;
  int lastThreeEntry = kHalfTone;
  bool lastKeep = true;

  // This use of the dialog.
  std::string proposal;
  int modePosition = 0;
  int twoEntry = kWhite;
  int threeEntry = kHalfTone;
};

}  // namespace vl
