#include "windows/frames.h"

#include <QVBoxLayout>

#include "core/globals.h"
#include "core/settings.h"

MonitorFrame::MonitorFrame(const QString &name, const QString &captionWord, bool *openFlag, const QString &section,
                           FrameGeometry defaults)
    : Form(name), word_(captionWord), open_(openFlag), section_(section), defaults_(defaults) {}

void MonitorFrame::buildControls() {
    auto *layout = new QVBoxLayout(this);
    // The DDE window's status label; harmless on the others.
    layout->addWidget(named(new QLabel(this), QStringLiteral("Message")));
    layout->addStretch();
}

void MonitorFrame::Form_Load() {
    setCaption(word_ + ConnectionTitle);
    if (!section_.isEmpty()) {
        FrameGeometry g = defaults_;
        readSettingsSection(section_, section_, [&](int32_t key) {
            QueryLongValue(key, QStringLiteral("Height"), g.height);
            QueryLongValue(key, QStringLiteral("Left"), g.left);
            QueryLongValue(key, QStringLiteral("Top"), g.top);
            QueryLongValue(key, QStringLiteral("Width"), g.width);
        });
        Move(g.left, g.top, g.width, g.height);
    }
    if (open_) *open_ = true;
}

void MonitorFrame::Form_Unload(int &) {
    if (open_) *open_ = false;
    if (section_.isEmpty()) return;
    if (WindowState() != wsNormal) return;
    const int32_t h = Height(), l = Left(), t = Top(), w = Width();
    writeSettingsSection(section_, section_, section_, [&](int32_t key) {
        SetLongValue(key, QStringLiteral("Height"), h);
        SetLongValue(key, QStringLiteral("Left"), l);
        SetLongValue(key, QStringLiteral("Top"), t);
        SetLongValue(key, QStringLiteral("Width"), w);
    });
}

