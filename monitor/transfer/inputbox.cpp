#include "transfer/inputbox.h"

#include <QApplication>
#include <QInputDialog>

#include "core/msgbox.h"

namespace {
InputBoxAnswerer &answerer() {
    static InputBoxAnswerer a;
    return a;
}
}  // namespace

void installInputBoxAnswerer(InputBoxAnswerer a) { answerer() = std::move(a); }

QString InputBox(const QString &prompt, const QString &title, const QString &defaultText) {
    if (answerer()) return answerer()(prompt);
    bool ok = false;
    const QString text = QInputDialog::getText(QApplication::activeWindow(), title.isEmpty() ? appTitle() : title,
                                               prompt, QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}
