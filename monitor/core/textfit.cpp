#include "core/textfit.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

int widthForText(const QWidget *w, const QString &text) {
    const int advance = QFontMetrics(w->font()).horizontalAdvance(text);
    if (auto *edit = qobject_cast<const QLineEdit *>(w)) {
        QStyleOptionFrame opt;
        opt.initFrom(edit);
        const int frame = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
        const QMargins m = edit->textMargins();
        // The line edit keeps two pixels free on each side of its text.
        return advance + 4 + 2 * frame + m.left() + m.right();
    }
    if (auto *label = qobject_cast<const QLabel *>(w))
        return advance + 2 * label->margin() + std::max(0, label->indent()) + 2 * label->frameWidth();
    if (qobject_cast<const QAbstractButton *>(w)) return advance + 12;
    return advance;
}

void reserveText(QWidget *w, const QString &text) {
    w->setMinimumWidth(std::max(w->minimumWidth(), widthForText(w, text)));
}
