#include "transfer/frmProgFlash.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/controls.h"

namespace {
const QString DesignModules[] = {QStringLiteral("Q41/Q42/Q43 CPU"), QStringLiteral("Q90/Q91 Comm/DeviceNet")};
}  // namespace

frmProgFlash::frmProgFlash() : Form(QStringLiteral("frmProgFlash")) {}

void frmProgFlash::buildControls() {
    setWindowTitle(QStringLiteral("Update Firmware"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    VideoSoftElastic1 = named(new QWidget(this), QStringLiteral("VideoSoftElastic1"));
    outer->addWidget(VideoSoftElastic1);
    auto *grid = new QGridLayout(VideoSoftElastic1);

    lblModule = named(new QLabel(QStringLiteral("Select Module to Update"), VideoSoftElastic1), QStringLiteral("lblModule"));
    Combo1 = named(new QComboBox(VideoSoftElastic1), QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    SSCommand1 = named(new SSCommand(QStringLiteral("Start Update"), VideoSoftElastic1), QStringLiteral("SSCommand1"));
    Text1 = named(new QPlainTextEdit(VideoSoftElastic1), QStringLiteral("Text1"));
    ProgressBar1 = named(new QProgressBar(VideoSoftElastic1), QStringLiteral("ProgressBar1"));
    grid->addWidget(lblModule, 0, 0);
    grid->addWidget(Combo1, 1, 0);
    grid->addWidget(SSCommand1, 1, 1);
    grid->addWidget(Text1, 2, 0, 1, 2);
    grid->addWidget(ProgressBar1, 3, 0, 1, 2);
    grid->setRowStretch(2, 1);

    // Outside the layout and below the visible area: reached by Alt+B and
    // Alt+F only.
    Command1 = named(new QPushButton(QStringLiteral("&B"), this), QStringLiteral("Command1"));
    Command2 = named(new QPushButton(QStringLiteral("&F"), this), QStringLiteral("Command2"));
    Command1->setGeometry(0, 10000, 24, 24);
    Command2->setGeometry(30, 10000, 24, 24);

    resize(480, 360);
}

void frmProgFlash::Form_Load() {
    // The list and the log as designed.
    Combo1->clear();
    for (const QString &m : DesignModules) Combo1->addItem(m);
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QStringLiteral("Select Module"));
    Text1->clear();

    Combo1->setCurrentIndex(0);
    ProgressBar1->hide();
    FlashBaudRate = 38400;
    BaudCode = 3;
    BaudCodeChar = 51;
    Combo1->insertItem(2, QStringLiteral("Q600 Series Controller"));
}
