// The input box: a prompt, a line of text, OK and Cancel. Cancel gives an
// empty text. Tests answer it through an answerer instead of a person.
#pragma once

#include <QString>
#include <functional>

// An empty title means the program's title.
QString InputBox(const QString &prompt, const QString &title = QString(), const QString &defaultText = QString());

// Answers every input box with the text it returns; an empty function
// restores the real box.
using InputBoxAnswerer = std::function<QString(const QString &prompt)>;
void installInputBoxAnswerer(InputBoxAnswerer answerer);
