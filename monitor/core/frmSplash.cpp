#include "core/frmSplash.h"

#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include "core/codeORVmain.h"

frmSplash::frmSplash() : Form(QStringLiteral("frmSplash"), Qt::SplashScreen | Qt::FramelessWindowHint) {}

void frmSplash::buildControls() {
    auto *outer = new QVBoxLayout(this);
    auto *frame = named(new QFrame(this), QStringLiteral("Frame1"));
    frame->setFrameShape(QFrame::Box);
    frame->setLineWidth(2);
    outer->addWidget(frame);
    auto *v = new QVBoxLayout(frame);
    v->setContentsMargins(24, 18, 24, 18);
    v->setSpacing(8);
    lblCompany = named(new QLabel(frame), QStringLiteral("lblCompany"));
    lblProductName = named(new QLabel(frame), QStringLiteral("lblProductName"));
    QFont big = lblProductName->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    lblProductName->setFont(big);
    lblPlatform = named(new QLabel(frame), QStringLiteral("lblPlatform"));
    lblVersion = named(new QLabel(frame), QStringLiteral("lblVersion"));
    lblCopyright = named(new QLabel(frame), QStringLiteral("lblCopyright"));
    for (QLabel *l : {lblCompany, lblProductName, lblPlatform, lblVersion, lblCopyright}) {
        l->setAlignment(Qt::AlignCenter);
        v->addWidget(l);
    }
    resize(420, 240);
}

void frmSplash::Form_Load() {
    lblProductName->setText(VersionInfo::ProductName);
    lblPlatform->setText(VersionInfo::PlatformLine);
    lblVersion->setText(VersionInfo::VersionLine);
    lblCopyright->setText(VersionInfo::NoticeLine);
    lblCompany->setText(VersionInfo::CompanyName);
    if (QScreen *s = screen()) {
        const QRect r = s->availableGeometry();
        move(r.center() - rect().center());
    }
}
