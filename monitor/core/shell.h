// Documents, text files and helper programs started from the monitor.
//
// Production: documents open through the desktop (xdg-open), text files in
// $VISUAL or $EDITOR when one is set (else through the desktop), programs are
// started detached. Tests install a handler that records the requests.
#pragma once

#include <QString>
#include <QStringList>

class ShellHandler {
public:
    virtual ~ShellHandler() = default;
    virtual bool openDocument(const QString &path) = 0;
    virtual bool openTextFile(const QString &path) = 0;
    virtual bool startProgram(const QString &program, const QStringList &arguments) = 0;
};

// Installs a handler (not owned); nullptr restores the desktop.
void installShellHandler(ShellHandler *handler);

// Asks the desktop to open a document; True when it accepted it.
bool ShellOpen(const QString &path);
// Opens a text file in the user's editor; True when the editor started.
bool OpenTextFile(const QString &path);
// Starts a program with arguments; True when it started.
bool StartProgram(const QString &program, const QStringList &arguments = {});
