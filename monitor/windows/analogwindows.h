// The analog input and output windows: channels 1 to 256, sixteen at a time,
// one value box per row that the polling loop fills ("N/A" or "*" when a
// channel has no value).
#pragma once

#include "windows/pagedwindow.h"

class AnalogWindow : public PagedWindow {
    Q_OBJECT
public:
    struct Kind {
        QString prefix;           // "ain_" or "aout_"
        SymbolSnapshot *symbols;  // the kind's symbol snapshot
        const int16_t *count;     // the controller's channel count
        bool readOnly;            // the value boxes take no typing
    };
    AnalogWindow(const QString &name, Traits traits, Kind kind);

    std::array<QLineEdit *, 16> Text1{};  // channel values, filled by the polling loop
    QLineEdit *Text2 = nullptr;           // "GoTo :" box

protected:
    void buildControls() override;
    void addRowControls(QGridLayout *grid, int row, int column) override;
    void loadPage() override;
    void fillRow(int r, int n) override;
    // The value boxes' handlers (of the output window).
    virtual void Text1_KeyPress(int, int &) {}
    virtual void Text1_LostFocus(int) {}

private:
    QString channelName(int32_t n, bool &found);
    Kind kind_;
};

class frmAnalIn : public AnalogWindow {
    Q_OBJECT
public:
    frmAnalIn();
};

class frmAnalOut : public AnalogWindow {
    Q_OBJECT
public:
    frmAnalOut();

    void Text1_KeyPress(int index, int &keyAscii) override;
    void Text1_LostFocus(int index) override;

protected:
    // The output window's GoTo box starts its entry with the edit flag of the
    // value boxes, so the polling loop holds one row while a page is typed.
    bool &goToEditing() override;
    void loadPage() override;

private:
    void writeEntry(int index);
    // The row whose value box is being typed into, -1 for none. The edit
    // flag alone cannot tell: the GoTo box raises it too.
    int editingRow_ = -1;
};
