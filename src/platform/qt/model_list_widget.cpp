#include "platform/qt/model_list_widget.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>

namespace salvatrix::qt {

ModelListWidget::ModelListWidget(QWidget* parent) : QListWidget(parent) {
  // Up to 32,767 one-line entries: equal row heights keep adding and scrolling cheap.
  setUniformItemSizes(true);
}

QItemSelectionModel::SelectionFlags ModelListWidget::selectionCommand(const QModelIndex& index,
                                                                      const QEvent* event) const {
  static_cast<void>(index);
  static_cast<void>(event);
  // The model owns the selection; the view only moves the current row.
  return QItemSelectionModel::NoUpdate;
}

void ModelListWidget::mousePressEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  QListWidget::mousePressEvent(event);
  // Like a Windows list box, the click lands on button down, so the selection moves under the
  // pointer rather than on release.
  if (event->button() == Qt::LeftButton && index.isValid()) {
    ReportClick(index.row());
  }
}

void ModelListWidget::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::SelectAll)) {
    event->accept();
    return;
  }
  if (selectionMode() == QAbstractItemView::MultiSelection) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
      event->accept();
      if (currentRow() >= 0) {
        ReportClick(currentRow());
      }
      return;
    }
    QListWidget::keyPressEvent(event);
    return;
  }
  const int before = currentRow();
  QListWidget::keyPressEvent(event);
  if (currentRow() >= 0 && currentRow() != before) {
    ReportClick(currentRow());
  }
}

void ModelListWidget::ReportClick(int row) {
  if (on_row_clicked) {
    on_row_clicked(row);
  }
}

}  // namespace salvatrix::qt
