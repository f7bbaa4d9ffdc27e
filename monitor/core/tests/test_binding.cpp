// The library binding: loaded on the first call, each function bound on its
// first use, and a missing library or function a clear run-time error.
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest/QTest>

#include "core/orvcomm_binding.h"
#include "core/runtime_error.h"
#include "harness/harness.h"

using namespace OrvComm;

class TestBinding : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { useLibraryFile(QString()); }
    void loadsFromTheProgramFolderOnFirstCall();
    void aLibraryFoundByTheLoaderKeepsItsPath();
    void missingLibraryIsARuntimeError();
    void missingFunctionIsARuntimeError();
    void readsARegisterFromTheEmulator();
};

void TestBinding::loadsFromTheProgramFolderOnFirstCall() {
    QCOMPARE(loadedLibraryPath(), QString());
    ZQ_ERROR_INFO info{};
    info.code = 77;
    QCOMPARE(OrvComm::ZqGetErrorInfo(123456, &info), 0);  // an unknown connection
    QCOMPARE(info.code, 77);
    QCOMPARE(loadedLibraryPath(), QCoreApplication::applicationDirPath() + QStringLiteral("/liborvcomm.so"));
}

// An installed program finds the library by the loader's search: the path
// the loader chose is kept, so that the version can be read from the file.
void TestBinding::aLibraryFoundByTheLoaderKeepsItsPath() {
    useLibraryFile(QStringLiteral("liborvcomm.so.3"));
    ensureLoaded();
    QCOMPARE(QFileInfo(loadedLibraryPath()).canonicalFilePath(),
             QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/liborvcomm.so.3")).canonicalFilePath());
    QVERIFY(QFileInfo(loadedLibraryPath()).canonicalFilePath().contains(QRegularExpression(QStringLiteral("\\.so\\.3\\.\\d+\\.\\d+$"))));
}

void TestBinding::missingLibraryIsARuntimeError() {
    useLibraryFile(QStringLiteral("/nonexistent/liborvcomm.so"));
    try {
        OrvComm::ZqCloseConnection(1);
        QFAIL("no error");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), int(RuntimeErrors::FileNotFound));
        QVERIFY2(e.description().startsWith(QStringLiteral("File not found: liborvcomm.so")),
                 qPrintable(e.description()));
    }
    // A file that exists but is no library.
    useLibraryFile(QCoreApplication::applicationFilePath() + QStringLiteral(".cpp-missing"));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, ensureLoaded());
    QTemporaryDir dir;
    const QString junk = dir.path() + QStringLiteral("/liborvcomm.so");
    QFile f(junk);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("not a library");
    f.close();
    useLibraryFile(junk);
    try {
        ensureLoaded();
        QFAIL("no error");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), int(RuntimeErrors::CannotLoadLibrary));
        QVERIFY(e.description().contains(junk));
    }
}

void TestBinding::missingFunctionIsARuntimeError() {
    // A library that loads but has none of the exports.
    useLibraryFile(QStringLiteral("libm.so.6"));
    try {
        int32_t v = 0;
        OrvComm::ZqGetRegister(1, 1, &v);
        QFAIL("no error");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), int(RuntimeErrors::EntryPointMissing));
        QCOMPARE(e.description(), QStringLiteral("Can't find DLL entry point ZqGetRegister in libm.so.6"));
    }
    // Going back to the real library rebinds the functions.
    useLibraryFile(QString());
    ZQ_ERROR_INFO info{};
    QCOMPARE(OrvComm::ZqGetErrorInfo(123456, &info), 0);
}

void TestBinding::readsARegisterFromTheEmulator() {
    EmulatorPeer peer;
    if (!peer.available()) QSKIP("the emulator does not serve UDP yet");
    const int32_t id = OrvComm::ZqOpenConnection(ZQ_TYPE_UDP, 0, peer.networkAddress());
    QVERIFY(id > 0);
    QCOMPARE(OrvComm::ZqSetConnectionTimeout(id, 200), 1);
    QCOMPARE(OrvComm::ZqPutRegister(id, 100, 4711), 1);
    int32_t v = 0;
    QCOMPARE(OrvComm::ZqGetRegister(id, 100, &v), 1);
    QCOMPARE(v, 4711);
    QCOMPARE(OrvComm::ZqCloseConnection(id), 1);
}

QTEST_MAIN(TestBinding)
#include "test_binding.moc"
