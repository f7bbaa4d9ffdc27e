// The data table editor's monitor setup window: the rows that each
// monitoring tick reads again and the interval of the ticks.
#pragma once

#include <QLabel>
#include <QLineEdit>

#include "core/forms.h"

class frmTableMon : public Form {
    Q_OBJECT
public:
    frmTableMon();

    QLineEdit *txtMonStartRow = nullptr;
    QLineEdit *txtMonEndRow = nullptr;
    QLineEdit *txtMonInt = nullptr;
    QLabel *Label1 = nullptr;  // "Starting Row to Monitor:"
    QLabel *Label2 = nullptr;  // "Ending Row to Monitor:"
    QLabel *Label3 = nullptr;  // "Monitor Interval (ms):"

    // A key has been typed into one of the boxes since the last commit.
    bool MonTyping = false;

    void txtMonStartRow_KeyPress(int &keyAscii);
    void txtMonEndRow_KeyPress(int &keyAscii);
    void txtMonInt_KeyPress(int &keyAscii);
    void txtMonStartRow_LostFocus();
    void txtMonEndRow_LostFocus();
    void txtMonInt_LostFocus();

protected:
    void buildControls() override;
    void Form_Load() override;

private:
    void typed(QLineEdit *box, int &keyAscii, void (frmTableMon::*commit)(bool byEnter));
    void commitStartRow(bool byEnter);
    void commitEndRow(bool byEnter);
    void commitInterval(bool byEnter);
};
