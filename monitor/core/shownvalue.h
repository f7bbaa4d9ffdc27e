// What a value box shows of the controller.
//
// A box that the polling loop fills shows what the controller last gave it,
// or "*" while no value is current. When the user types into it, the box
// shows the typing, but its value stays the one it showed before the entry:
// DDE clients are served that value, never the typed text, and the box shows
// it again when the entry ends without a write (refused, failed, or left
// unfinished). A value that the polling loop brings during the entry, or "*"
// when the link goes, becomes the value the box will show.
#pragma once

#include <QString>
#include <optional>

class QLineEdit;

namespace ShownValue {
// An entry starts: the box's text is its value until the entry ends. A box
// already under entry keeps the value it has.
void beginEntry(QLineEdit *box);
// The value of the box: its text, or its kept value while under entry.
void show(QLineEdit *box, const QString &value);
// The entry ends without a write: the box shows its value again.
void restore(QLineEdit *box);
// The entry ends with a write the controller took: the box keeps the value
// written until the next poll.
void endEntry(QLineEdit *box);
// The kept value of a box under entry; nothing for any other box.
std::optional<QString> kept(const QLineEdit *box);
}  // namespace ShownValue
