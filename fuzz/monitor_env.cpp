#include "monitor_env.h"

#include <QApplication>
#include <QFile>
#include <cstdlib>

#include "core/forms.h"
#include "core/msgbox.h"
#include "harness/harness.h"

// Font configuration keeps a cache for the life of the process that the
// leak checker would otherwise report on the first window shown.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace fuzz {

namespace {

class CancelEverything : public DialogResponder, public ModalRunner {
public:
    int answerBox(const MsgBoxCall &call) override {
        if (call.buttons == mbYesNo || call.buttons == mbYesNoCancel) return mbNo;
        return call.buttons == 0 ? mbOK : mbCancel;
    }
    FileDialogAnswer answerFile(const FileDialogCall &) override { return std::nullopt; }
    void run(Form &form) override { form.Unload(); }
};

}  // namespace

MonitorTestEnv &monitor() {
    static MonitorTestEnv *env = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "orvfuzz";
        static char *argv[] = {name, nullptr};
        new QApplication(argc, argv);
        auto *e = new MonitorTestEnv;
        static CancelEverything cancel;
        installDialogResponder(&cancel);
        installModalRunner(&cancel);
        return e;
    }();
    return *env;
}

QString inputFile(const QString &name, const std::uint8_t *data, std::size_t size) {
    const QString path = monitor().dir() + QLatin1Char('/') + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    return path;
}

}  // namespace fuzz
