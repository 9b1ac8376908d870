#pragma once
// The PNG options dialog of the save command: the compression level, or the
// automatic choice that writes large pictures at the fast level.
#include <QDialog>

class QComboBox;

namespace vl {

class TPngOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  // level: kPngLevelAuto or 0 … 9.
  explicit TPngOptionsDialog(int level, QWidget* parent = nullptr);

  // The level chosen: kPngLevelAuto or 0 … 9.
  int level() const;

  // The widget, for the tests: entry 0 is automatic, entry n + 1 level n.
  QComboBox* levelBox() const { return levels; }

 private:
  QComboBox* levels = nullptr;
};

}  // namespace vl
