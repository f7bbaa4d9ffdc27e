#include "harness.h"

#include <QtTest/QTest>
#include <arpa/inet.h>
#include <atomic>
#include <unistd.h>

#include "controller.h"
#include "core/eventpump.h"
#include "core/settings.h"
#include "servers.h"

ScriptedResponder::ScriptedResponder() { installDialogResponder(this); }
ScriptedResponder::~ScriptedResponder() {
    if (dialogResponder() == this) installDialogResponder(nullptr);
}

void ScriptedResponder::expectBox(const QString &prompt, int answer) { expectedBoxes_.append({prompt, answer}); }
void ScriptedResponder::expectFile(FileDialogAnswer answer) { expectedFiles_.append(std::move(answer)); }

QStringList ScriptedResponder::prompts() const {
    QStringList out;
    for (const auto &b : boxes_) out << b.prompt;
    return out;
}

void ScriptedResponder::clear() {
    expectedBoxes_.clear();
    expectedFiles_.clear();
    boxes_.clear();
    files_.clear();
    every_.reset();
}

int ScriptedResponder::answerBox(const MsgBoxCall &call) {
    boxes_.append(call);
    if (!expectedBoxes_.isEmpty()) {
        const auto [prompt, answer] = expectedBoxes_.takeFirst();
        if (prompt != call.prompt) {
            QTest::qFail(qPrintable(QStringLiteral("message box \"%1\" where \"%2\" was expected")
                                        .arg(call.prompt, prompt)),
                         __FILE__, __LINE__);
        }
        return answer;
    }
    if (every_) return *every_;
    QTest::qFail(qPrintable(QStringLiteral("unexpected message box \"%1\"").arg(call.prompt)), __FILE__, __LINE__);
    return call.buttons == mbYesNo || call.buttons == mbYesNoCancel ? mbNo : mbCancel;
}

FileDialogAnswer ScriptedResponder::answerFile(const FileDialogCall &call) {
    files_.append(call);
    if (expectedFiles_.isEmpty()) {
        QTest::qFail("unexpected file dialog", __FILE__, __LINE__);
        return std::nullopt;
    }
    return expectedFiles_.takeFirst();
}

ScriptedModalRunner::ScriptedModalRunner() { installModalRunner(this); }
ScriptedModalRunner::~ScriptedModalRunner() { installModalRunner(nullptr); }

void ScriptedModalRunner::run(Form &form) {
    ++runs_;
    if (actions_.isEmpty()) {
        QTest::qFail(qPrintable(QStringLiteral("unexpected modal window %1").arg(form.objectName())), __FILE__,
                     __LINE__);
        form.Unload();
        return;
    }
    auto action = actions_.takeFirst();
    action(form);
}

RecordingShell::RecordingShell() { installShellHandler(this); }
RecordingShell::~RecordingShell() { installShellHandler(nullptr); }
bool RecordingShell::openDocument(const QString &path) {
    requests << QStringLiteral("open ") + path;
    return result;
}
bool RecordingShell::openTextFile(const QString &path) {
    requests << QStringLiteral("edit ") + path;
    return result;
}
bool RecordingShell::startProgram(const QString &program, const QStringList &arguments) {
    requests << (QStringList{QStringLiteral("start"), program} + arguments).join(u' ');
    return result;
}

MonitorTestEnv::MonitorTestEnv() {
    qputenv("ORVMON_SETTINGS", settingsFile().toLocal8Bit());
    qputenv("ORVMON_DATA_DIR", dir_.path().toLocal8Bit());
    SettingsStore::setFileForProgram(settingsFile());
}

MonitorTestEnv::~MonitorTestEnv() {
    FormRegistry::destroyAll();
    installEventPump(nullptr);
}

namespace {
// A loopback address of this process's own: 127.<pid bits>.<counter>.
QString nextLoopback() {
    static std::atomic<int> counter{1};
    const int n = counter++;
    const unsigned pid = static_cast<unsigned>(getpid());
    return QStringLiteral("127.%1.%2.%3").arg((pid >> 8) & 0xFF).arg(pid & 0xFF).arg(1 + n % 250);
}
}  // namespace

EmulatorPeer::EmulatorPeer(int model) : controller_(std::make_unique<orvemu::Controller>(model)) {
    address_ = nextLoopback();
    server_ = orvemu::startUdp(*controller_, address_.toStdString());
}

EmulatorPeer::~EmulatorPeer() {
    server_.reset();
}

int32_t EmulatorPeer::networkAddress() const {
    in_addr a{};
    inet_pton(AF_INET, address_.toLatin1().constData(), &a);
    return static_cast<int32_t>(a.s_addr);
}
