#include "windows/analogwindows.h"

#include "core/controls.h"
#include "core/globals.h"
#include "core/shownvalue.h"
#include "core/textfit.h"

AnalogWindow::AnalogWindow(const QString &name, Traits traits, Kind kind)
    : PagedWindow(name, std::move(traits), {QStringLiteral("Text2"), QStringLiteral("GoTo :"), true, 4}),
      kind_(std::move(kind)) {}

void AnalogWindow::buildControls() {
    PagedWindow::buildControls();
    Text2 = goToBox();
}

void AnalogWindow::addRowControls(QGridLayout *grid, int row, int column) {
    Text1[row] = named(new QLineEdit(this), QStringLiteral("Text1"), row);
    Text1[row]->setReadOnly(kind_.readOnly);
    reserveText(Text1[row], WidestRegisterValue);
    if (!kind_.readOnly) {
        onKeyPress(Text1[row], [this, row](int &key) { Text1_KeyPress(row, key); });
        onLostFocus(Text1[row], [this, row] { Text1_LostFocus(row); });
    }
    grid->addWidget(Text1[row], row, column);
}

QString AnalogWindow::channelName(int32_t n, bool &found) {
    QString name;
    found = FindSymbolName(*kind_.symbols, NumberCriteria(n), name);
    return found ? name : kind_.prefix + QString::number(n);
}

void AnalogWindow::loadPage() {
    for (int r = 0; r < 16; ++r) {
        const int32_t n = r + 1;
        bool found = false;
        Label1[r]->setText(channelName(n, found));
        if (!found) {
            Text1[r]->clear();
            if (n > *kind_.count) {
                Label1[r]->setText(QStringLiteral("Not Present"));
                Text1[r]->setText(QStringLiteral("N/A"));
            }
        }
        Label2[r]->setText(QString::number(n));
    }
    VScroll1->setMaximum(241);
    Text2->setText(QStringLiteral("1"));
}

void AnalogWindow::fillRow(int r, int n) {
    bool found = false;
    Label1[r]->setText(channelName(n, found));
    Label2[r]->setText(QString::number(n));
}

frmAnalIn::frmAnalIn()
    : AnalogWindow(QStringLiteral("frmAnalIn"),
                   {{QStringLiteral("Analin"), QStringLiteral("Analin"), {1608, 2520, 4956, 5000},
                     {1608, 2520, 4956, 5000}, {1200, 924, 4956, 3828}},
                    &AnalInWindowOpen, QStringLiteral("Analog Input Form unloaded."), false, QStringLiteral("ORVain")},
                   {QStringLiteral("ain_"), &SymAnalogInputs, &NumAnalogInputs, true}) {
    setWindowTitle(QStringLiteral("ORV Analog Inputs"));
}

frmAnalOut::frmAnalOut()
    : AnalogWindow(QStringLiteral("frmAnalOut"),
                   {{QStringLiteral("Analout"), QStringLiteral("Analout"), {1200, 924, 4956, 5000},
                     {1200, 924, 4956, 5000}, {1200, 924, 4956, 3828}},
                    &AnalOutWindowOpen, QStringLiteral("Analog Output Form unloaded."), false, QStringLiteral("ORVaout")},
                   {QStringLiteral("aout_"), &SymAnalogOutputs, &NumAnalogOutputs, false}) {
    setWindowTitle(QStringLiteral("ORV Analog Outputs"));
}

bool &frmAnalOut::goToEditing() { return AnalOutEditInProgress; }

void frmAnalOut::loadPage() {
    AnalogWindow::loadPage();
    editingRow_ = -1;
}

void frmAnalOut::Text1_KeyPress(int index, int &keyAscii) {
    AnalOutEditIndex = static_cast<int16_t>(index);
    if (!typingKey(keyAscii, 'A', Text1[index], false, [&] { writeEntry(index); })) return;
    // A GoTo entry left unfinished also holds the flag: the first key here
    // still starts a fresh value instead of adding to the polled one.
    if (!AnalOutEditInProgress || editingRow_ != index) {
        StartEntry(AnalOutEditInProgress, AnalOutEditIndex, Text1[index], index);
        editingRow_ = index;
    }
}

void frmAnalOut::Text1_LostFocus(int index) {
    if (AnalOutEditInProgress) editingRow_ = -1;
    AbandonEntry(AnalOutEditInProgress, Text1[index]);
}

void frmAnalOut::writeEntry(int index) {
    const int32_t output = VScroll1->value() + index;
    // An output takes -20000 to 20000: another number is not written, and
    // the entry goes on.
    const auto value = TypedValue(Text1[index], QStringLiteral("Analog output #") + QString::number(output), -20000, 20000);
    if (!value) return;
    ReportWrite([&] { return OrvComm::ZqPutRegister(ConnectionHandle, 8000 + output, *value); },
                QStringLiteral("Analog output #") + QString::number(output) + QStringLiteral(" updated."),
                QStringLiteral("Failed to update analog output value!"), Text1[index]);
    AnalOutEditInProgress = false;
    editingRow_ = -1;
}
