// The flag window: one button per flag, sixteen flags at a time, reading
// "Set" (green) or "Clear" (red); the polling loop turns the buttons.
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

protected:
    void buildControls() override;
    void addRowControls(QGridLayout *grid, int row, int column) override;
    void loadPage() override;
    void fillRow(int r, int n) override;
    // The flag window's GoTo entry flag is a global of its own.
    bool &goToEditing() override;

private:
    QString flagName(int32_t n, bool &found);
    void showState(int r, bool set);
};
