#include "main/frmDDE.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>

#include "core/basics.h"
#include "core/globals.h"
#include "main/frmMain.h"

namespace {

constexpr int32_t DdeTrue = -1;
constexpr int32_t FlagWriteBase = 13200;
const QString FlagFailed = QStringLiteral("Failed to update Flag value!");
const QString RegisterFailed = QStringLiteral("Failed to update register value!");

QString num(int64_t v) { return QString::number(v); }

// A box's number, rounded to a whole number (halves to even), not yet
// narrowed to a width.
double boxValue(const QLineEdit *box) { return std::nearbyint(leadingNumber(box->text())); }

std::optional<int32_t> box16(const QLineEdit *box) { return tryBoxNumber(box->text(), BoxBits::Bits16); }
std::optional<int32_t> box32(const QLineEdit *box) { return tryBoxNumber(box->text(), BoxBits::Bits32); }

// A library call; a run-time error of the binding counts as a failed call.
template <class F> int32_t OrvCommCall(F &&f) try { return f(); } catch (const std::exception &) { return 0; }

// Empties a box without running its change rule.
void emptyQuietly(QLineEdit *box) {
    const QSignalBlocker block(box);
    box->clear();
}

}  // namespace

frmDDE::frmDDE() : Form(QStringLiteral("frmDDE")) { setLinkTopic(QStringLiteral("DDEsetup")); }

// ---- Controls -------------------------------------------------------------------

void frmDDE::buildControls() {
    static const char *const captions[16] = {
        "Flag Write Address:", "Flag Write Data:",   "Flag 1:",           "Flag 9:",
        "Flag 17:",            "Flag 25:",           "Register Write Address:", "Register Write Data:",
        "Register Read Data:", "50 Reg Read Address:", "Register Values:", "Reg#:",
        "Write Value:",        "Read Value:",        "Network Node Number:", "Update Interval (ms):"};
    for (int i = 0; i < 16; ++i)
        Label1[i] = named(new QLabel(QString::fromLatin1(captions[i]), this), QStringLiteral("Label1"), i);

    auto *outer = new QVBoxLayout(this);
    SSTab1 = named(new QTabWidget(this), QStringLiteral("SSTab1"));
    auto *flagPage = new QWidget(SSTab1);
    auto *blockPage = new QWidget(SSTab1);
    SSTab1->addTab(flagPage, QStringLiteral("&Flag Register Configuration"));
    SSTab1->addTab(blockPage, QStringLiteral("&Block Write Configuration"));
    buildFlagPage(flagPage);
    buildBlockPage(blockPage);
    outer->addWidget(SSTab1);

    Message = named(new QLabel(QStringLiteral("No Controller Communication in progress"), this), QStringLiteral("Message"));
    outer->addWidget(Message);
    auto *buttons = new QHBoxLayout;
    Command3d1 = named(new SSCommand(QStringLiteral("Start DDE"), this), QStringLiteral("Command3d1"));
    Command3d2 = named(new SSCommand(QStringLiteral("E&xit"), this), QStringLiteral("Command3d2"));
    Command3d3 = named(new SSCommand(QStringLiteral("&Write Block Data"), this), QStringLiteral("Command3d3"));
    buttons->addWidget(Command3d1);
    buttons->addWidget(Command3d3);
    buttons->addWidget(Command3d2);
    outer->addLayout(buttons);
    connect(Command3d1, &QPushButton::clicked, this, [this] { Command3d1_Click(); });
    connect(Command3d2, &QPushButton::clicked, this, [this] { Command3d2_Click(); });
    connect(Command3d3, &QPushButton::clicked, this, [this] { Command3d3_Click(); });

    WriteBox = named(new QLineEdit(QStringLiteral("0"), this), QStringLiteral("WriteBox"));
    WriteBox->hide();

    editRules(FlagAddress, Box::FlagAddress);
    editRules(FlagWrite, Box::FlagWrite);
    editRules(RegAddress, Box::RegAddress);
    editRules(RegWrite, Box::RegWrite);
    editRules(RegRead, Box::Other);
    editRules(Reg50Address, Box::Reg50Address);
    editRules(DDENode, Box::DDENode);
    editRules(WriteBox, Box::Other);
    for (int k = 0; k < 17; ++k) {
        editRules(BlockAddress[k], Box::Other);
        editRules(BlockWrite[k], Box::Other);
    }
    connect(WriteBox, &QLineEdit::textChanged, this, [this] {
        if (DdeWriteSuppress) return;
        BlockWriteRows();
        WriteBox->setText(QStringLiteral("0"));
    });

    setCaption(QStringLiteral("DDE Configuration"));
}

void frmDDE::buildFlagPage(QWidget *page) {
    auto *g = new QGridLayout(page);
    FlagAddress = named(new QLineEdit(page), QStringLiteral("FlagAddress"));
    FlagWrite = named(new QLineEdit(page), QStringLiteral("FlagWrite"));
    RegAddress = named(new QLineEdit(page), QStringLiteral("RegAddress"));
    RegWrite = named(new QLineEdit(page), QStringLiteral("RegWrite"));
    RegRead = named(new QLineEdit(QStringLiteral("0"), page), QStringLiteral("RegRead"));
    Reg50Address = named(new QLineEdit(page), QStringLiteral("Reg50Address"));

    int row = 0;
    g->addWidget(Label1[0], row, 0);
    g->addWidget(FlagAddress, row, 1);
    g->addWidget(Label1[1], row, 2);
    g->addWidget(FlagWrite, row++, 3);
    // Four groups of eight flags, each under its heading.
    FlagValue[0] = named(new QLabel(QStringLiteral("0"), page), QStringLiteral("FlagValue"), 0);
    FlagValue[0]->hide();
    for (int group = 0; group < 4; ++group) {
        auto *line = new QHBoxLayout;
        line->addWidget(Label1[2 + group]);
        for (int j = 1; j <= 8; ++j) {
            const int i = group * 8 + j;
            FlagValue[i] = named(new QLabel(QStringLiteral("0"), page), QStringLiteral("FlagValue"), i);
            line->addWidget(FlagValue[i]);
        }
        line->addStretch();
        g->addLayout(line, row++, 0, 1, 4);
    }
    g->addWidget(Label1[6], row, 0);
    g->addWidget(RegAddress, row, 1);
    g->addWidget(Label1[7], row, 2);
    g->addWidget(RegWrite, row++, 3);
    g->addWidget(Label1[8], row, 0);
    g->addWidget(RegRead, row++, 1);
    g->addWidget(Label1[9], row, 0);
    g->addWidget(Reg50Address, row++, 1);
    g->addWidget(Label1[10], row++, 0, 1, 4);
    // Ten rows of five values, each row under its heading.
    RegValue[0] = named(new QLabel(QStringLiteral("0"), page), QStringLiteral("RegValue"), 0);
    RegValue[0]->hide();
    for (int k = 0; k < 10; ++k) {
        auto *line = new QHBoxLayout;
        Label2[k] = named(new QLabel(page), QStringLiteral("Label2"), k);
        line->addWidget(Label2[k]);
        for (int j = 1; j <= 5; ++j) {
            const int i = k * 5 + j;
            RegValue[i] = named(new QLabel(QStringLiteral("0"), page), QStringLiteral("RegValue"), i);
            line->addWidget(RegValue[i]);
        }
        line->addStretch();
        g->addLayout(line, row++, 0, 1, 4);
    }
}

void frmDDE::buildBlockPage(QWidget *page) {
    auto *g = new QGridLayout(page);
    g->addWidget(Label1[11], 0, 0);
    g->addWidget(Label1[12], 0, 1);
    g->addWidget(Label1[13], 0, 2);
    for (int k = 0; k < 17; ++k) {
        BlockAddress[k] = named(new QLineEdit(page), QStringLiteral("BlockAddress"), k);
        BlockWrite[k] = named(new QLineEdit(page), QStringLiteral("BlockWrite"), k);
        BlockRead[k] = named(new QLabel(QStringLiteral("0"), page), QStringLiteral("BlockRead"), k);
        if (k == 0) {
            // Row 0 is an item like the others but is never written or shown.
            BlockAddress[k]->hide();
            BlockWrite[k]->hide();
            BlockRead[k]->hide();
            continue;
        }
        g->addWidget(BlockAddress[k], k, 0);
        g->addWidget(BlockWrite[k], k, 1);
        g->addWidget(BlockRead[k], k, 2);
    }
    DDENode = named(new QLineEdit(page), QStringLiteral("DDENode"));
    HScroll1 = named(new QScrollBar(Qt::Horizontal, page), QStringLiteral("HScroll1"));
    HScroll1->setRange(10, 32000);
    HScroll1->setSingleStep(25);
    HScroll1->setPageStep(100);
    HScroll1->setTracking(false);
    DdeInterval = named(new QLabel(page), QStringLiteral("DdeInterval"));
    g->addWidget(Label1[14], 17, 0);
    g->addWidget(DDENode, 17, 1);
    g->addWidget(Label1[15], 18, 0);
    g->addWidget(DdeInterval, 18, 1);
    g->addWidget(HScroll1, 19, 0, 1, 3);
    connect(HScroll1, &QScrollBar::valueChanged, this, [this](int value) {
        DdeInterval->setText(num(value));
        DdeUpdateMs = value;
        form<frmMain>().Timer1->setInterval(value);
    });
}

// ---- Load and unload ------------------------------------------------------------------

void frmDDE::Form_Load() {
    // The window as it is designed, so that the values below arrive as
    // changes, the way they do in a new window.
    setCaption(QStringLiteral("DDE Configuration"));
    for (int g = 0; g < 4; ++g) Label1[2 + g]->setText(QStringLiteral("Flag %1:").arg(g * 8 + 1));
    for (int k = 0; k < 10; ++k) Label2[k]->setText(QStringLiteral("Reg %1:").arg(5 * k + 1));
    for (QLineEdit *box : {FlagAddress, RegAddress, Reg50Address, DDENode}) emptyQuietly(box);
    {
        const QSignalBlocker block(HScroll1);
        HScroll1->setValue(HScroll1->minimum());
    }

    for (QLabel *l : FlagValue) l->setText(QStringLiteral("0"));
    for (QLabel *l : RegValue) l->setText(QStringLiteral("0"));
    for (int k = 0; k < 17; ++k) {
        BlockRead[k]->setText(QStringLiteral("0"));
        BlockAddress[k]->setText(num(k));
        BlockWrite[k]->clear();
    }

    FlagAddress->setText(num(DdeFlagAddress));
    RegAddress->setText(num(DdeRegisterAddress));
    Reg50Address->setText(num(DdeBlock50Address));
    DdeInterval->setText(num(DdeUpdateMs));
    // The scroll bar holds 10..32000; an interval outside takes the nearer end.
    HScroll1->setValue(std::clamp(DdeUpdateMs, HScroll1->minimum(), HScroll1->maximum()));

    showServing(DdeServing != 0);

    DDENode->setText(num(TargetNode));
    DDENode->setEnabled(CommPort == 0);
}

void frmDDE::Form_Unload(int &) {
    // The main window stores the DDE settings; nothing is kept here.
    hide();
}

// ---- Serving -----------------------------------------------------------------------------

void frmDDE::showServing(bool on) {
    Message->setText(on ? QStringLiteral("Controller Communication in progress")
                        : QStringLiteral("No Controller Communication in progress"));
    Message->repaint();
    Command3d1->setCaption(on ? QStringLiteral("Cancel DDE") : QStringLiteral("Start DDE"));
}

void frmDDE::LinkOpen() {
    DdeServing = DdeTrue;
    showServing(true);
}

void frmDDE::LinkClose() {
    DdeServing = 0;
    showServing(false);
}

void frmDDE::Form_LinkOpen(int16_t &cancel) {
    cancel = 0;
    LinkOpen();
}

void frmDDE::Form_LinkClose() { LinkClose(); }

void frmDDE::Form_LinkExecute(const QString &command, int16_t &cancel) {
    cancel = 0;
    const QString c = command.toUpper();
    try {
        if (c == QStringLiteral("START")) Command3d1_Click();
        else if (c == QStringLiteral("EXIT")) Command3d2_Click();
        else if (c == QStringLiteral("DOWNLOAD")) Command3d3_Click();
        else cancel = -1;
    } catch (const std::exception &) {
        // A command that fails ends quietly.
    }
}

void frmDDE::Command3d1_Click() {
    if (DdeServing != 0) LinkClose();
    else LinkOpen();
}

void frmDDE::Command3d2_Click() { Hide(); }

void frmDDE::Command3d3_Click() { BlockWriteRows(); }

// ---- Editing -------------------------------------------------------------------------------

void frmDDE::editRules(QLineEdit *box, Box kind) {
    onKeyPress(box, [this, box, kind](int &k) {
        if (k == 13) {
            commitOnEnter(kind, k);
            return;
        }
        if (DdeWriteSuppress) return;
        // The first key starts a fresh entry.
        DdeWriteSuppress = true;
        box->clear();
        if (kind == Box::FlagAddress || kind == Box::RegAddress || kind == Box::Reg50Address) DdeServing = 0;
    });
    onLostFocus(box, [this, kind] {
        if (DdeWriteSuppress) commitOnLeave(kind);
    });
    if (kind != Box::Other) {
        connect(box, &QLineEdit::textChanged, this, [this, kind] {
            if (!DdeWriteSuppress) changed(kind);
        });
    }
}

void frmDDE::commitOnEnter(Box kind, int &keyAscii) {
    if (kind == Box::FlagWrite && NoComm) return;  // not swallowed; the edit goes on
    keyAscii = 0;
    switch (kind) {
    case Box::FlagAddress: commitFlagAddress(); break;
    case Box::RegAddress: commitRegAddress(); break;
    case Box::Reg50Address: commitReg50Address(); break;
    case Box::FlagWrite: {
        const double n = boxValue(FlagWrite);
        writeFlag(n < 0 ? 0 : n > 1 ? 1 : int32_t(n));
        break;
    }
    case Box::RegWrite: commitRegWrite(); break;
    case Box::DDENode: {
        const double n = boxValue(DDENode);
        if (n >= 1 && n <= 999) {
            TargetNode = int32_t(n);
            NoComm = true;
        }
        break;
    }
    case Box::Other: break;
    }
    DdeWriteSuppress = false;
}

void frmDDE::commitOnLeave(Box kind) {
    switch (kind) {
    case Box::FlagAddress: commitFlagAddress(); break;
    case Box::RegAddress: commitRegAddress(); break;
    case Box::Reg50Address: commitReg50Address(); break;
    case Box::FlagWrite:
        if (NoComm) return;  // the edit stays in progress
        if (const auto value = box16(FlagWrite)) writeFlag(*value);
        else status(FlagFailed);
        break;
    case Box::RegWrite: commitRegWrite(); break;
    case Box::DDENode:
    case Box::Other: break;
    }
    DdeWriteSuppress = false;
}

// Corrects a committed address box into 0..limit and gives its number.
int32_t frmDDE::limitBox(QLineEdit *box, int32_t limit) {
    const double n = boxValue(box);
    if (n < 0) box->setText(QStringLiteral("0"));
    else if (n > limit) box->setText(num(limit));
    return box32(box).value_or(0);
}

void frmDDE::commitFlagAddress() {
    DdeFlagAddress = limitBox(FlagAddress, NumFlags);
    DdeServing = DdeTrue;
}

void frmDDE::commitRegAddress() {
    DdeRegisterAddress = limitBox(RegAddress, RegisterLimit);
    DdeServing = DdeTrue;
}

void frmDDE::commitReg50Address() {
    DdeBlock50Address = limitBox(Reg50Address, 20);
    if (DdeBlock50Address >= 1) renumberRows();
    DdeServing = DdeTrue;
}

void frmDDE::commitRegWrite() {
    const auto reg = box32(RegAddress), value = box32(RegWrite);
    if (reg && value) writeRegister(*reg, *value);
    else status(RegisterFailed);
}

void frmDDE::renumberRows() {
    for (int k = 0; k < 10; ++k) Label2[k]->setText(num((int64_t(DdeBlock50Address) - 1) * 50 + 5 * k + 1));
}

// ---- Changes of a box's text (pokes and the program's own writes) -----------------------

void frmDDE::changed(Box kind) {
    switch (kind) {
    case Box::FlagAddress:
        // A number that a flag number cannot hold is refused.
        if (const auto v = box16(FlagAddress)) DdeFlagAddress = *v;
        break;
    case Box::RegAddress:
        if (const auto v = box32(RegAddress)) DdeRegisterAddress = *v;
        break;
    case Box::Reg50Address:
        if (const auto v = box32(Reg50Address)) {
            DdeBlock50Address = *v;
            if (DdeBlock50Address >= 1) renumberRows();
        }
        break;
    case Box::FlagWrite: {
        if (NoComm) break;
        const auto value = box16(FlagWrite), flag = box16(FlagAddress);
        if (!value || !flag || *flag < 1 || *flag > NumFlags) {
            emptyQuietly(FlagWrite);
            break;
        }
        if (OrvCommCall([&] { return OrvComm::ZqPutRegister(ConnectionHandle, FlagWriteBase + *flag, *value); }) != 1)
            status(FlagFailed);
        break;
    }
    case Box::RegWrite: {
        const auto value = box32(RegWrite), reg = box32(RegAddress);
        if (!value || !reg || *reg < 1 || *reg > RegisterLimit) {
            emptyQuietly(RegWrite);
            break;
        }
        writeRegister(*reg, *value);
        break;
    }
    case Box::DDENode: {
        const double n = boxValue(DDENode);
        if (n >= 1 && n <= 999) {
            TargetNode = int32_t(n);
            DDENode->setEnabled(true);
            NoComm = true;
        }
        break;
    }
    case Box::Other: break;
    }
}

// ---- Writes ----------------------------------------------------------------------------------

void frmDDE::writeFlag(int32_t value) {
    // Only a flag of the controller is written: another number would name
    // some other register.
    const auto flag = box16(FlagAddress);
    if (!flag || *flag < 1 || *flag > NumFlags) {
        status(FlagFailed);
        return;
    }
    if (OrvCommCall([&] { return OrvComm::ZqPutRegister(ConnectionHandle, FlagWriteBase + *flag, value); }) != 1)
        status(FlagFailed);
}

void frmDDE::writeRegister(int32_t reg, int32_t value) {
    if (OrvCommCall([&] { return OrvComm::ZqPutRegister(ConnectionHandle, reg, value); }) != 1)
        status(RegisterFailed);
}

void frmDDE::BlockWriteRows() {
    for (int i = 1; i <= 16; ++i) {
        if (BlockWrite[i]->text().isEmpty() || NoComm) continue;
        const auto reg = box32(BlockAddress[i]), value = box32(BlockWrite[i]);
        if (reg && value) writeRegister(*reg, *value);
        else status(RegisterFailed);
        BlockWrite[i]->clear();
    }
}

void frmDDE::status(const QString &text) {
    frmMain &main = form<frmMain>();
    main.Message->setText(text);
    main.RefreshMessage();
}
