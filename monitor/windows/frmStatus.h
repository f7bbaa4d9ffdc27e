// The step status window: the controller's state line and the tree of its
// tasks, both written by the polling loop while the window is open.
#pragma once

#include <QLabel>
#include <QTreeWidget>

#include "windows/resourcewindow.h"

class frmStatus : public ResourceWindow {
    Q_OBJECT
public:
    frmStatus();

    QLabel *Label1 = nullptr;            // "Controller Running", "Controller Stopped" or the fault line
    QTreeWidget *TreeView1 = nullptr;    // one node per task

protected:
    void buildControls() override;
    // A window that opens starts with an empty tree.
    void loadWindow() override;
};
