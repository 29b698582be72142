#include "platform/qt/notes_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QListWidget>
#include <QPixmap>
#include <QScreen>
#include <functional>

#include "app/dialog.h"
#include "platform/qt/caption_font.h"
#include "platform/qt/view_conversions.h"

namespace salvatrix::qt {
namespace {

// The window itself: closing it by its close button closes the model, which then has the view
// discard the window.
class NotesWindow final : public QWidget {
 public:
  NotesWindow(std::function<void()> on_close)
      : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint),
        on_close_(std::move(on_close)) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->accept();
    on_close_();
  }

 private:
  std::function<void()> on_close_;
};

}  // namespace

NotesView::NotesView(Dialog& notes) : notes_(notes) {
  connections_.push_back(notes_.opened.ConnectScoped([this] { Open(); }));
  connections_.push_back(notes_.closing.ConnectScoped([this] { Discard(); }));
}

NotesView::~NotesView() {
  delete window_;
}

void NotesView::Open() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const double dpi_x = screen != nullptr ? screen->logicalDotsPerInchX() : 96.0;
  const double dpi_y = screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
  const auto x = [dpi_x](int twips) { return TwipsToPixels(twips, dpi_x); };
  const auto y = [dpi_y](int twips) { return TwipsToPixels(twips, dpi_y); };

  auto* window = new NotesWindow([this] { notes_.Close(); });
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  window->setObjectName("Dialog");
  window->setWindowTitle(
      QString::fromUtf8(Dialog::kCaption.data(), static_cast<qsizetype>(Dialog::kCaption.size())));
  window->setWindowIcon(QIcon(QPixmap::fromImage(ProgramIconImage())));

  auto* list = new QListWidget(window);
  list->setObjectName("List1");
  const ListBox& model = notes_.List1();
  list->setGeometry(x(model.Place().left), y(model.Place().top), x(model.Place().width),
                    y(model.Place().height));
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  for (std::int16_t i = 0; i < model.ListCount(); ++i) {
    const std::string text = model.List(i);
    list->addItem(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  }
  // The list has no horizontal scroll bar on Windows: every note must fit its width.
  QFont font =
      FittingFont(InstalledFace(NotesFaces()), Dialog::kFontPoints, ListEntryPlaces(*list));
  font.setWeight(static_cast<QFont::Weight>(Dialog::kFontWeight));
  list->setFont(font);

  // The client area has a fixed size and a fixed place on the screen.
  window->setGeometry(x(Dialog::kScreenLeft), y(Dialog::kScreenTop), x(Dialog::kClientWidth),
                      y(Dialog::kClientHeight));
  window->setFixedSize(x(Dialog::kClientWidth), y(Dialog::kClientHeight));
  window_ = window;
  window->show();
}

void NotesView::Discard() {
  if (window_ == nullptr) {
    return;
  }
  QWidget* window = window_;
  window_ = nullptr;
  window->hide();
  // The window may be inside its own closeEvent right now.
  window->deleteLater();
}

}  // namespace salvatrix::qt
