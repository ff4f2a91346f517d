// The main window's place on the screen and the keyboard's ways around it: the size of a first
// start, the window's geometry, bars and panes kept per user in the settings store, F10 and
// Alt+letter for the menus, Ctrl+Tab between the panes.
#include <QAction>
#include <QByteArray>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTreeWidget>

#include "platform/registry.h"
#include "ui/log_memo.h"
#include "ui/main_window.h"
#include "ui/pane_area.h"
#include "ui/slot_guard.h"
#include "ui/variables_panel.h"

namespace tarnex::ui {
namespace {

// Under the user's own root: each user keeps the window as they left it.
constexpr std::string_view kWindowKey = "\\SOFTWARE\\Tarnex\\Window";
constexpr std::string_view kGeometryName = "Geometry";
constexpr std::string_view kBarsName = "Bars";
constexpr std::string_view kEditorWidthName = "EditorWidth";

// A first start: this share of the screen, the editor this share of the window.
constexpr double kFirstScreenShare = 0.7;
constexpr double kFirstEditorShare = 0.4;

QByteArray Decoded(platform::Registry& registry, std::string_view name) {
  if (!registry.ValueExists(name)) return {};
  const std::string text = registry.ReadString(name);
  return QByteArray::fromBase64(QByteArray::fromStdString(text));
}

}  // namespace

void TTarnexfm::RestoreWindowState() {
  platform::Registry registry(store_, platform::RootKey::CurrentUser);
  QByteArray geometry, bars;
  int editor_width = -1;
  if (registry.OpenKey(kWindowKey, false)) {
    geometry = Decoded(registry, kGeometryName);
    bars = Decoded(registry, kBarsName);
    if (registry.ValueExists(kEditorWidthName))
      editor_width = registry.ReadInteger(kEditorWidthName);
  }
  if (geometry.isEmpty() || !restoreGeometry(geometry)) {
    // No window of the user's yet: most of the screen, in its middle.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
      const QRect area = screen->availableGeometry();
      const QSize size(static_cast<int>(area.width() * kFirstScreenShare),
                       static_cast<int>(area.height() * kFirstScreenShare));
      resize(size.expandedTo(minimumSizeHint()));
      move(area.center() - rect().center());
    }
  }
  if (!bars.isEmpty()) restoreState(bars);
  panes_->SetPanel1Width(editor_width >= 0 ? editor_width
                                           : static_cast<int>(width() * kFirstEditorShare));
}

void TTarnexfm::SaveWindowState() {
  platform::Registry registry(store_, platform::RootKey::CurrentUser);
  if (!registry.OpenKey(kWindowKey, true)) return;  // nowhere to keep it: the next start is a first
  registry.WriteString(kGeometryName, saveGeometry().toBase64().toStdString());
  registry.WriteString(kBarsName, saveState().toBase64().toStdString());
  registry.WriteInteger(kEditorWidthName, panes_->Panel1Width());
}

void TTarnexfm::BuildKeyboard() {
  auto key = [this](const QKeySequence& keys, std::function<void()> action) {
    auto* item = new QAction(this);
    item->setShortcut(keys);
    addAction(item);
    connect(item, &QAction::triggered, this, Guarded(std::move(action)));
    keyboard_items_.push_back(item);
  };
  // The designed menus keep their captions; Alt and the first letter of each opens it.
  const std::pair<Qt::Key, QMenu*> menus[] = {
      {Qt::Key_F, file1}, {Qt::Key_E, Edit1}, {Qt::Key_L, Log1}, {Qt::Key_H, Help1}};
  for (const auto& [letter, menu] : menus) {
    key(QKeySequence(Qt::ALT | letter), [this, menu] { OpenMenu(menu); });
  }
  key(QKeySequence(Qt::Key_F10), [this] { OpenMenu(file1); });
  key(QKeySequence(Qt::CTRL | Qt::Key_Tab), [this] { FocusNextPane(true); });
  key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), [this] { FocusNextPane(false); });
}

void TTarnexfm::OpenMenu(QMenu* menu) {
  if (!menu->menuAction()->isEnabled()) return;
  menuBar()->setFocus(Qt::MenuBarFocusReason);
  menuBar()->setActiveAction(menu->menuAction());
}

void TTarnexfm::FocusNextPane(bool forward) {
  std::vector<QWidget*> panes{Batmemo, Logmemo};
  if (!VariablesPanel->isHidden()) panes.push_back(VariablesPanel->Tree());
  const auto here =
      std::find_if(panes.begin(), panes.end(), [](QWidget* pane) { return pane->hasFocus(); });
  const int count = static_cast<int>(panes.size());
  const int at =
      here == panes.end() ? (forward ? count - 1 : 0) : static_cast<int>(here - panes.begin());
  panes[(at + (forward ? 1 : count - 1)) % count]->setFocus(Qt::TabFocusReason);
}

}  // namespace tarnex::ui
