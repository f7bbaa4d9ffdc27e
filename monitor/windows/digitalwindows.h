// The digital input and output windows: points 1 to 1000, sixteen at a time.
// An input row has a lamp panel, an output row a toggle button; both read
// "On" in green or "Off" in red, and the name label names the point in its
// present state (the polling loop keeps both up to date). Until the point
// has been read for the page shown (a new window or page, a read that failed
// or was refused, the link gone) the panel or button and the name read "*":
// a point has a name for each state, and its state is not known.
#pragma once

#include "core/controls.h"
#include "windows/pagedwindow.h"

class DigitalWindow : public PagedWindow {
    Q_OBJECT
public:
    struct Kind {
        SymbolSnapshot *symbols;
        const int16_t *count;  // the controller's point count
    };
    DigitalWindow(const QString &name, Traits traits, Kind kind);

    QLineEdit *Text1 = nullptr;  // "GoTo:" box

    // Row r as the polling loop finds point n: its state (0 or 1 as read;
    // an input reading anything else shows neither), or "*".
    virtual void showState(int r, int32_t n, int32_t state) = 0;
    void showUnknown(int r);

protected:
    void buildControls() override;
    void loadPage() override;
    void fillRow(int r, int n) override;
    // The panel or button of row r, "*".
    virtual void showNoState(int r) = 0;

private:
    // The symbol file names point n (by its name for value 0).
    bool hasSymbol(int32_t n);
    Kind kind_;
};

class frmDigIn : public DigitalWindow {
    Q_OBJECT
public:
    frmDigIn();
    std::array<SSPanel *, 16> SSPanel1{};

    void showState(int r, int32_t n, int32_t state) override;

protected:
    void addRowControls(QGridLayout *grid, int row, int column) override;
    void showNoState(int r) override;
};

class frmDigOut : public DigitalWindow {
    Q_OBJECT
public:
    frmDigOut();
    std::array<SSCommand *, 16> SSCommand1{};

    // Switches the output of row index and writes its new state.
    void SSCommand1_Click(int index);

    void showState(int r, int32_t n, int32_t state) override;

protected:
    void addRowControls(QGridLayout *grid, int row, int column) override;
    void showNoState(int r) override;
    // A page change leaves the GoTo box as it is.
    bool goToFollowsPage() const override { return false; }
};
