#include "core/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <memory>

#include "core/msgbox.h"

namespace {

QString defaultPath() {
    const QByteArray env = qgetenv("ORVMON_SETTINGS");
    if (!env.isEmpty()) return QString::fromLocal8Bit(env);
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/orvmon/settings.txt");
}

std::unique_ptr<SettingsStore> &programStore() {
    static std::unique_ptr<SettingsStore> s;
    return s;
}

QString quote(const QString &s) {
    QString out = QStringLiteral("\"");
    for (QChar c : s) {
        const ushort u = c.unicode();
        if (c == u'\\') out += QStringLiteral("\\\\");
        else if (c == u'"') out += QStringLiteral("\\\"");
        else if (c == u'\n') out += QStringLiteral("\\n");
        else if (c == u'\r') out += QStringLiteral("\\r");
        else if (c == u'\t') out += QStringLiteral("\\t");
        else if (u < 0x20 || u == 0x7F) out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else out += c;
    }
    out += u'"';
    return out;
}

// Reads a quoted text at pos; advances pos past it.
std::optional<QString> unquote(const QString &line, int &pos) {
    if (pos >= line.size() || line.at(pos) != u'"') return std::nullopt;
    QString out;
    for (++pos; pos < line.size(); ++pos) {
        const QChar c = line.at(pos);
        if (c == u'"') {
            ++pos;
            return out;
        }
        if (c != u'\\') {
            out += c;
            continue;
        }
        if (++pos >= line.size()) return std::nullopt;
        const QChar e = line.at(pos);
        if (e == u'\\' || e == u'"') out += e;
        else if (e == u'n') out += u'\n';
        else if (e == u'r') out += u'\r';
        else if (e == u't') out += u'\t';
        else if (e == u'x') {
            if (pos + 2 >= line.size()) return std::nullopt;
            bool ok = false;
            const int v = line.mid(pos + 1, 2).toInt(&ok, 16);
            if (!ok) return std::nullopt;
            out += QChar(v);
            pos += 2;
        } else return std::nullopt;
    }
    return std::nullopt;
}

void skipBlanks(const QString &line, int &pos) {
    while (pos < line.size() && (line.at(pos) == u' ' || line.at(pos) == u'\t')) ++pos;
}

bool sameName(const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

const QString FileHeading = QStringLiteral("# orvmon settings");

}  // namespace

QStringList SettingsStore::programSections() {
    return {QStringLiteral("Communications"), QStringLiteral("DDE Setup"), QStringLiteral("Files"),
            QStringLiteral("Main"),           QStringLiteral("Registers"), QStringLiteral("NVram"),
            QStringLiteral("Analin"),         QStringLiteral("Analout"),   QStringLiteral("Custom1"),
            QStringLiteral("Custom2"),        QStringLiteral("Flags"),     QStringLiteral("Digin"),
            QStringLiteral("Digout"),         QStringLiteral("Servo"),     QStringLiteral("Status"),
            QStringLiteral("Dtable")};
}

SettingsStore &SettingsStore::instance() {
    auto &s = programStore();
    if (!s) s = std::make_unique<SettingsStore>(defaultPath());
    return *s;
}

void SettingsStore::setFileForProgram(const QString &path) {
    programStore() = std::make_unique<SettingsStore>(path.isEmpty() ? defaultPath() : path);
}

SettingsStore::SettingsStore(const QString &path) : path_(path) {}

std::optional<QList<SettingsStore::Section>> SettingsStore::read() {
    error_.clear();
    unreadable_.clear();
    QFile file(path_);
    if (!file.exists()) {
        // A first start: lay the file out as an installation would.
        QList<Section> fresh;
        for (const QString &name : programSections()) fresh.append(Section{name, {}});
        QDir().mkpath(QFileInfo(path_).absolutePath());
        if (!write(fresh)) return std::nullopt;
        return fresh;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        error_ = QStringLiteral("cannot read %1: %2").arg(path_, file.errorString());
        return std::nullopt;
    }
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error_ = QStringLiteral("cannot read %1: %2").arg(path_, file.errorString());
        return std::nullopt;
    }
    if (content.endsWith('\n')) content.chop(1);

    // Lines before the first section, and those under a section line that
    // cannot be read, belong to no section: they are kept in one of no name,
    // which no key opens.
    QList<Section> sections{Section{}};
    qsizetype current = 0;
    int lineNo = 0;
    // A line that cannot be read is kept as it stands (and so written back
    // as it stands) and reads as missing; the values on other lines keep
    // theirs.
    auto keep = [&](const QByteArray &raw, const QString &why) {
        Value v;
        v.type = Type::Line;
        v.raw = raw;
        sections[current].values.append(v);
        if (!why.isEmpty())
            unreadable_.append(QStringLiteral("line %1 (%2): %3").arg(lineNo).arg(why, QString::fromUtf8(raw)));
    };
    const QList<QByteArray> lines = content.isEmpty() ? QList<QByteArray>() : content.split('\n');
    for (QByteArray raw : lines) {
        ++lineNo;
        if (raw.endsWith('\r')) raw.chop(1);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString line = utf8.decode(raw);
        if (utf8.hasError()) {
            keep(raw, QStringLiteral("not UTF-8 text"));
            continue;
        }
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty()) continue;
        if (trimmed.startsWith(u'#')) {
            // The file's own first line is written anew each time.
            if (!(lineNo == 1 && trimmed == FileHeading)) keep(raw, QString());
            continue;
        }
        if (trimmed.startsWith(u'[')) {
            if (!trimmed.endsWith(u']') || trimmed.size() < 3) {
                current = sections.size();
                sections.append(Section{});
                keep(raw, QStringLiteral("bad section line; the values under it are not used"));
                continue;
            }
            const QString name = trimmed.mid(1, trimmed.size() - 2);
            current = -1;
            for (qsizetype i = 1; i < sections.size(); ++i)
                if (!sections[i].name.isEmpty() && sameName(sections[i].name, name)) current = i;
            if (current < 0) {
                sections.append(Section{name, {}});
                current = sections.size() - 1;
            }
            continue;
        }
        int pos = 0;
        int start = pos;
        while (pos < trimmed.size() && trimmed.at(pos).isLetterOrNumber()) ++pos;
        const QString type = trimmed.mid(start, pos - start);
        if (type.isEmpty()) {
            keep(raw, QStringLiteral("missing type"));
            continue;
        }
        skipBlanks(trimmed, pos);
        auto name = unquote(trimmed, pos);
        if (!name) {
            keep(raw, QStringLiteral("bad value name"));
            continue;
        }
        skipBlanks(trimmed, pos);
        Value v;
        v.name = *name;
        if (type == QLatin1String("dword")) {
            bool ok = false;
            const qlonglong n = trimmed.mid(pos).trimmed().toLongLong(&ok);
            if (!ok || n < INT32_MIN || n > INT32_MAX) {
                keep(raw, QStringLiteral("bad number"));
                continue;
            }
            v.type = Type::Dword;
            v.number = static_cast<int32_t>(n);
        } else if (type == QLatin1String("sz")) {
            auto text = unquote(trimmed, pos);
            skipBlanks(trimmed, pos);
            if (!text || pos != trimmed.size()) {
                keep(raw, QStringLiteral("bad text"));
                continue;
            }
            v.type = Type::Text;
            v.text = *text;
        } else {
            v.type = Type::Other;
            v.text = trimmed;
        }
        if (current == 0 || sections[current].name.isEmpty()) {
            // A value in no section: kept, not used.
            keep(raw, current == 0 ? QStringLiteral("value outside a section") : QString());
            continue;
        }
        Section *target = &sections[current];
        bool replaced = false;
        for (Value &old : target->values)
            if (old.type != Type::Line && sameName(old.name, v.name)) { old = v; replaced = true; break; }
        if (!replaced) target->values.append(v);
    }
    if (sections.front().values.isEmpty()) sections.removeFirst();
    return sections;
}

bool SettingsStore::write(const QList<Section> &sections) {
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) {
        error_ = QStringLiteral("cannot write %1: %2").arg(path_, file.errorString());
        return false;
    }
    QByteArray out = FileHeading.toUtf8() + '\n';
    for (const Section &s : sections) {
        if (!s.name.isEmpty()) out += QStringLiteral("[%1]\n").arg(s.name).toUtf8();
        for (const Value &v : s.values) {
            switch (v.type) {
            case Type::Dword: out += QStringLiteral("dword %1 %2\n").arg(quote(v.name)).arg(v.number).toUtf8(); break;
            case Type::Text: out += QStringLiteral("sz %1 %2\n").arg(quote(v.name), quote(v.text)).toUtf8(); break;
            case Type::Other: out += v.text.toUtf8() + '\n'; break;
            case Type::Line: out += v.raw + '\n'; break;
            }
        }
    }
    file.write(out);
    if (!file.commit()) {
        error_ = QStringLiteral("cannot write %1: %2").arg(path_, file.errorString());
        return false;
    }
    return true;
}

std::optional<QString> SettingsStore::sectionOf(int32_t root, const QString &keyPath) const {
    if (root != HKEY_CURRENT_USER) return std::nullopt;
    if (!keyPath.startsWith(SettingsRoot, Qt::CaseInsensitive)) return std::nullopt;
    const QString section = keyPath.mid(SettingsRoot.size());
    if (section.isEmpty() || section.contains(u'\\')) return std::nullopt;
    return section;
}

const QString *SettingsStore::handleSection(int32_t handle) const {
    auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : &it->second;
}

bool SettingsStore::openKey(int32_t root, const QString &keyPath, int32_t &handle) {
    const auto section = sectionOf(root, keyPath);
    if (!section) return false;
    const auto sections = read();
    if (!sections) return false;
    for (const Section &s : *sections) {
        if (sameName(s.name, *section)) {
            const int32_t h = nextHandle_++;
            if (nextHandle_ <= 0) nextHandle_ = 1;
            handles_[h] = s.name;
            handle = h;
            return true;
        }
    }
    return false;
}

bool SettingsStore::closeKey(int32_t handle) { return handles_.erase(handle) == 1; }

std::optional<SettingsStore::Value> SettingsStore::findValue(int32_t handle, const QString &name) {
    const QString *section = handleSection(handle);
    if (!section) return std::nullopt;
    const auto sections = read();
    if (!sections) return std::nullopt;
    for (const Section &s : *sections) {
        if (!sameName(s.name, *section)) continue;
        for (const Value &v : s.values)
            if (sameName(v.name, name)) return v;
    }
    return std::nullopt;
}

bool SettingsStore::queryLong(int32_t handle, const QString &name, int32_t &value) {
    const auto v = findValue(handle, name);
    if (!v || v->type != Type::Dword) return false;
    value = v->number;
    return true;
}

bool SettingsStore::queryString(int32_t handle, const QString &name, QString &text) {
    const auto v = findValue(handle, name);
    if (!v || v->type != Type::Text) return false;
    const int nul = v->text.indexOf(QChar(0));
    text = nul < 0 ? v->text : v->text.left(nul);
    return true;
}

bool SettingsStore::setValue(int32_t handle, const QString &name, const Value &nv) {
    const QString *section = handleSection(handle);
    if (!section) return false;
    auto sections = read();
    if (!sections) return false;
    for (Section &s : *sections) {
        if (!sameName(s.name, *section)) continue;
        for (Value &v : s.values)
            if (sameName(v.name, name)) {
                const QString keep = v.name;  // the stored spelling stays
                v = nv;
                v.name = keep;
                return write(*sections);
            }
        s.values.append(nv);
        return write(*sections);
    }
    error_ = QStringLiteral("section %1 is gone from %2").arg(*section, path_);
    return false;
}

bool SettingsStore::setLong(int32_t handle, const QString &name, int32_t value) {
    Value v;
    v.name = name;
    v.type = Type::Dword;
    v.number = value;
    return setValue(handle, name, v);
}

bool SettingsStore::setString(int32_t handle, const QString &name, const QString &text) {
    if (handle == 0) return false;
    Value v;
    v.name = name;
    v.type = Type::Text;
    v.text = text;
    return setValue(handle, name, v);
}

bool OpenKey(int32_t root, const QString &keyPath, int32_t &keyHandle) {
    return SettingsStore::instance().openKey(root, keyPath, keyHandle);
}
bool CloseKey(int32_t keyHandle) { return SettingsStore::instance().closeKey(keyHandle); }
bool QueryLongValue(int32_t keyHandle, const QString &valueName, int32_t &value) {
    return SettingsStore::instance().queryLong(keyHandle, valueName, value);
}
bool SetLongValue(int32_t keyHandle, const QString &valueName, int32_t value) {
    return SettingsStore::instance().setLong(keyHandle, valueName, value);
}
bool QueryStringValue(int32_t keyHandle, const QString &valueName, QString &text) {
    return SettingsStore::instance().queryString(keyHandle, valueName, text);
}
bool SetStringValue(int32_t keyHandle, const QString &valueName, const QString &text) {
    return SettingsStore::instance().setString(keyHandle, valueName, text);
}

bool SettingsStore::firstReport(Problem p) {
    if (reported_.contains(p)) return false;
    reported_.append(p);
    return true;
}

namespace {
// At most this many unreadable lines are named in the box.
constexpr qsizetype NamedLines = 10;

void reportReadProblems() {
    SettingsStore &store = SettingsStore::instance();
    if (!store.lastError().isEmpty()) {
        if (store.firstReport(SettingsStore::Problem::UnreadableFile))
            MsgBox(QStringLiteral("The settings file cannot be read, so every setting takes its default.\n") +
                       store.lastError(),
                   mbExclamation);
        return;
    }
    const QStringList &lines = store.unreadableLines();
    if (lines.isEmpty() || !store.firstReport(SettingsStore::Problem::UnreadableLines)) return;
    QString text = QStringLiteral("These lines of the settings file %1 cannot be read:\n").arg(store.path());
    text += QStringList(lines.mid(0, NamedLines)).join(u'\n');
    if (lines.size() > NamedLines) text += QStringLiteral("\n... and %1 more.").arg(lines.size() - NamedLines);
    text += QStringLiteral("\nTheir settings take their defaults; every other line is used, and the lines are kept "
                           "in the file as they stand.");
    MsgBox(text, mbExclamation);
}
}  // namespace

bool readSettingsSection(const QString &section, const QString &closeWord,
                         const std::function<void(int32_t key)> &read) {
    int32_t key = 0;
    const bool opened = OpenKey(HKEY_CURRENT_USER, SettingsRoot + section, key);
    reportReadProblems();
    if (!opened) return false;
    if (read) read(key);
    if (!CloseKey(key)) MsgBox(QStringLiteral("Cannot CLOSE ") + closeWord + QStringLiteral(" key in Registry !"));
    return true;
}

bool writeSettingsSection(const QString &section, const QString &writeWord, const QString &closeWord,
                          const std::function<void(int32_t key)> &write) {
    int32_t key = 0;
    SettingsStore &store = SettingsStore::instance();
    if (!OpenKey(HKEY_CURRENT_USER, SettingsRoot + section, key)) {
        const QString words = QStringLiteral("Cannot WRITE ") + writeWord + QStringLiteral(" settings to Registry !");
        // A file that cannot be read is not one missing section but all of
        // them: one box says so.
        if (store.lastError().isEmpty()) MsgBox(words);
        else if (store.firstReport(SettingsStore::Problem::UnwritableFile)) MsgBox(words + u'\n' + store.lastError());
        return false;
    }
    if (write) write(key);
    // A failed value is not reported on its own; a file that takes no
    // value at all is, once.
    if (!store.lastError().isEmpty() && store.firstReport(SettingsStore::Problem::UnwritableFile))
        MsgBox(QStringLiteral("Cannot WRITE ") + writeWord + QStringLiteral(" settings to Registry !\n") +
               store.lastError());
    if (!CloseKey(key)) MsgBox(QStringLiteral("Cannot CLOSE ") + closeWord + QStringLiteral(" key in Registry !"));
    return true;
}
