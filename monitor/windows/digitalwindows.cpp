#include "windows/digitalwindows.h"

#include "core/basics.h"
#include "core/globals.h"

DigitalWindow::DigitalWindow(const QString &name, Traits traits, Kind kind)
    : PagedWindow(name, std::move(traits), {QStringLiteral("Text1"), QStringLiteral("GoTo:"), true, 16}),
      kind_(kind) {}

void DigitalWindow::buildControls() {
    PagedWindow::buildControls();
    Text1 = goToBox();
}

bool DigitalWindow::hasSymbol(int32_t n) {
    QString name;
    return FindSymbolName(*kind_.symbols, NumberCriteria(n) + QStringLiteral(" AND Value = 0"), name);
}

void DigitalWindow::loadPage() {
    for (int r = 0; r < 16; ++r) {
        const int32_t n = r + 1;
        // A point past the controller's count that the symbol file does not
        // name is not there; the others wait for their first read.
        if (!hasSymbol(n) && n > *kind_.count) {
            Label1[r]->setText(QStringLiteral("Not Present"));
            showNoState(r);
        } else {
            showUnknown(r);
        }
        Label2[r]->setText(QString::number(n));
    }
    VScroll1->setMaximum(985);
    Text1->setText(QStringLiteral("1"));
}

void DigitalWindow::fillRow(int r, int n) {
    // The row showed a point of the page before.
    showUnknown(r);
    Label2[r]->setText(QString::number(n));
}

void DigitalWindow::showUnknown(int r) {
    Label1[r]->setText(NoState);
    showNoState(r);
}

frmDigIn::frmDigIn()
    : DigitalWindow(QStringLiteral("frmDigIn"),
                    {{QStringLiteral("Digin"), QStringLiteral("Digin"), {1272, 3168, 4932, 5000},
                      {1272, 3168, 4932, 5000}, {1272, 3168, 4932, 3600}},
                     &DigInWindowOpen, QStringLiteral("Digital Input Form unloaded."), false, QStringLiteral("ORVinp")},
                    {&SymDigitalInputs, &NumDigitalInputs}) {
    setWindowTitle(QStringLiteral("ORV Digital Inputs"));
}

void frmDigIn::addRowControls(QGridLayout *grid, int row, int column) {
    SSPanel1[row] = named(new SSPanel(QString(), this), QStringLiteral("SSPanel1"), row);
    onClick(SSPanel1[row], [this] { focusGoTo(); });
    grid->addWidget(SSPanel1[row], row, column);
}

void frmDigIn::showNoState(int r) { ShowNoState(SSPanel1[r]); }

void frmDigIn::showState(int r, int32_t n, int32_t state) {
    OutputDisplay = InputSymbolName(n, state);
    Label1[r]->setText(OutputDisplay.name);
    SSPanel1[r]->setCaption(OutputDisplay.stateText);
    SSPanel1[r]->setForeColor(OutputDisplay.colour);
}

frmDigOut::frmDigOut()
    : DigitalWindow(QStringLiteral("frmDigOut"),
                    {{QStringLiteral("Digout"), QStringLiteral("Digout"), {1464, 2364, 4932, 5000},
                      {1464, 2364, 4932, 5000}, {1464, 2364, 4932, 3804}},
                     &DigOutWindowOpen, QStringLiteral("Digital Output Form unloaded."), false, QStringLiteral("ORVout")},
                    {&SymDigitalOutputs, &NumDigitalOutputs}) {
    setWindowTitle(QStringLiteral("ORV Digital Outputs"));
}

void frmDigOut::addRowControls(QGridLayout *grid, int row, int column) {
    SSCommand1[row] = named(new SSCommand(QStringLiteral("Off"), this), QStringLiteral("SSCommand1"), row);
    connect(SSCommand1[row], &QPushButton::clicked, this, [this, row] { SSCommand1_Click(row); });
    grid->addWidget(SSCommand1[row], row, column);
}

void frmDigOut::showNoState(int r) { ShowNoState(SSCommand1[r]); }

void frmDigOut::showState(int r, int32_t n, int32_t state) {
    // Every value but 1 is the off state.
    OutputDisplay = OutputSymbolName(n, state);
    Label1[r]->setText(OutputDisplay.name);
    SSCommand1[r]->setCaption(OutputDisplay.stateText);
    SSCommand1[r]->setForeColor(OutputDisplay.colour);
    SSCommand1[r]->setFont3D(state == 1 ? Font3DRaisedLight : Font3DInsetLight);
}

void frmDigOut::SSCommand1_Click(int index) {
    // Without a link nothing is written and the button keeps what it shows.
    if (const QString refused = LinkRefusal(QStringLiteral("Failed to update output value!")); !refused.isEmpty()) {
        ShowStatus(refused);
        focusGoTo();
        return;
    }
    SSCommand *button = SSCommand1[index];
    // The button and the name show the state asked for while its write
    // runs; "*" asks for on, as any caption but "On" does.
    const ToggleShown before(button, Label1[index]);
    const int32_t state = button->Caption() == u"On" ? 0 : 1;
    const int32_t output = VScroll1->value() + index;
    showState(index, output, state);
    const QString asked = button->Caption();
    const WriteOutcome outcome =
        ReportWrite([&] { return OrvComm::ZqPutRegister(ConnectionHandle, 1000 + output, state); },
                    QStringLiteral("Output #") + QString::number(output) + QStringLiteral(" updated."),
                    QStringLiteral("Failed to update output value!"));
    before.settle(outcome, asked);
    focusGoTo();
}
