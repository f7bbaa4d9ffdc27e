// Room for the widest text a control must show, in the control's own font:
// the windows reserve it when they build their controls, so that a layout
// never squeezes a value box or a name below what it has to show.
#pragma once

#include <QString>

class QWidget;

// The widest value of a 32-bit register.
inline const QString WidestRegisterValue = QStringLiteral("-2147483648");
// A symbol name of the full 40 characters a symbol file may give.
inline const QString WidestSymbolName = QStringLiteral("Conveyor_Infeed_Photo_Eye_Blocked_Alarm1");
// The widest row number of the paged windows (the first fill adds a blank).
inline const QString WidestRowNumber = QStringLiteral("40000 ");

// Pixels the control needs across to show the text whole: a text box with its
// frame and margins, a label with its margins, a button with its bevel.
int widthForText(const QWidget *w, const QString &text);
// Makes the control at least that wide.
void reserveText(QWidget *w, const QString &text);
