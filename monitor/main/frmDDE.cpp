#include "main/frmDDE.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>

#include "core/basics.h"
#include "core/dde.h"
#include "core/globals.h"
#include "core/link.h"
#include "core/shownvalue.h"
#include "main/frmMain.h"
#include "windows/resourcewindow.h"

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

// A write box holds a number only when its whole text is one (blanks
// aside): junk is refused rather than read as 0.
bool isNumberText(QString text) {
    text.remove(QRegularExpression(QStringLiteral("[ \\t\\r\\n]")));
    static const QRegularExpression number(
        QStringLiteral("^(?:[+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eEdD][+-]?[0-9]+)?|&[hH][0-9a-fA-F]+|&[oO]?[0-7]+)$"));
    return number.match(text).hasMatch();
}

// The highest numbers the controller's requests carry: a register number
// travels in 16 bits, a flag number in a byte (less one). Anything higher
// would reach another item. The 50-register item reads the first 20 blocks.
constexpr int32_t RequestHighestRegister = 65535;
constexpr int32_t RequestHighestFlag = 256;
constexpr int32_t HighestBlock50 = 20;
constexpr int32_t HighestNode = 999;

// The highest register and flag of the controller, as far as its model and
// the requests allow: the register map ends at RegisterLimit, and an
// identified controller has NumFlags flags.
int32_t highestRegister() {
    return RegisterLimit > 0 ? std::min(RegisterLimit, RequestHighestRegister) : RequestHighestRegister;
}
int32_t highestFlag() {
    return ControllerIdentified ? std::clamp<int32_t>(NumFlags, 0, RequestHighestFlag) : RequestHighestFlag;
}

QString quoted(const QString &text) { return QStringLiteral("\"") + text + QStringLiteral("\""); }

// Empties a box without running its change rule.
void emptyQuietly(QLineEdit *box) {
    const QSignalBlocker block(box);
    box->clear();
}

}  // namespace

frmDDE::frmDDE() : Form(QStringLiteral("frmDDE")) {
    setLinkTopic(QStringLiteral("DDEsetup"));
    // The items the polling loop fills: a client's request for one of them
    // waits for a refresh after serving comes on or an address changes.
    DdeRefreshedItems items;
    items.topic = QStringLiteral("DDEsetup");
    items.refreshed = [](const QString &item) {
        if (DdeServing == 0) return false;
        const QString name = item.toLower();
        static const QRegularExpression polled(
            QStringLiteral("^(?:flagvalue\\(([1-9]|[12][0-9]|3[0-2])\\)|label1\\([2-5]\\)|regread|"
                           "regvalue\\(([1-9]|[1-4][0-9]|50)\\)|blockread\\(([1-9]|1[0-6])\\))$"));
        return polled.match(name).hasMatch();
    };
    // A few ticks, and within the time the command-line client waits.
    items.waitMs = [] { return std::clamp(3 * DdeUpdateMs + 1000, 1000, 4000); };
    // While the link is down the items show "*", and a request gets that at once.
    items.unavailable = [] { return !controllerLink().up(); };
    items.whyNone = [] {
        if (const QString why = controllerLink().whyNot(); !why.isEmpty()) return why;
        if (DdeServing == 0) return QStringLiteral("DDE serving is off");
        return QStringLiteral("the values were not refreshed in time");
    };
    DdeServer::instance().setRefreshedItems(std::move(items));
}

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
        editRules(BlockAddress[k], Box::BlockAddress);
        editRules(BlockWrite[k], Box::Other);
        // A new register number: its read value is no longer current.
        connect(BlockAddress[k], &QLineEdit::textChanged, this, [] { DdeServer::instance().itemsStale(); });
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

void frmDDE::setServing(bool on) {
    const bool was = DdeServing != 0;
    DdeServing = on ? DdeTrue : 0;
    if (on && !was) DdeServer::instance().itemsStale();
    showServing(on);
}

void frmDDE::LinkOpen() {
    ++links_;
    if (DdeServing != 0) return;  // already on: the link leaves it to whoever switched it on
    heldByLinks_ = true;
    setServing(true);
}

void frmDDE::LinkClose() {
    if (links_ > 0) --links_;
    if (links_ > 0 || !heldByLinks_) return;
    // The last of the links that switched serving on has gone.
    heldByLinks_ = false;
    setServing(false);
}

void frmDDE::serveByHand(bool on) {
    heldByLinks_ = false;
    setServing(on);
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
        if (c == QStringLiteral("START")) {
            Command3d1_Click();
        } else if (c == QStringLiteral("EXIT")) {
            Command3d2_Click();
        } else if (c == QStringLiteral("DOWNLOAD")) {
            // The client learns that the rows wait, or why a row was not written.
            QString why = frmMain::whyNoController();
            if (why.isEmpty()) why = BlockWriteRows();
            if (!why.isEmpty()) refuseLink(cancel, why.replace(QChar(10), QStringLiteral(": ")));
        } else {
            cancel = -1;
        }
    } catch (const std::exception &) {
        // A command that fails ends quietly.
    }
}

void frmDDE::Form_LinkPoke(QLineEdit *box, const QString &text, int16_t &cancel) {
    if (const QString why = addressRefusal(box, text); !why.isEmpty()) {
        refuseLink(cancel, why);
        return;
    }
    Form::Form_LinkPoke(box, text, cancel);
}

void frmDDE::Command3d1_Click() {
    // Switched by hand: links no longer switch it off.
    heldByLinks_ = false;
    setServing(DdeServing == 0);
}

void frmDDE::Command3d2_Click() { Hide(); }

void frmDDE::Command3d3_Click() { BlockWriteRows(); }

// ---- Editing -------------------------------------------------------------------------------

void frmDDE::editRules(QLineEdit *box, Box kind) {
    onKeyPress(box, [this, box, kind](int &k) {
        if (k == 13) {
            if (kind == Box::BlockAddress && DdeWriteSuppress) commitAddress(box);
            commitOnEnter(kind, k);
            // Text typed into the read box is written nowhere: its value is back.
            ShownValue::restore(box);
            return;
        }
        if (DdeWriteSuppress) return;
        // The first key starts a fresh entry.
        DdeWriteSuppress = true;
        textBeforeEdit_ = box->text();
        if (box == RegRead) ShownValue::beginEntry(box);
        box->clear();
        if (kind == Box::FlagAddress || kind == Box::RegAddress || kind == Box::Reg50Address) serveByHand(false);
    });
    onLostFocus(box, [this, box, kind] {
        if (!DdeWriteSuppress) return;
        if (kind == Box::BlockAddress) commitAddress(box);
        commitOnLeave(kind);
        ShownValue::restore(box);
    });
    if (kind != Box::Other) {
        connect(box, &QLineEdit::textChanged, this, [this, kind] {
            if (!DdeWriteSuppress) changed(kind);
        });
    }
}

// ---- Addresses ---------------------------------------------------------------------------

std::optional<frmDDE::AddressKind> frmDDE::addressKind(const QLineEdit *box) const {
    if (box == FlagAddress)
        return AddressKind{QStringLiteral("flag"), QStringLiteral("flags"), highestFlag(), BoxBits::Bits16, true};
    if (box == Reg50Address)
        return AddressKind{QStringLiteral("50-register block"), QStringLiteral("50-register blocks"), HighestBlock50,
                           BoxBits::Bits32, true};
    if (box == RegAddress || std::find(BlockAddress.begin(), BlockAddress.end(), box) != BlockAddress.end())
        return AddressKind{QStringLiteral("register"), QStringLiteral("registers"), highestRegister(),
                           BoxBits::Bits32, true};
    if (box == DDENode)
        return AddressKind{QStringLiteral("node"), QStringLiteral("nodes"), HighestNode, BoxBits::Bits32, false};
    return std::nullopt;
}

QString frmDDE::addressRefusal(const QLineEdit *box, const QString &text) const {
    const auto kind = addressKind(box);
    if (!kind) return QString();
    // 0, a negative number or no number at all switches an item off.
    const double n = std::nearbyint(leadingNumber(text));
    const bool carried = n <= kind->highest && roundToWhole(n, kind->bits);
    if (carried && (kind->offBelowOne || n >= 1)) return QString();
    return QStringLiteral("there is no %1 %2: %3 are numbered 1 to %4")
        .arg(kind->noun, text.trimmed(), kind->plural)
        .arg(kind->highest);
}

std::optional<double> frmDDE::itemAddress(const QLineEdit *box) const {
    const auto kind = addressKind(box);
    const double v = leadingNumber(box->text());
    if (kind && v > 0 && std::nearbyint(v) <= kind->highest) return v;
    return std::nullopt;
}

// A typed address that the controller does not have: the reason in the
// status line, and the box's address from before the entry back. True when
// the typed address stands.
bool frmDDE::commitAddress(QLineEdit *box) {
    const QString why = addressRefusal(box, box->text());
    if (why.isEmpty()) return true;
    status(why.left(1).toUpper() + why.mid(1) + QLatin1Char('.'));
    // Enter without typing first commits the address the box holds.
    if (DdeWriteSuppress) box->setText(textBeforeEdit_);
    return false;
}

// A register number of an address box that a write can carry; otherwise
// the reason in the status line and nullopt.
std::optional<int32_t> frmDDE::registerToWrite(const QLineEdit *box) {
    const QString text = box->text().trimmed();
    if (!isNumberText(text)) {
        status(RegisterFailed + QChar(10) + quoted(text) + QStringLiteral(" is not a register number."));
        return std::nullopt;
    }
    const auto reg = box32(box);
    if (!reg || *reg < 1 || *reg > highestRegister()) {
        status(RegisterFailed + QChar(10) + QStringLiteral("There is no register ") + text +
               QStringLiteral(": registers are numbered 1 to %1.").arg(highestRegister()));
        return std::nullopt;
    }
    return reg;
}

// The number of a write box, when its text is one and fits the width;
// otherwise the reason after the failure text and nullopt.
std::optional<int32_t> frmDDE::valueToWrite(const QLineEdit *box, BoxBits bits, const QString &failed) {
    const QString text = box->text().trimmed();
    if (!isNumberText(text)) {
        status(failed + QChar(10) + quoted(text) + QStringLiteral(" is not a number."));
        return std::nullopt;
    }
    const auto value = tryBoxNumber(text, bits);
    if (!value) status(failed + QChar(10) + text + QStringLiteral(" is too large."));
    return value;
}

void frmDDE::commitOnEnter(Box kind, int &keyAscii) {
    if (kind == Box::FlagWrite && NoComm) return;  // not swallowed; the edit goes on
    keyAscii = 0;
    switch (kind) {
    case Box::FlagAddress: commitFlagAddress(); break;
    case Box::RegAddress: commitRegAddress(); break;
    case Box::Reg50Address: commitReg50Address(); break;
    case Box::FlagWrite: {
        if (!isNumberText(FlagWrite->text())) {
            valueToWrite(FlagWrite, BoxBits::Bits16, FlagFailed);  // says why
            break;
        }
        const double n = boxValue(FlagWrite);
        writeFlag(n < 0 ? 0 : n > 1 ? 1 : int32_t(n));
        break;
    }
    case Box::RegWrite: commitRegWrite(); break;
    case Box::DDENode:
        if (commitAddress(DDENode)) {
            TargetNode = int32_t(boxValue(DDENode));
            controllerLink().markReconnecting();
        }
        break;
    case Box::BlockAddress:
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
        if (const auto value = valueToWrite(FlagWrite, BoxBits::Bits16, FlagFailed)) writeFlag(*value);
        break;
    case Box::RegWrite: commitRegWrite(); break;
    case Box::DDENode:
        // Leaving applies no node: the box shows the one in force again.
        DDENode->setText(textBeforeEdit_);
        break;
    case Box::BlockAddress:
    case Box::Other: break;
    }
    DdeWriteSuppress = false;
}

// A committed address box: an address the controller has stands (one below
// 0 reads 0, the item off); any other is refused and the address from
// before the entry stays. The box's number.
int32_t frmDDE::committedAddress(QLineEdit *box) {
    if (commitAddress(box) && boxValue(box) < 0) box->setText(QStringLiteral("0"));
    return box32(box).value_or(0);
}

void frmDDE::commitFlagAddress() {
    DdeServer::instance().itemsStale();
    DdeFlagAddress = committedAddress(FlagAddress);
    serveByHand(true);
}

void frmDDE::commitRegAddress() {
    DdeServer::instance().itemsStale();
    DdeRegisterAddress = committedAddress(RegAddress);
    serveByHand(true);
}

void frmDDE::commitReg50Address() {
    DdeServer::instance().itemsStale();
    DdeBlock50Address = committedAddress(Reg50Address);
    if (DdeBlock50Address >= 1) renumberRows();
    serveByHand(true);
}

void frmDDE::commitRegWrite() {
    const auto reg = registerToWrite(RegAddress);
    if (!reg) return;
    if (const auto value = valueToWrite(RegWrite, BoxBits::Bits32, RegisterFailed)) writeRegister(*reg, *value);
}

void frmDDE::renumberRows() {
    for (int k = 0; k < 10; ++k) Label2[k]->setText(num((int64_t(DdeBlock50Address) - 1) * 50 + 5 * k + 1));
}

// ---- Changes of a box's text (pokes and the program's own writes) -----------------------

void frmDDE::changed(Box kind) {
    switch (kind) {
    case Box::FlagAddress:
        DdeServer::instance().itemsStale();
        // A number that a flag number cannot hold is refused.
        if (const auto v = box16(FlagAddress)) DdeFlagAddress = *v;
        break;
    case Box::RegAddress:
        DdeServer::instance().itemsStale();
        if (const auto v = box32(RegAddress)) DdeRegisterAddress = *v;
        break;
    case Box::Reg50Address:
        DdeServer::instance().itemsStale();
        if (const auto v = box32(Reg50Address)) {
            DdeBlock50Address = *v;
            if (DdeBlock50Address >= 1) renumberRows();
        }
        break;
    case Box::FlagWrite: {
        if (NoComm) break;
        const auto flag = box16(FlagAddress);
        if (!flag || *flag < 1 || *flag > NumFlags) {
            emptyQuietly(FlagWrite);
            break;
        }
        const auto value = valueToWrite(FlagWrite, BoxBits::Bits16, FlagFailed);
        if (!value) break;
        if (OrvCommCall([&] { return OrvComm::ZqPutRegister(ConnectionHandle, FlagWriteBase + *flag, *value); }) != 1)
            writeFailed(FlagFailed);
        break;
    }
    case Box::RegWrite: {
        const auto reg = box32(RegAddress);
        if (!reg || *reg < 1 || *reg > highestRegister()) {
            emptyQuietly(RegWrite);
            break;
        }
        if (const auto value = valueToWrite(RegWrite, BoxBits::Bits32, RegisterFailed)) writeRegister(*reg, *value);
        break;
    }
    case Box::DDENode: {
        const double n = boxValue(DDENode);
        if (n >= 1 && n <= HighestNode) {
            TargetNode = int32_t(n);
            DDENode->setEnabled(true);
            controllerLink().markReconnecting();
        }
        break;
    }
    case Box::BlockAddress:
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
        writeFailed(FlagFailed);
}

void frmDDE::writeRegister(int32_t reg, int32_t value) {
    if (OrvCommCall([&] { return OrvComm::ZqPutRegister(ConnectionHandle, reg, value); }) != 1)
        writeFailed(RegisterFailed);
}

void frmDDE::writeFailed(const QString &words) {
    // Why the link could not carry it, or the library's reason.
    // A write that got no answer may still have been carried out.
    const QString refused = LinkRefusal(words);
    status(refused.isEmpty() ? controllerLink().failedWrite(words, ConnectionHandle).text : refused);
}

QString frmDDE::BlockWriteRows() {
    problem_.clear();
    for (int i = 1; i <= 16; ++i) {
        if (BlockWrite[i]->text().isEmpty() || NoComm) continue;
        // A row that cannot be written as it stands is refused and keeps
        // its text; a row that was sent is emptied, written or not.
        const auto reg = registerToWrite(BlockAddress[i]);
        if (!reg) continue;
        const auto value = valueToWrite(BlockWrite[i], BoxBits::Bits32, RegisterFailed);
        if (!value) continue;
        writeRegister(*reg, *value);
        BlockWrite[i]->clear();
    }
    return problem_;
}

void frmDDE::status(const QString &text) {
    problem_ = text;
    frmMain &main = form<frmMain>();
    main.Message->setText(text);
    main.RefreshMessage();
}
