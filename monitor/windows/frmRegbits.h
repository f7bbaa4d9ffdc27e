// The register bits window: sixteen registers in decimal, each with its 32
// bits as check boxes, over the ordinary registers ("Lower Regs", from 1) or
// the non-volatile ones ("Upper Regs", from 32001). Row r shows register
// RegbitsBase + VScroll1.Value + r; each change of a row's value box sets
// the row's bit boxes. A row not read for the page shown reads "*", and its
// bit boxes show neither state.
#pragma once

#include <QCheckBox>
#include <QRadioButton>

#include "core/globals.h"
#include "windows/pagedwindow.h"

class frmRegbits : public PagedWindow {
    Q_OBJECT
public:
    frmRegbits();

    std::array<QLineEdit *, 16> Text1{};  // register values, filled by the polling loop
    std::array<QCheckBox *, 512> Bit1{};  // box 32 * row + bit; bit 31 leftmost
    std::array<QLabel *, 32> BitNumber{};  // the bit numbers over the columns of boxes
    QLineEdit *Text2 = nullptr;           // "GoTo:" box
    QRadioButton *Option1 = nullptr;      // "Lower Regs"
    QRadioButton *Option2 = nullptr;      // "Upper Regs"
    FormTimer *Timer1 = nullptr;

    void Option1_Click();
    void Option2_Click();
    void Text1_Change(int index);
    // A click on bit box i (box 32 * row + bit): the row's new value waits
    // for the polling loop to write it.
    void Bit1_Click(int i);
    void Text1_KeyPress(int index, int &keyAscii);
    void Text1_KeyDown(int index, int &keyCode, int shift);
    void Text1_LostFocus(int index);
    // The end of the bit click that waited for the polling loop (or for
    // the next click's write): when the controller did not take it, the
    // row shows what it showed before the click, or "*" when no answer
    // settled it; then every row's boxes follow their values again.
    void clickWriteEnded(WriteOutcome outcome);

protected:
    void buildControls() override;
    void addRowControls(QGridLayout *grid, int row, int column) override;
    bool hasHeader() const override { return true; }
    void addHeader(QGridLayout *grid, int column) override;
    void addBottomControls(QHBoxLayout *bottom) override;
    void loadPage() override;
    void fillRow(int r, int n) override;
    int32_t pageBase() const override { return RegbitsBase; }
    bool goToRestartKeys() const override { return true; }
    void Form_Unload(int &cancel) override;

private:
    void selectRange(int32_t base, int maximum);
    void writeEntry(int index);
    // Writes the click that waits for the polling loop now.
    void writePendingClick();
    // The value that the bit boxes of a row show.
    int32_t bitsOfRow(int row) const;
    // The bit boxes of a row: the bits of a value, or neither state (and
    // no clicks) while the row has none.
    void showBits(int row, std::optional<uint32_t> word);
    void showAllBits();
    // The row's text before the first click of the waiting write.
    QString clickBefore_;
    static constexpr int BitGroupGap = 6;  // pixels between the bytes of a row
    int bitColumnWidth() const;
};
