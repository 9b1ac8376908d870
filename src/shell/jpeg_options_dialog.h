#pragma once
// The JPEG options dialog of the save command: progressive, smoothing and its
// amount, the quality preset and the free quality. It starts from the
// profile's settings; OK gives the options chosen.
#include <QDialog>

#include "files/image_files.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace vl {

class TJpegOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TJpegOptionsDialog(const JpegOptions& start, QWidget* parent = nullptr);

  // What the widgets say now.
  JpegOptions options() const;

  // Widgets, for the tests.
  QCheckBox* progressiveBox() const { return progressive; }
  QCheckBox* smoothBox() const { return smooth; }
  QSpinBox* smoothAmountBox() const { return smoothAmount; }
  QComboBox* presetBox() const { return preset; }
  QSpinBox* qualityBox() const { return quality; }

 private:
  // The amount follows the smoothing box, the free quality the preset.
  void updateEnabled();

  JpegOptions base;
  QCheckBox* progressive = nullptr;
  QCheckBox* smooth = nullptr;
  QSpinBox* smoothAmount = nullptr;
  QComboBox* preset = nullptr;
  QSpinBox* quality = nullptr;
};

}  // namespace vl
