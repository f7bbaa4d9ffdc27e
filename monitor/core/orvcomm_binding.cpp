#include "core/orvcomm_binding.h"

#include <QCoreApplication>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include "core/runtime_error.h"

namespace OrvComm {
namespace {

const char *const LibraryName = "liborvcomm.so";

struct Slot {
    const char *name;
    void *fn = nullptr;
    bool listed = false;
    Slot *next = nullptr;
};

Slot *g_slots = nullptr;
void *g_handle = nullptr;
QString g_loadedPath;
QString g_fileName;  // another file to load instead (tests)

QString programFolder() {
    if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return QString();
    buf[n] = 0;
    return QFileInfo(QString::fromLocal8Bit(buf)).absolutePath();
}

void *tryOpen(const QString &file, QString &why) {
    void *h = dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char *e = dlerror();
        why = e ? QString::fromLocal8Bit(e) : QStringLiteral("unknown reason");
    }
    return h;
}

void load() {
    if (g_handle) return;
    QString why;
    QStringList tried;
    auto attempt = [&](const QString &file) -> bool {
        tried << file;
        if (void *h = tryOpen(file, why)) {
            g_handle = h;
            g_loadedPath = file;
            // A name found by the loader's search: keep the path it chose,
            // so that the version can be read from the file's real name.
            struct link_map *map = nullptr;
            if (!file.contains(u'/') && dlinfo(h, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name)
                g_loadedPath = QFile::decodeName(map->l_name);
            return true;
        }
        // A file that exists but does not load is an error of its own.
        if (file.contains(u'/') && QFileInfo::exists(file))
            throw RuntimeError(RuntimeErrors::CannotLoadLibrary,
                               QStringLiteral("Error in loading DLL %1: %2").arg(file, why));
        return false;
    };
    if (!g_fileName.isEmpty()) {
        if (attempt(g_fileName)) return;
    } else {
        // The program's own folder first: the loader's search would not
        // look there for a library opened at run time.
        const QString own = programFolder();
        if (!own.isEmpty() && attempt(own + u'/' + QLatin1String(LibraryName))) return;
#ifdef ORVMON_LIBDIR_FROM_BINDIR
        // An installed program: the library folder beside its own, where
        // the runtime package puts the soname link.
        if (!own.isEmpty() &&
            attempt(QDir::cleanPath(own + QStringLiteral("/" ORVMON_LIBDIR_FROM_BINDIR "/") + QLatin1String(LibraryName) +
                                    QStringLiteral(".3"))))
            return;
#endif
        if (attempt(QLatin1String(LibraryName))) return;
        if (attempt(QLatin1String(LibraryName) + QStringLiteral(".3"))) return;
    }
    throw RuntimeError(RuntimeErrors::FileNotFound,
                       QStringLiteral("File not found: %1 (looked for %2)")
                           .arg(QLatin1String(LibraryName), tried.join(QStringLiteral(", "))));
}

void *resolve(Slot &s) {
    if (s.fn) return s.fn;
    if (!s.listed) {
        s.listed = true;
        s.next = g_slots;
        g_slots = &s;
    }
    load();
    dlerror();
    void *p = dlsym(g_handle, s.name);
    if (!p)
        throw RuntimeError(RuntimeErrors::EntryPointMissing,
                           QStringLiteral("Can't find DLL entry point %1 in %2")
                               .arg(QLatin1String(s.name), QFileInfo(g_loadedPath).fileName()));
    s.fn = p;
    return p;
}

}  // namespace

QString loadedLibraryPath() { return g_loadedPath; }
void ensureLoaded() { load(); }

void useLibraryFile(const QString &fileName) {
    // The old library stays mapped: a connection or thread of it may live on.
    g_handle = nullptr;
    g_loadedPath.clear();
    g_fileName = fileName;
    for (Slot *s = g_slots; s; s = s->next) s->fn = nullptr;
}

#define ORV_BIND(ret, name, params, args)                            \
    ret name params {                                                \
        static Slot slot{#name};                                     \
        using Fn = ret(*) params;                                    \
        return reinterpret_cast<Fn>(resolve(slot)) args;             \
    }

ORV_BIND(int32_t, ZqOpenConnection, (int32_t type, int32_t port, int32_t address), (type, port, address))
ORV_BIND(int32_t, ZqOpenNetConnection, (int32_t type, int32_t port, int32_t address, uint32_t serialReadTimeout),
         (type, port, address, serialReadTimeout))
ORV_BIND(int32_t, ZqInitConnection,
         (int32_t id, int32_t baudRate, int32_t parity, int32_t dataBits, int32_t stopBits),
         (id, baudRate, parity, dataBits, stopBits))
ORV_BIND(int32_t, ZqCloseConnection, (int32_t id), (id))
ORV_BIND(int32_t, ZqSetConnectionTimeout, (int32_t id, int32_t milliseconds), (id, milliseconds))
ORV_BIND(int32_t, ZqSetAdapter, (int32_t adapterIndex), (adapterIndex))
ORV_BIND(int32_t, ZqGetAvailableAdaptersIPList, (uint32_t * addresses, int32_t *adapterIndexes, int32_t *count),
         (addresses, adapterIndexes, count))
ORV_BIND(int32_t, ZqUnload, (), ())
ORV_BIND(int32_t, ZqSendData,
         (int32_t id, int32_t packetClass, const uint8_t *request, uint32_t length, uint8_t *reply),
         (id, packetClass, request, length, reply))
ORV_BIND(int32_t, ZqSendAscii, (int32_t id, const uint8_t *text, uint32_t length, uint8_t *reply, uint8_t terminator),
         (id, text, length, reply, terminator))
ORV_BIND(int32_t, ZqGetErrorInfo, (int32_t id, ZQ_ERROR_INFO *info), (id, info))
ORV_BIND(int32_t, ZqGetRegister, (int32_t id, int32_t reg, int32_t *value), (id, reg, value))
ORV_BIND(int32_t, ZqGetRegister16, (int32_t id, int32_t firstReg, int32_t *values16), (id, firstReg, values16))
ORV_BIND(int32_t, ZqGetRegister50, (int32_t id, int32_t block, int32_t *values50), (id, block, values50))
ORV_BIND(int32_t, ZqPutRegister, (int32_t id, int32_t reg, int32_t value), (id, reg, value))
ORV_BIND(int32_t, ZqGetVRegister, (int32_t id, ZQ_VREGISTER *record), (id, record))
ORV_BIND(int32_t, ZqSetVRegister, (int32_t id, ZQ_VREGISTER *record), (id, record))
ORV_BIND(int32_t, ZqPutFlag, (int32_t id, int32_t flag, int32_t value), (id, flag, value))
ORV_BIND(int32_t, ZqGetDataTableDim, (int32_t id, int32_t *rows, int32_t *columns), (id, rows, columns))
ORV_BIND(int32_t, ZqGetDataTableRow, (int32_t id, int32_t row, int32_t firstColumn, int32_t count, int32_t *values),
         (id, row, firstColumn, count, values))
ORV_BIND(int32_t, ZqPutDataTableRow, (int32_t id, int32_t row, int32_t firstColumn, int32_t count, int32_t *values),
         (id, row, firstColumn, count, values))
ORV_BIND(int32_t, ZqGetStatus, (int32_t id, int32_t *status), (id, status))
ORV_BIND(int32_t, ZqPutStatus, (int32_t id, int32_t status), (id, status))
ORV_BIND(int32_t, ZqGetConfig, (int32_t id, int32_t *configuration), (id, configuration))
ORV_BIND(int32_t, ZqPutConfig, (int32_t id, int32_t configuration), (id, configuration))
ORV_BIND(int32_t, ZqGetTaskBank, (int32_t id, int32_t bank, ZQ_TASK_BANK *record), (id, bank, record))
ORV_BIND(int32_t, ZqGetModel, (int32_t id, int32_t *model, int32_t *eaFlag), (id, model, eaFlag))
ORV_BIND(int32_t, ZqGetIoCount, (int32_t id, ZQ_IO_COUNT *counts), (id, counts))
ORV_BIND(int32_t, ZqGetMiscIoCount, (int32_t id, ZQ_MISC_IO_COUNT *counts), (id, counts))
ORV_BIND(int32_t, ZqDownload, (int32_t id, const char *objectFile, ZQ_TRANSFER_STATS *stats), (id, objectFile, stats))
ORV_BIND(int32_t, ZqUpload, (int32_t id, const char *objectFile, ZQ_TRANSFER_STATS *stats), (id, objectFile, stats))

}  // namespace OrvComm
