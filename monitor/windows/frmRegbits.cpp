#include "windows/frmRegbits.h"

#include <QFontMetrics>
#include <QSignalBlocker>
#include <QStyle>
#include <cmath>

#include "core/basics.h"
#include "core/controls.h"
#include "core/shownvalue.h"
#include "core/textfit.h"

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
    reserveText(Text1[row], WidestRegisterValue);
    Text1[row]->setMaximumWidth(Text1[row]->minimumWidth());
    connect(Text1[row], &QLineEdit::textChanged, this, [this, row] { Text1_Change(row); });
    onKeyPress(Text1[row], [this, row](int &key) { Text1_KeyPress(row, key); });
    onKeyDown(Text1[row], [this, row](int &code, int shift) { Text1_KeyDown(row, code, shift); });
    onLostFocus(Text1[row], [this, row] { Text1_LostFocus(row); });
    // Grid row 0 holds the bit numbers.
    grid->addWidget(Text1[row], row + 1, column);
    auto *bits = new QHBoxLayout;
    bits->setSpacing(0);
    for (int bit = 31; bit >= 0; --bit) {
        const int i = 32 * row + bit;
        Bit1[i] = named(new QCheckBox(this), QStringLiteral("Bit1"), i);
        Bit1[i]->setToolTip(QString::number(bit));
        Bit1[i]->setFixedWidth(bitColumnWidth());
        connect(Bit1[i], &QCheckBox::clicked, this, [this, i] { Bit1_Click(i); });
        bits->addWidget(Bit1[i]);
        if (bit % 8 == 0 && bit > 0) bits->addSpacing(BitGroupGap);
    }
    bits->addStretch();
    grid->addLayout(bits, row + 1, column + 1);
}

int frmRegbits::bitColumnWidth() const {
    // As wide as a check box and as the widest bit number, whichever is more.
    QCheckBox probe;
    probe.setFont(font());
    return std::max(probe.sizeHint().width(), QFontMetrics(font()).horizontalAdvance(QStringLiteral("31")) + 4);
}

void frmRegbits::addHeader(QGridLayout *grid, int column) {
    // The bit numbers over the bit boxes: 31 at the left, 0 at the right,
    // the bytes set apart as the boxes are.
    auto *numbers = new QHBoxLayout;
    numbers->setSpacing(0);
    for (int bit = 31; bit >= 0; --bit) {
        BitNumber[bit] = named(new QLabel(QString::number(bit), this), QStringLiteral("BitNumber"), bit);
        // Centred over the box's square, which stands at the left of its column.
        const int square = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
        const int text = QFontMetrics(font()).horizontalAdvance(BitNumber[bit]->text());
        BitNumber[bit]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        BitNumber[bit]->setIndent(std::max(0, (square - text) / 2));
        BitNumber[bit]->setFixedWidth(bitColumnWidth());
        numbers->addWidget(BitNumber[bit]);
        if (bit % 8 == 0 && bit > 0) numbers->addSpacing(BitGroupGap);
    }
    numbers->addStretch();
    grid->addLayout(numbers, 0, column + 1);
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
    // No register is read yet.
    for (int r = 0; r < 16; ++r) {
        Text1[r]->setText(NoState);
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
    // The row showed a register of the page before.
    Text1[r]->setText(NoState);
}

void frmRegbits::selectRange(int32_t base, int maximum) {
    RegbitsBase = base;
    VScroll1->setValue(1);
    for (int r = 0; r < 16; ++r) {
        Text1[r]->setText(NoState);
        Label2[r]->setText(QString::number(base + r + 1));
    }
    VScroll1->setMaximum(maximum);
    Text2->setText(QString::number(base + 1));
}

void frmRegbits::Option1_Click() { selectRange(0, 24984); }
void frmRegbits::Option2_Click() { selectRange(32000, 3985); }

namespace {
// A row box that holds a value: anything but "*" (no value read) and an
// empty box (an entry just begun).
bool holdsValue(const QLineEdit *box) {
    const QString t = box->text().trimmed();
    return !t.isEmpty() && t != NoState;
}
}  // namespace

void frmRegbits::Text1_Change(int index) {
    if (RegbitsClickBusy || RegbitsWritePending) return;
    QLineEdit *box = Text1[index];
    double v = leadingNumber(box->text());
    RegbitsUpdating = true;
    // A typed value put right here stays the user's entry.
    const bool typed = box->isModified();
    bool known = holdsValue(box);
    if (v > 2147483648.0 || v < -2147483648.0) {
        // A number being typed stays as typed (Enter refuses it); one set
        // by the program reads 0.
        if (typed) {
            known = false;
        } else {
            const QSignalBlocker block(box);
            box->setText(QStringLiteral("0"));
            v = 0;
        }
    } else if (v == 2147483648.0) {
        const QSignalBlocker block(box);
        box->setText(QStringLiteral("-2147483648"));
        box->setModified(typed);
        v = -2147483648.0;
    }
    RegbitsValues[index] = v;
    showBits(index, known ? std::optional<uint32_t>(static_cast<uint32_t>(static_cast<int64_t>(std::nearbyint(v))))
                          : std::nullopt);
    RegbitsUpdating = false;
}

void frmRegbits::showBits(int row, std::optional<uint32_t> word) {
    for (int k = 0; k < 32; ++k) {
        QCheckBox *bit = Bit1[32 * row + k];
        // Without a value every box of the row shows neither state, and
        // takes no click: a click would add its bit to a value nobody saw.
        bit->setEnabled(word.has_value());
        if (word) {
            bit->setTristate(false);
            bit->setChecked(((*word >> k) & 1u) != 0);
        } else {
            bit->setCheckState(Qt::PartiallyChecked);
        }
    }
}

void frmRegbits::showAllBits() {
    for (int r = 0; r < 16; ++r) Text1_Change(r);
}

int32_t frmRegbits::bitsOfRow(int row) const {
    uint32_t word = 0;
    for (int k = 0; k < 32; ++k)
        if (Bit1[32 * row + k]->checkState() == Qt::Checked) word |= 1u << k;
    return static_cast<int32_t>(word);
}

void frmRegbits::writePendingClick() {
    const int32_t value =
        roundToWhole(RegbitsValues[size_t(std::clamp<int>(RegbitsRow, 1, 16) - 1)], BoxBits::Bits32).value_or(0);
    const int32_t reg = RegbitsWriteRegister;
    const WriteOutcome outcome =
        ReportWrite([&] { return OrvComm::ZqPutRegister(ConnectionHandle, reg, value); },
                    QStringLiteral("Register #") + QString::number(reg) + QStringLiteral(" updated."),
                    QStringLiteral("Failed to update register value!"));
    RegbitsEditInProgress = false;
    RegbitsWritePending = false;
    clickWriteEnded(outcome);
}

void frmRegbits::clickWriteEnded(WriteOutcome outcome) {
    const int row = std::clamp<int>(RegbitsRow, 1, 16) - 1;
    // The row still shows the register written: it shows what the
    // controller is known to hold.
    if (RegbitsBase + VScroll1->value() + row == RegbitsWriteRegister && outcome != WriteOutcome::Taken) {
        const QSignalBlocker block(Text1[row]);
        Text1[row]->setText(outcome == WriteOutcome::Refused && !clickBefore_.isEmpty() ? clickBefore_ : NoState);
    }
    clickBefore_.clear();
    // The boxes kept the clicked bits while the write waited.
    showAllBits();
}

void frmRegbits::Bit1_Click(int i) {
    if (RegbitsUpdating || RegbitsClickBusy) return;
    const int row = i / 32;
    const int bit = i % 32;
    const bool checked = Bit1[i]->checkState() == Qt::Checked;
    if (!holdsValue(Text1[row])) {
        // No value to change a bit of (the page changed while a click
        // waited): the box shows neither state again.
        RegbitsUpdating = true;
        Bit1[i]->setCheckState(Qt::PartiallyChecked);
        RegbitsUpdating = false;
        return;
    }
    RegbitsClickBusy = true;
    const int32_t reg = row + VScroll1->value() + RegbitsBase;
    // One click waits at a time. A click on another register writes the
    // waiting one first rather than letting the new one take its place.
    if (RegbitsWritePending && reg != RegbitsWriteRegister) {
        RegbitsClickBusy = false;
        writePendingClick();
        RegbitsClickBusy = true;
        // Written, refused or not known, the row may show another value
        // now: the click is taken on the value it shows.
        if (!holdsValue(Text1[row])) {
            RegbitsClickBusy = false;
            return;
        }
        RegbitsUpdating = true;
        Bit1[i]->setChecked(checked);
        RegbitsUpdating = false;
    }
    const double weight = bit == 31 ? Int32Low : std::ldexp(1.0, bit);
    double value = leadingNumber(Text1[row]->text()) + (checked ? weight : -weight);
    // A row text that no longer matches its boxes (typed while a click
    // waited) could take the sum out of the 32-bit range: the register then
    // takes the bits the boxes show.
    if (!roundToWhole(value, BoxBits::Bits32)) value = bitsOfRow(row);
    // The first click of a waiting write keeps what the row showed before.
    if (!RegbitsWritePending) clickBefore_ = Text1[row]->text();
    RegbitsRow = static_cast<int16_t>(row + 1);
    RegbitsValues[size_t(row)] = value;
    RegbitsWriteRegister = reg;
    Text1[row]->setText(QString::number(value, 'g', 15));
    RegbitsWritePending = true;
    RegbitsClickBusy = false;
}

void frmRegbits::Text1_KeyPress(int index, int &keyAscii) {
    // Bit clicks are ignored while a key is handled, and only then: a key
    // that changes nothing must not leave the bit boxes deaf.
    RegbitsUpdating = true;
    struct Done {
        ~Done() { RegbitsUpdating = false; }
    } done;
    if (typingKey(keyAscii, 'R', Text1[index], false, [&] { writeEntry(index); }) && !RegbitsEditInProgress)
        StartEntry(RegbitsEditInProgress, RegbitsEditIndex, Text1[index], index);
}

void frmRegbits::writeEntry(int index) {
    const int32_t reg = RegbitsBase + VScroll1->value() + index;
    const QString field = QStringLiteral("Register #") + QString::number(reg);
    const auto value = TypedValue(Text1[index], field, Int32Low, Int32High);
    if (!value) return;
    RegbitsValues[size_t(index)] = *value;
    ReportWrite([&] { return OrvComm::ZqPutRegister(ConnectionHandle, reg, *value); },
                field + QStringLiteral(" updated."), QStringLiteral("Failed to update register value!"), Text1[index]);
    EmptyDdeRegisterWrite();
    RegbitsEditInProgress = false;
}

void frmRegbits::Text1_KeyDown(int index, int &keyCode, int) {
    if (keyCode == KeyCodes::Delete) StartEntry(RegbitsEditInProgress, RegbitsEditIndex, Text1[index], index);
}

void frmRegbits::Text1_LostFocus(int index) { AbandonEntry(RegbitsEditInProgress, Text1[index]); }
