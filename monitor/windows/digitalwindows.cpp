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

QString DigitalWindow::pointName(const QString &criteria, int32_t n, bool &found) {
    QString name;
    found = FindSymbolName(*kind_.symbols, criteria, name);
    return found ? name : kind_.defaultName(n);
}

void DigitalWindow::loadPage() {
    for (int r = 0; r < 16; ++r) {
        const int32_t n = r + 1;
        bool found = false;
        // At load the name is the one stored for value 0.
        const QString name = pointName(NumberCriteria(n) + QStringLiteral(" AND Value = 0"), n, found);
        Label1[r]->setText(!found && n > *kind_.count ? QStringLiteral("Not Present") : name);
        showOff(r);
        Label2[r]->setText(QString::number(n));
    }
    VScroll1->setMaximum(985);
    Text1->setText(QStringLiteral("1"));
}

void DigitalWindow::fillRow(int r, int n) {
    bool found = false;
    Label1[r]->setText(pointName(NumberCriteria(n), n, found));
    Label2[r]->setText(QString::number(n));
}

namespace {
QString inputName(int32_t n) { return QStringLiteral("in_%1A").arg(n); }
QString outputName(int32_t n) { return QStringLiteral("OUT_%1_OFF").arg(n); }
}  // namespace

frmDigIn::frmDigIn()
    : DigitalWindow(QStringLiteral("frmDigIn"),
                    {{QStringLiteral("Digin"), QStringLiteral("Digin"), {1272, 3168, 4932, 5000},
                      {1272, 3168, 4932, 5000}, {1272, 3168, 4932, 3600}},
                     &DigInWindowOpen, QStringLiteral("Digital Input Form unloaded."), false, QStringLiteral("ORVinp")},
                    {&SymDigitalInputs, &NumDigitalInputs, inputName}) {
    setWindowTitle(QStringLiteral("ORV Digital Inputs"));
}

void frmDigIn::addRowControls(QGridLayout *grid, int row, int column) {
    SSPanel1[row] = named(new SSPanel(QString(), this), QStringLiteral("SSPanel1"), row);
    onClick(SSPanel1[row], [this] { focusGoTo(); });
    grid->addWidget(SSPanel1[row], row, column);
}

void frmDigIn::showOff(int r) {
    SSPanel1[r]->setCaption(QStringLiteral("Off"));
    SSPanel1[r]->setForeColor(ColourRed);
}

frmDigOut::frmDigOut()
    : DigitalWindow(QStringLiteral("frmDigOut"),
                    {{QStringLiteral("Digout"), QStringLiteral("Digout"), {1464, 2364, 4932, 5000},
                      {1464, 2364, 4932, 5000}, {1464, 2364, 4932, 3804}},
                     &DigOutWindowOpen, QStringLiteral("Digital Output Form unloaded."), false, QStringLiteral("ORVout")},
                    {&SymDigitalOutputs, &NumDigitalOutputs, outputName}) {
    setWindowTitle(QStringLiteral("ORV Digital Outputs"));
}

void frmDigOut::addRowControls(QGridLayout *grid, int row, int column) {
    SSCommand1[row] = named(new SSCommand(QStringLiteral("Off"), this), QStringLiteral("SSCommand1"), row);
    connect(SSCommand1[row], &QPushButton::clicked, this, [this, row] { SSCommand1_Click(row); });
    grid->addWidget(SSCommand1[row], row, column);
}

void frmDigOut::showOff(int r) {
    SSCommand1[r]->setCaption(QStringLiteral("Off"));
    SSCommand1[r]->setForeColor(ColourRed);
    SSCommand1[r]->setFont3D(Font3DInsetLight);
}

void frmDigOut::SSCommand1_Click(int index) {
    // Without a link nothing is written and the button keeps what it shows.
    if (const QString refused = LinkRefusal(QStringLiteral("Failed to update output value!")); !refused.isEmpty()) {
        ShowStatus(refused);
        focusGoTo();
        return;
    }
    SSCommand *button = SSCommand1[index];
    // The button shows the state asked for while its write runs; a write
    // not taken leaves it showing what the controller last gave.
    const ToggleShown before(button, Label1[index]);
    const int32_t state = button->Caption() == u"On" ? 0 : 1;
    button->setFont3D(state == 1 ? Font3DRaisedLight : Font3DInsetLight);
    const int32_t output = VScroll1->value() + index;
    OutputDisplay = OutputSymbolName(output, state);
    Label1[index]->setText(OutputDisplay.name);
    button->setCaption(OutputDisplay.stateText);
    button->setForeColor(OutputDisplay.colour);
    const QString asked = button->Caption();
    if (!ReportWrite([&] { return OrvComm::ZqPutRegister(ConnectionHandle, 1000 + output, state); },
                     QStringLiteral("Output #") + QString::number(output) + QStringLiteral(" updated."),
                     QStringLiteral("Failed to update output value!")))
        before.restore(asked);
    focusGoTo();
}
