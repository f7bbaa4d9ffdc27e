#include "transfer/frmFile.h"

#include "core/controls.h"
#include "transfer/twips.h"

frmFile::frmFile() : Form(QStringLiteral("frmFile")) {}

void frmFile::buildControls() {
    setWidth(4560);
    setHeight(1140);
    setColours(this, QColor(192, 192, 192), QColor(0, 0, 0));
    SSPanel1 = named(new SSPanel(QString(), this), QStringLiteral("SSPanel1"));
    placeTwips(SSPanel1, 240, 240, 4095, 615);
    SSPanel1->setFloodType(1);
}

void frmFile::Form_Load() {
    // Every transfer starts from an empty window and bar.
    setWindowTitle(QString());
    SSPanel1->setFloodPercent(0);
}
