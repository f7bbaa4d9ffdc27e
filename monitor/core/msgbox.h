// Message boxes and the common dialog behind one seam.
//
// In production MsgBox shows a modal box and CommonDialog the file dialogs.
// A test installs a DialogResponder that answers each box or dialog instead;
// nothing then ever waits for a person.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QWidget;

// Buttons, icons and default button of a box, added together.
enum MsgBoxStyle : int {
    mbOKOnly = 0,
    mbOKCancel = 1,
    mbAbortRetryIgnore = 2,
    mbYesNoCancel = 3,
    mbYesNo = 4,
    mbRetryCancel = 5,
    mbCritical = 16,
    mbQuestion = 32,
    mbExclamation = 48,
    mbInformation = 64,
    mbDefaultButton1 = 0,
    mbDefaultButton2 = 256,
    mbDefaultButton3 = 512,
};

// The button that closed a box.
enum MsgBoxResult : int { mbOK = 1, mbCancel = 2, mbAbort = 3, mbRetry = 4, mbIgnore = 5, mbYes = 6, mbNo = 7 };

// The program's title, used by boxes that have no title of their own.
QString appTitle();

// Shows a box and returns the button pressed. An empty title means the
// program's title.
int MsgBox(const QString &prompt, int style = mbOKOnly, const QString &title = QString());

// Boxes and file dialogs open now, each waiting for the user in its event
// loop (those a test responder answers count as well).
int openBoxes();

struct MsgBoxCall {
    QString prompt;
    QString title;   // as shown (the program's title when none was given)
    int buttons = 0; // style & 7
    int icon = 0;    // style & 0x70
    int style = 0;
};

enum class FileDialogKind { Open, Save };

struct FileDialogCall {
    FileDialogKind kind = FileDialogKind::Open;
    QString title;
    QString filter;  // "Text Files(*.TXT)|*.TXT|All Files(*.*)|*.*"
    int filterIndex = 1;
    QString fileName;  // the name the dialog starts with
    QString initDir;
    QString defaultExt;
};

// The answer to a file dialog: a name, or nullopt for Cancel.
using FileDialogAnswer = std::optional<QString>;

class DialogResponder {
public:
    virtual ~DialogResponder() = default;
    virtual int answerBox(const MsgBoxCall &call) = 0;
    virtual FileDialogAnswer answerFile(const FileDialogCall &call) = 0;
};

// Installs a responder (not owned); nullptr restores the real boxes.
void installDialogResponder(DialogResponder *r);
DialogResponder *dialogResponder();

// The common dialog: file open and save with the properties the windows set.
class CommonDialog {
public:
    QString DialogTitle;
    QString Filter;
    int FilterIndex = 1;
    QString FileName;  // kept from one use to the next, as the windows expect
    QString InitDir;
    QString DefaultExt;
    // When set, Cancel raises the run-time error 32755 ("Cancel was selected.").
    bool CancelError = false;

    // True when the user chose a file (FileName then holds it); false for
    // Cancel, FileName left as it was.
    bool ShowOpen(QWidget *parent = nullptr);
    bool ShowSave(QWidget *parent = nullptr);

    // Help: the document HelpFile opened through the shell. HelpCommand 1
    // (contents, at HelpContext) and 4 (help on help) both open the document;
    // there is no separate help on help here. True when the shell took it.
    QString HelpFile;
    int HelpCommand = 0;
    int HelpContext = 0;
    bool ShowHelp();
    bool cancelled() const { return cancelled_; }

private:
    bool show(FileDialogKind kind, QWidget *parent);
    bool cancelled_ = false;
};

// Turns the "Name|pattern|Name|pattern" filter into Qt's name filters.
QStringList qtNameFilters(const QString &filter);
