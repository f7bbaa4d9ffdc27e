// What every resource monitor window shares: its geometry kept in its own
// settings section, the open flag that its unload clears with a line in the
// status line, the error trap of the windows that have one, and the small
// helpers of their handlers (status line, library error text, typed values,
// symbol names).
#pragma once

#include <QString>

class QLabel;
class QLineEdit;
class SSCommand;
class SSPanel;
#include <cstdint>
#include <functional>
#include <optional>

#include "core/codeDBase.h"
#include "core/forms.h"

// Window geometry in twips.
struct Geometry {
    int32_t top, left, height, width;
};

struct WindowSettings {
    QString section;        // settings section ("Registers"); empty: the window keeps none
    QString writeWord;      // word of the "Cannot WRITE ... settings" box
    Geometry valueMissing;  // each value that does not read takes its part of this
    Geometry keyMissing;    // taken whole when the section does not open
    Geometry minMax;        // saved while the window is minimized or maximized
};

// Reads a settings section's "Top", "Left", "Height" and "Width"; a failed
// close shows "Cannot CLOSE <section> key in Registry !".
Geometry readGeometry(const WindowSettings &s);
// Sets Top, Left, Height and Width, in that order.
void placeWindow(Form &f, const Geometry &g);
// Writes "Height", "Left", "Top", "Width": the window's present geometry, or
// the fixed one while it is minimized or maximized.
void storeGeometry(Form &f, const WindowSettings &s);

// The main window's status line: sets the text and redraws it at once.
void ShowStatus(const QString &text);
// Fills ErrorInfo from the connection and returns its text as the
// connection messages give it: with where the link goes, unless the text
// names it (ControllerLink::fetchFailure).
QString LastErrorText();
// A failure line: the words, a line feed and the library's error text.
QString FailureText(const QString &words);

// A typed value: the leading number of the text, limited to lo..hi and
// otherwise rounded to a whole number, halves to the even neighbour.
int32_t EntryValue(const QString &text, double lo, double hi);

// A value typed in a hexadecimal view: one to eight hexadecimal digits (no
// prefix), read as a 32-bit two's complement number; nullopt for any other
// text.
std::optional<int32_t> HexEntry(const QString &text);

// Why nothing can be written now, after the failure words and a line feed
// ("Failed to update value.\nMonitoring is suspended."); empty while the link
// is up and free.
QString LinkRefusal(const QString &words);

// How a write ended: the controller took it, it was not made or the
// controller refused it, or no answer settled it (the controller may still
// have carried it out).
enum class WriteOutcome { Taken, Refused, Unknown };

// Runs a write through the library and shows its outcome in the status line:
// the done text when it returns 1, else the failure words with the library's
// error text, and when no answer settled the outcome, that the controller
// may still have carried it out. A missing library or function counts as a
// write not made. While the link is not up nothing is sent, and the status
// line says why. The entry in box (when given) ends: a write not made or
// refused puts the box back to the value it showed before, one whose outcome
// is not known shows "*" until the next read.
WriteOutcome ReportWrite(const std::function<int32_t()> &call, const QString &done, const QString &failureWords,
                         QLineEdit *box = nullptr);

// The mark of a toggle whose state has not been read: "*", in no state's
// colour and style.
inline const QString NoState = QStringLiteral("*");
void ShowNoState(SSCommand *button);
void ShowNoState(SSPanel *panel);

// A toggle button (and the name label beside it, when there is one) as it
// was before a click drew the state asked for: the controller's last state,
// or "*". When the write ends, the button shows what the controller is known
// to have: the state asked for when it took the write, the state before the
// click when the write was not made or refused, and "*" (the name label
// too) when no answer settled it. Nothing changes when something else (a
// poll, the link going) has drawn the button since the click drew `asked`.
class ToggleShown {
public:
    explicit ToggleShown(SSCommand *button, QLabel *name = nullptr);
    void settle(WriteOutcome outcome, const QString &asked) const;

private:
    SSCommand *button_;
    QLabel *name_;
    QString caption_, nameText_;
    int32_t colour_;
    int font3D_;
};

// Looks a symbolic name up in a snapshot with the criteria given. False (and
// no search) while no symbol file is in use, and when nothing matches.
bool FindSymbolName(SymbolSnapshot &snapshot, const QString &criteria, QString &name);
// "Number = " and the number.
QString NumberCriteria(int32_t n);

// Empties the DDE window's register write box ("RegWrite") or flag write
// box ("FlagWrite") without letting that change write to the controller.
void EmptyDdeWriteBox(const QString &name);
inline void EmptyDdeRegisterWrite() { EmptyDdeWriteBox(QStringLiteral("RegWrite")); }
inline void EmptyDdeFlagWrite() { EmptyDdeWriteBox(QStringLiteral("FlagWrite")); }

// Starts an entry in a value box: empties it and marks the edit and its row;
// the box keeps its value meanwhile (core/shownvalue.h).
void StartEntry(bool &editing, int16_t &editIndex, QLineEdit *box, int row);

// The end of an unfinished entry when its box loses the focus: the edit
// flag is cleared and the box shows its value again.
void AbandonEntry(bool &editing, QLineEdit *box);

// A typed number for a field that takes lo..hi: the box's number rounded to a
// whole number, halves to the even neighbour. Outside the range nothing is
// written: the status line names the field and its range ("Nothing written:
// Register #2 takes whole numbers from -2147483648 to 2147483647, not
// 99999999999."), the box keeps the typing, and nothing is returned.
std::optional<int32_t> TypedValue(QLineEdit *box, const QString &field, double lo, double hi);

// Enter in a value box writes only a number the user typed: the box must
// have been typed into or edited since the program last filled it, and its
// whole text must be a number (decimal; also one to eight hexadecimal digits
// where hex is set). An untouched box, "*", "N/A", "Set" or other text
// writes nothing: the status line says why and False is returned.
bool TypedNumberEntered(QLineEdit *box, bool hex = false);

// The 32-bit range of a typed register value.
inline constexpr double Int32Low = -2147483648.0;
inline constexpr double Int32High = 2147483647.0;

// The base of the resource windows. Its load reads and applies the geometry
// and then runs loadWindow(); its unload saves the geometry, clears the open
// flag and shows the unloaded line. Windows with an error trap show "Error
// Opening Form" (and unload) or "Error unloading form" with the error's
// description; the others let an error through to the caller.
class ResourceWindow : public Form {
    Q_OBJECT
public:
    struct Traits {
        WindowSettings settings;
        bool *openFlag = nullptr;  // cleared by the unload
        QString unloadedText;      // status line after the unload
        bool errorTrap = false;
        QString linkTopic;         // the window's DDE link topic
    };
    ResourceWindow(const QString &name, Traits traits);

    const WindowSettings &settings() const { return traits_.settings; }

protected:
    void Form_Load() override;
    void Form_Unload(int &cancel) override;
    // The window's own part of the load, after the geometry.
    virtual void loadWindow() {}
    // Runs a procedure under the window's error trap (when it has one).
    void trapLoad(const std::function<void()> &body);
    void trapUnload(const std::function<void()> &body);
    void trapped(const std::function<void()> &body, const QString &failure, bool unloadAfter);
    // The standard unload steps: geometry, open flag, status line.
    void standardUnload();

    Traits traits_;
};
