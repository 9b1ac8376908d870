#include "shell/png_options_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "files/image_files.h"
#include "platform/strings.h"
#include "shell/qt_ui.h"

namespace vl {

TPngOptionsDialog::TPngOptionsDialog(int level, QWidget* parent) : QDialog(parent) {
  setWindowTitle(toQt(text(TextId::PngOptionsCaption)));
  levels = new QComboBox(this);
  levels->addItem(toQt(text(TextId::PngLevelAuto)));
  for (int n = 0; n <= 9; ++n) levels->addItem(QString::number(n));
  levels->setCurrentIndex(level < 0 ? 0 : std::min(level, 9) + 1);
  auto* label = new QLabel(toQt(text(TextId::PngLevel)), this);
  label->setBuddy(levels);
  auto* form = new QFormLayout;
  form->addRow(label, levels);
  form->addRow(new QLabel(toQt(text(TextId::PngLevelHint)), this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

int TPngOptionsDialog::level() const {
  const int i = levels->currentIndex();
  return i <= 0 ? kPngLevelAuto : i - 1;
}

}  // namespace vl
