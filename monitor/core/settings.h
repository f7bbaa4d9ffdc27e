// The settings store of the monitor program and the six key procedures that
// the windows use on it.
//
// The store is a text file of sections ("keys") holding typed values: DWORD
// numbers and texts are kept apart, and section and value names are matched
// without regard to case. The program opens sections and never creates them;
// when no file exists at all, the store creates one holding every section the
// program uses, empty. Every change is written to the file at once, through a
// temporary file that replaces it, and every open reads the file again, so
// two stores on one file see each other's writes.
//
// The file is $ORVMON_SETTINGS when that is set, else orvmon/settings.txt in
// the user's configuration folder.
//
// File format (UTF-8, one item per line, "#" starts a comment line):
//     [Section name]
//     dword "Value name" 9600
//     sz "Value name" "text with \" \\ \n \xHH escapes"
// A line of another type word is kept as it stands and reads as missing.
// So is a line that cannot be read (a bad number or text, a broken section
// line and the values under it, bytes that are not UTF-8): every other line
// keeps its value, the file keeps the line when it is written again, and the
// calling pattern below names such lines once a run, in one message box.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

// The root of the current user's keys.
inline constexpr int32_t HKEY_CURRENT_USER = static_cast<int32_t>(0x80000001u);
inline constexpr int32_t HKEY_LOCAL_MACHINE = static_cast<int32_t>(0x80000002u);

// The key under which every section lies.
inline const QString SettingsRoot = QStringLiteral("Software\\Veltrane\\ORV Monitor\\");

// Opens an existing section; never creates one. True on success.
bool OpenKey(int32_t root, const QString &keyPath, int32_t &keyHandle);
bool CloseKey(int32_t keyHandle);
// Reads a DWORD value; the variable changes only on success.
bool QueryLongValue(int32_t keyHandle, const QString &valueName, int32_t &value);
bool SetLongValue(int32_t keyHandle, const QString &valueName, int32_t value);
// Reads a text value, cut at its first NUL; the variable changes only on
// success.
bool QueryStringValue(int32_t keyHandle, const QString &valueName, QString &text);
// Writes a text value; a zero handle writes nothing and gives False.
bool SetStringValue(int32_t keyHandle, const QString &valueName, const QString &text);

class SettingsStore {
public:
    // Line: a comment or a line that cannot be read, kept as it stands.
    enum class Type { Dword, Text, Other, Line };
    struct Value {
        QString name;
        Type type = Type::Other;
        int32_t number = 0;
        QString text;      // Text: the text; Other: the raw line
        QByteArray raw;    // Line: the line's bytes
    };
    struct Section {
        QString name;
        QList<Value> values;
    };

    // Every section the program uses, created empty with a new file.
    static QStringList programSections();

    // The store of the program (its file chosen as the header says).
    static SettingsStore &instance();
    // Points the program's store at another file (tests).
    static void setFileForProgram(const QString &path);

    explicit SettingsStore(const QString &path);

    const QString &path() const { return path_; }
    // Why the last operation failed (empty after a success).
    const QString &lastError() const { return error_; }

    bool openKey(int32_t root, const QString &keyPath, int32_t &handle);
    bool closeKey(int32_t handle);
    bool queryLong(int32_t handle, const QString &name, int32_t &value);
    bool setLong(int32_t handle, const QString &name, int32_t value);
    bool queryString(int32_t handle, const QString &name, QString &text);
    bool setString(int32_t handle, const QString &name, const QString &text);

    // Reads the file; nullopt (with lastError) when it cannot be read or
    // parsed. Creates the file with the program's sections when it is absent.
    std::optional<QList<Section>> read();
    // The value of that name in the handle's section, if it has one.
    std::optional<Value> findValue(int32_t handle, const QString &name);
    // The lines that the last read could not read: "line 5 (bad number): ...".
    const QStringList &unreadableLines() const { return unreadable_; }
    // True the first time it is asked for that kind of problem; the calling
    // pattern reports each kind once a run.
    enum class Problem { UnreadableLines, UnreadableFile, UnwritableFile };
    bool firstReport(Problem p);

private:
    bool write(const QList<Section> &sections);
    std::optional<QString> sectionOf(int32_t root, const QString &keyPath) const;
    bool setValue(int32_t handle, const QString &name, const Value &v);
    const QString *handleSection(int32_t handle) const;

    QString path_;
    QString error_;
    QStringList unreadable_;
    QList<Problem> reported_;
    std::map<int32_t, QString> handles_;
    int32_t nextHandle_ = 1;
};

// The calling pattern of a window's settings section.
//
// readSettingsSection opens the section and, when it opens, runs read with the
// key handle (each value that does not read keeps or takes its value-missing
// default there), then closes it; a failed close shows "Cannot CLOSE " +
// closeWord + " key in Registry !". It returns False, silently, when the
// section does not open: the caller applies its key-missing defaults. The
// first read of a run that finds lines it cannot read, or a file it cannot
// read at all, says so in one message box.
//
// writeSettingsSection opens the section and runs write; when the section
// does not open it shows "Cannot WRITE " + writeWord + " settings to
// Registry !" and stores nothing. When the file itself cannot be read or
// written, that box (with the reason) comes once a run, not once a section.
bool readSettingsSection(const QString &section, const QString &closeWord,
                         const std::function<void(int32_t key)> &read);
bool writeSettingsSection(const QString &section, const QString &writeWord, const QString &closeWord,
                          const std::function<void(int32_t key)> &write);
