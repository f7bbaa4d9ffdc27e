// The DDE line protocol: the input is what a client sends on one
// conversation with the monitor's service; the service answers while the
// events are let through, and the conversation is closed at the end.
#include <QCoreApplication>
#include <QLocalSocket>
#include <cstdlib>

#include "core/dde.h"
#include "harness/harness.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"
#include "monitor_env.h"

namespace {
QString service() { return fuzz::monitor().dir() + QStringLiteral("/dde"); }

void letEventsThrough() { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    quietMain(fuzz::monitor());
    if (!DdeServer::instance().start(service())) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // The windows whose topics a conversation may use, loaded again if an
    // earlier input closed them.
    form<frmMain>();
    form<frmDDE>();
    QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    if (!bytes.endsWith('\n')) bytes.append('\n');
    const qsizetype lines = bytes.count('\n');

    QLocalSocket client;
    client.connectToServer(service());
    if (!client.waitForConnected(2000)) std::abort();
    client.write(bytes);
    client.flush();
    // Every line gets one answer (a hot link may add change lines); the
    // service is in this thread, so wait with the events running.
    qsizetype answers = 0;
    for (int round = 0; round < 2000 && answers < lines && client.state() == QLocalSocket::ConnectedState;
         ++round) {
        letEventsThrough();
        while (client.canReadLine()) {
            if (!client.readLine().startsWith("CHANGE ")) ++answers;
        }
    }
    client.disconnectFromServer();
    for (int round = 0; round < 3; ++round) letEventsThrough();
    return 0;
}
