#include "main/symbolimport.h"

#include <QFile>
#include <QVBoxLayout>
#include <cstdio>

#include "core/basics.h"
#include "core/codeDBase.h"
#include "core/globals.h"
#include "core/runtime_error.h"
#include "main/frmMain.h"

// ---- Parser -------------------------------------------------------------------------

QStringList SymbolFileParser::split(const QString &line) { return splitFields(line); }

QString SymbolFileParser::Field(int k) const {
    return k >= 1 && k <= fields_.size() ? fields_[k - 1] : QStringLiteral("");
}

void SymbolFileParser::Start() {
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError(RuntimeErrors::FileNotFound, QStringLiteral("File not found: ") + FileName);
    const qint64 size = std::max<qint64>(1, file.size());
    percent_ = 0;
    fields_.clear();
    if (Begin) Begin();
    while (!file.atEnd()) {
        const QByteArray bytes = file.readLine();
        fields_ = split(QString::fromLatin1(bytes));
        percent_ = int16_t(std::min<qint64>(100, file.pos() * 100 / size));
        // A blank line names nothing.
        if (!fields_.isEmpty() && Line) Line();
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
int32_t wholeField(const QString &field) {
    const auto v = roundToWhole(leadingNumber(field), BoxBits::Bits32);
    if (!v) throw RuntimeError(RuntimeErrors::Overflow, QStringLiteral("Overflow"));
    return *v;
}

QString plainNumber(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", v);
    return QString::fromLatin1(buf);
}
}  // namespace

void ParseSymbolFile(const QString &path) {
    SymbolFileParser parser;
    parser.FileName = path;
    parser.Begin = [] {
        SymbolsRecordset.BeginUpdate();
        form<frmSymbol>().Show();
    };
    parser.Line = [&parser] {
        const QString code = plainNumber(leadingNumber(parser.Field(1)));
        const int32_t number = wholeField(parser.Field(2));
        const int32_t value = wholeField(parser.Field(3));
        const QString name = parser.Field(4).left(40);
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
    try {
        CMDialog1.DefaultExt = QStringLiteral("SYM");
        CMDialog1.Filter = QStringLiteral("Symbol Files(*.SYM)|*.SYM|All Files(*.*)|*.*");
        CMDialog1.FilterIndex = 1;
        // The dialog is shared with the other file commands and still holds
        // their last name: a cancel chooses no file and changes nothing.
        if (!CMDialog1.ShowOpen(this) || CMDialog1.FileName.isEmpty()) return;
        SymbolFilePath = CMDialog1.FileName;
        repaint();
        setStatus(QStringLiteral("Creating database, please wait ..."));
        Hourglass wait;
        if (CloseSymbolDatabase() && CreateSymbolDatabase()) {
            ParseSymbolFile(SymbolFilePath);
            OpenSymbolSnapshots();
            setStatus(QStringLiteral("New Symbol Database created."));
            return;
        }
    } catch (const std::exception &) {
    }
    setStatus(QStringLiteral("Failed to create symbol database!"));
    SymbolFilePath.clear();
}
