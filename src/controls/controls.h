#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/failure.h"

namespace salvatrix {

/// Owns one slot's place in a Signal: the slot is disconnected when the owner goes, so a view
/// that dies before its models leaves nothing behind that points to it. Outliving the signal
/// is harmless.
class Connection final {
 public:
  Connection() = default;
  explicit Connection(std::function<void()> disconnect) : disconnect_(std::move(disconnect)) {}
  ~Connection() { Disconnect(); }
  Connection(Connection&& other) noexcept : disconnect_(std::exchange(other.disconnect_, {})) {}
  Connection& operator=(Connection&& other) noexcept {
    if (this != &other) {
      Disconnect();
      disconnect_ = std::exchange(other.disconnect_, {});
    }
    return *this;
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Disconnect() {
    if (disconnect_) {
      std::exchange(disconnect_, {})();
    }
  }

 private:
  std::function<void()> disconnect_;
};

/// A minimal observer list. Slots are called in the order they were connected.
template <typename... Args>
class Signal final {
 public:
  using Slot = std::function<void(Args...)>;

  Signal() = default;
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;

  /// For slots that live as long as the signal's owner.
  void Connect(Slot slot) { slots_->push_back(std::make_shared<Slot>(std::move(slot))); }

  /// For slots that may go first: the slot is called until the returned owner is destroyed.
  [[nodiscard]] Connection ConnectScoped(Slot slot) {
    auto shared = std::make_shared<Slot>(std::move(slot));
    slots_->push_back(shared);
    return Connection([list = std::weak_ptr<SlotList>(slots_), slot = std::weak_ptr<Slot>(shared)] {
      const std::shared_ptr<SlotList> entries = list.lock();
      if (!entries) {
        return;
      }
      for (auto& entry : *entries) {
        if (entry && entry == slot.lock()) {
          // Left as an empty place: an Emit may be walking the list right now.
          entry.reset();
        }
      }
    });
  }

  void Emit(Args... args) const {
    // A slot may connect further slots or disconnect any; iterate by index, and hold each
    // slot while it runs, as running it may destroy its own connection.
    const std::shared_ptr<SlotList> entries = slots_;
    for (std::size_t i = 0; i < entries->size(); ++i) {
      if (const std::shared_ptr<Slot> slot = (*entries)[i]) {
        (*slot)(args...);
      }
    }
  }

 private:
  using SlotList = std::vector<std::shared_ptr<Slot>>;
  std::shared_ptr<SlotList> slots_ = std::make_shared<SlotList>();
};

/// Position and size of a control, in twips.
struct Geometry {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const Geometry&, const Geometry&) = default;
};

/// A colour as the window system knows it: the kind's default, a system colour by index
/// (7 = COLOR_MENUTEXT, 14 = COLOR_HIGHLIGHTTEXT) or an RGB triple.
struct Colour {
  enum class Kind { kDefault, kSystem, kRgb };
  Kind kind = Kind::kDefault;
  int system_index = 0;
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;

  static Colour System(int index) { return {Kind::kSystem, index, 0, 0, 0}; }
  static Colour Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return {Kind::kRgb, 0, r, g, b};
  }
  friend bool operator==(const Colour&, const Colour&) = default;
};

inline constexpr int kColorMenuText = 7;
inline constexpr int kColorHighlightText = 14;

enum class ControlKind { kButton, kCheckBox, kListBox, kTextBox, kLabel, kPicture, kTimer };

/// What every control shares: its name, kind, place, tab position and enabled flag.
class Control {
 public:
  Control(std::string name, ControlKind kind, Geometry geometry, int tab_index);
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& Name() const { return name_; }
  ControlKind Kind() const { return kind_; }
  const Geometry& Place() const { return geometry_; }
  /// Position in the tab order, or -1 for controls that take no focus.
  int TabIndex() const { return tab_index_; }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  Colour BackColour() const { return back_colour_; }
  Colour ForeColour() const { return fore_colour_; }
  void SetColours(Colour back, Colour fore);

  /// Raised after any change of state that a view shows.
  Signal<> changed;

 private:
  std::string name_;
  ControlKind kind_;
  Geometry geometry_;
  int tab_index_;
  bool enabled_ = true;
  Colour back_colour_;
  Colour fore_colour_;
};

/// A control with a caption or text: buttons, check boxes, labels.
class CaptionedControl : public Control {
 public:
  CaptionedControl(std::string name, ControlKind kind, Geometry geometry, int tab_index,
                   std::string caption);

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);

 private:
  std::string caption_;
};

class Label final : public CaptionedControl {
 public:
  Label(std::string name, Geometry geometry, int tab_index, std::string caption);
};

class CommandButton final : public CaptionedControl {
 public:
  CommandButton(std::string name, Geometry geometry, int tab_index, std::string caption);

  /// A press by the user. Does nothing while the button is disabled.
  void Press();

  Signal<> click;
};

class CheckBox final : public CaptionedControl {
 public:
  CheckBox(std::string name, Geometry geometry, int tab_index, std::string caption);

  /// 0 unticked, 1 ticked.
  int Value() const { return value_; }
  /// Set by code; raises no click.
  void SetValue(int value);
  /// A click by the user: toggles the value, then raises click. Nothing while disabled.
  void UserClick();

  Signal<> click;

 private:
  int value_ = 0;
};

class TextBox final : public Control {
 public:
  TextBox(std::string name, Geometry geometry, int tab_index, std::string text, bool multi_line);

  const std::string& Text() const { return text_; }
  void SetText(std::string text);
  bool MultiLine() const { return multi_line_; }

 private:
  std::string text_;
  bool multi_line_;
};

enum class SelectionMode { kSingle, kMultiple };

/// A list box: texts with a selected flag each, 16-bit signed count and indices.
class ListBox final : public Control {
 public:
  static constexpr std::int16_t kMaxItems = 32767;

  /// What changed, for views that mirror the list: count items from index on. kCleared has
  /// index -1 and count 0; kAdded names items appended at the end, with their selected flags
  /// as they are now; kSelection names a run of items whose selected flags may have changed.
  struct Change {
    enum class Kind { kCleared, kAdded, kSelection };
    Kind kind;
    std::int16_t index;
    std::int16_t count = 1;
    friend bool operator==(const Change&, const Change&) = default;
  };

  /// Holds back items_changed while it lives, so that views can mirror a whole operation at
  /// once: the changes made meanwhile reach them, when the outermost batch of the list ends, as
  /// at most one kCleared, one kAdded and one kSelection. Ends the same way when the operation
  /// fails. Batches nest. A click raised meanwhile first sends what is held back, so its
  /// handler (and any box it opens) sees views that agree with the list.
  class Batch final {
   public:
    explicit Batch(ListBox& list);
    /// Lets a view's failure through unless a failure is already on its way.
    ~Batch() noexcept(false);
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    ListBox& list_;
    int failures_on_entry_;
  };

  ListBox(std::string name, Geometry geometry, int tab_index, SelectionMode mode);

  SelectionMode Mode() const { return mode_; }
  std::int16_t ListCount() const { return static_cast<std::int16_t>(items_.size()); }
  /// The text at index; the empty text at or past the end (and before the start).
  std::string List(std::int16_t index) const;
  /// Appends an item, unselected. Fails when the list already holds 32,767 items.
  void AddItem(std::string text);
  void Clear();

  /// Fails when index lies outside 0 ... ListCount() - 1.
  bool Selected(std::int16_t index) const;
  /// Fails when index lies outside 0 ... ListCount() - 1. In a single-selection list,
  /// selecting an item deselects the others and raises click when the selection moved.
  void SetSelected(std::int16_t index, bool selected);
  /// The index of the selected item of a single-selection list (the last selected one of a
  /// multiple-selection list), or -1.
  std::int16_t ListIndex() const;
  /// The text of the item at ListIndex(); the empty text when there is none.
  std::string Text() const { return List(ListIndex()); }

  /// A click by the user on an item: selects it (single) or toggles it (multiple), then
  /// raises click. Nothing while the list is disabled or the index is out of range.
  void UserClick(std::int16_t index);

  Signal<> click;
  Signal<Change> items_changed;

 private:
  void CheckIndex(std::int16_t index) const;
  void Notify(Change change);
  void RaiseClick();
  /// Sends what a batch holds back.
  void SendHeldChanges();

  SelectionMode mode_;
  std::vector<std::pair<std::string, bool>> items_;
  /// The selected item of a single-selection list, or -1.
  std::int16_t single_selected_ = -1;

  // What open batches hold back.
  int batch_depth_ = 0;
  bool held_clear_ = false;
  int held_added_from_ = -1;
  int held_selection_first_ = -1;
  int held_selection_last_ = -1;
};

/// A picture that shows the program icon.
class Picture final : public Control {
 public:
  Picture(std::string name, Geometry geometry);
};

/// A timer: an interval and an enabled flag. The view runs the clock and raises tick.
class Timer final : public Control {
 public:
  Timer(std::string name, int interval_ms);

  int Interval() const { return interval_ms_; }

  Signal<> tick;

 private:
  int interval_ms_;
};

}  // namespace salvatrix
