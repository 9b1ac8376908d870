#include "shell/brush_picker.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <cmath>

#include "drawing/stroke.h"
#include "platform/strings.h"
#include "shell/qt_ui.h"

namespace vl {
namespace {

// A slider with its number on the right, wide enough for the largest one.
QWidget* withValue(QSlider* slider, QLabel* value) {
  auto* row = new QWidget(slider->parentWidget());
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  slider->setParent(row);
  layout->addWidget(slider, 1);
  value->setParent(row);
  value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("100%")) + 2);
  layout->addWidget(value);
  return row;
}

}  // namespace

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
  opacityValue = new QLabel(body);
  form->addRow(plainCaption(text(TextId::LayerOpacityLabel)), withValue(opacity, opacityValue));

  effect = new QSlider(Qt::Horizontal, body);
  effect->setRange(0, 100);
  effectValue = new QLabel(body);
  form->addRow(toQt(text(TextId::BrushEffectLabel)), withValue(effect, effectValue));

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
    opacityValue->setText(QStringLiteral("%1%").arg(v));
    if (!filling) stroke.SetOpacity(float(v) / 100.0f);
  });
  connect(effect, &QSlider::valueChanged, this, [this](int v) {
    effectValue->setText(QString::number(v));
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

void choosePenKind(TStroke& pen, int kind) {
  if (kind == pen.kind) return;
  // A new kind starts from its own defaults but keeps the size, opacity and colour in hand.
  const float width = pen.width, alpha = pen.opacity;
  const uint32_t rgb = pen.colour;
  pen.ResetDefaults(kind);
  pen.SetWidth(width);
  pen.SetOpacity(alpha);
  pen.SetColour(rgb);
}

void TBrushPicker::kindChosen(int k) {
  if (filling || k == stroke.kind) return;
  choosePenKind(stroke, k);
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
  opacityValue->setText(QStringLiteral("%1%").arg(opacity->value()));
  effectValue->setText(QString::number(effect->value()));
  softEdge->setEnabled(caps.softEdge);
  softEdge->setChecked(stroke.softEdge);
  // With a border of its own the button is drawn flat in the colour; the
  // style's shaded face would show it lighter than the paint.
  colour->setStyleSheet(QStringLiteral("QPushButton { background-color: #%1; border: 1px solid palette(shadow); }")
                            .arg(stroke.colour & 0xFFFFFF, 6, 16, QLatin1Char('0')));
  filling = false;
}

}  // namespace vl
