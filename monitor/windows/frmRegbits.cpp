#include "windows/frmRegbits.h"

#include <QSignalBlocker>
#include <cmath>

#include "core/basics.h"

frmRegbits::frmRegbits()
    : PagedWindow(QStringLiteral("frmRegbits"),
                  {{}, &RegbitsWindowOpen, QStringLiteral("Register Form unloaded."), true, QStringLiteral("ORVreg")},
                  {QStringLiteral("Text2"), QStringLiteral("GoTo:"), false, 16}) {}

void frmRegbits::buildControls() {
    PagedWindow::buildControls();
    Text2 = goToBox();
    setWindowTitle(QStringLiteral("ORV Registers (Bits)"));
    resize(640, 420);
    // Each tick of the original let pending window events run; returning to
    // the event loop between ticks does the same here.
    Timer1 = new FormTimer(this, QStringLiteral("Timer1"), 1, false);
}

void frmRegbits::addRowControls(QGridLayout *grid, int row, int column) {
    Text1[row] = named(new QLineEdit(this), QStringLiteral("Text1"), row);
    Text1[row]->setMaximumWidth(110);
    connect(Text1[row], &QLineEdit::textChanged, this, [this, row] { Text1_Change(row); });
    grid->addWidget(Text1[row], row, column);
    auto *bits = new QHBoxLayout;
    bits->setSpacing(0);
    for (int bit = 31; bit >= 0; --bit) {
        const int i = 32 * row + bit;
        Bit1[i] = named(new QCheckBox(this), QStringLiteral("Bit1"), i);
        Bit1[i]->setToolTip(QString::number(bit));
        bits->addWidget(Bit1[i]);
    }
    grid->addLayout(bits, row, column + 1);
}

void frmRegbits::addBottomControls(QHBoxLayout *bottom) {
    Option1 = named(new QRadioButton(QStringLiteral("Lower Regs"), this), QStringLiteral("Option1"));
    Option2 = named(new QRadioButton(QStringLiteral("Upper Regs"), this), QStringLiteral("Option2"));
    connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on) Option1_Click();
    });
    connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on) Option2_Click();
    });
    bottom->addWidget(Option1);
    bottom->addWidget(Option2);
}

void frmRegbits::loadPage() {
    RegbitsWindowOpen = true;
    RegbitsBase = 0;
    {
        const QSignalBlocker b1(Option1), b2(Option2);
        Option1->setChecked(true);
    }
    for (int r = 0; r < 16; ++r) {
        Text1[r]->setText(QStringLiteral("0"));
        Label2[r]->setText(QString::number(r + 1));
    }
    VScroll1->setMaximum(std::max(1, RegisterLimit - 8015));
    Text2->setText(QStringLiteral("1"));
    Timer1->setEnabled(true);
}

void frmRegbits::Form_Unload(int &) {
    trapUnload([this] {
        // A bit click still waiting is dropped: written later it would land
        // on a register the window no longer shows.
        RegbitsWritePending = false;
        RegbitsEditInProgress = false;
        Timer1->setEnabled(false);
        standardUnload();
    });
}

void frmRegbits::fillRow(int r, int n) {
    Label2[r]->setText(QString::number(RegbitsBase + n));
    if (SymbolFilePath.isEmpty()) Text1[r]->setText(QStringLiteral("0"));
}

void frmRegbits::selectRange(int32_t base, int maximum) {
    RegbitsBase = base;
    VScroll1->setValue(1);
    for (int r = 0; r < 16; ++r) {
        Text1[r]->setText(QStringLiteral("0"));
        Label2[r]->setText(QString::number(base + r + 1));
    }
    VScroll1->setMaximum(maximum);
    Text2->setText(QString::number(base + 1));
}

void frmRegbits::Option1_Click() { selectRange(0, 24984); }
void frmRegbits::Option2_Click() { selectRange(32000, 3985); }

void frmRegbits::Text1_Change(int index) {
    if (RegbitsClickBusy || RegbitsWritePending) return;
    double v = leadingNumber(Text1[index]->text());
    RegbitsUpdating = true;
    if (v > 2147483648.0 || v < -2147483648.0) {
        const QSignalBlocker block(Text1[index]);
        Text1[index]->setText(QStringLiteral("0"));
        v = 0;
    } else if (v == 2147483648.0) {
        const QSignalBlocker block(Text1[index]);
        Text1[index]->setText(QStringLiteral("-2147483648"));
        v = -2147483648.0;
    }
    RegbitsValues[index] = v;
    const auto word = static_cast<uint32_t>(static_cast<int64_t>(std::nearbyint(v)));
    for (int k = 0; k < 32; ++k) Bit1[32 * index + k]->setChecked(((word >> k) & 1u) != 0);
    RegbitsUpdating = false;
}
