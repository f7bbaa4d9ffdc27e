#include "windows/registerwindows.h"

#include <QMenuBar>

#include "core/basics.h"
#include "core/controls.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "core/shownvalue.h"
#include "core/textfit.h"
#include "windows/frmRegbits.h"

// ---- The register window family ----------------------------------------------

RegisterWindow::RegisterWindow(const QString &name, Traits traits, Names names)
    : PagedWindow(name, std::move(traits), {QStringLiteral("Text2"), QStringLiteral("GoTo:"), true, 16}),
      names_(std::move(names)) {}

void RegisterWindow::buildControls() {
    PagedWindow::buildControls();
    Text2 = goToBox();
    auto *bar = new QMenuBar(this);
    ViewMenu = named(bar->addMenu(QStringLiteral("&Display")), names_.menu);
    const QString captions[3] = {QString(), QStringLiteral("&Decimal"), QStringLiteral("&Hexadecimal")};
    for (int i = 1; i <= 2; ++i) {
        QAction *item = ViewMenu->addAction(captions[i]);
        named(item, names_.item, i);
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, item, i] {
            // The item's check mark is the view's, not the click's.
            item->setChecked(!item->isChecked());
            DisplayMenu_Click(i);
        });
        ViewItem[i] = item;
    }
    layout()->setMenuBar(bar);
}

void RegisterWindow::addRowControls(QGridLayout *grid, int row, int column) {
    Text1[row] = named(new QLineEdit(this), QStringLiteral("Text1"), row);
    reserveText(Text1[row], WidestRegisterValue);
    onKeyPress(Text1[row], [this, row](int &key) { Text1_KeyPress(row, key); });
    onKeyDown(Text1[row], [this, row](int &code, int shift) { Text1_KeyDown(row, code, shift); });
    onLostFocus(Text1[row], [this, row] { Text1_LostFocus(row); });
    grid->addWidget(Text1[row], row, column);
}

void RegisterWindow::addBottomControls(QHBoxLayout *bottom) {
    Label4 = named(new QLabel(QStringLiteral("Decimal View"), this), QStringLiteral("Label4"));
    Command1 = named(new QPushButton(QStringLiteral("View Bits"), this), QStringLiteral("Command1"));
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    bottom->addWidget(Label4);
    bottom->addWidget(Command1);
}

void RegisterWindow::setHexView(bool hex) {
    HexView = hex;
    ViewItem[1]->setChecked(!hex);
    ViewItem[2]->setChecked(hex);
    Label4->setText(hex ? QStringLiteral("Hexadecimal View") : QStringLiteral("Decimal View"));
}

std::optional<int32_t> RegisterWindow::typedValue(QLineEdit *box, const QString &field) const {
    if (HexView) {
        if (auto hex = HexEntry(box->text())) return *hex;
    }
    return TypedValue(box, field, Int32Low, Int32High);
}

void RegisterWindow::DisplayMenu_Click(int index) {
    if (names_.yieldFirst) DoEvents();
    const bool toHex = index == 1 ? ViewItem[1]->isChecked() : !ViewItem[2]->isChecked();
    setHexView(toHex);
}

// ---- frmReg ------------------------------------------------------------------------

namespace {
ResourceWindow::Traits registerTraits() {
    return {{QStringLiteral("Registers"), QStringLiteral("Registers"), {1668, 924, 5184, 5000}, {1668, 924, 5184, 5000},
             {1200, 924, 4956, 3828}},
            &RegWindowOpen, QStringLiteral("Register Form unloaded."), true, QStringLiteral("ORVreg")};
}
}  // namespace

frmReg::frmReg()
    : RegisterWindow(QStringLiteral("frmReg"), registerTraits(),
                     {QStringLiteral("RegMenu"), QStringLiteral("DisplayMnu"), true}) {}

QString frmReg::registerName(int r, int32_t n, bool atLoad) {
    if (SymbolFilePath.isEmpty()) {
        Text1[r]->setText(QStringLiteral("0"));
        return QStringLiteral("reg_") + QString::number(n);
    }
    QString name;
    if (FindSymbolName(SymRegisters, NumberCriteria(n), name)) return name;
    if (atLoad) Text1[r]->setText(QStringLiteral("0"));
    // The second register snapshot names every row at load, but only the
    // first eight registers on a page change.
    if ((atLoad || n <= 8) && FindSymbolName(SymRegisters2, NumberCriteria(n), name)) return name;
    return QStringLiteral("reg_") + QString::number(n);
}

void frmReg::loadPage() {
    Text2->setText(QStringLiteral("1"));
    setHexView(false);
    for (int r = 0; r < 16; ++r) {
        Label1[r]->setText(registerName(r, r + 1, true));
        Label2[r]->setText(QString::number(r + 1) + QLatin1Char(' '));
    }
    VScroll1->setMaximum(std::max(1, RegisterLimit - 8015));
}

void frmReg::fillRow(int r, int n) {
    Label1[r]->setText(registerName(r, n, false));
    Label2[r]->setText(QString::number(n));
}

void frmReg::Text1_KeyPress(int index, int &keyAscii) {
    if (typingKey(keyAscii, 'R', Text1[index], HexView, [&] { writeEntry(index); }) && !RegEditInProgress)
        StartEntry(RegEditInProgress, RegEditIndex, Text1[index], index);
}

void frmReg::Text1_KeyDown(int index, int &keyCode, int) {
    if (keyCode == KeyCodes::Delete) StartEntry(RegEditInProgress, RegEditIndex, Text1[index], index);
}

void frmReg::Text1_LostFocus(int index) { AbandonEntry(RegEditInProgress, Text1[index]); }

void frmReg::writeEntry(int index) {
    const int32_t reg = VScroll1->value() + index;
    const QString field = QStringLiteral("Register #") + QString::number(reg);
    // A number the register cannot hold is not written: the entry goes on.
    const auto value = typedValue(Text1[index], field);
    if (!value) return;
    ReportWrite([&] { return OrvComm::ZqPutRegister(ConnectionHandle, reg, *value); }, field + QStringLiteral(" updated."),
                QStringLiteral("Failed to update register value!"), Text1[index]);
    EmptyDdeRegisterWrite();
    RegEditInProgress = false;
}

void frmReg::Command1_Click() {
    frmRegbits &bits = form<frmRegbits>();
    bits.Show();
    bits.Option1->setChecked(true);
    bits.Text1[0]->setFocus();
}

// ---- frmRam ------------------------------------------------------------------------

namespace {
ResourceWindow::Traits ramTraits() {
    return {{QStringLiteral("NVram"), QStringLiteral("Register"), {1668, 924, 4956, 5000}, {1668, 924, 4956, 5000},
             {1200, 924, 4956, 3828}},
            &RamWindowOpen, QStringLiteral("NVRegisters Form unloaded."), true, QStringLiteral("ORVram")};
}
}  // namespace

frmRam::frmRam()
    : RegisterWindow(QStringLiteral("frmRam"), ramTraits(),
                     {QStringLiteral("RegType"), QStringLiteral("DisplayMenu"), false}) {}

QString frmRam::registerName(int32_t n) {
    QString name;
    if (FindSymbolName(SymRegisters, NumberCriteria(n), name)) return name;
    return QStringLiteral("reg_") + QString::number(n);
}

void frmRam::loadPage() {
    Text2->setText(QStringLiteral("32001"));
    setHexView(false);
    for (int r = 0; r < 16; ++r) fillRow(r, r + 1);
    VScroll1->setMaximum(15985);
}

void frmRam::fillRow(int r, int n) {
    Label1[r]->setText(registerName(32000 + n));
    Label2[r]->setText(QString::number(32000 + n));
}

void frmRam::Command1_Click() {
    frmRegbits &bits = form<frmRegbits>();
    bits.Show();
    bits.Option2->setChecked(true);
    bits.Text1[0]->setFocus();
}

void frmRam::Text1_KeyPress(int index, int &keyAscii) {
    RamEditIndex = static_cast<int16_t>(index);
    // A V-register is typed in decimal in either view.
    const bool hex = HexView && !(ControllerModel == 5 && 32000 + VScroll1->value() + index > 36000);
    if (typingKey(keyAscii, 'N', Text1[index], hex, [&] { writeEntry(index); }) && !RamEditInProgress)
        StartEntry(RamEditInProgress, RamEditIndex, Text1[index], index);
}

void frmRam::Text1_KeyDown(int index, int &keyCode, int) {
    // The row is recorded here too: left to the next key, the polling loop
    // would refill this box meanwhile, and that key would be added to the
    // refilled value instead of starting a new one.
    if (keyCode == KeyCodes::Delete) StartEntry(RamEditInProgress, RamEditIndex, Text1[index], index);
}

void frmRam::Text1_LostFocus(int index) { AbandonEntry(RamEditInProgress, Text1[index]); }

void frmRam::writeEntry(int index) {
    const QString text = Text1[index]->text();
    const int32_t reg = 32000 + VScroll1->value() + index;
    const QString field = QStringLiteral("Register #") + QString::number(reg);
    const bool vRegister = ControllerModel == 5 && reg > 36000;
    // A number the register cannot hold is not written: the entry goes on.
    const auto value = vRegister ? std::optional<int32_t>(0) : typedValue(Text1[index], field);
    if (!value) return;
    VRegRecord = OrvComm::ZQ_VREGISTER{};
    VRegRecord.type = 16;
    VRegRecord.headerA = 6;
    const QString done = field + QStringLiteral(" updated.");
    const QString failed = QStringLiteral("Failed to update register value!");
    if (vRegister) {
        // A V-register holds a floating-point value, typed in decimal in
        // either view.
        VRegRecord.number = reg;
        VRegRecord.doubleValue = leadingNumber(text);
        ReportWrite([&] { return OrvComm::ZqSetVRegister(ConnectionHandle, &VRegRecord); }, done, failed,
                    Text1[index]);
    } else {
        ReportWrite([&] { return OrvComm::ZqPutRegister(ConnectionHandle, reg, *value); }, done, failed, Text1[index]);
    }
    RamEditInProgress = false;
}
