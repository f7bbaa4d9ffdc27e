#include "main/symbolimport.h"

#include <QFile>
#include <QVBoxLayout>
#include <cstdio>

#include "core/basics.h"
#include "core/codeDBase.h"
#include "core/globals.h"
#include "core/runtime_error.h"
#include "core/textlines.h"
#include "main/frmMain.h"

// ---- Parser -------------------------------------------------------------------------

QStringList SymbolFileParser::split(const QString &line) { return splitFields(line); }

QString SymbolFileParser::Field(int k) const {
    return k >= 1 && k <= fields_.size() ? fields_[k - 1] : QStringLiteral("");
}

namespace {
constexpr int BadFileFormat = 321;
[[noreturn]] void refuse(const QString &why) { throw RuntimeError(BadFileFormat, why); }
}  // namespace

void SymbolFileParser::take(const QByteArray &bytes, bool ended) {
    if (bytes.contains('\0')) refuse(QStringLiteral("a NUL byte: ") + QuotedLine(bytes));
    fields_ = split(QString::fromLatin1(bytes));
    // A line that the end of the file cut off before its name may have lost
    // a digit of its numbers too.
    if (!ended && !fields_.isEmpty() && fields_.size() < 4)
        refuse(QStringLiteral("the last line is cut off (no line end, %1 of the 4 fields): ").arg(fields_.size()) +
               QuotedLine(bytes));
}

void SymbolFileParser::Start() {
    TextLineReader lines(MaxSymbolLineLength);
    if (!lines.open(FileName))
        throw RuntimeError(RuntimeErrors::FileNotFound, QStringLiteral("File not found: ") + FileName);
    const qint64 size = std::max<qint64>(1, lines.size());
    percent_ = 0;
    line_ = 0;
    fields_.clear();
    if (Begin) Begin();
    QByteArray bytes;
    try {
        for (;;) {
            const TextLineReader::Read read = lines.next(bytes);
            line_ = lines.lineNumber();
            if (read == TextLineReader::Read::End) break;
            if (read == TextLineReader::Read::Error)
                throw RuntimeError(57, QStringLiteral("Device I/O error (") + lines.errorString() + u')');
            if (read == TextLineReader::Read::TooLong) {
                if (bytes.contains('\0')) take(bytes, true);
                refuse(QStringLiteral("longer than %1 characters: ").arg(MaxSymbolLineLength) + QuotedLine(bytes));
            }
            take(bytes, lines.lineEnded());
            percent_ = int16_t(std::min<qint64>(100, lines.position() * 100 / size));
            // A blank line names nothing.
            if (!fields_.isEmpty() && Line) Line();
        }
    } catch (const RuntimeError &e) {
        fields_.clear();
        throw RuntimeError(e.number(), FileName + QStringLiteral(", line %1: ").arg(line_) + e.description());
    }
    fields_.clear();
    if (End) End();
}

// ---- Progress window ----------------------------------------------------------------------

frmSymbol::frmSymbol() : Form(QStringLiteral("frmSymbol")) {}

void frmSymbol::buildControls() {
    setWindowTitle(QStringLiteral("Scanning Symbol File"));
    auto *layout = new QVBoxLayout(this);
    VSElastic1 = named(new SSPanel(QString(), this), QStringLiteral("VSElastic1"));
    VSElastic1->setFloodType(1);
    VSElastic1->setMinimumSize(360, 40);
    layout->addWidget(VSElastic1);
}

// ---- The parse ------------------------------------------------------------------------------

namespace {
// A field's number as a 32-bit whole number.
int32_t wholeField(const QString &field, const char *what) {
    const auto v = roundToWhole(leadingNumber(field), BoxBits::Bits32);
    if (!v) refuse(QStringLiteral("the %1 %2 does not fit in 32 bits").arg(QLatin1String(what), QuotedLine(field)));
    return *v;
}

QString plainNumber(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", v);
    return QString::fromLatin1(buf);
}

// The Code field's size in the symbol database.
constexpr qsizetype CodeFieldLength = 20;
}  // namespace

SymbolLine ReadSymbolLine(const SymbolFileParser &parser) {
    SymbolLine s;
    s.code = plainNumber(leadingNumber(parser.Field(1)));
    if (s.code.size() > CodeFieldLength)
        refuse(QStringLiteral("the code %1 (%2) is longer than the %3 characters of its field")
                   .arg(QuotedLine(parser.Field(1)), s.code)
                   .arg(CodeFieldLength));
    s.number = wholeField(parser.Field(2), "number");
    s.value = wholeField(parser.Field(3), "value");
    s.name = parser.Field(4).left(40);
    return s;
}

void CheckSymbolFile(const QString &path) {
    SymbolFileParser parser;
    parser.FileName = path;
    parser.Line = [&parser] { ReadSymbolLine(parser); };
    parser.Start();
}

void ParseSymbolFile(const QString &path) {
    SymbolFileParser parser;
    parser.FileName = path;
    parser.Begin = [] {
        SymbolsRecordset.BeginUpdate();
        form<frmSymbol>().Show();
    };
    parser.Line = [&parser] {
        const auto [code, number, value, name] = ReadSymbolLine(parser);
        SymbolCriteria = QStringLiteral("[Code] = ") + code + QStringLiteral(" AND [Number] = ") +
                         QString::number(number) + QStringLiteral(" AND [Value] = ") + QString::number(value);
        if (SymbolsRecordset.Rename(code, number, value, name) == 0) SymbolsRecordset.AddNew(code, number, value, name);
        frmSymbol &progress = form<frmSymbol>();
        progress.VSElastic1->setFloodPercent(parser.Percent());
        progress.VSElastic1->setCaption(numberWithBlank(parser.Percent()) +
                                        QStringLiteral("% of symbol file processed ... please wait."));
        progress.repaint();
    };
    parser.End = [] {
        SymbolsRecordset.EndUpdate();
        unloadForm<frmSymbol>();
        if (formLoaded<frmMain>()) form<frmMain>().repaint();
    };
    try {
        parser.Start();
    } catch (...) {
        SymbolsRecordset.CancelUpdate();
        unloadForm<frmSymbol>();
        throw;
    }
}

void frmMain::ImportSymbolFile() {
    const QString failed = QStringLiteral("Failed to create symbol database!");
    try {
        CMDialog1.DefaultExt = QStringLiteral("SYM");
        CMDialog1.Filter = QStringLiteral("Symbol Files(*.SYM)|*.SYM|All Files(*.*)|*.*");
        CMDialog1.FilterIndex = 1;
        // The dialog is shared with the other file commands and still holds
        // their last name: a cancel chooses no file and changes nothing.
        if (!CMDialog1.ShowOpen(this) || CMDialog1.FileName.isEmpty()) return;
        const QString chosen = CMDialog1.FileName;
        repaint();
        setStatus(QStringLiteral("Creating database, please wait ..."));
        Hourglass wait;
        // The file is read through before the database is touched: one that
        // cannot be taken whole leaves the symbols and the symbol file in
        // use as they were.
        try {
            CheckSymbolFile(chosen);
        } catch (const std::exception &e) {
            setStatus(failed + u'\n' + describeException(e));
            return;
        }
        SymbolFilePath = chosen;
        if (CloseSymbolDatabase() && CreateSymbolDatabase()) {
            ParseSymbolFile(SymbolFilePath);
            OpenSymbolSnapshots();
            setStatus(QStringLiteral("New Symbol Database created."));
            return;
        }
    } catch (const std::exception &e) {
        setStatus(failed + u'\n' + describeException(e));
        SymbolFilePath.clear();
        return;
    }
    setStatus(failed);
    SymbolFilePath.clear();
}
