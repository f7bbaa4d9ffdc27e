// The font dialog of the data table editor's common dialog: a font and its
// effects (underline, strikethrough and text colour).
//
// In production a modal dialog asks the user; tests install a chooser that
// answers instead, so nothing waits for a person.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

// Flags of the font dialog, added together.
enum FontDialogFlags : int {
    cdlCFScreenFonts = 0x1,
    cdlCFEffects = 0x100,
    cdlCFANSIOnly = 0x400,
    cdlCFFixedPitchOnly = 0x4000,
};

struct FontDialogCall {
    QString title;
    QFont font;      // the initial font
    QColor colour;   // the initial text colour
    int flags = 0;
};

struct FontChoice {
    QFont font;
    QColor colour;
};

// The user's choice, or nullopt for Cancel.
using FontDialogAnswer = std::optional<FontChoice>;
using FontChooser = std::function<FontDialogAnswer(const FontDialogCall &)>;

// Installs a chooser in place of the dialog; an empty one restores the dialog.
void installFontChooser(FontChooser chooser);

FontDialogAnswer ShowFontDialog(QWidget *parent, const FontDialogCall &call);
