#pragma once
// A small brush picker beside the canvases: the brush kind, its size,
// opacity, effect, soft edge and colour. It edits the main window's pen,
// which every canvas paints with.
#include <QDockWidget>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSlider;

namespace vl {

class TStroke;

// The pen takes another kind as the panel's list chooses it: the kind's own
// defaults, with the size, opacity and colour in hand.
void choosePenKind(TStroke& pen, int kind);

class TBrushPicker : public QDockWidget {
  Q_OBJECT

 public:
  TBrushPicker(TStroke& pen, QWidget* parent = nullptr);

  // Shows the pen's settings again.
  void refresh();
  // The pen's colour (RGB).
  void setColour(uint32_t rgb);

  // Widgets, for the tests.
  QComboBox* kindBox() const { return kind; }
  QDoubleSpinBox* sizeBox() const { return size; }
  QSlider* opacitySlider() const { return opacity; }
  QSlider* effectSlider() const { return effect; }
  QLabel* opacityText() const { return opacityValue; }
  QLabel* effectText() const { return effectValue; }
  QCheckBox* softEdgeBox() const { return softEdge; }

 private:
  void kindChosen(int k);

  TStroke& stroke;
  QComboBox* kind = nullptr;
  QDoubleSpinBox* size = nullptr;
  QSlider* opacity = nullptr;
  QSlider* effect = nullptr;
  QLabel* opacityValue = nullptr;
  QLabel* effectValue = nullptr;
  QCheckBox* softEdge = nullptr;
  QPushButton* colour = nullptr;
  bool filling = false;
};

}  // namespace vl
