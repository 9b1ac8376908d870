#include "shell/selection_list.h"

#include <QHBoxLayout>
#include <QInputDialog>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "platform/strings.h"
#include "shell/draw_window.h"
#include "shell/qt_ui.h"

namespace vl {
namespace {

constexpr int kBox = 33;

QPixmap thumbnailOf(const CMaskData& m) {
  const TMTC& t = m.thumbnail;
  QImage img(kBox, kBox, QImage::Format_RGB32);
  img.fill(Qt::lightGray);
  if (t.IsAllocated()) {
    QImage src(t.width, t.height, QImage::Format_RGB32);
    for (int32_t y = 0; y < t.height; ++y) std::memcpy(src.scanLine(y), t.Row(y), size_t(t.width) * 4);
    QPainter p(&img);
    p.drawImage(QRect((kBox - t.width) / 2, (kBox - t.height) / 2, t.width, t.height), src);
  }
  return QPixmap::fromImage(img);
}

}  // namespace

TSelectionList::TSelectionList(QWidget* parent) : QDockWidget(toQt(text(TextId::SelectionWindowCaption)), parent) {
  setObjectName(QStringLiteral("selectionList"));
  auto* body = new QWidget(this);
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(4, 4, 4, 4);
  rows = new QListWidget(body);
  rows->setIconSize(QSize(kBox, kBox));
  column->addWidget(rows, 1);
  auto* buttonRow = new QHBoxLayout;
  const TextId captions[kButtonCount] = {TextId::CmdSelectInsert, TextId::CmdSelectRemove};
  for (int i = 0; i < kButtonCount; ++i) {
    buttons[i] = new QPushButton(plainCaption(text(captions[i])), body);
    buttonRow->addWidget(buttons[i]);
  }
  column->addLayout(buttonRow);
  setWidget(body);

  connect(rows, &QListWidget::currentRowChanged, this, &TSelectionList::rowChanged);
  connect(rows, &QListWidget::itemDoubleClicked, this, &TSelectionList::rename);
  connect(buttons[kNew], &QPushButton::clicked, this, [this] {
    if (canvas && !canvas->strokeInProgress()) canvas->paper().newMask(true);
  });
  connect(buttons[kDelete], &QPushButton::clicked, this, [this] {
    if (canvas && !canvas->strokeInProgress()) canvas->paper().deleteMask(true);
  });
}

void TSelectionList::setCanvas(TDrawWindow* c) {
  if (canvas == c) return;
  if (canvas) disconnect(canvas, nullptr, this, nullptr);
  canvas = c;
  if (canvas) connect(canvas, &TDrawWindow::masksChanged, this, &TSelectionList::refresh);
  refresh();
}

void TSelectionList::refresh() {
  filling = true;
  rows->clear();
  if (canvas) {
    const CMaskMngr& masks = canvas->paper().masks;
    for (int32_t i = 0; i < masks.Count(); ++i) {
      const CMaskData& m = *masks.At(i);
      rows->addItem(new QListWidgetItem(thumbnailOf(m), toQt(m.name)));
    }
    rows->setCurrentRow(masks.Current());
  }
  buttons[kDelete]->setEnabled(canvas && canvas->paper().masks.Count() > 1);
  buttons[kNew]->setEnabled(canvas != nullptr);
  filling = false;
}

void TSelectionList::rowChanged(int row) {
  if (filling || !canvas || row < 0 || canvas->strokeInProgress()) return;
  canvas->paper().setCurrentMask(row, true);
}

void TSelectionList::rename(QListWidgetItem* item) {
  if (!canvas || canvas->strokeInProgress()) return;
  const int row = rows->row(item);
  const CMaskData* m = canvas->paper().masks.At(row);
  if (!m) return;
  bool ok = false;
  const QString name = QInputDialog::getText(this, toQt(text(TextId::SelectionWindowCaption)),
                                             plainCaption(text(TextId::LayerRenameCaption)), QLineEdit::Normal,
                                             toQt(m->name), &ok);
  if (ok && !name.isEmpty()) canvas->paper().renameMask(row, name.toStdString(), true);
}

}  // namespace vl
