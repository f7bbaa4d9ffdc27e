// The flag window: one button per flag, sixteen flags at a time, reading
// "Set" (green) or "Clear" (red) as the polling loop finds the flags, or "*"
// until it has read them for the page shown.
#pragma once

#include "core/controls.h"
#include "windows/pagedwindow.h"

class frmFlag : public PagedWindow {
    Q_OBJECT
public:
    frmFlag();

    std::array<SSCommand *, 16> SSCommand1{};
    QLineEdit *Text1 = nullptr;  // "GoTo:" box

    // Toggles the flag of row index and writes it.
    void SSCommand1_Click(int index);

    // Whether flags 33 to 256 go through the library's flag call: the main
    // window's library version test, asked on every click (tests replace it).
    static std::function<bool()> flagCallForHighFlags;

    // Row r as the polling loop finds its flag: set or clear, or "*" while
    // the flag has not been read for this page (a new window or page, a read
    // that failed or was refused, the link gone).
    void showState(int r, bool set);
    void showUnknown(int r);

protected:
    void buildControls() override;
    void addRowControls(QGridLayout *grid, int row, int column) override;
    void loadPage() override;
    void fillRow(int r, int n) override;
    // The flag window's GoTo entry flag is a global of its own.
    bool &goToEditing() override;

private:
    QString flagName(int32_t n, bool &found);
};
