// The list of recently opened scripts behind the "開き直す" menu: the most recent first, at
// most `Count` entries, texts compared without case, kept in the settings store as History0..
// The menu items themselves belong to the window; this side says what they are (MenuItems) and
// when they must be built again (OnChange).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace tarnex::documents {

struct TMenuControlItem {
  bool IsSelected = false;  // picked and not replaced since
};

// The entries: a text (a script path) and its state each.
class TMenuControlItems {
 public:
  int Count() const { return static_cast<int>(entries_.size()); }
  // Raise tarnex::Exception "List index out of bounds (%d)" for a bad index.
  const std::string& Strings(int index) const;
  TMenuControlItem& ItemData(int index);
  const TMenuControlItem& ItemData(int index) const;
  // The index of the entry equal to `text` ignoring the case of letters, or -1.
  int IndexOf(std::string_view text) const;
  std::vector<std::string> Texts() const;

  // Puts `text` at `index` (clamped into the list) as an unpicked entry. An equal entry moves
  // rather than repeats; otherwise entries beyond `limit` - 1 are dropped from the end first.
  // A limit below 1 keeps nothing.
  void InsertItem(int index, int limit, std::string text);
  void AddItem(int limit, std::string text) { InsertItem(0, limit, std::move(text)); }
  void Delete(int index);
  void Clear() { entries_.clear(); }

 private:
  struct Entry {
    std::string text;
    TMenuControlItem data;
  };
  void CheckIndex(int index) const;

  std::vector<Entry> entries_;
};

// One menu item as the window is to build it.
struct MenuEntry {
  std::string name;     // component name + index, or + "Bar" for the separator
  std::string caption;  // "&0 path"; "-" for the separator
  int tag = -1;         // the entry index ItemClick receives; -1 for the separator
  bool enabled = true;
  bool separator = false;
};

// The menu logic without a menu.
class TCustomMenuControl {
 public:
  using TSelectedEvent =
      std::function<void(TCustomMenuControl& sender, const std::string& selected)>;
  using TSetCaptionEvent =
      std::function<void(const TCustomMenuControl& sender, std::string& value)>;

  explicit TCustomMenuControl(std::string name) : name_(std::move(name)) {}
  virtual ~TCustomMenuControl() = default;
  TCustomMenuControl(const TCustomMenuControl&) = delete;
  TCustomMenuControl& operator=(const TCustomMenuControl&) = delete;

  int Count = 10;            // the most entries kept
  bool SelectErase = false;  // picked entries are shown disabled
  bool MultiSelect = false;  // with SelectErase: a pick keeps the earlier marks
  TSelectedEvent OnSelected;
  TSetCaptionEvent OnSetCaption;
  // The menu items must be built again from MenuItems(), or removed when Visible is off. It may
  // be called from inside the click of an item it replaces: the window defers the rebuild
  // until that click is over.
  std::function<void()> OnChange;

  const std::string& Name() const { return name_; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  const TMenuControlItems& Items() const { return items_; }
  const std::string& SelectedText() const { return selected_text_; }

  void Add(std::string text) { Insert(0, std::move(text)); }
  void Insert(int index, std::string text);
  // Clears the mark of the entry equal to `text`, or of every entry for an empty text.
  void ClearSelected(std::string_view text);
  void ResetSelected(std::string_view text);
  // The click of the item with `tag`: marks the entry and reports it through OnSelected.
  void ItemClick(int tag);

  // "&" and the digit for 0..9, the letter for 10..35 ("&A" for 10); nothing beyond.
  static std::string ItemNumberText(int n);
  // The items to show: none when not visible; a separator first when the parent item holds
  // items of its own and there are entries.
  std::vector<MenuEntry> MenuItems(bool parent_has_other_items = false) const;
  // The entries' captions, the most recent first.
  std::vector<std::string> Captions() const;

 protected:
  TMenuControlItems& MutableItems() { return items_; }
  // Asks for the items to be built again when they are shown.
  void Rebuild();

 private:
  std::string Caption(int index) const;

  std::string name_;
  bool visible_ = true;
  TMenuControlItems items_;
  std::string selected_text_;
};

// The list kept in the settings store, under RootKey \ RegistryKey.
class TRecallMenu : public TCustomMenuControl {
 public:
  TRecallMenu(std::string name, std::shared_ptr<platform::RegistryStore> store);
  // Stores the list when it was loaded and has not been stored as it is now. No error can
  // leave a destructor: a window that wants to report one calls SaveToRegistry first.
  ~TRecallMenu() override;

  platform::RootKey RootKey = platform::RootKey::LocalMachine;
  std::string RegistryKey;

  // After the window has been loaded: the list from the store, then the items.
  void Loaded();
  // Slots are read from the highest down, each added at the top; a missing slot is created
  // empty. Raises the store's errors ("'History9' の設定に失敗しました" when it cannot write).
  void LoadFromRegistry();
  // Every slot written: the entries from History0, the rest empty. Raises the store's errors.
  void SaveToRegistry();

 private:
  std::string SlotName(int n) const { return "History" + std::to_string(n); }

  std::shared_ptr<platform::RegistryStore> store_;
  bool loaded_ = false;
  std::vector<std::string> stored_;  // the list as last stored
};

}  // namespace tarnex::documents
