#pragma once
// A simple layer list beside the canvases: the active paper's layers, top
// first, with visibility, blend mode, opacity and the transparency lock of
// the current layer, and buttons for the structural commands. Every change
// goes through the paper's recorded operations.
#include <QDockWidget>
#include <QPointer>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QSlider;

namespace vl {

class TDrawWindow;

class TLayerList : public QDockWidget {
  Q_OBJECT

 public:
  explicit TLayerList(QWidget* parent = nullptr);

  // Shows this canvas's layers; none empties the list.
  void setCanvas(TDrawWindow* canvas);
  // Reads the paper again.
  void refresh();
  // The row of one layer shows its thumbnail as it is now.
  void repaintLayer(int32_t layer);

  // Widgets, for the tests.
  QListWidget* list() const { return rows; }
  QComboBox* modeBox() const { return mode; }
  QSlider* opacitySlider() const { return opacity; }
  QLabel* opacityText() const { return opacityValue; }
  QCheckBox* lockBox() const { return lock; }
  QPushButton* button(int i) const { return buttons[i]; }
  enum Button { kNew, kDelete, kDuplicate, kUp, kDown, kMergeDown, kButtonCount };

 private:
  // Paper layer index of a list row (the top layer is row 0).
  int32_t layerOfRow(int row) const;
  void rowChanged(int row);
  void showOpacity(int value);
  void itemChanged(QListWidgetItem* item);
  void rename(QListWidgetItem* item);
  void command(Button b);

  QPointer<TDrawWindow> canvas;
  QListWidget* rows = nullptr;
  QComboBox* mode = nullptr;
  QSlider* opacity = nullptr;
  QLabel* opacityValue = nullptr;
  QCheckBox* lock = nullptr;
  QPushButton* buttons[kButtonCount] = {};
  bool filling = false;  // while the widgets are being set from the paper
  int dragStartOpacity = -1;
};

}  // namespace vl
