#include "core/msgbox.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include "core/runtime_error.h"
#include "core/shell.h"

namespace {
DialogResponder *g_responder = nullptr;
int g_open = 0;

// A box or dialog, open for the scope's life.
struct Open {
    Open() { ++g_open; }
    ~Open() { --g_open; }
    Open(const Open &) = delete;
    Open &operator=(const Open &) = delete;
};

struct ButtonSpec {
    QMessageBox::StandardButton button;
    int result;
};

std::vector<ButtonSpec> buttonsOf(int buttons) {
    switch (buttons) {
    case mbOKCancel: return {{QMessageBox::Ok, mbOK}, {QMessageBox::Cancel, mbCancel}};
    case mbAbortRetryIgnore:
        return {{QMessageBox::Abort, mbAbort}, {QMessageBox::Retry, mbRetry}, {QMessageBox::Ignore, mbIgnore}};
    case mbYesNoCancel: return {{QMessageBox::Yes, mbYes}, {QMessageBox::No, mbNo}, {QMessageBox::Cancel, mbCancel}};
    case mbYesNo: return {{QMessageBox::Yes, mbYes}, {QMessageBox::No, mbNo}};
    case mbRetryCancel: return {{QMessageBox::Retry, mbRetry}, {QMessageBox::Cancel, mbCancel}};
    default: return {{QMessageBox::Ok, mbOK}};
    }
}
}  // namespace

QString appTitle() { return QStringLiteral("ORV Monitor"); }

int openBoxes() { return g_open; }

void installDialogResponder(DialogResponder *r) { g_responder = r; }
DialogResponder *dialogResponder() { return g_responder; }

int MsgBox(const QString &prompt, int style, const QString &title) {
    MsgBoxCall call;
    call.prompt = prompt;
    call.title = title.isEmpty() ? appTitle() : title;
    call.buttons = style & 7;
    call.icon = style & 0x70;
    call.style = style;
    const Open open;
    if (g_responder) return g_responder->answerBox(call);

    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(call.title);
    box.setText(prompt);
    switch (call.icon) {
    case mbCritical: box.setIcon(QMessageBox::Critical); break;
    case mbQuestion: box.setIcon(QMessageBox::Question); break;
    case mbExclamation: box.setIcon(QMessageBox::Warning); break;
    case mbInformation: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    const auto specs = buttonsOf(call.buttons);
    for (const auto &s : specs) box.addButton(s.button);
    const size_t def = (style & mbDefaultButton3) ? 2 : (style & mbDefaultButton2) ? 1 : 0;
    if (def < specs.size()) box.setDefaultButton(specs[def].button);
    // The close box answers as Cancel where there is one, else as the only button.
    for (const auto &s : specs)
        if (s.result == mbCancel || specs.size() == 1) box.setEscapeButton(s.button);
    box.exec();
    const auto clicked = box.standardButton(box.clickedButton());
    for (const auto &s : specs)
        if (s.button == clicked) return s.result;
    for (const auto &s : specs)
        if (s.result == mbCancel) return mbCancel;
    return specs.front().result;
}

QStringList qtNameFilters(const QString &filter) {
    const QStringList parts = filter.split(u'|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i];
        const QString patterns = QString(parts[i + 1]).replace(u';', u' ');
        // Qt reads the patterns from the brackets of the name.
        name.remove(QRegularExpression(QStringLiteral("\\(.*\\)")));
        out << QStringLiteral("%1 (%2)").arg(name.trimmed(), patterns);
    }
    return out;
}

bool CommonDialog::ShowOpen(QWidget *parent) { return show(FileDialogKind::Open, parent); }
bool CommonDialog::ShowSave(QWidget *parent) { return show(FileDialogKind::Save, parent); }

bool CommonDialog::show(FileDialogKind kind, QWidget *parent) {
    FileDialogCall call;
    call.kind = kind;
    call.title = DialogTitle;
    call.filter = Filter;
    call.filterIndex = FilterIndex;
    call.fileName = FileName;
    call.initDir = InitDir;
    call.defaultExt = DefaultExt;

    FileDialogAnswer answer;
    const Open open;
    if (g_responder) {
        answer = g_responder->answerFile(call);
    } else {
        QFileDialog dialog(parent ? parent : QApplication::activeWindow());
        dialog.setWindowTitle(DialogTitle.isEmpty() ? (kind == FileDialogKind::Open ? QStringLiteral("Open")
                                                                                   : QStringLiteral("Save As"))
                                                    : DialogTitle);
        dialog.setAcceptMode(kind == FileDialogKind::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        dialog.setFileMode(kind == FileDialogKind::Open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        // The windows ask about an existing file themselves.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
        const QStringList filters = qtNameFilters(Filter);
        if (!filters.isEmpty()) {
            dialog.setNameFilters(filters);
            if (FilterIndex >= 1 && FilterIndex <= filters.size()) dialog.selectNameFilter(filters[FilterIndex - 1]);
        }
        if (!DefaultExt.isEmpty()) dialog.setDefaultSuffix(DefaultExt);
        if (!InitDir.isEmpty()) dialog.setDirectory(InitDir);
        if (!FileName.isEmpty()) dialog.selectFile(FileName);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            answer = dialog.selectedFiles().front();
            const int idx = filters.indexOf(dialog.selectedNameFilter());
            if (idx >= 0) FilterIndex = idx + 1;
        }
    }
    cancelled_ = !answer.has_value();
    if (cancelled_) {
        if (CancelError) throw RuntimeError(32755, QStringLiteral("Cancel was selected."));
        return false;
    }
    FileName = *answer;
    return true;
}

bool CommonDialog::ShowHelp() {
    if (HelpFile.isEmpty()) return false;
    return ShellOpen(HelpFile);
}
