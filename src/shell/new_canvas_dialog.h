#pragma once
// The new canvas dialog. It only shows CNewCanvasModel: the six tabs, the
// units, the three fields and the model's warnings.
#include <QDialog>
#include <optional>

#include "document/new_canvas_model.h"

class QComboBox;
class QLineEdit;
class QTabBar;

namespace vl {

class CAppProfile;

class TNewWindow : public QDialog {
  Q_OBJECT

 public:
  TNewWindow(CAppProfile& profile, QWidget* parent = nullptr);

  // After OK: what newPaper takes.
  NewCanvasSize size() const { return chosen; }
  CNewCanvasModel& model() { return canvasModel; }

  // The size of the picture on the clipboard, if there is one.
  static std::optional<ClipboardSize> clipboardSize();

  // Widgets, for the tests.
  QTabBar* tabBar() const { return tabs; }
  QLineEdit* field(CNewCanvasModel::Field f) const { return edits[f]; }
  QComboBox* widthUnitBox() const { return widthUnit; }

  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void showModel();
  void unitChosen(int unit);

  CNewCanvasModel canvasModel;
  NewCanvasSize chosen;
  QTabBar* tabs = nullptr;
  QComboBox* widthUnit = nullptr;
  QComboBox* heightUnit = nullptr;
  QLineEdit* edits[3] = {};
  bool showing = false;
};

}  // namespace vl
