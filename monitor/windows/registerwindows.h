// The register window frmReg (registers 1 to 32000) and the non-volatile
// register window frmRam (32001 to 48000): paged windows with a value box in
// each row, a decimal or hexadecimal view and a button that opens the
// register bits window on the same range.
#pragma once

#include <QAction>
#include <QMenu>
#include <QPushButton>

#include "core/orvcomm_binding.h"
#include "windows/pagedwindow.h"

class RegisterWindow : public PagedWindow {
    Q_OBJECT
public:
    struct Names {
        QString menu;        // "RegMenu"
        QString item;        // "DisplayMnu"
        bool yieldFirst;     // the view switch lets pending events through first
    };
    RegisterWindow(const QString &name, Traits traits, Names names);

    std::array<QLineEdit *, 16> Text1{};  // register values, filled by the polling loop
    QLineEdit *Text2 = nullptr;           // "GoTo:" box
    QLabel *Label4 = nullptr;             // "Decimal View" / "Hexadecimal View"
    QPushButton *Command1 = nullptr;      // "View Bits"
    QMenu *ViewMenu = nullptr;            // "&Display"
    std::array<QAction *, 3> ViewItem{};  // [1] "&Decimal", [2] "&Hexadecimal"
    // True while values are shown and typed in hexadecimal.
    bool HexView = false;

    // Display menu item 1 or 2: each toggles between the two views.
    void DisplayMenu_Click(int index);

protected:
    void buildControls() override;
    void addRowControls(QGridLayout *grid, int row, int column) override;
    void addBottomControls(QHBoxLayout *bottom) override;
    void setHexView(bool hex);
    // The value typed into a box for the register named field: in the
    // hexadecimal view its hexadecimal reading where it is one, else its
    // decimal reading, which must lie in the 32-bit range (TypedValue).
    std::optional<int32_t> typedValue(QLineEdit *box, const QString &field) const;
    virtual void Command1_Click() = 0;
    virtual void Text1_KeyPress(int, int &) {}
    virtual void Text1_KeyDown(int, int &, int) {}
    virtual void Text1_LostFocus(int) {}

private:
    Names names_;
};

class frmReg : public RegisterWindow {
    Q_OBJECT
public:
    frmReg();
    QMenu *&RegMenu = ViewMenu;
    std::array<QAction *, 3> &DisplayMnu = ViewItem;

    void DisplayMnu_Click(int index) { DisplayMenu_Click(index); }

    void Command1_Click() override;
    void Text1_KeyPress(int index, int &keyAscii) override;
    void Text1_KeyDown(int index, int &keyCode, int shift) override;
    void Text1_LostFocus(int index) override;

protected:
    void loadPage() override;
    void fillRow(int r, int n) override;
    bool goToRestartKeys() const override { return true; }

private:
    QString registerName(int r, int32_t n, bool atLoad);
    void writeEntry(int index);
};

class frmRam : public RegisterWindow {
    Q_OBJECT
public:
    frmRam();
    QMenu *&RegType = ViewMenu;
    std::array<QAction *, 3> &DisplayMenu = ViewItem;

    // The record of the window's V-register writes.
    OrvComm::ZQ_VREGISTER VRegRecord{};

    void Command1_Click() override;
    void Text1_KeyPress(int index, int &keyAscii) override;
    void Text1_KeyDown(int index, int &keyCode, int shift) override;
    void Text1_LostFocus(int index) override;

protected:
    void loadPage() override;
    void fillRow(int r, int n) override;
    int32_t pageBase() const override { return 32000; }
    bool goToRestartKeys() const override { return true; }

private:
    QString registerName(int32_t n);
    void writeEntry(int index);
};
