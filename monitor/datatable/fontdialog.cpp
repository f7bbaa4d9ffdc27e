#include "datatable/fontdialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QFormLayout>
#include <QVBoxLayout>

namespace {

FontChooser &chooser() {
    static FontChooser c;
    return c;
}

// The colours of the font dialog's colour list.
struct NamedColour {
    const char *name;
    QRgb rgb;
};
constexpr NamedColour Colours[] = {
    {"Black", 0x000000},  {"Maroon", 0x800000}, {"Green", 0x008000},   {"Olive", 0x808000},
    {"Navy", 0x000080},   {"Purple", 0x800080}, {"Teal", 0x008080},    {"Gray", 0x808080},
    {"Silver", 0xC0C0C0}, {"Red", 0xFF0000},    {"Lime", 0x00FF00},    {"Yellow", 0xFFFF00},
    {"Blue", 0x0000FF},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0x00FFFF},   {"White", 0xFFFFFF},
};

}  // namespace

void installFontChooser(FontChooser c) { chooser() = std::move(c); }

FontDialogAnswer ShowFontDialog(QWidget *parent, const FontDialogCall &call) {
    if (chooser()) return chooser()(call);

    QDialog dialog(parent ? parent : QApplication::activeWindow());
    dialog.setWindowTitle(call.title);
    auto *layout = new QVBoxLayout(&dialog);

    // The font part: the platform's font dialog without its own buttons.
    auto *fonts = new QFontDialog(&dialog);
    fonts->setWindowFlags(Qt::Widget);
    QFontDialog::FontDialogOptions options = QFontDialog::NoButtons;
    if (call.flags & cdlCFFixedPitchOnly) options |= QFontDialog::MonospacedFonts;
    if (call.flags & cdlCFScreenFonts) options |= QFontDialog::ScalableFonts | QFontDialog::NonScalableFonts;
    fonts->setOptions(options);
    fonts->setCurrentFont(call.font);
    layout->addWidget(fonts);

    // The effects' colour list.
    auto *colour = new QComboBox(&dialog);
    colour->setObjectName(QStringLiteral("Colour"));
    for (const auto &c : Colours) colour->addItem(QLatin1String(c.name), QColor(c.rgb));
    int current = colour->findData(call.colour);
    if (current < 0) {
        colour->addItem(QStringLiteral("Custom"), call.colour);
        current = colour->count() - 1;
    }
    colour->setCurrentIndex(current);
    if (call.flags & cdlCFEffects) {
        auto *form = new QFormLayout;
        form->addRow(QStringLiteral("Colour:"), colour);
        layout->addLayout(form);
    } else {
        colour->hide();
    }

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);

    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return FontChoice{fonts->currentFont(), colour->currentData().value<QColor>()};
}
