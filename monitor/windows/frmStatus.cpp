#include "windows/frmStatus.h"

#include <QVBoxLayout>

#include "core/globals.h"

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
    TreeView1 = named(new QTreeWidget(this), QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setRootIsDecorated(true);
    layout->addWidget(Label1);
    layout->addWidget(TreeView1, 1);
}

void frmStatus::loadWindow() {
    Label1->clear();
    TreeView1->clear();
}
