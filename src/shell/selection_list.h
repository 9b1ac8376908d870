#pragma once
// The selections of the active paper beside the canvases: each mask with its
// thumbnail and name, the current one selected. Clicking a row makes that
// mask current, a double click renames it; the buttons add and delete masks.
// Every change goes through the paper's recorded operations.
#include <QDockWidget>
#include <QPointer>

class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace vl {

class TDrawWindow;

class TSelectionList : public QDockWidget {
  Q_OBJECT

 public:
  explicit TSelectionList(QWidget* parent = nullptr);

  void setCanvas(TDrawWindow* canvas);
  // Reads the paper's masks again.
  void refresh();

  QListWidget* list() const { return rows; }
  enum Button { kNew, kDelete, kButtonCount };
  QPushButton* button(int i) const { return buttons[i]; }

 private:
  void rowChanged(int row);
  void rename(QListWidgetItem* item);

  QPointer<TDrawWindow> canvas;
  QListWidget* rows = nullptr;
  QPushButton* buttons[kButtonCount] = {};
  bool filling = false;
};

}  // namespace vl
