#include "shell/layer_list.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "document/blend_modes.h"
#include "platform/strings.h"
#include "shell/draw_window.h"
#include "shell/qt_ui.h"

namespace vl {
namespace {

QString modeName(int mode) { return toQt(text(TextId(int(TextId::ModeMultiply) + mode))); }

// The thumbnail over white, as the list shows it.
QPixmap thumbnailOf(const CLayerData& l) {
  const TMTC& t = l.Thumbnail();
  QImage img(kThumbnailBox, kThumbnailBox, QImage::Format_RGB32);
  img.fill(Qt::lightGray);
  if (t.IsAllocated()) {
    QImage src(t.width, t.height, QImage::Format_ARGB32);
    for (int32_t y = 0; y < t.height; ++y) std::memcpy(src.scanLine(y), t.Row(y), size_t(t.width) * 4);
    QPainter p(&img);
    const QRect at((kThumbnailBox - t.width) / 2, (kThumbnailBox - t.height) / 2, t.width, t.height);
    p.fillRect(at, Qt::white);
    p.drawImage(at, src);
  }
  return QPixmap::fromImage(img);
}

}  // namespace

TLayerList::TLayerList(QWidget* parent) : QDockWidget(toQt(text(TextId::LayerWindowCaption)), parent) {
  setObjectName(QStringLiteral("layerList"));
  auto* body = new QWidget(this);
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(4, 4, 4, 4);

  auto* modeRow = new QHBoxLayout;
  modeRow->addWidget(new QLabel(toQt(text(TextId::LayerModeLabel)), body));
  mode = new QComboBox(body);
  for (int i = 0; i < kBlendModeCount; ++i) mode->addItem(modeName(ModeAtUiPosition(i)), ModeAtUiPosition(i));
  modeRow->addWidget(mode, 1);
  column->addLayout(modeRow);

  auto* opacityRow = new QHBoxLayout;
  opacityRow->addWidget(new QLabel(toQt(text(TextId::LayerOpacityLabel)), body));
  opacity = new QSlider(Qt::Horizontal, body);
  opacity->setRange(0, 255);
  opacityRow->addWidget(opacity, 1);
  opacityValue = new QLabel(body);
  opacityValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  opacityValue->setMinimumWidth(opacityValue->fontMetrics().horizontalAdvance(QStringLiteral("100%")) + 2);
  opacityRow->addWidget(opacityValue);
  column->addLayout(opacityRow);

  lock = new QCheckBox(toQt(text(TextId::LayerTransparencyLock)), body);
  column->addWidget(lock);

  rows = new QListWidget(body);
  rows->setIconSize(QSize(kThumbnailBox, kThumbnailBox));
  column->addWidget(rows, 1);

  auto* buttonRow = new QHBoxLayout;
  const QString captions[kButtonCount] = {plainCaption(text(TextId::CmdCreateLayerStd)), plainCaption(text(TextId::CmdDeleteCurLayer)),
                                          plainCaption(text(TextId::CmdLayerDuplicate)), QStringLiteral("▲"),
                                          QStringLiteral("▼"), plainCaption(text(TextId::CmdLayerBindLower))};
  for (int i = 0; i < kButtonCount; ++i) {
    buttons[i] = new QPushButton(captions[i], body);
    buttons[i]->setToolTip(captions[i]);
    if (i == kUp || i == kDown) buttons[i]->setMaximumWidth(32);
    connect(buttons[i], &QPushButton::clicked, this, [this, i] { command(Button(i)); });
  }
  // Two rows of buttons keep the dock narrow.
  auto* secondRow = new QHBoxLayout;
  buttonRow->addWidget(buttons[kNew]);
  buttonRow->addWidget(buttons[kDuplicate]);
  buttonRow->addWidget(buttons[kUp]);
  buttonRow->addWidget(buttons[kDown]);
  secondRow->addWidget(buttons[kMergeDown]);
  secondRow->addWidget(buttons[kDelete]);
  column->addLayout(buttonRow);
  column->addLayout(secondRow);
  setWidget(body);

  connect(rows, &QListWidget::currentRowChanged, this, &TLayerList::rowChanged);
  connect(rows, &QListWidget::itemChanged, this, &TLayerList::itemChanged);
  connect(rows, &QListWidget::itemDoubleClicked, this, &TLayerList::rename);
  connect(mode, &QComboBox::activated, this, [this](int position) {
    if (filling || !canvas) return;
    TPaper& p = canvas->paper();
    p.setLayerMode(p.currentLayerIndex(), ModeAtUiPosition(position), true);
  });
  // While the slider is dragged the picture follows unrecorded; letting go
  // records one change from the opacity the drag began with.
  connect(opacity, &QSlider::sliderPressed, this, [this] {
    if (canvas && canvas->paper().currentLayer()) dragStartOpacity = canvas->paper().currentLayer()->opacity;
  });
  connect(opacity, &QSlider::valueChanged, this, [this](int v) {
    showOpacity(v);
    if (filling || !canvas) return;
    TPaper& p = canvas->paper();
    const CLayerData* l = p.currentLayer();
    if (!l || l->opacity == v) return;
    p.setLayerOpacity(p.currentLayerIndex(), uint8_t(v), !opacity->isSliderDown());
  });
  connect(opacity, &QSlider::sliderReleased, this, [this] {
    if (filling || !canvas) return;
    TPaper& p = canvas->paper();
    const CLayerData* l = p.currentLayer();
    if (!l || dragStartOpacity < 0) return;
    const int v = opacity->value();
    if (v != dragStartOpacity) {
      p.setLayerOpacity(p.currentLayerIndex(), uint8_t(dragStartOpacity), false);
      p.setLayerOpacity(p.currentLayerIndex(), uint8_t(v), true);
    }
    dragStartOpacity = -1;
  });
  connect(lock, &QCheckBox::toggled, this, [this](bool on) {
    if (filling || !canvas) return;
    canvas->paper().setMaskLock(-1, on ? 1 : 0, true);
  });
  setCanvas(nullptr);
}

void TLayerList::setCanvas(TDrawWindow* c) {
  if (canvas) disconnect(canvas, nullptr, this, nullptr);
  canvas = c;
  if (canvas) {
    connect(canvas, &TDrawWindow::layersChanged, this, &TLayerList::refresh);
    connect(canvas, &TDrawWindow::layerPainted, this, &TLayerList::repaintLayer);
  }
  refresh();
}

void TLayerList::repaintLayer(int32_t layer) {
  if (!canvas) return;
  const CLayerData* l = canvas->paper().layerAt(layer);
  QListWidgetItem* item = rows->item(layerOfRow(0) - layer);
  if (l && item) item->setIcon(thumbnailOf(*l));
}

void TLayerList::showOpacity(int value) {
  // The percentage the rows show: whole percent, truncated.
  opacityValue->setText(QStringLiteral("%1%").arg(value * 100 / 255));
}

int32_t TLayerList::layerOfRow(int row) const {
  return canvas ? canvas->paper().topLayerIndex() - row : -1;
}

void TLayerList::refresh() {
  filling = true;
  rows->clear();
  const bool have = canvas != nullptr;
  if (have) {
    const TPaper& p = canvas->paper();
    for (int32_t i = p.topLayerIndex(); i >= 0; --i) {
      const CLayerData& l = *p.layerAt(i);
      auto* item = new QListWidgetItem(thumbnailOf(l), toQt(l.name), rows);
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setCheckState(l.visible ? Qt::Checked : Qt::Unchecked);
      item->setToolTip(modeName(l.Mode()) + QStringLiteral(" %1%").arg(l.opacity * 100 / 255));
    }
    rows->setCurrentRow(p.topLayerIndex() - p.currentLayerIndex());
    if (const CLayerData* l = p.currentLayer()) {
      mode->setCurrentIndex(UiPositionOfMode(l->Mode()));
      opacity->setValue(l->opacity);
      showOpacity(l->opacity);
      lock->setChecked(l->maskLock != 0);
    }
  }
  const TPaper* p = have ? &canvas->paper() : nullptr;
  const int32_t cur = p ? p->currentLayerIndex() : -1;
  buttons[kNew]->setEnabled(p && p->layers.CanAdd());
  buttons[kDelete]->setEnabled(p && p->layerCount() > 1);
  buttons[kDuplicate]->setEnabled(p && p->layers.CanAdd());
  buttons[kUp]->setEnabled(p && cur < p->topLayerIndex());
  buttons[kDown]->setEnabled(p && cur > 0);
  buttons[kMergeDown]->setEnabled(p && p->canMergeDown(cur));
  mode->setEnabled(have);
  opacity->setEnabled(have);
  if (!have) opacityValue->clear();
  lock->setEnabled(have);
  filling = false;
}

void TLayerList::rowChanged(int row) {
  if (filling || !canvas || row < 0) return;
  canvas->paper().setCurrentLayer(canvas->flow(), layerOfRow(row));
  refresh();
}

void TLayerList::itemChanged(QListWidgetItem* item) {
  if (filling || !canvas) return;
  canvas->paper().setLayerVisible(layerOfRow(rows->row(item)), item->checkState() == Qt::Checked, true);
}

void TLayerList::rename(QListWidgetItem* item) {
  if (!canvas) return;
  const int32_t layer = layerOfRow(rows->row(item));
  const CLayerData* l = canvas->paper().layerAt(layer);
  if (!l) return;
  bool ok = false;
  const QString name = QInputDialog::getText(this, toQt(text(TextId::LayerWindowCaption)), plainCaption(text(TextId::LayerRenameCaption)),
                                             QLineEdit::Normal, toQt(l->name), &ok);
  if (ok && name.toStdString() != l->name) canvas->paper().renameLayer(canvas->flow(), layer, name.toStdString(), true);
}

void TLayerList::command(Button b) {
  if (!canvas || canvas->strokeInProgress()) return;
  TPaper& p = canvas->paper();
  TFlowImage& flow = canvas->flow();
  const int32_t cur = p.currentLayerIndex();
  switch (b) {
    case kNew: p.insertLayer(flow, cur + 1, true, 255, kModeNormal, p.width, p.height, true); break;
    case kDelete: p.deleteLayer(flow, cur, true); break;
    case kDuplicate: p.duplicateLayer(flow, cur, true); break;
    case kUp: p.moveLayer(flow, cur, cur + 1, true); break;
    case kDown: p.moveLayer(flow, cur, cur - 1, true); break;
    case kMergeDown: p.mergeDown(flow, cur, true); break;
    case kButtonCount: break;
  }
  refresh();
}

}  // namespace vl
