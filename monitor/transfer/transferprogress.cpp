#include "transfer/transferprogress.h"

#include <QLabel>
#include <QPointer>

#include "core/controls.h"
#include "transfer/frmFile.h"
#include "transfer/frmLoadMain.h"

namespace {

class TransferWindowProgress final : public TransferProgress {
public:
    QString statusText() const override { return form<frmLoadMain>().Label2->text(); }
    void setStatusText(const QString &text) override { form<frmLoadMain>().Label2->setText(text); }
    void showStatus(const QString &text) override {
        QLabel *label = form<frmLoadMain>().Label2;
        label->setText(text);
        label->repaint();
    }

    void showProgressWindow(const QString &caption) override {
        frmLoadMain &owner = form<frmLoadMain>();
        frmFile &f = form<frmFile>();
        f.setTop(owner.Top() + 500);
        f.setLeft(owner.Left() + 400);
        f.setCaption(caption);
        f.Show();
        window_ = &f;
    }
    void setProgressCaption(const QString &caption) override {
        if (window_) window_->setCaption(caption);
    }
    void setPercent(int percent) override {
        frmFile &f = form<frmFile>();
        f.SSPanel1->setFloodPercent(percent);
        f.repaint();
    }
    void closeProgressWindow() override { unloadForm<frmFile>(); }

private:
    // The window opened last; a window closed meanwhile gets no caption.
    QPointer<frmFile> window_;
};

}  // namespace

TransferProgress &transferProgress() {
    static TransferWindowProgress progress;
    return progress;
}
