// The symbol database SYMBOL.MDB: the table Symbols built from a symbol file,
// and one snapshot per resource code through which the windows find names.
//
// The database is an SQLite file named SYMBOL.MDB in the per-user data folder
// ($ORVMON_DATA_DIR when set, else orvmon/ in the user's data folder). Its
// texts compare without regard to case, and its field sizes are enforced.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

// Where the database lives, and its file.
QString SymbolDataFolder();
QString SymbolDatabasePath();

struct SymbolRow {
    QString code;
    int32_t number = 0;
    int32_t value = 0;
    QString name;
};

// A read-only snapshot of the rows of one code, read into memory once and
// sorted by number (rows of one number in the order they were stored).
class SymbolSnapshot {
public:
    explicit SymbolSnapshot(const char *code) : code_(QString::fromLatin1(code)) {}

    const QString &code() const { return code_; }
    bool isOpen() const { return open_; }
    const std::vector<SymbolRow> &rows() const { return rows_; }

    // Finds the first row that meets criteria of the form "Number = 5" or
    // "Number = 5 AND Value = 0" (fields Number, Value, Code, Name; texts in
    // single quotes). A snapshot that is not open finds nothing. Raises
    // RuntimeError for criteria it cannot read.
    bool FindFirst(const QString &criteria);
    bool findFirst(int32_t number);
    bool findFirst(int32_t number, int32_t value);
    // True when the last search found nothing.
    bool NoMatch() const { return noMatch_; }
    // The Name field of the current row (empty with no current row).
    QString Name() const;

    void open(std::vector<SymbolRow> rows);
    void close();

private:
    bool findWith(const std::function<bool(const SymbolRow &)> &test);
    QString code_;
    bool open_ = false;
    bool noMatch_ = true;
    std::vector<SymbolRow> rows_;
    qsizetype current_ = -1;
};

// The table Symbols, opened for adding rows (the symbol import).
class SymbolTable {
public:
    bool isOpen() const { return open_; }
    // Adds one row; raises RuntimeError with the database's description when
    // the row is refused (a duplicate, a text too long).
    void AddNew(const QString &code, int32_t number, int32_t value, const QString &name);
    // Sets the name of every row of that code, number and value; the number
    // of rows renamed. Raises RuntimeError when the database refuses.
    int Rename(const QString &code, int32_t number, int32_t value, const QString &name);
    // Number of rows in the table.
    int RecordCount() const;
    // Rows added or renamed between these two calls are stored together.
    void BeginUpdate();
    void EndUpdate();
    // Drops what was added or renamed since BeginUpdate.
    void CancelUpdate();

    void setOpen(bool on) { open_ = on; }

private:
    bool open_ = false;
};

inline SymbolTable SymbolsRecordset;
inline QString SymbolCriteria;   // the last query or search criterion
inline QString SymbolNameField;  // the Name field of the last row found

inline SymbolSnapshot SymAnalogInputs{"2"};
inline SymbolSnapshot SymAnalogOutputs{"4"};
inline SymbolSnapshot SymRegisters2{"8"};
inline SymbolSnapshot SymFlags{"64"};
inline SymbolSnapshot SymDigitalInputs{"128"};
inline SymbolSnapshot SymRegisters{"1024"};
inline SymbolSnapshot SymServos{"2048"};
inline SymbolSnapshot SymSteps{"8192"};
inline SymbolSnapshot SymDigitalOutputs{"131072"};

// The nine snapshots in the order they are opened and closed.
std::vector<SymbolSnapshot *> symbolSnapshots();

// Creates the empty database (removing an old one first) and opens the
// table; False after the two failure messages.
bool CreateSymbolDatabase();
// Opens the nine snapshots; one message on failure, the earlier ones stay.
void OpenSymbolSnapshots();
// Closes everything and removes the database files; False after a message.
bool CloseSymbolDatabase();

// The display of a digital input or output: its name, state text and colour.
struct SymbolDisplay {
    QString name;
    QString stateText;
    int32_t colour = 0;
};
inline SymbolDisplay OutputDisplay;

// The names of digital input n and output n in the given state (1 on).
SymbolDisplay InputSymbolName(int32_t n, int32_t state);
SymbolDisplay OutputSymbolName(int32_t n, int32_t state);
