#include "platform/qt/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyleHints>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/form1.h"
#include "platform/qt/caption_font.h"
#include "platform/qt/model_list_widget.h"
#include "platform/qt/view_conversions.h"

namespace salvatrix::qt {
namespace {

QString FromBytes(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// The palette roles a widget kind paints its background and its text with.
struct ColourRoles {
  QPalette::ColorRole back;
  QPalette::ColorRole fore;
};

ColourRoles RolesFor(ControlKind kind) {
  switch (kind) {
    case ControlKind::kButton:
      return {QPalette::Button, QPalette::ButtonText};
    case ControlKind::kListBox:
    case ControlKind::kTextBox:
      return {QPalette::Base, QPalette::Text};
    default:
      return {QPalette::Window, QPalette::WindowText};
  }
}

}  // namespace

MainWindow::MainWindow(Form1& form, MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent), form_(form), driver_(form, boxes, *this) {
  if (const QScreen* shown_on = screen()) {
    dpi_x_ = shown_on->logicalDotsPerInchX();
    dpi_y_ = shown_on->logicalDotsPerInchY();
  }
  // A steady text cursor: a blinking one wakes the program twice a second for as long as a
  // text box has the focus, and the detection log has it from the start.
  QGuiApplication::styleHints()->setCursorFlashTime(0);
  setWindowTitle(FromBytes(Form1::kCaption));
  setWindowIcon(QIcon(QPixmap::fromImage(ProgramIconImage())));
  resize(TwipsToPixels(Form1::kClientWidth, dpi_x_), TwipsToPixels(Form1::kClientHeight, dpi_y_));
  CreateControls();
  // Chosen once: a caption set later (a status, say) is whatever length it is.
  setFont(FittingFont(InstalledFace(FormFaces()), kFormFontPoints, CaptionPlaces(*this)));
  SetTabOrder();
}

MainWindow::~MainWindow() = default;

QRect MainWindow::ToPixels(const Geometry& geometry) const {
  return {TwipsToPixels(geometry.left, dpi_x_), TwipsToPixels(geometry.top, dpi_y_),
          TwipsToPixels(geometry.width, dpi_x_), TwipsToPixels(geometry.height, dpi_y_)};
}

void MainWindow::CreateControls() {
  for (Control* control : form_.Controls()) {
    if (control->Kind() == ControlKind::kTimer) {
      CreateTimer(static_cast<Timer&>(*control));
      continue;
    }
    QWidget* widget = CreateWidget(*control);
    widget->setObjectName(QString::fromStdString(control->Name()));
    widget->setGeometry(ToPixels(control->Place()));
    ShowColours(*control, widget);
    ShowControl(*control, widget);
    // Colours change rarely; re-applying a palette on every caption change would restyle the
    // widget for nothing.
    connections_.push_back(
        control->changed.ConnectScoped([this, control, widget, back = control->BackColour(),
                                        fore = control->ForeColour()]() mutable {
          if (control->BackColour() != back || control->ForeColour() != fore) {
            back = control->BackColour();
            fore = control->ForeColour();
            ShowColours(*control, widget);
          }
          ShowControl(*control, widget);
        }));
    widgets_.emplace_back(control, widget);
  }
}

QWidget* MainWindow::CreateWidget(Control& control) {
  switch (control.Kind()) {
    case ControlKind::kButton: {
      auto& button = static_cast<CommandButton&>(control);
      auto* widget = new QPushButton(this);
      connect(widget, &QPushButton::clicked, this, [this, &button] { driver_.Press(button); });
      return widget;
    }
    case ControlKind::kCheckBox: {
      auto& check = static_cast<CheckBox&>(control);
      auto* widget = new QCheckBox(this);
      widget->setAutoFillBackground(true);
      connect(widget, &QCheckBox::clicked, this, [this, &check, widget] {
        driver_.Click(check);
        // Qt has already flipped the box; the model's value is the one that counts.
        widget->setChecked(check.Value() != 0);
      });
      return widget;
    }
    case ControlKind::kListBox:
      return CreateListBox(static_cast<ListBox&>(control));
    case ControlKind::kTextBox:
      return CreateTextBox(static_cast<TextBox&>(control));
    case ControlKind::kLabel: {
      auto* widget = new QLabel(this);
      // Captions are file and drive names, never markup.
      widget->setTextFormat(Qt::PlainText);
      widget->setWordWrap(true);
      widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      widget->setAutoFillBackground(true);
      return widget;
    }
    case ControlKind::kPicture: {
      auto* widget = new QLabel(this);
      widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      widget->setPixmap(QPixmap::fromImage(ProgramIconImage()));
      return widget;
    }
    case ControlKind::kTimer:
      break;
  }
  return new QWidget(this);
}

QWidget* MainWindow::CreateListBox(ListBox& list) {
  auto* widget = new ModelListWidget(this);
  widget->setSelectionMode(list.Mode() == SelectionMode::kMultiple
                               ? QAbstractItemView::MultiSelection
                               : QAbstractItemView::SingleSelection);
  widget->on_row_clicked = [this, &list](int row) { driver_.ClickItem(list, row); };
  ShowWholeList(list, widget);
  connections_.push_back(list.items_changed.ConnectScoped(
      [this, &list, widget](ListBox::Change change) { ShowListChange(list, widget, change); }));
  return widget;
}

QWidget* MainWindow::CreateTextBox(TextBox& box) {
  if (box.MultiLine()) {
    auto* widget = new QPlainTextEdit(this);
    widget->setLineWrapMode(QPlainTextEdit::NoWrap);
    widget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    widget->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // textChanged also fires for text set from the model; only the user's edits go back.
    connect(widget, &QPlainTextEdit::textChanged, this, [this, &box, widget] {
      if (showing_model_) {
        return;
      }
      driver_.Edit(box, EditorTextToModel(widget->toPlainText()));
    });
    return widget;
  }
  auto* widget = new QLineEdit(this);
  connect(widget, &QLineEdit::textEdited, this,
          [this, &box](const QString& text) { driver_.Edit(box, text.toStdString()); });
  return widget;
}

void MainWindow::CreateTimer(Timer& timer) {
  auto* clock = new QTimer(this);
  clock->setObjectName(QString::fromStdString(timer.Name()));
  clock->setInterval(timer.Interval());
  connect(clock, &QTimer::timeout, this, [this, &timer] { driver_.Tick(timer); });
  auto show = [this, &timer, clock] {
    if (driver_.ClockRuns(timer)) {
      // Re-enabling restarts the interval; any other change leaves a running clock alone.
      if (!clock->isActive()) {
        clock->start();
      }
    } else {
      clock->stop();
    }
  };
  show();
  connections_.push_back(timer.changed.ConnectScoped(show));
  timers_.push_back(clock);
}

QWidget* MainWindow::WidgetOf(const Control& control) const {
  for (const auto& [shown, widget] : widgets_) {
    if (shown == &control) {
      return widget;
    }
  }
  return nullptr;
}

void MainWindow::SetTabOrder() {
  QWidget* previous = nullptr;
  for (const Control* control : driver_.FocusOrder()) {
    QWidget* widget = WidgetOf(*control);
    if (previous != nullptr && widget != nullptr) {
      QWidget::setTabOrder(previous, widget);
    }
    previous = widget != nullptr ? widget : previous;
  }
  // The chain is a cycle that Qt enters at the first widget created; the window opens with the
  // focus on the first control in tab order instead.
  if (const Control* first = driver_.FirstFocus()) {
    if (QWidget* widget = WidgetOf(*first)) {
      widget->setFocus();
    }
  }
}

void MainWindow::ShowControl(const Control& control, QWidget* widget) {
  widget->setEnabled(control.Enabled());
  switch (control.Kind()) {
    case ControlKind::kButton:
      static_cast<QPushButton*>(widget)->setText(
          FromBytes(static_cast<const CommandButton&>(control).Caption()));
      break;
    case ControlKind::kCheckBox: {
      const auto& check = static_cast<const CheckBox&>(control);
      auto* box = static_cast<QCheckBox*>(widget);
      box->setText(FromBytes(check.Caption()));
      box->setChecked(check.Value() != 0);
      break;
    }
    case ControlKind::kLabel:
      static_cast<QLabel*>(widget)->setText(
          FromBytes(static_cast<const Label&>(control).Caption()));
      if (widget->isVisible()) {
        PaintCaptionSoon(widget);
      }
      break;
    case ControlKind::kTextBox: {
      const auto& box = static_cast<const TextBox&>(control);
      // Leaving an equal text alone keeps the cursor where the user is typing.
      if (auto* lines = qobject_cast<QPlainTextEdit*>(widget)) {
        const QString shown = ModelTextToEditor(box.Text());
        if (lines->toPlainText() != shown) {
          showing_model_ = true;
          lines->setPlainText(shown);
          showing_model_ = false;
        }
      } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        const QString shown = FromBytes(box.Text());
        if (line->text() != shown) {
          line->setText(shown);
        }
      }
      break;
    }
    case ControlKind::kListBox:
    case ControlKind::kPicture:
    case ControlKind::kTimer:
      break;
  }
}

void MainWindow::PaintCaptionSoon(QWidget* label) {
  // The copy job sets the status between blocking copy calls without going back to the event
  // loop, so a caption is only on screen if it is painted here and now. Painting every one made
  // each small file wait for the display; one forced paint per interval keeps the status moving
  // at a pace the eye can follow, and setText has already asked for the paint that shows the
  // last caption once the loop runs again.
  if (!caption_painted_.isValid() || caption_painted_.elapsed() >= kCaptionPaintIntervalMs) {
    label->repaint();
    caption_painted_.start();
  }
}

void MainWindow::ShowColours(const Control& control, QWidget* widget) {
  const ColourRoles roles = RolesFor(control.Kind());
  // An empty palette inherits every role it does not set, so kDefault restores the widget's
  // ordinary colours.
  QPalette palette;
  if (const QColor back = ToQColor(control.BackColour()); back.isValid()) {
    palette.setColor(roles.back, back);
  }
  if (const QColor fore = ToQColor(control.ForeColour()); fore.isValid()) {
    // The disabled group keeps its greyed text.
    palette.setColor(QPalette::Active, roles.fore, fore);
    palette.setColor(QPalette::Inactive, roles.fore, fore);
  }
  widget->setPalette(palette);
}

void MainWindow::ShowListChange(const ListBox& list, QWidget* widget, ListBox::Change change) {
  auto* view = static_cast<ModelListWidget*>(widget);
  const int first = change.index;
  const int end = std::min(first + change.count, static_cast<int>(list.ListCount()));
  switch (change.kind) {
    case ListBox::Change::Kind::kCleared:
      view->clear();
      return;
    case ListBox::Change::Kind::kAdded: {
      if (first < 0 || first >= end) {
        return;
      }
      if (first != view->count()) {
        ShowWholeList(list, view);
        return;
      }
      ShowItems(list, view, first, end);
      if (end - first == 1) {
        ShowSelected(list, view, first);
      } else {
        ShowSelection(list, view);
      }
      return;
    }
    case ListBox::Change::Kind::kSelection:
      if (first < 0 || first >= end || end > view->count()) {
        return;
      }
      if (end - first == 1) {
        ShowSelected(list, view, first);
      } else {
        ShowSelection(list, view);
      }
      return;
  }
}

void MainWindow::ShowItems(const ListBox& list, ModelListWidget* view, int first, int end) {
  QStringList texts;
  texts.reserve(end - first);
  for (int i = first; i < end; ++i) {
    texts.append(FromBytes(list.List(static_cast<std::int16_t>(i))));
  }
  // One insertion for the whole run: the view lays its rows out once.
  view->insertItems(first, texts);
  if (!driver_.ShowsDriveTips(list)) {
    return;
  }
  for (int i = first; i < end; ++i) {
    if (const std::string tip = driver_.ItemTip(list, i); !tip.empty()) {
      view->item(i)->setToolTip(FromBytes(tip));
    }
  }
}

void MainWindow::ShowWholeList(const ListBox& list, ModelListWidget* view) {
  view->clear();
  if (list.ListCount() > 0) {
    ShowItems(list, view, 0, list.ListCount());
    ShowSelection(list, view);
  }
}

void MainWindow::ShowSelected(const ListBox& list, ModelListWidget* view, int row) {
  const bool selected = list.Selected(static_cast<std::int16_t>(row));
  const QModelIndex index = view->model()->index(row, 0);
  QItemSelectionModel* selection = view->selectionModel();
  if (selection->isSelected(index) != selected) {
    selection->select(index,
                      selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
  }
  if (selected && list.Mode() == SelectionMode::kSingle) {
    // The keyboard carries on from the selected entry, as in a Windows list box.
    selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  }
}

void MainWindow::ShowSelection(const ListBox& list, ModelListWidget* view) {
  // Qt compares every range it holds with every range it is given, so the selection is set
  // anew as one range per run of selected items, on an empty selection: linear, where telling
  // it item by item costs the square of the list's length.
  QItemSelection runs;
  const int count = std::min(static_cast<int>(list.ListCount()), view->count());
  const QAbstractItemModel* model = view->model();
  for (int i = 0; i < count; ++i) {
    if (!list.Selected(static_cast<std::int16_t>(i))) {
      continue;
    }
    const int run_first = i;
    while (i + 1 < count && list.Selected(static_cast<std::int16_t>(i + 1))) {
      ++i;
    }
    runs.append(QItemSelectionRange(model->index(run_first, 0), model->index(i, 0)));
  }
  QItemSelectionModel* selection = view->selectionModel();
  selection->clearSelection();
  if (!runs.isEmpty()) {
    selection->select(runs, QItemSelectionModel::Select);
  }
  if (list.Mode() == SelectionMode::kSingle && list.ListIndex() >= 0 && list.ListIndex() < count) {
    selection->setCurrentIndex(model->index(list.ListIndex(), 0), QItemSelectionModel::NoUpdate);
  }
}

bool MainWindow::Dispatch(const std::function<void()>& handler) {
  return driver_.Run(handler);
}

void MainWindow::StopClocks() {
  for (QTimer* clock : timers_) {
    clock->stop();
  }
}

void MainWindow::EndProgram() {
  // The last window closing would post a quit with code 0 that could overtake ours.
  QGuiApplication::setQuitOnLastWindowClosed(false);
  close();
  QCoreApplication::exit(1);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  driver_.Close();
  event->accept();
}

void MainWindow::paintEvent(QPaintEvent* event) {
  static_cast<void>(event);
  QColor back = ToQColor(Form1::BackColour());
  if (!back.isValid()) {
    back = palette().color(QPalette::Window);
  }
  QPainter painter(this);
  painter.fillRect(rect(), back);
}

}  // namespace salvatrix::qt
