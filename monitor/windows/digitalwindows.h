// The digital input and output windows: points 1 to 1000, sixteen at a time.
// An input row has a lamp panel, an output row a toggle button; both read
// "On" in green or "Off" in red, and the name label names the point in its
// present state (the polling loop keeps both up to date).
#pragma once

#include "core/controls.h"
#include "windows/pagedwindow.h"

class DigitalWindow : public PagedWindow {
    Q_OBJECT
public:
    struct Kind {
        SymbolSnapshot *symbols;
        const int16_t *count;  // the controller's point count
        QString (*defaultName)(int32_t n);
    };
    DigitalWindow(const QString &name, Traits traits, Kind kind);

    QLineEdit *Text1 = nullptr;  // "GoTo:" box

protected:
    void buildControls() override;
    void loadPage() override;
    void fillRow(int r, int n) override;
    // Puts row r in the off state.
    virtual void showOff(int r) = 0;

private:
    QString pointName(const QString &criteria, int32_t n, bool &found);
    Kind kind_;
};

class frmDigIn : public DigitalWindow {
    Q_OBJECT
public:
    frmDigIn();
    std::array<SSPanel *, 16> SSPanel1{};

protected:
    void addRowControls(QGridLayout *grid, int row, int column) override;
    void showOff(int r) override;
};

class frmDigOut : public DigitalWindow {
    Q_OBJECT
public:
    frmDigOut();
    std::array<SSCommand *, 16> SSCommand1{};

    // Switches the output of row index and writes its new state.
    void SSCommand1_Click(int index);

protected:
    void addRowControls(QGridLayout *grid, int row, int column) override;
    void showOff(int r) override;
    // A page change leaves the GoTo box as it is.
    bool goToFollowsPage() const override { return false; }
};
