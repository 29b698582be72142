#pragma once

#include <QListWidget>
#include <functional>

namespace salvatrix::qt {

/// A list widget whose selection only ever changes from code: mouse and keyboard actions are
/// reported as clicks on rows instead, and the owner applies whatever selection follows.
/// A click on a row of a multiple-selection list stands for toggling that row; Space does the
/// same for the current row. In a single-selection list, moving the current row with the
/// keyboard is a click on the new row.
class ModelListWidget final : public QListWidget {
  Q_OBJECT

 public:
  explicit ModelListWidget(QWidget* parent = nullptr);

  /// Called with the row the user clicked.
  std::function<void(int row)> on_row_clicked;

 protected:
  QItemSelectionModel::SelectionFlags selectionCommand(
      const QModelIndex& index, const QEvent* event = nullptr) const override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ReportClick(int row);
};

}  // namespace salvatrix::qt
