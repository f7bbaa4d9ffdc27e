#include "windows/resourcewindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <cmath>
#include <cstring>

#include "core/basics.h"
#include "core/controls.h"
#include "core/globals.h"
#include "core/mainwindow.h"
#include "core/msgbox.h"
#include "core/runtime_error.h"
#include "core/settings.h"
#include "core/shownvalue.h"

Geometry readGeometry(const WindowSettings &s) {
    Geometry g = s.valueMissing;
    const bool opened = readSettingsSection(s.section, s.section, [&](int32_t key) {
        QueryLongValue(key, QStringLiteral("Top"), g.top);
        QueryLongValue(key, QStringLiteral("Left"), g.left);
        QueryLongValue(key, QStringLiteral("Height"), g.height);
        QueryLongValue(key, QStringLiteral("Width"), g.width);
    });
    return opened ? g : s.keyMissing;
}

void placeWindow(Form &f, const Geometry &g) {
    f.setTop(g.top);
    f.setLeft(g.left);
    f.setHeight(g.height);
    f.setWidth(g.width);
}

void storeGeometry(Form &f, const WindowSettings &s) {
    const Geometry g = f.WindowState() != wsNormal ? s.minMax : Geometry{f.Top(), f.Left(), f.Height(), f.Width()};
    writeSettingsSection(s.section, s.writeWord, s.section, [&](int32_t key) {
        SetLongValue(key, QStringLiteral("Height"), g.height);
        SetLongValue(key, QStringLiteral("Left"), g.left);
        SetLongValue(key, QStringLiteral("Top"), g.top);
        SetLongValue(key, QStringLiteral("Width"), g.width);
    });
}

void ShowStatus(const QString &text) {
    MainWindow &m = mainWindow();
    m.setStatusText(text);
    m.RefreshMessage();
}

QString LastErrorText() { return controllerLink().fetchFailure(ConnectionHandle); }

QString FailureText(const QString &words) { return words + QLatin1Char('\n') + LastErrorText(); }

int32_t EntryValue(const QString &text, double lo, double hi) {
    // A number just inside a limit can round past it (2147483647.5): it
    // stays at the limit.
    const double v = std::nearbyint(leadingNumber(text));
    if (v < lo) return static_cast<int32_t>(lo);
    if (v > hi) return static_cast<int32_t>(hi);
    return static_cast<int32_t>(v);
}

std::optional<int32_t> HexEntry(const QString &text) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 8) return std::nullopt;
    uint32_t v = 0;
    for (QChar c : t) {
        const int d = c.isDigit() && c.unicode() < 128 ? c.unicode() - '0'
                      : (c.toUpper() >= u'A' && c.toUpper() <= u'F') ? c.toUpper().unicode() - 'A' + 10
                                                                     : -1;
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<uint32_t>(d);
    }
    return static_cast<int32_t>(v);
}

QString LinkRefusal(const QString &words) { return controllerLink().refusal(words); }

WriteOutcome ReportWrite(const std::function<int32_t()> &call, const QString &done, const QString &failureWords,
                         QLineEdit *box) {
    // Nothing is sent while the link cannot carry it: the status line says why.
    if (const QString refused = LinkRefusal(failureWords); !refused.isEmpty()) {
        ShownValue::restore(box);
        ShowStatus(refused);
        return WriteOutcome::Refused;
    }
    QString text;
    WriteOutcome outcome = WriteOutcome::Refused;
    try {
        if (call() == 1) {
            outcome = WriteOutcome::Taken;
            text = done;
        } else {
            const auto failed = controllerLink().failedWrite(failureWords, ConnectionHandle);
            if (failed.outcomeUnknown) outcome = WriteOutcome::Unknown;
            text = failed.text;
        }
    } catch (const RuntimeError &e) {
        // The binding found no library or function: nothing was sent.
        text = failureWords + QLatin1Char('\n') + e.description();
    }
    switch (outcome) {
    case WriteOutcome::Taken: ShownValue::endEntry(box); break;
    case WriteOutcome::Refused: ShownValue::restore(box); break;
    case WriteOutcome::Unknown:
        // The value the controller holds is not known until it is read.
        ShownValue::show(box, NoState);
        ShownValue::restore(box);
        break;
    }
    ShowStatus(text);
    return outcome;
}

void ShowNoState(SSCommand *button) {
    button->setCaption(NoState);
    button->setForeColor(ColourNoValue);
    button->setFont3D(Font3DNone);
}

void ShowNoState(SSPanel *panel) {
    panel->setCaption(NoState);
    panel->setForeColor(ColourNoValue);
}

ToggleShown::ToggleShown(SSCommand *button, QLabel *name)
    : button_(button),
      name_(name),
      caption_(button->Caption()),
      nameText_(name ? name->text() : QString()),
      colour_(button->ForeColor()),
      font3D_(button->Font3D()) {}

void ToggleShown::settle(WriteOutcome outcome, const QString &asked) const {
    if (outcome == WriteOutcome::Taken || button_->Caption() != asked) return;
    if (outcome == WriteOutcome::Unknown) {
        ShowNoState(button_);
        if (name_) name_->setText(NoState);
        return;
    }
    button_->setCaption(caption_);
    button_->setForeColor(colour_);
    button_->setFont3D(font3D_);
    if (name_) name_->setText(nameText_);
}

QString NumberCriteria(int32_t n) { return QStringLiteral("Number = ") + QString::number(n); }

bool FindSymbolName(SymbolSnapshot &snapshot, const QString &criteria, QString &name) {
    if (SymbolFilePath.isEmpty()) return false;
    SymbolCriteria = criteria;
    snapshot.FindFirst(SymbolCriteria);
    if (snapshot.NoMatch()) return false;
    SymbolNameField = snapshot.Name();
    name = SymbolNameField;
    return true;
}

void EmptyDdeWriteBox(const QString &name) {
    auto *box = ddeWindow().control<QLineEdit>(name);
    if (!box) return;
    const bool before = DdeWriteSuppress;
    DdeWriteSuppress = true;
    box->clear();
    DdeWriteSuppress = before;
}

void StartEntry(bool &editing, int16_t &editIndex, QLineEdit *box, int row) {
    ShownValue::beginEntry(box);
    box->clear();
    editing = true;
    editIndex = static_cast<int16_t>(row);
}

bool TypedNumberEntered(QLineEdit *box, bool hex) {
    const QString text = box->text().trimmed();
    // The program fills a box with setText, which leaves it unmodified.
    if (!box->isModified() || text.isEmpty()) {
        ShowStatus(QStringLiteral("Nothing written: type a new value, then press Enter."));
        return false;
    }
    static const QRegularExpression decimal(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eEdD][+-]?[0-9]+)?$"));
    static const QRegularExpression prefixed(QStringLiteral("^&[hH][0-9a-fA-F]{1,8}$"));
    bool number = prefixed.match(text).hasMatch() || (hex && HexEntry(text).has_value());
    if (!number && decimal.match(text).hasMatch()) {
        // A number too large for a double is no number either.
        QString t = text;
        t.replace(u'd', u'e').replace(u'D', u'e');
        bool ok = false;
        const double v = QLocale::c().toDouble(t, &ok);
        number = ok && std::isfinite(v);
    }
    if (!number) {
        ShowStatus(QStringLiteral("Nothing written: \"") + text + QStringLiteral("\" is not a number."));
        return false;
    }
    return true;
}

namespace {
QString rangeText(double v) { return QString::number(v, 'f', 0); }
}  // namespace

std::optional<int32_t> TypedValue(QLineEdit *box, const QString &field, double lo, double hi) {
    const double v = std::nearbyint(leadingNumber(box->text()));
    if (v >= lo && v <= hi) return static_cast<int32_t>(v);
    ShowStatus(QStringLiteral("Nothing written: ") + field + QStringLiteral(" takes whole numbers from ") + rangeText(lo) +
               QStringLiteral(" to ") + rangeText(hi) + QStringLiteral(", not ") + box->text().trimmed() +
               QLatin1Char('.'));
    return std::nullopt;
}

void AbandonEntry(bool &editing, QLineEdit *box) {
    if (!editing) return;
    editing = false;
    ShownValue::restore(box);
}

ResourceWindow::ResourceWindow(const QString &name, Traits traits) : Form(name), traits_(std::move(traits)) {
    setProperty("LinkTopic", traits_.linkTopic);
}

void ResourceWindow::trapped(const std::function<void()> &body, const QString &failure, bool unloadAfter) {
    if (!traits_.errorTrap) {
        body();
        return;
    }
    try {
        body();
    } catch (const std::exception &e) {
        MsgBox(failure + QStringLiteral("\r\n") + describeException(e));
        if (unloadAfter) Unload();
    }
}

void ResourceWindow::trapLoad(const std::function<void()> &body) {
    trapped(body, QStringLiteral("Error Opening Form"), true);
}

void ResourceWindow::trapUnload(const std::function<void()> &body) {
    trapped(body, QStringLiteral("Error unloading form"), false);
}

void ResourceWindow::Form_Load() {
    trapLoad([this] {
        if (!traits_.settings.section.isEmpty()) placeWindow(*this, readGeometry(traits_.settings));
        loadWindow();
    });
}

void ResourceWindow::standardUnload() {
    if (!traits_.settings.section.isEmpty()) storeGeometry(*this, traits_.settings);
    if (traits_.openFlag) *traits_.openFlag = false;
    ShowStatus(traits_.unloadedText);
}

void ResourceWindow::Form_Unload(int &) {
    trapUnload([this] { standardUnload(); });
}
