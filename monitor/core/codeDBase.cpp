#include "core/codeDBase.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#include "core/globals.h"
#include "core/msgbox.h"
#include "core/runtime_error.h"
#include "core/basics.h"

namespace {

const QString ConnectionName = QStringLiteral("orvmon-symbols");

// The database and the files SQLite keeps beside it; nothing else of the
// folder is ever removed.
QStringList databaseFiles() {
    const QString db = SymbolDatabasePath();
    return {db, db + QStringLiteral("-journal"), db + QStringLiteral("-wal"), db + QStringLiteral("-shm")};
}

[[noreturn]] void raise(const QString &what) { throw RuntimeError(RuntimeErrors::DatabaseError, what); }

void exec(QSqlQuery &q, const QString &sql) {
    if (!q.exec(sql)) raise(q.lastError().text());
}

void closeConnection() {
    for (SymbolSnapshot *s : symbolSnapshots()) s->close();
    SymbolsRecordset.setOpen(false);
    if (QSqlDatabase::contains(ConnectionName)) {
        {
            QSqlDatabase db = QSqlDatabase::database(ConnectionName, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(ConnectionName);
    }
}

void removeFiles() {
    for (const QString &f : databaseFiles()) {
        if (QFileInfo::exists(f) && !QFile::remove(f))
            raise(QStringLiteral("Cannot delete %1: %2").arg(f, QFile(f).errorString()));
    }
}

QSqlDatabase database() {
    if (!QSqlDatabase::contains(ConnectionName)) raise(QStringLiteral("The symbol database is not open."));
    return QSqlDatabase::database(ConnectionName, false);
}

QString stripQuotes(QString s) {
    s = s.trimmed();
    if (s.size() >= 2 && ((s.startsWith(u'\'') && s.endsWith(u'\'')) || (s.startsWith(u'"') && s.endsWith(u'"'))))
        return s.mid(1, s.size() - 2);
    return s;
}

}  // namespace

QString SymbolDataFolder() {
    const QByteArray env = qgetenv("ORVMON_DATA_DIR");
    if (!env.isEmpty()) return QString::fromLocal8Bit(env);
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/orvmon");
}

QString SymbolDatabasePath() { return SymbolDataFolder() + QStringLiteral("/SYMBOL.MDB"); }

std::vector<SymbolSnapshot *> symbolSnapshots() {
    return {&SymAnalogInputs, &SymAnalogOutputs, &SymRegisters2, &SymFlags,         &SymDigitalInputs,
            &SymRegisters,    &SymServos,        &SymSteps,      &SymDigitalOutputs};
}

// ---- Snapshots ------------------------------------------------------------------

void SymbolSnapshot::open(std::vector<SymbolRow> rows) {
    rows_ = std::move(rows);
    open_ = true;
    noMatch_ = true;
    current_ = -1;
}

void SymbolSnapshot::close() {
    rows_.clear();
    open_ = false;
    noMatch_ = true;
    current_ = -1;
}

QString SymbolSnapshot::Name() const {
    return current_ >= 0 && current_ < static_cast<qsizetype>(rows_.size()) ? rows_[current_].name : QString();
}

bool SymbolSnapshot::findWith(const std::function<bool(const SymbolRow &)> &test) {
    current_ = -1;
    noMatch_ = true;
    if (!open_) return false;
    for (size_t i = 0; i < rows_.size(); ++i)
        if (test(rows_[i])) {
            current_ = static_cast<qsizetype>(i);
            noMatch_ = false;
            return true;
        }
    return false;
}

bool SymbolSnapshot::findFirst(int32_t number) {
    return findWith([&](const SymbolRow &r) { return r.number == number; });
}

bool SymbolSnapshot::findFirst(int32_t number, int32_t value) {
    return findWith([&](const SymbolRow &r) { return r.number == number && r.value == value; });
}

bool SymbolSnapshot::FindFirst(const QString &criteria) {
    struct Term {
        QString field;
        QString text;
    };
    std::vector<Term> terms;
    static const QRegularExpression andSplit(QStringLiteral("\\s+AND\\s+"),
                                             QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression term(QStringLiteral("^\\s*\\[?(\\w+)\\]?\\s*=\\s*(.+?)\\s*$"));
    for (const QString &part : criteria.split(andSplit)) {
        const auto m = term.match(part);
        if (!m.hasMatch()) raise(QStringLiteral("Syntax error in criteria: %1").arg(criteria));
        const QString field = m.captured(1).toLower();
        if (field != u"number" && field != u"value" && field != u"code" && field != u"name")
            raise(QStringLiteral("Unknown field %1 in criteria: %2").arg(m.captured(1), criteria));
        terms.push_back({field, stripQuotes(m.captured(2))});
    }
    return findWith([&](const SymbolRow &r) {
        for (const Term &t : terms) {
            if (t.field == u"number" || t.field == u"value") {
                const double want = leadingNumber(t.text);
                if ((t.field == u"number" ? r.number : r.value) != want) return false;
            } else if ((t.field == u"code" ? r.code : r.name).compare(t.text, Qt::CaseInsensitive) != 0) {
                return false;
            }
        }
        return true;
    });
}

// ---- Table ------------------------------------------------------------------------

void SymbolTable::AddNew(const QString &code, int32_t number, int32_t value, const QString &name) {
    if (!open_) raise(QStringLiteral("The table Symbols is not open."));
    QSqlQuery q(database());
    q.prepare(QStringLiteral("INSERT INTO Symbols (Code, Number, Value, Name) VALUES (?, ?, ?, ?)"));
    q.addBindValue(code);
    q.addBindValue(number);
    q.addBindValue(value);
    q.addBindValue(name);
    if (!q.exec()) raise(q.lastError().databaseText().isEmpty() ? q.lastError().text() : q.lastError().databaseText());
}

int SymbolTable::Rename(const QString &code, int32_t number, int32_t value, const QString &name) {
    if (!open_) raise(QStringLiteral("The table Symbols is not open."));
    QSqlQuery q(database());
    q.prepare(QStringLiteral("UPDATE Symbols SET Name = ? WHERE Code = ? AND Number = ? AND Value = ?"));
    q.addBindValue(name);
    q.addBindValue(code);
    q.addBindValue(number);
    q.addBindValue(value);
    if (!q.exec()) raise(q.lastError().databaseText().isEmpty() ? q.lastError().text() : q.lastError().databaseText());
    return q.numRowsAffected();
}

void SymbolTable::BeginUpdate() {
    if (open_ && !database().transaction()) raise(database().lastError().text());
}

void SymbolTable::EndUpdate() {
    if (open_ && !database().commit()) raise(database().lastError().text());
}

void SymbolTable::CancelUpdate() {
    if (open_ && QSqlDatabase::contains(ConnectionName)) database().rollback();
}

int SymbolTable::RecordCount() const {
    if (!open_) return 0;
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM Symbols")) || !q.next()) return 0;
    return q.value(0).toInt();
}

// ---- Creation, snapshots, removal --------------------------------------------------

bool CreateSymbolDatabase() {
    try {
        closeConnection();
        if (QFileInfo::exists(SymbolDatabasePath())) removeFiles();
        if (!QDir().mkpath(SymbolDataFolder()))
            raise(QStringLiteral("Cannot create the folder %1").arg(SymbolDataFolder()));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), ConnectionName);
            db.setDatabaseName(SymbolDatabasePath());
            if (!db.open()) raise(db.lastError().text());
            QSqlQuery q(db);
            exec(q, QStringLiteral(
                        "CREATE TABLE Symbols ("
                        " Code TEXT NOT NULL COLLATE NOCASE CHECK (length(Code) <= 20),"
                        " Number INTEGER NOT NULL CHECK (typeof(Number) = 'integer'"
                        "   AND Number BETWEEN -2147483648 AND 2147483647),"
                        " Value INTEGER NOT NULL CHECK (typeof(Value) = 'integer'"
                        "   AND Value BETWEEN -2147483648 AND 2147483647),"
                        " Name TEXT NOT NULL COLLATE NOCASE CHECK (length(Name) <= 40))"));
            exec(q, QStringLiteral("CREATE UNIQUE INDEX PrimaryKey ON Symbols (Code, Number, Value, Name)"));
        }
        SymbolsRecordset.setOpen(true);
        return true;
    } catch (const std::exception &e) {
        closeConnection();
        MsgBox(QStringLiteral("Failed to create Symbol Database file!"));
        MsgBox(describeException(e), mbExclamation);
        return false;
    }
}

void OpenSymbolSnapshots() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        for (SymbolSnapshot *s : symbolSnapshots()) {
            SymbolCriteria = QStringLiteral("SELECT * FROM Symbols WHERE [Code] = '") + s->code() +
                             QStringLiteral("' ORDER BY Number");
            QSqlQuery q(database());
            q.setForwardOnly(true);
            // Rows of one number keep the order in which they were stored.
            q.prepare(QStringLiteral("SELECT Code, Number, Value, Name FROM Symbols WHERE Code = ? "
                                     "ORDER BY Number, rowid"));
            q.addBindValue(s->code());
            if (!q.exec()) raise(q.lastError().text());
            std::vector<SymbolRow> rows;
            while (q.next())
                rows.push_back({q.value(0).toString(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toString()});
            s->open(std::move(rows));
        }
    } catch (const std::exception &) {
        QApplication::restoreOverrideCursor();
        MsgBox(QStringLiteral("Failed to create Symbol Snapshots!"));
        return;
    }
    QApplication::restoreOverrideCursor();
}

bool CloseSymbolDatabase() {
    try {
        closeConnection();
        removeFiles();
        return true;
    } catch (const std::exception &e) {
        MsgBox(QStringLiteral("Failed to delete Symbol Database file!") + u'\n' + describeException(e));
        return false;
    }
}

// ---- Digital input and output names -----------------------------------------------------

namespace {
QString lookup(SymbolSnapshot &snapshot, int32_t n, int32_t value, const QString &fallback) {
    if (SymbolFilePath.isEmpty()) return fallback;
    SymbolCriteria = QStringLiteral("Number = %1 AND Value = %2").arg(n).arg(value);
    if (!snapshot.findFirst(n, value)) return fallback;
    SymbolNameField = snapshot.Name();
    return SymbolNameField;
}
}  // namespace

SymbolDisplay InputSymbolName(int32_t n, int32_t state) {
    // An input that is on shows the name stored for value 0, one that is off
    // the name for value 1.
    if (state == 1)
        return {lookup(SymDigitalInputs, n, 0, QStringLiteral("in_%1A").arg(n)), QStringLiteral("On"),
                ColourDarkGreen};
    if (state == 0)
        return {lookup(SymDigitalInputs, n, 1, QStringLiteral("in_%1B").arg(n)), QStringLiteral("Off"), ColourRed};
    return {};
}

SymbolDisplay OutputSymbolName(int32_t n, int32_t state) {
    if (state == 1)
        return {lookup(SymDigitalOutputs, n, 1, QStringLiteral("OUT_%1_ON").arg(n)), QStringLiteral("On"),
                ColourDarkGreen};
    return {lookup(SymDigitalOutputs, n, 0, QStringLiteral("OUT_%1_OFF").arg(n)), QStringLiteral("Off"), ColourRed};
}
