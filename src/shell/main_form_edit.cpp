// The edit and selection menus of the main window.
#include <QAction>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

#include "platform/strings.h"
#include "shell/draw_window.h"
#include "shell/main_form.h"
#include "shell/qt_ui.h"
#include "undo/undo_manager.h"

namespace vl {

TDrawWindow* TMainForm::editableCanvas() const {
  TDrawWindow* c = activeCanvas();
  return c && !c->strokeInProgress() ? c : nullptr;
}

void TMainForm::createEditCommands() {
  const Menu m = kMenuEdit;
  addCommand("actEditUndo", text(TextId::CmdEditUndo), text(TextId::HintEditUndo), QKeySequence(Qt::CTRL | Qt::Key_Z), m,
             [this] { stepUndo(true); });
  QAction* redo = addCommand("actEditRedo", text(TextId::CmdEditRedo), text(TextId::HintEditRedo),
                             QKeySequence(Qt::CTRL | Qt::Key_Y), m, [this] { stepUndo(false); });
  redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
  addCommand("actEditUndoClear", text(TextId::CmdEditUndoClear), text(TextId::HintEditUndoClear), {}, m, [this] {
    TDrawWindow* c = editableCanvas();
    if (!c || !ui().Question(text(TextId::AskUndoClear), Buttons::YesNo)) return;
    c->paper().clearUndo();
    updateCommands();
    updateMemoryLine();
  });
  memoryLabel = new QLabel(this);
  statusBar()->addPermanentWidget(memoryLabel);
}

void TMainForm::stepUndo(bool undo) {
  // A stroke being drawn is never taken back half-way.
  TDrawWindow* c = editableCanvas();
  if (!c) return;
  int32_t layer = -1;
  Area rect;
  const bool done = undo ? c->paper().undoStep(c->flow(), layer, rect) : c->paper().redoStep(c->flow(), layer, rect);
  if (done) {
    c->LayersChanged();
    c->MasksChanged();
    c->viewport()->update();
  }
  updateCommands();
  updateMemoryLine();
}

void TMainForm::updateMemoryLine() {
  const TDrawWindow* c = activeCanvas();
  const uint64_t at = c ? c->paper().changeCount : 0;
  if (c == memoryShownFor && at == memoryShownAt && c) return;
  memoryShownFor = c;
  memoryShownAt = at;
  if (memoryLabel) memoryLabel->setText(c ? toQt(memoryLine(c->paper())) : QString());
}

void TMainForm::createSelectionCommands() {
  const Menu m = kMenuSelection;
  // Runs fn on the paper of the canvas that may be changed now.
  auto onPaper = [this](auto fn) {
    return [this, fn] {
      if (TDrawWindow* c = editableCanvas()) fn(*c);
      updateCommands();
    };
  };
  addCommand("actSelectAll", text(TextId::CmdSelectAll), text(TextId::HintSelectAll), QKeySequence(Qt::CTRL | Qt::Key_A),
             m, onPaper([](TDrawWindow& c) { c.paper().selectAll(true); }));
  addCommand("actSelectDelete", text(TextId::CmdSelectDelete), text(TextId::HintSelectDelete),
             QKeySequence(Qt::CTRL | Qt::Key_D), m, onPaper([](TDrawWindow& c) { c.paper().clearMask(true); }));
  addCommand("actSelectInvert", text(TextId::CmdSelectInvert), text(TextId::HintSelectInvert),
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I), m,
             onPaper([](TDrawWindow& c) { c.paper().invertMask(true); }));
  menu(m)->addSeparator();
  addCommand("actSelectSplitLayer", text(TextId::CmdSelectSplitLayer), text(TextId::HintSelectSplitLayer), {}, m,
             onPaper([](TDrawWindow& c) { c.paper().splitSelection(c.flow(), 1, false, true); }));
  addCommand("actSelectNewLayer", text(TextId::CmdSelectNewLayer), text(TextId::HintSelectNewLayer), {}, m,
             onPaper([](TDrawWindow& c) { c.paper().splitSelection(c.flow(), 1, true, true); }));
  addCommand("actSelectCopyLayerMask", text(TextId::CmdSelectCopyLayerMask), text(TextId::HintSelectCopyLayerMask),
             {}, m, onPaper([](TDrawWindow& c) {
               c.paper().copyMaskToLayerAlpha(c.flow(), c.paper().currentLayerIndex(), -1, true);
             }));
  menu(m)->addSeparator();
  addCommand("actSelectInflate", text(TextId::CmdSelectInflate), text(TextId::HintSelectInflate), {}, m,
             onPaper([](TDrawWindow& c) { c.paper().growShrinkMask(true, true, true); }));
  addCommand("actSelectDeflate", text(TextId::CmdSelectDeflate), text(TextId::HintSelectDeflate), {}, m,
             onPaper([](TDrawWindow& c) { c.paper().growShrinkMask(false, true, true); }));
  menu(m)->addSeparator();
  // The amount dialogs remember their last value for the next opening.
  auto byAmount = [this](bool grow) {
    return [this, grow] {
      TDrawWindow* c = editableCanvas();
      if (!c) return;
      int& last = grow ? lastGrowAmount : lastShrinkAmount;
      bool ok = false;
      const int n = QInputDialog::getInt(this, toQt(text(grow ? TextId::SelectInflateCaption : TextId::SelectDeflateCaption)),
                                         plainCaption(text(TextId::SelectAmountLabel)), last, 1, kMaxMaskMorph, 1, &ok);
      if (!ok) return;
      last = n;
      c->paper().growShrinkMaskBy(n, grow, true);
      updateCommands();
    };
  };
  addCommand("actSelectInflate2", text(TextId::CmdSelectInflate2), text(TextId::HintSelectInflate2), {}, m, byAmount(true));
  addCommand("actSelectDeflate2", text(TextId::CmdSelectDeflate2), text(TextId::HintSelectDeflate2), {}, m, byAmount(false));
  menu(m)->addSeparator();
  addCommand("actSelectEnable", text(TextId::CmdSelectEnable), text(TextId::HintSelectEnable), {}, m,
             onPaper([](TDrawWindow& c) { c.paper().setSelectionEnabled(!c.paper().selectionEnabled, true); }))
      ->setCheckable(true);
  addCommand("actSelectVisible", text(TextId::CmdSelectVisible), text(TextId::HintSelectVisible), {}, m,
             onPaper([](TDrawWindow& c) { c.paper().setSelectionVisible(!c.paper().selectionVisible, true); }))
      ->setCheckable(true);
  menu(m)->addSeparator();
  addCommand("actSelectInsert", text(TextId::CmdSelectInsert), text(TextId::HintSelectInsert), {}, m,
             onPaper([](TDrawWindow& c) { c.paper().newMask(true); }));
  addCommand("actSelectDuplicate", text(TextId::CmdSelectDuplicate), text(TextId::HintSelectDuplicate), {}, m,
             onPaper([](TDrawWindow& c) { c.paper().duplicateMask(true); }));
  addCommand("actSelectRemove", text(TextId::CmdSelectRemove), text(TextId::HintSelectRemove), {}, m,
             onPaper([](TDrawWindow& c) { c.paper().deleteMask(true); }));
  addCommand("actSelectCutOutside", text(TextId::CmdSelectCutOutside), text(TextId::HintSelectCutOutside), {}, m,
             onPaper([](TDrawWindow& c) { c.paper().trimMask(true); }));
  addCommand("actSelectFromLayerMask", text(TextId::CmdSelectFromLayerMask), text(TextId::HintSelectFromLayerMask), {},
             m, onPaper([](TDrawWindow& c) { c.paper().maskFromLayer(1, true); }));
  addCommand("actSelectFromLayerValue", text(TextId::CmdSelectFromLayerValue), text(TextId::HintSelectFromLayerValue),
             {}, m, onPaper([](TDrawWindow& c) { c.paper().maskFromLayer(0, true); }));
}

void TMainForm::updateEditCommands() {
  TDrawWindow* c = editableCanvas();
  if (QAction* a = command("actEditUndo")) a->setEnabled(c && c->paper().canUndo());
  if (QAction* a = command("actEditRedo")) a->setEnabled(c && c->paper().canRedo());
  if (QAction* a = command("actEditUndoClear")) a->setEnabled(c && (c->paper().canUndo() || c->paper().canRedo()));
  const TPaper* p = c ? &c->paper() : nullptr;
  const CMaskData* mask = p ? p->masks.CurrentMask() : nullptr;
  const bool r = p != nullptr, rm = r && mask && mask->HasChannel();
  const CLayerData* layer = p ? p->currentLayer() : nullptr;
  auto enable = [this](const char* name, bool on) {
    if (QAction* a = command(name)) a->setEnabled(on);
  };
  for (const char* name : {"actSelectAll", "actSelectInsert", "actSelectFromLayerMask", "actSelectFromLayerValue",
                           "actSelectCopyLayerMask"})
    enable(name, r);
  for (const char* name : {"actSelectDelete", "actSelectInvert", "actSelectInflate", "actSelectDeflate",
                           "actSelectInflate2", "actSelectDeflate2", "actSelectEnable", "actSelectVisible",
                           "actSelectDuplicate"})
    enable(name, rm);
  const bool split = rm && p->selectionEnabled && layer && layer->visible;
  enable("actSelectSplitLayer", split);
  enable("actSelectNewLayer", split);
  enable("actSelectRemove", r && p->masks.Count() >= 2);
  enable("actSelectCutOutside", rm && p->masks.LargerThanPaper(-1));
  if (QAction* a = command("actSelectEnable")) a->setChecked(p && p->selectionEnabled);
  if (QAction* a = command("actSelectVisible")) a->setChecked(p && p->selectionVisible);
}

}  // namespace vl
