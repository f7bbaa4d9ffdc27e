#include "windows/frmStatus.h"

#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include "core/globals.h"
#include "core/runtime_error.h"

namespace {
constexpr int KeyRole = Qt::UserRole;
}  // namespace

// ---- Nodes of the task tree -------------------------------------------------------

QString TreeNode::Text() const { return item_->text(0); }
void TreeNode::setText(const QString &text) { item_->setText(0, text); }
QString TreeNode::Key() const { return item_->data(0, KeyRole).toString(); }

int TreeNode::Index() const {
    int index = 0;
    for (QTreeWidgetItemIterator it(item_->treeWidget()); *it; ++it) {
        ++index;
        if (*it == item_) return index;
    }
    return 0;
}

int TreeNode::Children() const { return item_->childCount(); }
TreeNode TreeNode::Child() const { return TreeNode(item_->child(0)); }

TreeNode TreeNode::Next() const {
    QTreeWidgetItem *parent = item_->parent();
    if (parent) return TreeNode(parent->child(parent->indexOfChild(item_) + 1));
    QTreeWidget *tree = item_->treeWidget();
    return TreeNode(tree->topLevelItem(tree->indexOfTopLevelItem(item_) + 1));
}

bool TreeNode::Expanded() const { return item_->isExpanded(); }
void TreeNode::setExpanded(bool on) { item_->setExpanded(on); }

int TreeNodes::Count() const {
    int n = 0;
    for (QTreeWidgetItemIterator it(tree_); *it; ++it) ++n;
    return n;
}

TreeNode TreeNodes::Item(int index) const {
    if (index >= 1) {
        int n = 0;
        for (QTreeWidgetItemIterator it(tree_); *it; ++it)
            if (++n == index) return TreeNode(*it);
    }
    throw RuntimeError(35600, QStringLiteral("Index out of bounds"));
}

TreeNode TreeNodes::find(const QString &key) const {
    for (QTreeWidgetItemIterator it(tree_); *it; ++it)
        if ((*it)->data(0, KeyRole).toString() == key) return TreeNode(*it);
    return TreeNode();
}

TreeNode TreeNodes::Add(const QString &relativeKey, int relationship, const QString &key, const QString &text) {
    QTreeWidgetItem *parent = nullptr;
    if (!relativeKey.isEmpty()) {
        if (relationship != tvwChild) throw RuntimeError(5, QStringLiteral("Invalid procedure call or argument"));
        parent = find(relativeKey).item();
        if (!parent) throw RuntimeError(35601, QStringLiteral("Element not found"));
    }
    if (key.isEmpty() || find(key).exists()) throw RuntimeError(35602, QStringLiteral("Key is not unique in collection"));
    auto *item = new QTreeWidgetItem(QStringList{text});
    item->setData(0, KeyRole, key);
    if (parent) parent->addChild(item);
    else tree_->addTopLevelItem(item);
    return TreeNode(item);
}

void TreeNodes::Remove(int index) { delete Item(index).item(); }

void TreeNodes::Clear() { tree_->clear(); }

// ---- The window ------------------------------------------------------------------------

frmStatus::frmStatus()
    : ResourceWindow(QStringLiteral("frmStatus"),
                     {{QStringLiteral("Status"), QStringLiteral("Status"), {2004, 1632, 4800, 6000},
                       {2004, 1632, 8000, 14000}, {2004, 1632, 4464, 5148}},
                      &StatusPollOn, QStringLiteral("Status Form unloaded."), false, QStringLiteral("Form1")}) {
    setWindowTitle(QStringLiteral("ORV Step Status"));
}

void frmStatus::buildControls() {
    auto *layout = new QVBoxLayout(this);
    Label1 = named(new QLabel(this), QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    TreeView1 = named(new TaskTreeView(this), QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setRootIsDecorated(true);
    layout->addWidget(Label1);
    layout->addWidget(TreeView1, 1);
}

void frmStatus::loadWindow() {
    Label1->clear();
    TreeView1->clear();
}
