#include "shell/brush_picker.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSlider>
#include <cmath>

#include "drawing/stroke.h"
#include "platform/strings.h"
#include "shell/qt_ui.h"

namespace vl {

TBrushPicker::TBrushPicker(TStroke& pen, QWidget* parent) : QDockWidget(toQt(text(TextId::BrushWindowCaption)), parent), stroke(pen) {
  setObjectName(QStringLiteral("brushPicker"));
  auto* body = new QWidget(this);
  auto* form = new QFormLayout(body);
  form->setContentsMargins(4, 4, 4, 4);

  kind = new QComboBox(body);
  // The second blur paints nothing with the current engine and is never offered.
  for (int k = 0; k < kBrushKindCount; ++k)
    if (k != kBrushBlur2) kind->addItem(toQt(text(TextId(int(TextId::BrushPen) + k))), k);
  form->addRow(kind);

  size = new QDoubleSpinBox(body);
  size->setRange(0.1, 200.0);
  size->setDecimals(1);
  size->setSingleStep(0.5);
  form->addRow(toQt(text(TextId::BrushSizeLabel)), size);

  opacity = new QSlider(Qt::Horizontal, body);
  opacity->setRange(1, 100);
  form->addRow(plainCaption(text(TextId::LayerOpacityLabel)), opacity);

  effect = new QSlider(Qt::Horizontal, body);
  effect->setRange(0, 100);
  form->addRow(toQt(text(TextId::BrushEffectLabel)), effect);

  softEdge = new QCheckBox(toQt(text(TextId::BrushSoftEdge)), body);
  form->addRow(softEdge);

  colour = new QPushButton(body);
  colour->setMinimumHeight(24);
  form->addRow(toQt(text(TextId::BrushColourLabel)), colour);
  setWidget(body);

  connect(kind, &QComboBox::activated, this, [this](int row) { kindChosen(kind->itemData(row).toInt()); });
  connect(size, &QDoubleSpinBox::valueChanged, this, [this](double v) {
    if (!filling) stroke.SetWidth(float(v));
  });
  connect(opacity, &QSlider::valueChanged, this, [this](int v) {
    if (!filling) stroke.SetOpacity(float(v) / 100.0f);
  });
  connect(effect, &QSlider::valueChanged, this, [this](int v) {
    if (!filling) stroke.SetEffect(float(v));
  });
  connect(softEdge, &QCheckBox::toggled, this, [this](bool on) {
    if (!filling) stroke.SetSoftEdge(on);
  });
  connect(colour, &QPushButton::clicked, this, [this] {
    const QColor chosen = QColorDialog::getColor(QColor::fromRgb(stroke.colour), this);
    if (chosen.isValid()) setColour(chosen.rgb() & 0x00FFFFFFu);
  });
  refresh();
}

void TBrushPicker::kindChosen(int k) {
  if (filling || k == stroke.kind) return;
  // A new kind starts from its own defaults but keeps the size, opacity and colour in hand.
  const float width = stroke.width, alpha = stroke.opacity;
  const uint32_t rgb = stroke.colour;
  stroke.ResetDefaults(k);
  stroke.SetWidth(width);
  stroke.SetOpacity(alpha);
  stroke.SetColour(rgb);
  refresh();
}

void TBrushPicker::setColour(uint32_t rgb) {
  stroke.SetColour(rgb);
  refresh();
}

void TBrushPicker::refresh() {
  filling = true;
  kind->setCurrentIndex(kind->findData(int(stroke.kind)));
  size->setValue(stroke.width);
  opacity->setValue(int(std::lround(stroke.opacity * 100)));
  const BrushCaps& caps = brushCaps(stroke.kind);
  effect->setEnabled(caps.effect == EffectBar::Effect || caps.env == EnvBar::Effect);
  effect->setValue(int(std::lround(stroke.effect)));
  softEdge->setEnabled(caps.softEdge);
  softEdge->setChecked(stroke.softEdge);
  colour->setStyleSheet(QStringLiteral("background-color: #%1;").arg(stroke.colour & 0xFFFFFF, 6, 16, QLatin1Char('0')));
  filling = false;
}

}  // namespace vl
