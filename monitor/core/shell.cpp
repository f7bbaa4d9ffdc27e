#include "core/shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace {
ShellHandler *g_shell = nullptr;

class DesktopShell : public ShellHandler {
public:
    bool openDocument(const QString &path) override {
        if (!QFileInfo::exists(path)) return false;
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    }
    bool openTextFile(const QString &path) override {
        for (const char *var : {"VISUAL", "EDITOR"}) {
            const QString editor = QString::fromLocal8Bit(qgetenv(var)).trimmed();
            if (editor.isEmpty()) continue;
            QStringList parts = QProcess::splitCommand(editor);
            if (parts.isEmpty()) continue;
            const QString program = parts.takeFirst();
            return QProcess::startDetached(program, parts << path);
        }
        return openDocument(path);
    }
    bool startProgram(const QString &program, const QStringList &arguments) override {
        return QProcess::startDetached(program, arguments);
    }
};

ShellHandler &shell() {
    static DesktopShell desktop;
    return g_shell ? *g_shell : desktop;
}
}  // namespace

void installShellHandler(ShellHandler *handler) { g_shell = handler; }
bool ShellOpen(const QString &path) { return shell().openDocument(path); }
bool OpenTextFile(const QString &path) { return shell().openTextFile(path); }
bool StartProgram(const QString &program, const QStringList &arguments) {
    return shell().startProgram(program, arguments);
}
