#include "core/controls.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>

Hourglass::Hourglass() { QApplication::setOverrideCursor(Qt::WaitCursor); }
Hourglass::~Hourglass() { QApplication::restoreOverrideCursor(); }

QColor colourFromBgr(int32_t bgr) {
    const uint32_t v = static_cast<uint32_t>(bgr);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

namespace {

int keyCodeOf(const QKeyEvent *e) {
    const int k = e->key();
    if ((k >= Qt::Key_A && k <= Qt::Key_Z) || (k >= Qt::Key_0 && k <= Qt::Key_9)) return k;
    if (k >= Qt::Key_F1 && k <= Qt::Key_F12) return 112 + (k - Qt::Key_F1);
    switch (k) {
    case Qt::Key_Backspace: return KeyCodes::Back;
    case Qt::Key_Tab: return KeyCodes::Tab;
    case Qt::Key_Return:
    case Qt::Key_Enter: return KeyCodes::Return;
    case Qt::Key_Escape: return KeyCodes::Escape;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return KeyCodes::PageUp;
    case Qt::Key_PageDown: return KeyCodes::PageDown;
    case Qt::Key_End: return KeyCodes::End;
    case Qt::Key_Home: return KeyCodes::Home;
    case Qt::Key_Left: return KeyCodes::Left;
    case Qt::Key_Up: return KeyCodes::Up;
    case Qt::Key_Right: return KeyCodes::Right;
    case Qt::Key_Down: return KeyCodes::Down;
    case Qt::Key_Insert: return KeyCodes::Insert;
    case Qt::Key_Delete: return KeyCodes::Delete;
    default: return 0;
    }
}

// The character code of a key that types one, 0 for other keys.
int keyAsciiOf(const QKeyEvent *e) {
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Delete: return 0;
    default: break;
    }
    const QString t = e->text();
    if (t.size() != 1) return 0;
    const char16_t c = t.at(0).unicode();
    if (c < 32 && c != 8 && c != 13 && c != 27) return (e->modifiers() & Qt::ControlModifier) ? int(c) : 0;
    if (c == 127 || c > 255) return 0;
    return int(c);
}

int shiftOf(const QKeyEvent *e) {
    int s = 0;
    if (e->modifiers() & Qt::ShiftModifier) s |= ShiftMask;
    if (e->modifiers() & Qt::ControlModifier) s |= CtrlMask;
    if (e->modifiers() & Qt::AltModifier) s |= AltMask;
    return s;
}

class KeyFilter : public QObject {
public:
    explicit KeyFilter(QWidget *w) : QObject(w) { setObjectName(QStringLiteral("orvmon-key-filter")); }
    std::function<void(int &)> press;
    std::function<void(int &, int)> down;

    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::KeyPress || replaying_) return false;
        auto *e = static_cast<QKeyEvent *>(event);
        if (down) {
            int code = keyCodeOf(e);
            if (code != 0) {
                down(code, shiftOf(e));
                if (code == 0) return true;
            }
        }
        if (!press) return false;
        const int original = keyAsciiOf(e);
        if (original == 0) return false;
        int ascii = original;
        press(ascii);
        if (ascii == original) return false;
        if (ascii != 0) type(static_cast<QWidget *>(watched), ascii);
        return true;
    }

private:
    // Types another character in place of the one pressed.
    void type(QWidget *w, int ascii) {
        if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            if (ascii == 8) edit->backspace();
            else if (ascii >= 32) edit->insert(QString(QChar(char16_t(ascii))));
            return;
        }
        int key = ascii == 13 ? Qt::Key_Return : ascii == 8 ? Qt::Key_Backspace : ascii == 27 ? Qt::Key_Escape : 0;
        if (key == 0) key = QChar(char16_t(ascii)).toUpper().unicode();
        QKeyEvent replay(QEvent::KeyPress, key, Qt::NoModifier, QString(QChar(char16_t(ascii))));
        replaying_ = true;
        QCoreApplication::sendEvent(w, &replay);
        replaying_ = false;
    }
    bool replaying_ = false;
};

KeyFilter *keyFilterOf(QWidget *w) {
    auto *f = w->findChild<KeyFilter *>(QStringLiteral("orvmon-key-filter"), Qt::FindDirectChildrenOnly);
    if (!f) {
        f = new KeyFilter(w);
        w->installEventFilter(f);
    }
    return f;
}

class ClickFilter : public QObject {
public:
    ClickFilter(QWidget *w, std::function<void()> h) : QObject(w), handler_(std::move(h)) {}
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::MouseButtonRelease) {
            auto *e = static_cast<QMouseEvent *>(event);
            auto *w = static_cast<QWidget *>(watched);
            if (e->button() == Qt::LeftButton && w->rect().contains(e->position().toPoint()) && handler_) handler_();
        }
        return false;
    }

private:
    std::function<void()> handler_;
};

}  // namespace

void onKeyPress(QWidget *w, std::function<void(int &)> handler) { keyFilterOf(w)->press = std::move(handler); }

void onKeyDown(QWidget *w, std::function<void(int &, int)> handler) { keyFilterOf(w)->down = std::move(handler); }

void onClick(QWidget *w, std::function<void()> handler) {
    w->installEventFilter(new ClickFilter(w, std::move(handler)));
}

SSCommand::SSCommand(const QString &caption, QWidget *parent) : QPushButton(caption, parent) { restyle(); }

void SSCommand::setForeColor(int32_t bgr) {
    if (bgr == foreColor_) return;
    foreColor_ = bgr;
    restyle();
}

void SSCommand::setFont3D(int style) {
    if (style == font3D_) return;
    font3D_ = style;
    restyle();
}

void SSCommand::restyle() {
    // The text colour is the enabled button's; a disabled one keeps the
    // greyed text of the style, so that it looks disabled.
    QPalette p = palette();
    const QColor colour = colourFromBgr(foreColor_);
    p.setColor(QPalette::Active, QPalette::ButtonText, colour);
    p.setColor(QPalette::Inactive, QPalette::ButtonText, colour);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QApplication::palette(this).color(QPalette::Disabled, QPalette::ButtonText));
    setPalette(p);
    // Raised text reads as the button's normal weight, inset text as bold.
    QFont f = font();
    f.setBold(font3D_ == Font3DInsetLight || font3D_ == Font3DInsetHeavy);
    setFont(f);
}

void SSCommand::paintEvent(QPaintEvent *) {
    // The style keeps the button's face in the application's pixmap cache
    // under a key that names the palette it was drawn with, and a palette
    // set on a widget is a new palette every time. A face drawn with the
    // button's own palette would add an entry at every change of the text
    // colour (twice a second for a blinking flag) until the cache is full;
    // the face does not depend on the text colour, so it is drawn with the
    // palette all buttons share, and only the caption with the button's own.
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    QStyleOptionButton face = option;
    face.palette = QApplication::palette(this);
    painter.drawControl(QStyle::CE_PushButtonBevel, face);
    QStyleOptionButton label = option;
    label.rect = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    painter.drawControl(QStyle::CE_PushButtonLabel, label);
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(face);
        focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

SSPanel::SSPanel(const QString &caption, QWidget *parent) : QLabel(caption, parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAlignment(Qt::AlignCenter);
    setAutoFillBackground(true);
    restyle();
}

void SSPanel::setForeColor(int32_t bgr) {
    if (bgr == foreColor_) return;
    foreColor_ = bgr;
    restyle();
}

void SSPanel::setFloodType(int type) {
    floodType_ = type;
    update();
}

void SSPanel::setFloodPercent(int percent) {
    floodPercent_ = std::clamp(percent, 0, 100);
    update();
}

void SSPanel::restyle() {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, colourFromBgr(foreColor_));
    setPalette(p);
}

QString SSPanel::FloodText() const {
    if (floodType_ == 0 || !text().isEmpty()) return {};
    return QString::number(floodPercent_) + u'%';
}

void SSPanel::paintEvent(QPaintEvent *event) {
    if (floodType_ == 0) {
        QLabel::paintEvent(event);
        return;
    }
    // A flood panel: the frame, the bar, and its text (the caption, or else
    // the percentage) white over the bar and in the text colour beside it.
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect all = contentsRect();
    QRect bar = all;
    bar.setWidth(all.width() * floodPercent_ / 100);
    if (floodPercent_ > 0) painter.fillRect(bar, QColor(0, 0, 255));
    const QString shown = text().isEmpty() ? FloodText() : text();
    painter.setClipRect(bar);
    painter.setPen(Qt::white);
    painter.drawText(all, int(alignment()), shown);
    painter.setClipRect(all.adjusted(bar.width(), 0, 0, 0));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(all, int(alignment()), shown);
}
