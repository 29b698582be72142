#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <functional>
#include <utility>
#include <vector>

#include "app/window_driver.h"
#include "controls/controls.h"

class QTimer;

namespace salvatrix::qt {
class ModelListWidget;
}

namespace salvatrix {
class Form1;
class MessageBoxes;
}  // namespace salvatrix

namespace salvatrix::qt {

/// The main window: one widget per control of the form, placed and coloured as the models
/// say, kept in step with every model change. User input goes back to the models through
/// the window driver, which decides; the view only shows.
class MainWindow final : public QWidget, private WindowDriver::Host {
  Q_OBJECT

 public:
  /// The form and the boxes must outlive the window's use of them; model changes after the
  /// window is gone are ignored.
  MainWindow(Form1& form, MessageBoxes& boxes, QWidget* parent = nullptr);
  ~MainWindow() override;

  /// Runs a handler. When it fails, its text has been shown, the window closes without
  /// running further handlers and the application's event loops end with 1. Returns false
  /// then, and for every call once the program is ending.
  bool Dispatch(const std::function<void()>& handler);

  /// Whether a failed handler has ended the program.
  bool Ending() const { return driver_.Ending(); }

 protected:
  /// Runs Form_Unload once, unless a failed handler is ending the program. Never refuses.
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void CreateControls();
  QWidget* CreateWidget(Control& control);
  QWidget* CreateListBox(ListBox& list);
  QWidget* CreateTextBox(TextBox& box);
  void CreateTimer(Timer& timer);
  void SetTabOrder();

  QRect ToPixels(const Geometry& geometry) const;

  void ShowControl(const Control& control, QWidget* widget);
  void ShowColours(const Control& control, QWidget* widget);
  /// Paints a label whose caption changed at once, unless a caption was painted so lately
  /// that the event loop's own paint can wait.
  void PaintCaptionSoon(QWidget* label);
  void ShowListChange(const ListBox& list, QWidget* widget, ListBox::Change change);
  /// Appends the items first ... end - 1 of list, without their selection.
  void ShowItems(const ListBox& list, ModelListWidget* view, int first, int end);
  void ShowWholeList(const ListBox& list, ModelListWidget* view);
  void ShowSelected(const ListBox& list, ModelListWidget* view, int row);
  /// Makes the view's whole selection the list's.
  void ShowSelection(const ListBox& list, ModelListWidget* view);
  QWidget* WidgetOf(const Control& control) const;

  void StopClocks() override;
  void EndProgram() override;

  Form1& form_;
  WindowDriver driver_;
  double dpi_x_ = 96.0;
  double dpi_y_ = 96.0;
  std::vector<std::pair<const Control*, QWidget*>> widgets_;
  std::vector<QTimer*> timers_;
  /// When a caption was last painted at once.
  QElapsedTimer caption_painted_;
  static constexpr qint64 kCaptionPaintIntervalMs = 50;
  /// Set while a model value is copied into a widget, so the widget's change signal is not
  /// taken for user input.
  bool showing_model_ = false;
  /// Last, so that the models stop calling in before anything they call goes.
  std::vector<Connection> connections_;
};

}  // namespace salvatrix::qt
