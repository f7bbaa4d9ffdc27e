#include "core/shownvalue.h"

#include <QLineEdit>
#include <QVariant>

namespace {
// The kept value lives on the box itself, so that it goes with the box.
constexpr const char *Kept = "orvShownValue";
}  // namespace

namespace ShownValue {

void beginEntry(QLineEdit *box) {
    if (!box || box->property(Kept).isValid()) return;
    box->setProperty(Kept, box->text());
}

void show(QLineEdit *box, const QString &value) {
    if (!box) return;
    if (box->property(Kept).isValid()) box->setProperty(Kept, value);
    else box->setText(value);
}

void restore(QLineEdit *box) {
    if (!box) return;
    const QVariant value = box->property(Kept);
    box->setProperty(Kept, QVariant());
    if (value.isValid()) box->setText(value.toString());
}

void endEntry(QLineEdit *box) {
    if (box) box->setProperty(Kept, QVariant());
}

std::optional<QString> kept(const QLineEdit *box) {
    const QVariant value = box ? box->property(Kept) : QVariant();
    if (!value.isValid()) return std::nullopt;
    return value.toString();
}

}  // namespace ShownValue
