#include "transfer/transferrun.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <exception>
#include <memory>

#include "core/basics.h"
#include "core/controls.h"
#include "core/globals.h"
#include "core/mainwindow.h"
#include "transfer/frmFile.h"
#include "transfer/frmLoadMain.h"
#include "transfer/transferprogress.h"

namespace {

// Keeps the main window's timers from reaching the connection while the
// call runs, and puts them back as they were.
class HeldTimers {
public:
    HeldTimers() {
        const std::array<FormTimer *, 3> timers = mainWindow().connectionTimers();
        for (size_t i = 0; i < timers.size(); ++i) timers_[i] = timers[i];
        for (size_t i = 0; i < timers_.size(); ++i) {
            enabled_[i] = timers_[i]->Enabled();
            timers_[i]->setEnabled(false);
        }
    }
    ~HeldTimers() {
        for (size_t i = 0; i < timers_.size(); ++i)
            if (enabled_[i] && timers_[i]) timers_[i]->setEnabled(true);
    }
    HeldTimers(const HeldTimers &) = delete;
    HeldTimers &operator=(const HeldTimers &) = delete;

private:
    std::array<QPointer<FormTimer>, 3> timers_;
    std::array<bool, 3> enabled_{};
};

// Refuses to close the windows that the running call needs: the main
// window (its unload closes the connection), the transfer window and the
// progress window.
class CloseGuard : public QObject {
public:
    CloseGuard() { QCoreApplication::instance()->installEventFilter(this); }
    ~CloseGuard() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::Close) return false;
        MainWindow *main = existingMainWindow();
        if ((!main || watched != &main->mainForm()) && watched != FormRegistry::existing<frmLoadMain>() &&
            watched != FormRegistry::existing<frmFile>())
            return false;
        event->ignore();
        return true;
    }
};

QString seconds(qint64 ms) { return QString::number(ms / 1000) + QStringLiteral(" s"); }

}  // namespace

void TransferMeter::setPercent(int percent) {
    const std::lock_guard<std::mutex> hold(lock_);
    percent_ = percent;
}
void TransferMeter::setCaption(const QString &caption) {
    const std::lock_guard<std::mutex> hold(lock_);
    caption_ = caption;
}
void TransferMeter::setStatus(const QString &status) {
    const std::lock_guard<std::mutex> hold(lock_);
    status_ = status;
}
int TransferMeter::percent() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return percent_;
}
QString TransferMeter::caption() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return caption_;
}
QString TransferMeter::status() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return status_;
}

int32_t RunTransferCall(const QString &caption, const QString &status, const std::function<int32_t()> &call,
                        const QString &growingFile) {
    TransferShow show;
    show.caption = caption;
    show.status = status;
    show.growingFile = growingFile;
    return RunTransferCall(show, call);
}

int32_t RunTransferCall(const TransferShow &show, const std::function<int32_t()> &call) {
    // The library is loaded here, on the window thread; the worker only
    // binds the functions it calls.
    OrvComm::ensureLoaded();

    // The link is held for as long as the call runs, whatever way this ends.
    const ControllerLink::Hold hold;
    HeldTimers held;
    CloseGuard guard;

    const auto showStatus = [&](const QString &text) {
        if (show.statusLine) show.statusLine(text);
        else transferProgress().setStatusText(text);
    };
    Form &owner = show.beside ? *show.beside : static_cast<Form &>(form<frmLoadMain>());
    frmFile &progress = form<frmFile>();
    progress.setTop(owner.Top() + 500);
    progress.setLeft(owner.Left() + 400);
    progress.setCaption(show.caption);
    progress.Hide();  // modality takes effect when the window is shown
    progress.setWindowModality(Qt::ApplicationModal);
    progress.Show();

    std::atomic<bool> done{false};
    int32_t result = 0;
    std::exception_ptr failure;
    QThread *worker = QThread::create([&] {
        try {
            result = call();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
    });

    QEventLoop loop;
    QTimer tick;
    QElapsedTimer clock;
    int sweep = 0;
    QString caption = show.caption;
    const auto showProgress = [&] {
        // Without a meter the call tells nothing while it works: the bar
        // sweeps, the status line counts the seconds (and the bytes written
        // so far).
        const int percent = show.meter ? show.meter->percent() : -1;
        sweep = percent >= 0 ? percent : (sweep + 2) % 102;
        const QString metered = show.meter ? show.meter->caption() : QString();
        if (!metered.isEmpty()) caption = metered;
        if (FormRegistry::existing<frmFile>() == &progress && progress.loaded()) {
            progress.SSPanel1->setFloodPercent(sweep);
            if (progress.Caption() != caption) progress.setCaption(caption);
        }
        const QString status = show.meter && !show.meter->status().isEmpty() ? show.meter->status() : show.status;
        QString text = status + QStringLiteral("\n") + seconds(clock.elapsed());
        if (!show.growingFile.isEmpty())
            text += QStringLiteral(", ") + QString::number(QFileInfo(show.growingFile).size()) + QStringLiteral(" bytes");
        showStatus(text);
    };
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done) loop.quit();
        else showProgress();
    });
    clock.start();
    showProgress();
    tick.start(100);
    worker->start();
    loop.exec();
    // Should the application quit meanwhile, the call still ends first.
    worker->wait();
    delete worker;
    tick.stop();
    // The meter's last word is shown before the progress window goes.
    if (show.meter && show.meter->percent() >= 0) {
        showProgress();
        if (FormRegistry::existing<frmFile>() == &progress && progress.loaded()) progress.SSPanel1->repaint();
    }

    // Hidden while still modal, so that Qt lets go of it as a modal window.
    unloadForm<frmFile>();
    progress.setWindowModality(Qt::NonModal);
    showStatus(show.status);
    if (failure) std::rethrow_exception(failure);
    return result;
}

// ---- The link around a transfer --------------------------------------------------------------

bool TransferLinkReady(const QString &failed) {
    if (controllerLink().up() && ControllerIdentified) return true;
    MainWindow &m = mainWindow();
    // Monitoring resumes (its own tick leaves the link to the transfer that
    // holds it), and the connection manager opens the configured connection;
    // the attempt may go on from the event loop: the transfer waits for its end.
    if (MonitoringSuspended) m.SuspendButton_Click();
    if (!m.attemptPending() && !controllerLink().up()) m.CheckComm();
    m.waitForAttempt();
    if (controllerLink().up() && ControllerIdentified) return true;
    // The reason of the attempt that failed, where the link went.
    QString reason = controllerLink().lastFailure();
    if (reason.isEmpty()) reason = QStringLiteral("No controller answers on the configured connection.");
    MsgBox(failed + QStringLiteral("Error: ") + reason, mbExclamation);
    return false;
}

void ShowLinkClosedByTransfer() {
    MainWindow &m = mainWindow();
    m.setPolling(false);
    m.cancelPollStart();
    // The owner shows the link closed: status line, "Resume Monitoring",
    // the run buttons off, every value "*"; the next connect identifies
    // the controller again.
    controllerLink().markClosed(
        QStringLiteral("Connection closed after the program transfer - Resume Monitoring reconnects"));
}
