#include "shell/jpeg_options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/strings.h"
#include "shell/qt_ui.h"

namespace vl {

TJpegOptionsDialog::TJpegOptionsDialog(const JpegOptions& start, QWidget* parent) : QDialog(parent), base(start) {
  setWindowTitle(toQt(text(TextId::JpegOptionsCaption)));
  progressive = new QCheckBox(toQt(text(TextId::JpegProgressive)), this);
  progressive->setChecked(start.progressive);
  smooth = new QCheckBox(toQt(text(TextId::JpegSmoothing)), this);
  smooth->setChecked(start.smooth);
  smoothAmount = new QSpinBox(this);
  smoothAmount->setRange(0, 100);
  smoothAmount->setValue(std::clamp(start.smoothAmount, 0, 100));
  // The presets show the quality each gives; the first is the free one.
  preset = new QComboBox(this);
  preset->addItem(toQt(text(TextId::JpegQualityFree)));
  const struct {
    TextId name;
    int value;
  } presets[] = {{TextId::JpegQualityVeryHigh, start.qualityVeryHigh},
                 {TextId::JpegQualityHigh, start.qualityHigh},
                 {TextId::JpegQualityStd, start.qualityStd},
                 {TextId::JpegQualityLow, start.qualityLow}};
  for (const auto& p : presets) preset->addItem(toQt(formatMessage(text(p.name), {p.value})));
  preset->setCurrentIndex(std::clamp(start.qualityType, 0, 4));
  quality = new QSpinBox(this);
  quality->setRange(0, 100);
  quality->setValue(std::clamp(start.quality, 0, 100));

  auto* qualityLabel = new QLabel(toQt(text(TextId::JpegQuality)), this);
  qualityLabel->setBuddy(preset);
  auto* grid = new QGridLayout;
  grid->addWidget(progressive, 0, 0, 1, 2);
  grid->addWidget(smooth, 1, 0);
  grid->addWidget(smoothAmount, 1, 1);
  grid->addWidget(qualityLabel, 2, 0);
  grid->addWidget(preset, 2, 1);
  grid->addWidget(quality, 3, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);

  connect(smooth, &QCheckBox::toggled, this, [this] { updateEnabled(); });
  connect(preset, &QComboBox::currentIndexChanged, this, [this] { updateEnabled(); });
  updateEnabled();
}

void TJpegOptionsDialog::updateEnabled() {
  smoothAmount->setEnabled(smooth->isChecked());
  quality->setEnabled(preset->currentIndex() == 0);
}

JpegOptions TJpegOptionsDialog::options() const {
  JpegOptions o = base;
  o.progressive = progressive->isChecked();
  o.smooth = smooth->isChecked();
  o.smoothAmount = smoothAmount->value();
  o.qualityType = preset->currentIndex();
  o.quality = quality->value();
  return o;
}

}  // namespace vl
