#include "shell/new_canvas_dialog.h"

#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QShortcut>
#include <QShortcutEvent>
#include <QSignalBlocker>
#include <QTabBar>
#include <QVBoxLayout>

#include "platform/strings.h"
#include "platform/ui_services.h"
#include "shell/qt_ui.h"

namespace vl {

std::optional<ClipboardSize> TNewWindow::clipboardSize() {
  const QClipboard* clipboard = QGuiApplication::clipboard();
  const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
  if (!data || !data->hasImage()) return std::nullopt;
  const QImage image = clipboard->image();
  if (image.isNull()) return std::nullopt;
  return ClipboardSize{image.width(), image.height()};
}

TNewWindow::TNewWindow(CAppProfile& profile, QWidget* parent) : QDialog(parent) {
  setWindowTitle(toQt(CNewCanvasModel::Caption()));

  tabs = new QTabBar(this);
  for (int t = 0; t < CNewCanvasModel::kTabCount; ++t) tabs->addTab(toQt(CNewCanvasModel::TabText(t)));
  // Alt with a tab's letter goes through the model (Alt+C differs from a click).
  tabs->installEventFilter(this);

  auto unitBox = [this] {
    auto* box = new QComboBox(this);
    for (int u = CNewCanvasModel::kPixel; u <= CNewCanvasModel::kCm; ++u) box->addItem(toQt(CNewCanvasModel::UnitText(u)));
    return box;
  };
  widthUnit = unitBox();
  heightUnit = unitBox();
  for (int f = 0; f < 3; ++f) {
    edits[f] = new QLineEdit(this);
    edits[f]->installEventFilter(this);
    connect(edits[f], &QLineEdit::textChanged, this, [this, f](const QString& s) {
      if (!showing) canvasModel.SetText(CNewCanvasModel::Field(f), s.toStdString());
    });
  }

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(toQt(text(TextId::NameWidth)), this), 0, 0);
  grid->addWidget(edits[CNewCanvasModel::kWidth], 0, 1);
  grid->addWidget(widthUnit, 0, 2);
  grid->addWidget(new QLabel(toQt(text(TextId::NameHeight)), this), 1, 0);
  grid->addWidget(edits[CNewCanvasModel::kHeight], 1, 1);
  grid->addWidget(heightUnit, 1, 2);
  grid->addWidget(new QLabel(toQt(text(TextId::NameResolution)), this), 2, 0);
  grid->addWidget(edits[CNewCanvasModel::kResolution], 2, 1);
  grid->addWidget(new QLabel(toQt(CNewCanvasModel::ResolutionUnitText()), this), 2, 2);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &TNewWindow::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TNewWindow::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  layout->addLayout(grid);
  layout->addWidget(buttons);

  canvasModel.Open(profile, clipboardSize());
  showModel();

  connect(tabs, &QTabBar::currentChanged, this, [this](int t) {
    if (showing) return;
    canvasModel.SelectTab(t, clipboardSize());
    showModel();
  });
  // Alt+6 has no letter in the tab texts.
  auto* alt6 = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_6), this);
  connect(alt6, &QShortcut::activated, this, [this] {
    canvasModel.AltKey(U'6', clipboardSize());
    showModel();
  });
  connect(widthUnit, &QComboBox::currentIndexChanged, this, [this](int u) { unitChosen(u); });
  connect(heightUnit, &QComboBox::currentIndexChanged, this, [this](int u) { unitChosen(u); });
}

void TNewWindow::showModel() {
  showing = true;
  tabs->setCurrentIndex(canvasModel.Tab());
  widthUnit->setCurrentIndex(canvasModel.Unit());
  heightUnit->setCurrentIndex(canvasModel.Unit());
  for (int f = 0; f < 3; ++f) edits[f]->setText(toQt(canvasModel.Text(CNewCanvasModel::Field(f))));
  showing = false;
}

void TNewWindow::unitChosen(int unit) {
  if (showing || unit < 0) return;
  const std::string message = canvasModel.SetUnit(unit);
  showModel();  // both lists show the same unit, or the old one after a warning
  if (!message.empty()) ui().Warning(message);
}

void TNewWindow::accept() {
  const NewCanvasResult r = canvasModel.Ok();
  if (!r.ok) {
    ui().Warning(r.message);
    return;  // stays open
  }
  chosen = r.size;
  QDialog::accept();
}

bool TNewWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tabs && event->type() == QEvent::Shortcut) {
    const QKeySequence key = static_cast<QShortcutEvent*>(event)->key();
    const QString text = key.toString(QKeySequence::PortableText);  // "Alt+1", "Alt+C"
    if (text.size() == 5 && text.startsWith(QLatin1String("Alt+"))) {
      if (canvasModel.AltKey(char32_t(text.at(4).toLower().unicode()), clipboardSize())) {
        showModel();
        return true;
      }
    }
    return false;
  }
  if (event->type() == QEvent::KeyPress) {
    for (int f = 0; f < 3; ++f) {
      if (watched != edits[f]) continue;
      const auto* key = static_cast<QKeyEvent*>(event);
      const QString typed = key->text();
      // Printable characters the field does not take are dropped; control keys and paste pass.
      if (typed.size() == 1 && typed.at(0).isPrint() && !(key->modifiers() & Qt::ControlModifier) &&
          !CNewCanvasModel::AcceptsTyped(CNewCanvasModel::Field(f), char32_t(typed.at(0).unicode())))
        return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace vl
