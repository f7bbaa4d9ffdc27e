// The step status window: the controller's state line and the tree of its
// tasks, both written by the polling loop while the window is open.
#pragma once

#include <QLabel>
#include <QTreeWidget>
#include <cstdint>

#include "windows/resourcewindow.h"

// A node of the task tree: a handle on one item, valid while the item is in
// the tree. Every node carries a key that is unique within the tree.
class TreeNode {
public:
    explicit TreeNode(QTreeWidgetItem *item = nullptr) : item_(item) {}
    bool exists() const { return item_ != nullptr; }
    QTreeWidgetItem *item() const { return item_; }

    QString Text() const;
    void setText(const QString &text);
    QString Key() const;
    // 1-based position in the tree's node collection.
    int Index() const;
    // Number of nodes directly under this one.
    int Children() const;
    // The first node under this one, and the next node under the same
    // parent; a node that does not exist when there is none.
    TreeNode Child() const;
    TreeNode Next() const;
    bool Expanded() const;
    void setExpanded(bool on);

private:
    QTreeWidgetItem *item_;
};

// The node collection of a tree view. Nodes are counted in the order the tree
// shows them when fully expanded, so the root is node 1.
class TreeNodes {
public:
    // Relationship of a new node to its relative: the relative's last child.
    static constexpr int tvwChild = 4;

    explicit TreeNodes(QTreeWidget *tree) : tree_(tree) {}
    int Count() const;
    // The node at a 1-based index; RuntimeError 35600 outside 1..Count.
    TreeNode Item(int index) const;
    // The node with this key; a node that does not exist when there is none.
    TreeNode find(const QString &key) const;
    // Adds a node as the last child of the node keyed relativeKey (an empty
    // relative key adds a top-level node). RuntimeError 35601 when the
    // relative does not exist, 35602 when the key is taken or empty, 5 for
    // another relationship.
    TreeNode Add(const QString &relativeKey, int relationship, const QString &key, const QString &text);
    // Removes the node at a 1-based index with all the nodes under it.
    void Remove(int index);
    void Clear();

private:
    QTreeWidget *tree_;
};

// The task tree: a tree widget with a node collection.
class TaskTreeView : public QTreeWidget {
    Q_OBJECT
public:
    using QTreeWidget::QTreeWidget;
    TreeNodes Nodes() { return TreeNodes(this); }
};

class frmStatus : public ResourceWindow {
    Q_OBJECT
public:
    frmStatus();

    QLabel *Label1 = nullptr;             // "Controller Running", "Controller Stopped" or the fault line
    TaskTreeView *TreeView1 = nullptr;    // one node per task

protected:
    void buildControls() override;
    // A window that opens starts with an empty tree.
    void loadWindow() override;
};

// Appends the text of a controller software fault to the step status
// window's state line (Label1), followed by "      - (fault code #<code>)".
// data is the fault's data number (servo, register, row, input, port ...).
void ShowFault(const int32_t &code, const int32_t &data);
