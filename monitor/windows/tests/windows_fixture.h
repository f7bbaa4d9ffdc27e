// What the resource window tests share: a quiet main window (its own
// connection fails at once and its timers stay off), a UDP link to an
// in-process emulator, the register writes the emulator received, and a
// clean slate of the globals the windows read.
#pragma once

#include <QFile>
#include <QLineEdit>
#include <QtTest/QTest>
#include <optional>

#include "controller.h"
#include "core/codeDBase.h"
#include "core/globals.h"
#include "core/orvcomm_binding.h"
#include "harness/harness.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"

namespace windows_test {

// Before the first test: COM1 names no device, so the main window's own
// connection fails at once.
inline void noSerialLine() { qputenv("ORVCOMM_COM1", "/nonexistent/orvmon-test-line"); }

inline void resetGlobals() {
    restartLink();
    SymbolFilePath.clear();
    for (SymbolSnapshot *s : symbolSnapshots()) s->close();
    RegEditInProgress = false;
    RegEditIndex = 0;
    AnalOutEditInProgress = false;
    FlagGoToEditing = false;
    RegbitsWritePending = false;
    RegbitsEditInProgress = false;
    DdeWriteSuppress = false;
    ControllerModel = 0;
}

inline void writeSettings(const QString &path, const QString &text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
}

// The main window, loaded, with its timers stopped so that nothing polls
// behind the test's back.
inline frmMain &quietMain() {
    frmMain &m = form<frmMain>();
    m.waitForAttempt();
    m.Timer1->setEnabled(false);
    m.Timer2->setEnabled(false);
    m.Timer3->setEnabled(false);
    return m;
}

struct RegisterWrite {
    int reg;
    int32_t value;
    bool operator==(const RegisterWrite &) const = default;
};

// Every register write request (code 0B) the emulator received, in order.
inline QList<RegisterWrite> registerWrites(orvemu::Controller &c) {
    QList<RegisterWrite> out;
    for (const auto &f : c.requests()) {
        if (f.size() < 10 || f[0] != 0x01 || f[2] != 0x0B) continue;
        const uint32_t v = f[5] | (f[6] << 8) | (f[7] << 16) | (uint32_t(f[8]) << 24);
        out.append({f[3] | (f[4] << 8), static_cast<int32_t>(v)});
    }
    return out;
}

// Every flag write request (code 13) the emulator received: flag, value.
inline QList<RegisterWrite> flagWrites(orvemu::Controller &c) {
    QList<RegisterWrite> out;
    for (const auto &f : c.requests())
        if (f.size() >= 6 && f[0] == 0x01 && f[2] == 0x13) out.append({f[3] + 1, f[4] == 0 ? 0 : 1});
    return out;
}

// The DDE window's write box of that name, holding a text, with a record of
// whether writes were held off each time its text changed.
struct WatchedDdeBox {
    explicit WatchedDdeBox(const QString &name);
    QLineEdit *box;
    QList<bool> suppressedOnChange;
};

}  // namespace windows_test

inline windows_test::WatchedDdeBox::WatchedDdeBox(const QString &name) {
    box = form<frmDDE>().control<QLineEdit>(name);
    QVERIFY(box);
    {
        const bool before = DdeWriteSuppress;
        DdeWriteSuppress = true;
        box->setText(QStringLiteral("55"));
        DdeWriteSuppress = before;
    }
    QObject::connect(box, &QLineEdit::textChanged, [this] { suppressedOnChange << DdeWriteSuppress; });
}
