#include "windows/pagedwindow.h"

#include <QTime>
#include <QVBoxLayout>
#include <cmath>

#include "core/basics.h"
#include "core/controls.h"
#include "core/globals.h"
#include "core/textfit.h"

std::function<double()> PagedWindow::scrollClock = [] {
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
};

PagedWindow::PagedWindow(const QString &name, Traits traits, Layout layout)
    : ResourceWindow(name, std::move(traits)), layout_(std::move(layout)) {}

void PagedWindow::buildControls() {
    auto *outer = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    grid->setVerticalSpacing(1);
    outer->addLayout(grid);
    int lastColumn = 0;
    const int top = hasHeader() ? 1 : 0;
    for (int r = 0; r < 16; ++r) {
        int c = 0;
        if (layout_.nameLabels) {
            Label1[r] = named(new QLabel(this), QStringLiteral("Label1"), r);
            onClick(Label1[r], [this] { focusGoTo(); });
            reserveText(Label1[r], WidestSymbolName);
            grid->addWidget(Label1[r], top + r, c++);
        }
        Label2[r] = named(new QLabel(this), QStringLiteral("Label2"), r);
        onClick(Label2[r], [this] { focusGoTo(); });
        reserveText(Label2[r], WidestRowNumber);
        grid->addWidget(Label2[r], top + r, c++);
        if (r == 0 && top) addHeader(grid, c);
        addRowControls(grid, r, c);
        lastColumn = std::max(lastColumn, grid->columnCount());
    }
    VScroll1 = named(new QScrollBar(Qt::Vertical, this), QStringLiteral("VScroll1"));
    VScroll1->setTracking(false);
    VScroll1->setMinimum(1);
    VScroll1->setSingleStep(1);
    VScroll1->setPageStep(layout_.largeChange);
    grid->addWidget(VScroll1, top, lastColumn, 16, 1);
    connect(VScroll1, &QScrollBar::valueChanged, this, [this] { VScroll1_Change(); });
    connect(VScroll1, &QScrollBar::sliderMoved, this, [this](int position) { VScroll1_Scroll(position); });

    auto *bottom = new QHBoxLayout;
    outer->addLayout(bottom);
    Label3 = named(new QLabel(layout_.goToCaption, this), QStringLiteral("Label3"));
    onClick(Label3, [this] { focusGoTo(); });
    goTo_ = named(new QLineEdit(this), layout_.goToName);
    reserveText(goTo_, WidestRowNumber);
    onKeyPress(goTo_, [this](int &key) { GoTo_KeyPress(key); });
    bottom->addWidget(Label3);
    bottom->addWidget(goTo_);
    addBottomControls(bottom);
    bottom->addStretch();
}

void PagedWindow::setPagePosition(int value) {
    const QSignalBlocker block(VScroll1);
    VScroll1->setValue(value);
}

void PagedWindow::loadWindow() {
    setPagePosition(1);
    ScrollStartTime = 0;
    GoToEditing = false;
    loadPage();
}

void PagedWindow::focusGoTo() { goTo_->setFocus(); }

bool PagedWindow::typingKey(int &keyAscii, char goToKey, QLineEdit *box, bool hex,
                            const std::function<void()> &write) {
    if (keyAscii == goToKey || keyAscii == goToKey + ('a' - 'A')) {
        keyAscii = 0;
        focusGoTo();
        return false;
    }
    if (keyAscii == 13) {
        keyAscii = 0;
        // Without a link the write is refused: it says why, and the box
        // shows its value again.
        if (NoComm || TypedNumberEntered(box, hex)) write();
        return false;
    }
    return true;
}

void PagedWindow::pageFill(int first) {
    for (int r = 0; r < 16; ++r) fillRow(r, first + r);
    if (goToFollowsPage()) goTo_->setText(QString::number(first + pageBase()));
    goTo_->setFocus();
    ScrollStartTime = -1;
    // Disabling the bar takes the keyboard off it; not in the middle of a
    // drag, which would leave the thumb where the page is not.
    if (!VScroll1->isSliderDown()) {
        VScroll1->setEnabled(false);
        VScroll1->setEnabled(true);
    }
}

void PagedWindow::VScroll1_Change() { pageFill(VScroll1->value()); }

void PagedWindow::VScroll1_Scroll(int position) {
    const double now = scrollClock();
    if (ScrollStartTime <= 0) {
        ScrollStartTime = static_cast<float>(now);
        return;
    }
    double waited = now - ScrollStartTime;
    if (waited < 0) waited += 24 * 3600;  // past midnight
    if (waited <= 2.0) return;
    // The value follows the thumb, so that the rows the polling loop fills
    // are the rows the labels name.
    if (position != VScroll1->value()) VScroll1->setValue(position);
    else pageFill(position);
}

void PagedWindow::GoTo_KeyPress(int &keyAscii) {
    bool &editing = goToEditing();
    if (!editing || (goToRestartKeys() && (keyAscii == 'R' || keyAscii == 'r'))) {
        goTo_->clear();
        editing = true;
    }
    if (keyAscii != 13) return;
    keyAscii = 0;
    const int32_t base = pageBase();
    const double lowest = base + 1.0;
    const double highest = static_cast<double>(VScroll1->maximum()) + base;
    const double asked = leadingNumber(goTo_->text());
    if (asked < lowest) goTo_->setText(QString::number(base + 1));
    else if (asked > highest) goTo_->setText(QString::number(VScroll1->maximum() + base));
    const double target = std::nearbyint(leadingNumber(goTo_->text()) - base);
    VScroll1->setValue(static_cast<int>(target));
    editing = false;
    goTo_->setFocus();
}
