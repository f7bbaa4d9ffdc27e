#include "windows/frmFlag.h"

#include "core/basics.h"
#include "core/globals.h"
#include "core/mainwindow.h"

std::function<bool()> frmFlag::flagCallForHighFlags = [] { return mainWindow().SelectCommFunction() != 0; };

frmFlag::frmFlag()
    : PagedWindow(QStringLiteral("frmFlag"),
                  {{QStringLiteral("Flags"), QStringLiteral("Flags"), {1488, 3192, 4956, 5000},
                    {1488, 3192, 4956, 5000}, {1488, 3192, 4956, 3444}},
                   &FlagWindowOpen, QStringLiteral("Flag Form unloaded."), false, QStringLiteral("ORVflag")},
                  {QStringLiteral("Text1"), QStringLiteral("GoTo:"), true, 16}) {
    setWindowTitle(QStringLiteral("ORV Flags"));
}

void frmFlag::buildControls() {
    PagedWindow::buildControls();
    Text1 = goToBox();
}

void frmFlag::addRowControls(QGridLayout *grid, int row, int column) {
    SSCommand1[row] = named(new SSCommand(QStringLiteral("Clear"), this), QStringLiteral("SSCommand1"), row);
    connect(SSCommand1[row], &QPushButton::clicked, this, [this, row] { SSCommand1_Click(row); });
    grid->addWidget(SSCommand1[row], row, column);
}

bool &frmFlag::goToEditing() { return FlagGoToEditing; }

QString frmFlag::flagName(int32_t n, bool &found) {
    QString name;
    found = FindSymbolName(SymFlags, NumberCriteria(n), name);
    return found ? name : QStringLiteral("flag_") + QString::number(n);
}

void frmFlag::loadPage() {
    for (int i = 1; i <= 16; ++i) {
        const int r = i - 1;
        bool found = false;
        const QString name = flagName(i, found);
        Label1[r]->setText(!found && i > NumFlags ? QStringLiteral("Not Present") : name);
        showUnknown(r);
        Label2[r]->setText(QString::number(i));
    }
    VScroll1->setMaximum(std::max(1, NumFlags - 15));
    Text1->setText(QStringLiteral("1"));
}

void frmFlag::fillRow(int r, int n) {
    bool found = false;
    Label1[r]->setText(flagName(n, found));
    Label2[r]->setText(QString::number(n));
    // The button showed a flag of the page before.
    showUnknown(r);
}

void frmFlag::showState(int r, bool set) {
    SSCommand1[r]->setCaption(set ? QStringLiteral("Set") : QStringLiteral("Clear"));
    SSCommand1[r]->setForeColor(set ? ColourDarkGreen : ColourRed);
    SSCommand1[r]->setFont3D(set ? Font3DRaisedLight : Font3DInsetLight);
}

void frmFlag::showUnknown(int r) { ShowNoState(SSCommand1[r]); }

void frmFlag::SSCommand1_Click(int index) {
    // Without a link nothing is written and the button keeps what it shows.
    if (const QString refused = LinkRefusal(QStringLiteral("Failed to update Flag value!")); !refused.isEmpty()) {
        ShowStatus(refused);
        return;
    }
    // The button shows the state asked for while its write runs; "*" asks
    // for set, as any caption but "Set" does.
    const ToggleShown before(SSCommand1[index]);
    const int32_t value = SSCommand1[index]->Caption() == u"Set" ? 0 : 1;
    showState(index, value == 1);
    const QString asked = SSCommand1[index]->Caption();
    const int32_t flag = VScroll1->value() + index;
    const bool newerLibrary = flagCallForHighFlags();
    const bool flagCall = flag <= 32 || (newerLibrary && flag <= 256);
    const WriteOutcome outcome = ReportWrite(
        [&] {
            return flagCall ? OrvComm::ZqPutFlag(ConnectionHandle, flag, value)
                            : OrvComm::ZqPutRegister(ConnectionHandle, 13200 + flag, value);
        },
        QStringLiteral("Flag #") + QString::number(flag) + QStringLiteral(" updated."),
        QStringLiteral("Failed to update Flag value!"));
    before.settle(outcome, asked);
    EmptyDdeFlagWrite();
}
