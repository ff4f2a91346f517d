#include "ui/variables_panel.h"

#include <QHeaderView>
#include <QTreeWidget>

namespace tarnex::ui {
namespace {

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void AddRow(QTreeWidgetItem* group, const QString& name, const QString& value) {
  auto* row = new QTreeWidgetItem(group, {name, value});
  row->setToolTip(1, value);
}

}  // namespace

TVariablesPanel::TVariablesPanel(QWidget* parent) : QDockWidget(QStringLiteral("変数"), parent) {
  setObjectName(QStringLiteral("VariablesPanel"));
  tree_ = new QTreeWidget(this);
  tree_->setObjectName(QStringLiteral("VariablesTree"));
  tree_->setColumnCount(2);
  tree_->setHeaderLabels({QStringLiteral("名前"), QStringLiteral("値")});
  tree_->setRootIsDecorated(true);
  tree_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  variables_ = new QTreeWidgetItem(tree_, {QStringLiteral("スクリプト変数")});
  state_ = new QTreeWidgetItem(tree_, {QStringLiteral("実行状態")});
  variables_->setExpanded(true);
  state_->setExpanded(true);
  setWidget(tree_);
}

void TVariablesPanel::Show(const DebugState& state) {
  for (QTreeWidgetItem* group : {variables_, state_}) qDeleteAll(group->takeChildren());
  for (const DebugState::Variable& variable : state.variables) {
    AddRow(variables_, Utf8(variable.name), Utf8(variable.value));
  }
  AddRow(state_, QStringLiteral("結果"),
         state.command_ok ? QStringLiteral("NonError") : QStringLiteral("Error"));
  AddRow(state_, QStringLiteral("応答コード"),
         state.reply_code > 0 ? QString::number(state.reply_code) : QString());
  AddRow(state_, QStringLiteral("応答"), Utf8(state.reply_line));
  AddRow(state_, QStringLiteral("接続"),
         state.connected ? QStringLiteral("Connect") : QStringLiteral("Disconnect"));
  // The host Open named, from then on: also before the connection is made, and after it ended.
  AddRow(state_, QStringLiteral("ホスト"), Utf8(state.host));
  AddRow(state_, QStringLiteral("ローカルフォルダ"), Utf8(state.local_folder));
  AddRow(state_, QStringLiteral("データ接続"),
         state.passive ? QStringLiteral("パッシブ (PASV)") : QStringLiteral("アクティブ (PORT)"));
}

QString TVariablesPanel::ValueOf(int group, const QString& name) const {
  const QTreeWidgetItem* parent = group == 0 ? variables_ : state_;
  for (int i = 0; i < parent->childCount(); ++i) {
    if (parent->child(i)->text(0) == name) return parent->child(i)->text(1);
  }
  return {};
}

}  // namespace tarnex::ui
