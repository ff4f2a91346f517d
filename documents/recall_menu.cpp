#include "documents/recall_menu.h"

#include <algorithm>
#include <utility>

#include "platform/errors.h"
#include "text/string_helpers.h"

namespace tarnex::documents {

// --- TMenuControlItems ---

void TMenuControlItems::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) {
    throw Exception("List index out of bounds (" + std::to_string(index) + ")");
  }
}

const std::string& TMenuControlItems::Strings(int index) const {
  CheckIndex(index);
  return entries_[static_cast<size_t>(index)].text;
}

TMenuControlItem& TMenuControlItems::ItemData(int index) {
  CheckIndex(index);
  return entries_[static_cast<size_t>(index)].data;
}

const TMenuControlItem& TMenuControlItems::ItemData(int index) const {
  CheckIndex(index);
  return entries_[static_cast<size_t>(index)].data;
}

int TMenuControlItems::IndexOf(std::string_view text) const {
  for (int i = 0; i < Count(); ++i) {
    if (SameText(entries_[static_cast<size_t>(i)].text, text)) return i;
  }
  return -1;
}

std::vector<std::string> TMenuControlItems::Texts() const {
  std::vector<std::string> texts;
  texts.reserve(entries_.size());
  for (const Entry& entry : entries_) texts.push_back(entry.text);
  return texts;
}

void TMenuControlItems::InsertItem(int index, int limit, std::string text) {
  if (limit < 1) {
    Clear();
    return;
  }
  if (const int found = IndexOf(text); found >= 0) Delete(found);
  // More than one entry goes only when the limit was lowered after the list was filled.
  while (Count() >= limit) entries_.pop_back();
  index = std::clamp(index, 0, Count());
  entries_.insert(entries_.begin() + index, Entry{std::move(text), TMenuControlItem{}});
}

void TMenuControlItems::Delete(int index) {
  CheckIndex(index);
  entries_.erase(entries_.begin() + index);
}

// --- TCustomMenuControl ---

void TCustomMenuControl::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (OnChange) OnChange();
}

void TCustomMenuControl::Rebuild() {
  if (visible_ && OnChange) OnChange();
}

void TCustomMenuControl::Insert(int index, std::string text) {
  items_.InsertItem(index, Count, std::move(text));
  Rebuild();
}

void TCustomMenuControl::ClearSelected(std::string_view text) {
  if (text.empty()) {
    for (int i = 0; i < items_.Count(); ++i) items_.ItemData(i).IsSelected = false;
  } else if (const int found = items_.IndexOf(text); found >= 0) {
    items_.ItemData(found).IsSelected = false;
  }
}

void TCustomMenuControl::ResetSelected(std::string_view text) {
  ClearSelected(text);
  Rebuild();
}

void TCustomMenuControl::ItemClick(int tag) {
  if (tag < 0 || tag >= items_.Count()) return;
  if (!(SelectErase && MultiSelect)) ResetSelected("");
  items_.ItemData(tag).IsSelected = true;
  selected_text_ = items_.Strings(tag);
  Rebuild();
  // A copy: the handler usually opens the script, which moves entries around.
  const std::string selected = selected_text_;
  if (OnSelected) OnSelected(*this, selected);
}

std::string TCustomMenuControl::ItemNumberText(int n) {
  if (n >= 0 && n <= 9) return "&" + std::to_string(n);
  // Beyond "Z" the characters would no longer be keys one can press.
  if (n >= 10 && n <= 35) return std::string("&") + static_cast<char>(n + 55);
  return {};
}

std::string TCustomMenuControl::Caption(int index) const {
  std::string text = items_.Strings(index);
  if (OnSetCaption) OnSetCaption(*this, text);
  const std::string number = ItemNumberText(index);
  return number.empty() ? text : number + " " + text;
}

std::vector<MenuEntry> TCustomMenuControl::MenuItems(bool parent_has_other_items) const {
  std::vector<MenuEntry> entries;
  if (!visible_) return entries;
  if (parent_has_other_items && items_.Count() > 0) {
    entries.push_back(MenuEntry{name_ + "Bar", "-", -1, true, true});
  }
  for (int i = 0; i < items_.Count(); ++i) {
    const bool enabled = !(SelectErase && items_.ItemData(i).IsSelected);
    entries.push_back(MenuEntry{name_ + std::to_string(i), Caption(i), i, enabled, false});
  }
  return entries;
}

std::vector<std::string> TCustomMenuControl::Captions() const {
  std::vector<std::string> captions;
  for (int i = 0; i < items_.Count(); ++i) captions.push_back(Caption(i));
  return captions;
}

// --- TRecallMenu ---

TRecallMenu::TRecallMenu(std::string name, std::shared_ptr<platform::RegistryStore> store)
    : TCustomMenuControl(std::move(name)), store_(std::move(store)) {
  SelectErase = true;
}

TRecallMenu::~TRecallMenu() {
  if (!loaded_ || Items().Texts() == stored_) return;
  try {
    SaveToRegistry();
  } catch (...) {
    // The program is ending; there is no one left to tell.
  }
}

void TRecallMenu::Loaded() {
  LoadFromRegistry();
  Rebuild();
}

void TRecallMenu::LoadFromRegistry() {
  platform::Registry registry(store_, RootKey);
  // A key that cannot be opened shows as the first write that fails.
  registry.OpenKey(RegistryKey, true);
  loaded_ = false;
  MutableItems().Clear();
  for (int n = Count - 1; n >= 0; --n) {
    const std::string slot = SlotName(n);
    std::string value;
    if (registry.ValueExists(slot)) {
      value = registry.ReadString(slot);
    } else {
      registry.WriteString(slot, "");
    }
    if (!value.empty()) MutableItems().AddItem(Count, std::move(value));
  }
  registry.CloseKey();
  // Only a list read whole may later replace what the store holds.
  loaded_ = true;
}

void TRecallMenu::SaveToRegistry() {
  platform::Registry registry(store_, RootKey);
  registry.OpenKey(RegistryKey, true);
  // One write per slot, History0 first, leaving what clearing every slot and then writing
  // every entry would leave.
  const std::vector<std::string> texts = Items().Texts();
  const int slots = std::max(Count, static_cast<int>(texts.size()));
  for (int n = 0; n < slots; ++n) {
    registry.WriteString(SlotName(n),
                         n < static_cast<int>(texts.size()) ? texts[static_cast<size_t>(n)] : "");
  }
  registry.CloseKey();
  stored_ = texts;
}

}  // namespace tarnex::documents
