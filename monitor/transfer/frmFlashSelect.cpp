#include "transfer/frmFlashSelect.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/globals.h"
#include "transfer/frmProgFlash.h"

namespace {

const QString CRLF = QStringLiteral("\r\n");

// The variants a CPU firmware file may hold: the tag of its line, the
// option's caption and the model code.
struct Variant {
    const char *tag;
    const char *caption;
    int16_t model;
};
const Variant Variants[] = {{"Q41R", "Q41 CPU Module", 11},
                            {"Q42R", "Q42 CPU Module", 12},
                            {"Q43R", "Q43 CPU Module", 14},
                            {"Q44R", "Q44 CPU Module", 16}};

}  // namespace

frmFlashSelect::frmFlashSelect() : Form(QStringLiteral("frmFlashSelect")) {}

void frmFlashSelect::buildControls() {
    setWindowTitle(QStringLiteral("Select Model to Download"));
    auto *outer = new QVBoxLayout(this);
    Label1 = named(new QLabel(this), QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    outer->addWidget(Label1);

    auto *grid = new QGridLayout;
    options_ = new QButtonGroup(this);
    for (int i = 0; i < 4; ++i) {
        Option1[size_t(i)] = named(new QRadioButton(this), QStringLiteral("Option1"), i);
        options_->addButton(Option1[size_t(i)], i);
        // 0 and 1 in the left column, 2 and 3 in the right, lower index on top.
        grid->addWidget(Option1[size_t(i)], i % 2, i / 2);
    }
    outer->addLayout(grid);

    auto *buttons = new QHBoxLayout;
    Command1 = named(new QPushButton(QStringLiteral("&OK"), this), QStringLiteral("Command1"));
    Command2 = named(new QPushButton(QStringLiteral("&Cancel"), this), QStringLiteral("Command2"));
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    outer->addLayout(buttons);
    resize(520, 300);

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
}

void frmFlashSelect::Form_Load() {
    // The options as designed: captioned "Q41", shown, none chosen.
    options_->setExclusive(false);
    for (QRadioButton *o : Option1) {
        o->setText(QStringLiteral("Q41"));
        o->setChecked(false);
        o->setVisible(true);
    }
    options_->setExclusive(true);

    setScreenMousePointer(PointerDefault);
    Label1->setText(
        QStringLiteral("Failed to put programming mode.  Controller response indicates the controller may already be in "
                       "programming mode and the module type cannot be identified.  This may happen if the previous "
                       "download was from a corrupt or invalid firmware file or the download was interrupted.") +
        CRLF + CRLF +
        QStringLiteral("Select the module type to download to from the available options in the selected file.  "
                       "Selecting an incorrect firmware file can corrupt the module, requiring factory reprogramming.") +
        CRLF + CRLF + QStringLiteral("CYCLE CONTROLLER POWER BEFORE CONTINUING"));

    frmProgFlash &flash = form<frmProgFlash>();
    QString line;
    if (!flash.ResetFile(FirmwareFilePath) || !flash.GetLine(line)) {
        Unload();
        return;
    }
    int n = line.isEmpty() || !line.back().isDigit() ? 0 : line.back().digitValue();
    if (flash.FileMode == 1 && flash.ModuleType == 0) {
        // Four options at most: a file that announces more lists the first four.
        n = std::min(n, 4);
        for (int i = 0; i < n; ++i) {
            if (!flash.GetLine(line)) {
                Unload();
                return;
            }
            const auto v = std::find_if(std::begin(Variants), std::end(Variants),
                                        [&](const Variant &x) { return line.contains(QLatin1String(x.tag)); });
            if (v != std::end(Variants)) Option1[size_t(i)]->setText(QLatin1String(v->caption));
            else Option1[size_t(i)]->hide();
        }
    } else {
        n = 0;
    }
    for (int i = n; i < 4; ++i) Option1[size_t(i)]->hide();
}

void frmFlashSelect::Command1_Click() {
    form<frmProgFlash>().SelectionOK = true;
    Unload();
}

void frmFlashSelect::Command2_Click() {
    form<frmProgFlash>().SelectionOK = false;
    Unload();
}

void frmFlashSelect::Form_Unload(int &) {
    frmProgFlash &flash = form<frmProgFlash>();
    if (flash.SelectionOK && flash.FileMode == 1 && flash.ModuleType == 0) {
        // Options were listed: OK counts only with one of them chosen.
        flash.SelectionOK = false;
        for (QRadioButton *o : Option1) {
            if (!o->isChecked()) continue;
            for (const Variant &v : Variants) {
                if (o->text().contains(QLatin1String(v.caption))) {
                    flash.SelectedModel = v.model;
                    flash.SelectionOK = true;
                    break;
                }
            }
        }
    }
    setScreenMousePointer(PointerHourglass);
}
