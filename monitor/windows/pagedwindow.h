// The paged monitor window: sixteen rows of one kind of controller resource,
// the scroll bar VScroll1 whose value is the resource shown in row 0, and the
// "GoTo:" box that jumps to a page.
//
// Row r shows resource VScroll1.Value + r (plus the window's base, which the
// non-volatile and bits windows add). A page change names the rows through
// the window's own rule (fillRow), shows the first resource in the GoTo box,
// gives the box the focus and ends any thumb drag's two-second wait. While
// the thumb is dragged the page follows it at most every two seconds. Clicks
// on the row and GoTo labels put the focus into the GoTo box.
#pragma once

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <array>

#include "windows/resourcewindow.h"

class PagedWindow : public ResourceWindow {
    Q_OBJECT
public:
    struct Layout {
        QString goToName;     // "Text2", or "Text1" where the rows have no value boxes
        QString goToCaption;  // "GoTo:"
        bool nameLabels = true;  // Label1 in each row
        int largeChange = 16;
    };
    PagedWindow(const QString &name, Traits traits, Layout layout);

    std::array<QLabel *, 16> Label1{};  // row names (none in the register bits window)
    std::array<QLabel *, 16> Label2{};  // row numbers
    QScrollBar *VScroll1 = nullptr;
    QLabel *Label3 = nullptr;           // "GoTo:"

    // Time of the first scroll event of a thumb drag, seconds of the day; -1
    // after a page fill, 0 at load.
    float ScrollStartTime = 0;
    // True from the first key typed into the GoTo box until Enter.
    bool GoToEditing = false;

    // The clock of the thumb-drag rule (tests replace it); seconds of the day.
    static std::function<double()> scrollClock;

    void VScroll1_Change();
    void VScroll1_Scroll(int position);
    void GoTo_KeyPress(int &keyAscii);
    // Focus into the GoTo box (the label clicks).
    void focusGoTo();

protected:
    void buildControls() override;
    // Row controls after the name and number labels, from this column on.
    virtual void addRowControls(QGridLayout *grid, int row, int column) = 0;
    // Controls above the first row, over the row controls from this column
    // on; none unless a window adds them.
    virtual bool hasHeader() const { return false; }
    virtual void addHeader(QGridLayout *, int) {}
    // Controls beside the GoTo box.
    virtual void addBottomControls(QHBoxLayout *) {}

    // Names row r for page position n (VScroll1.Value + r) on a page change.
    virtual void fillRow(int r, int n) = 0;
    // Added to the page position in the GoTo box and its limits.
    virtual int32_t pageBase() const { return 0; }
    // Whether a page fill writes the page into the GoTo box.
    virtual bool goToFollowsPage() const { return true; }
    // "R" and "r" start a new GoTo entry too.
    virtual bool goToRestartKeys() const { return false; }
    // The flag of the GoTo box's first key.
    virtual bool &goToEditing() { return GoToEditing; }

    // The load puts the page back to its design state (first page, no drag,
    // no GoTo entry) before the window's own loadPage().
    void loadWindow() override;
    virtual void loadPage() = 0;

    QLineEdit *goToBox() const { return goTo_; }
    // The keys of a value box that every paged window shares: the letter
    // goToKey (either case) only moves the focus to the GoTo box; Enter runs
    // write unless there is no connection or the box holds no number the
    // user typed (TypedNumberEntered; hex: a hexadecimal view). Both are
    // swallowed. True for any other key, which the window then handles as
    // typing.
    bool typingKey(int &keyAscii, char goToKey, QLineEdit *box, bool hex, const std::function<void()> &write);
    // Sets the scroll position without running the page fill.
    void setPagePosition(int value);

private:
    void pageFill(int first);
    Layout layout_;
    QLineEdit *goTo_ = nullptr;
};
