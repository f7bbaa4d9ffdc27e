#include "datatable/frmTableMon.h"

#include <QFormLayout>

#include "core/controls.h"
#include "core/globals.h"
#include "datatable/frmTable.h"
#include "windows/resourcewindow.h"

namespace {
// The interval's limits: an Enter takes 10 ms at the least, leaving the box
// 25 ms.
constexpr double ShortestIntervalByEnter = 10;
constexpr double ShortestIntervalOnLeaving = 25;
constexpr double LongestInterval = 32000;
}  // namespace

frmTableMon::frmTableMon() : Form(QStringLiteral("frmTableMon")) {}

void frmTableMon::buildControls() {
    setWindowTitle(QStringLiteral("Data Table Monitor Setup"));
    auto *layout = new QFormLayout(this);
    auto row = [&](QLabel *&label, const char *labelName, const QString &caption, QLineEdit *&box,
                   const char *boxName) {
        label = named(new QLabel(caption, this), QLatin1String(labelName));
        box = named(new QLineEdit(this), QLatin1String(boxName));
        layout->addRow(label, box);
    };
    row(Label1, "Label1", QStringLiteral("Starting Row to Monitor:"), txtMonStartRow, "txtMonStartRow");
    row(Label2, "Label2", QStringLiteral("Ending Row to Monitor:"), txtMonEndRow, "txtMonEndRow");
    row(Label3, "Label3", QStringLiteral("Monitor Interval (ms):"), txtMonInt, "txtMonInt");

    onKeyPress(txtMonStartRow, [this](int &key) { txtMonStartRow_KeyPress(key); });
    onKeyPress(txtMonEndRow, [this](int &key) { txtMonEndRow_KeyPress(key); });
    onKeyPress(txtMonInt, [this](int &key) { txtMonInt_KeyPress(key); });
    onLostFocus(txtMonStartRow, [this] { txtMonStartRow_LostFocus(); });
    onLostFocus(txtMonEndRow, [this] { txtMonEndRow_LostFocus(); });
    onLostFocus(txtMonInt, [this] { txtMonInt_LostFocus(); });
}

void frmTableMon::Form_Load() {
    MonTyping = false;
    txtMonInt->setText(QString::number(TableMonIntervalMs));
    txtMonStartRow->setText(QString::number(TableMonStartRow));
    txtMonEndRow->setText(QString::number(TableMonEndRow));
}

void frmTableMon::typed(QLineEdit *box, int &keyAscii, void (frmTableMon::*commit)(bool)) {
    if (keyAscii == 13) {
        keyAscii = 0;
        (this->*commit)(true);
        return;
    }
    if (!MonTyping) {
        box->clear();
        MonTyping = true;
    }
}

// The boxes keep their text as typed; only the stored values are limited.
void frmTableMon::commitStartRow(bool) {
    TableMonStartRow = static_cast<int16_t>(EntryValue(txtMonStartRow->text(), 1, TableRows));
    MonTyping = false;
}

void frmTableMon::commitEndRow(bool) {
    TableMonEndRow = static_cast<int16_t>(EntryValue(txtMonEndRow->text(), 1, TableRows));
    MonTyping = false;
}

void frmTableMon::commitInterval(bool byEnter) {
    TableMonIntervalMs = static_cast<int16_t>(EntryValue(
        txtMonInt->text(), byEnter ? ShortestIntervalByEnter : ShortestIntervalOnLeaving, LongestInterval));
    MonTyping = false;
    // The editor's timer, when the editor is open: touching a closed editor
    // would open it, and its next load starts again from 2000 ms anyway.
    if (formLoaded<frmTable>()) form<frmTable>().Timer1->setInterval(TableMonIntervalMs);
}

void frmTableMon::txtMonStartRow_KeyPress(int &keyAscii) { typed(txtMonStartRow, keyAscii, &frmTableMon::commitStartRow); }
void frmTableMon::txtMonEndRow_KeyPress(int &keyAscii) { typed(txtMonEndRow, keyAscii, &frmTableMon::commitEndRow); }
void frmTableMon::txtMonInt_KeyPress(int &keyAscii) { typed(txtMonInt, keyAscii, &frmTableMon::commitInterval); }
void frmTableMon::txtMonStartRow_LostFocus() { commitStartRow(false); }
void frmTableMon::txtMonEndRow_LostFocus() { commitEndRow(false); }
void frmTableMon::txtMonInt_LostFocus() { commitInterval(false); }
