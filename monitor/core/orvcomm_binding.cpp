#include "core/orvcomm_binding.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <mutex>

#include "core/runtime_error.h"

namespace OrvComm {
namespace {

const char *const LibraryName = "liborvcomm.so";

using detail::Slot;

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
        if (!own.isEmpty() && attempt(QDir::cleanPath(own + QStringLiteral("/" ORVMON_LIBDIR_FROM_BINDIR "/") +
                                                      QLatin1String(LibraryName) + QStringLiteral(".3"))))
            return;
#endif
        if (attempt(QLatin1String(LibraryName))) return;
        if (attempt(QLatin1String(LibraryName) + QStringLiteral(".3"))) return;
    }
    throw RuntimeError(RuntimeErrors::FileNotFound,
                       QStringLiteral("File not found: %1 (looked for %2)")
                           .arg(QLatin1String(LibraryName), tried.join(QStringLiteral(", "))));
}

}  // namespace

void *detail::resolve(Slot &s) {
    if (void *p = s.fn.load(std::memory_order_acquire)) return p;
    static std::mutex lock;
    const std::lock_guard<std::mutex> hold(lock);
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
    s.fn.store(p, std::memory_order_release);
    return p;
}

bool detail::onWindowThread() {
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

QString loadedLibraryPath() { return g_loadedPath; }
void ensureLoaded() { load(); }

void useLibraryFile(const QString &fileName) {
    // The old library stays mapped: a connection or thread of it may live on.
    g_handle = nullptr;
    g_loadedPath.clear();
    g_fileName = fileName;
    for (Slot *s = g_slots; s; s = s->next) s->fn.store(nullptr);
}

}  // namespace OrvComm
