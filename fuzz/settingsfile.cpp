// The settings file: read, every value queried, one value written back, and
// the file read again, which must keep every section and value it held.
#include <cstdlib>

#include "core/settings.h"
#include "monitor_env.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::monitor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    SettingsStore store(fuzz::inputFile(QStringLiteral("settings.txt"), data, size));
    const auto before = store.read();
    if (!before) return 0;
    int32_t written = 0;
    for (const SettingsStore::Section &s : *before) {
        int32_t key = 0;
        if (!store.openKey(HKEY_CURRENT_USER, SettingsRoot + s.name, key)) continue;
        for (const SettingsStore::Value &v : s.values) {
            int32_t n = 0;
            QString t;
            store.queryLong(key, v.name, n);
            store.queryString(key, v.name, t);
        }
        if (written == 0 && !s.values.isEmpty()) {
            const SettingsStore::Value &v = s.values.front();
            if (v.type == SettingsStore::Type::Text) written = store.setString(key, v.name, v.text) ? 1 : -1;
            else if (v.type == SettingsStore::Type::Dword) written = store.setLong(key, v.name, v.number) ? 1 : -1;
        }
        store.closeKey(key);
    }
    if (written != 1) return 0;
    const auto after = store.read();
    if (!after || after->size() != before->size()) std::abort();
    for (qsizetype i = 0; i < before->size(); ++i) {
        const auto &a = (*before)[i];
        const auto &b = (*after)[i];
        if (a.name != b.name || a.values.size() != b.values.size()) std::abort();
        for (qsizetype k = 0; k < a.values.size(); ++k) {
            const auto &x = a.values[k];
            const auto &y = b.values[k];
            if (x.name != y.name || x.type != y.type || x.number != y.number || x.text != y.text) std::abort();
        }
    }
    return 0;
}
