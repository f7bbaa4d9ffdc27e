#include "core/frmFiles.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/globals.h"

namespace {
struct Row {
    QString *path;
    const char *whenSet;
    const char *whenNotSet;
};

std::array<Row, 4> rows() {
    return {{{&CustomScreen1Path, "Custom Form 1 file ", "Custom Form 1 file NOT defined."},
             {&CustomScreen2Path, "Custom Form 2 file ", "Custom Form 2 file NOT defined."},
             {&SymbolFilePath, "Symbol file ", "Symbol file NOT defined."},
             {&DataTablePath, "Data Table file ", "Data Table file NOT defined."}}};
}
}  // namespace

frmFiles::frmFiles() : Form(QStringLiteral("frmFiles")) {}

void frmFiles::buildControls() {
    setWindowTitle(QStringLiteral("ORV Monitor Utility Files Form"));
    auto *v = new QVBoxLayout(this);
    Label1 = named(new QLabel(QStringLiteral("Please select the files that you wish to load."), this),
                   QStringLiteral("Label1"));
    v->addWidget(Label1);
    SSCheck1 = named(new QCheckBox(QStringLiteral("Load first Custom Resource File"), this), QStringLiteral("SSCheck1"));
    SSCheck2 = named(new QCheckBox(QStringLiteral("Load second Custom Resource File"), this), QStringLiteral("SSCheck2"));
    SSCheck3 = named(new QCheckBox(QStringLiteral("Load Symbol Table File"), this), QStringLiteral("SSCheck3"));
    SSCheck4 = named(new QCheckBox(QStringLiteral("Load Data Table File"), this), QStringLiteral("SSCheck4"));
    for (QCheckBox *c : {SSCheck1, SSCheck2, SSCheck3, SSCheck4}) v->addWidget(c);
    auto *h = new QHBoxLayout;
    h->addStretch();
    SSCommand1 = named(new QPushButton(QStringLiteral("&Okay"), this), QStringLiteral("SSCommand1"));
    SSCommand2 = named(new QPushButton(QStringLiteral("&Cancel"), this), QStringLiteral("SSCommand2"));
    h->addWidget(SSCommand1);
    h->addWidget(SSCommand2);
    v->addLayout(h);
    connect(SSCommand1, &QPushButton::clicked, this, [this] { SSCommand1_Click(); });
    connect(SSCommand2, &QPushButton::clicked, this, [this] { SSCommand2_Click(); });
    resize(520, 220);
}

void frmFiles::Form_Load() {
    const auto r = rows();
    const std::array<QCheckBox *, 4> boxes{SSCheck1, SSCheck2, SSCheck3, SSCheck4};
    for (size_t i = 0; i < r.size(); ++i) {
        if (!r[i].path->isEmpty()) {
            boxes[i]->setText(QLatin1String(r[i].whenSet) + *r[i].path);
            boxes[i]->setEnabled(true);
            boxes[i]->setChecked(true);
        } else {
            boxes[i]->setText(QLatin1String(r[i].whenNotSet));
            boxes[i]->setEnabled(false);
            boxes[i]->setChecked(false);
        }
    }
}

void frmFiles::SSCommand1_Click() {
    const auto r = rows();
    const std::array<QCheckBox *, 4> boxes{SSCheck1, SSCheck2, SSCheck3, SSCheck4};
    // A file whose box the user cleared is not loaded and is forgotten.
    for (size_t i = 0; i < r.size(); ++i)
        if (boxes[i]->isEnabled() && !boxes[i]->isChecked()) r[i].path->clear();
    Unload();
}

void frmFiles::SSCommand2_Click() {
    for (const Row &row : rows()) row.path->clear();
    Unload();
}
