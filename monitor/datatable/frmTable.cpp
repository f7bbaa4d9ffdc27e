#include "datatable/frmTable.h"

#include <QAction>
#include <QEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

#include "core/globals.h"
#include "core/settings.h"
#include "main/frmMain.h"

namespace {
// Geometry of the window when the settings hold none, and the geometry
// stored when it is closed minimized or maximized.
constexpr int32_t DefaultTop = 1140;
constexpr int32_t DefaultLeft = 900;
constexpr int32_t DefaultHeight = 5760;
constexpr int32_t DefaultWidth = 8088;

const QString Section = QStringLiteral("Dtable");

// The character shown for a cell that holds no printable character.
constexpr char16_t MiddleDot = 0x00B7;
}  // namespace

// ---- Grid row source -----------------------------------------------------------

TableGridModel::TableGridModel(frmTable *window) : QAbstractTableModel(window), window_(window) {}

int TableGridModel::rowCount(const QModelIndex &parent) const {
    if (parent.isValid()) return 0;
    return std::max(0, TableRows);
}

int TableGridModel::columnCount(const QModelIndex &parent) const {
    if (parent.isValid()) return 0;
    // "Row #", the data columns and the text column; only "Row #" for a
    // table without columns.
    return TableCols <= 0 ? 1 : TableCols + 1;
}

QVariant TableGridModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid()) return {};
    const int column = index.column();
    if (role == Qt::TextAlignmentRole) {
        if (column == 0 || TableCols == 1) return int(Qt::AlignCenter);
        if (column == TableCols) return int(Qt::AlignLeft | Qt::AlignVCenter);
        return int(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    return window_->GetCellValue(index.row(), column);
}

QVariant TableGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return {};
    if (section == 0) return QStringLiteral("Row #");
    if (TableCols == 1) return QStringLiteral("1");
    if (section == TableCols) return QStringLiteral("Message");
    return QStringLiteral(" ") + QString::number(section);
}

void TableGridModel::reread() {
    beginResetModel();
    endResetModel();
}

// ---- Window ----------------------------------------------------------------------

frmTable::frmTable() : Form(QStringLiteral("frmTable")) {}

void frmTable::buildControls() {
    setWindowTitle(QStringLiteral("Data Table"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    // Menus.
    MenuBar = named(new QMenuBar(this), QStringLiteral("MenuBar"));
    outer->setMenuBar(MenuBar);
    auto item = [this](QMenu *menu, const QString &array, int index, const QString &caption) {
        QAction *a = caption == QStringLiteral("-") ? menu->addSeparator() : menu->addAction(caption);
        a->setObjectName(controlName(array, index));
        a->setProperty("Index", index);
        return a;
    };
    mnuFile = named(MenuBar->addMenu(QStringLiteral("&File")), QStringLiteral("mnuFile"));
    const std::array<const char *, 10> fileItems{"&New", "&Open", "-",  "&Save",     "Save &As...",
                                                 "-",    "&Upload", "&Download", "-", "E&xit"};
    for (int i = 1; i <= 10; ++i) Filemenu[i] = item(mnuFile, QStringLiteral("Filemenu"), i, QLatin1String(fileItems[i - 1]));

    mnuEdit = named(MenuBar->addMenu(QStringLiteral("&Edit")), QStringLiteral("mnuEdit"));
    mnuEditCut = named(mnuEdit->addAction(QStringLiteral("C&ut")), QStringLiteral("mnuEditCut"));
    mnuEditCut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    mnuEditCopy = named(mnuEdit->addAction(QStringLiteral("&Copy")), QStringLiteral("mnuEditCopy"));
    mnuEditCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    mnuEditPaste = named(mnuEdit->addAction(QStringLiteral("&Paste")), QStringLiteral("mnuEditPaste"));
    mnuEditPaste->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));

    mnuOptions = named(MenuBar->addMenu(QStringLiteral("&Options")), QStringLiteral("mnuOptions"));
    const std::array<const char *, 5> optionItems{"&Font...", "-", "&Begin Monitoring ...", "&End Monitoring ...",
                                                  "&Monitor Setup"};
    for (int i = 1; i <= 5; ++i)
        Optionmenu[i] = item(mnuOptions, QStringLiteral("Optionmenu"), i, QLatin1String(optionItems[i - 1]));
    Optionmenu[3]->setCheckable(true);
    Optionmenu[4]->setCheckable(true);

    mnuHelp = named(MenuBar->addMenu(QStringLiteral("&Help")), QStringLiteral("mnuHelp"));
    HelpMenu[1] = item(mnuHelp, QStringLiteral("HelpMenu"), 1, QStringLiteral("&Contents"));
    HelpMenu[2] = item(mnuHelp, QStringLiteral("HelpMenu"), 2, QStringLiteral("&Help on Help ..."));

    connect(Filemenu[10], &QAction::triggered, this, [this] { Unload(); });

    // Toolbar.
    Toolbar1 = named(new QToolBar(this), QStringLiteral("Toolbar1"));
    const std::array<std::pair<const char *, const char *>, 5> buttons{{
        {"Open", "Open datatable file"},
        {"Save", "Save datatable to file"},
        {"Cut", "Cut data from datatable"},
        {"Copy", "Copy data in datatable"},
        {"Paste", "Paste data into datatable"},
    }};
    for (const auto &[key, tip] : buttons) {
        QAction *a = Toolbar1->addAction(QLatin1String(key));
        a->setObjectName(QLatin1String(key));
        a->setProperty("Key", QLatin1String(key));
        a->setToolTip(QLatin1String(tip));
    }
    outer->addWidget(Toolbar1);

    // The controls inside the resizing container.
    VideoSoftElastic1 = named(new QWidget(this), QStringLiteral("VideoSoftElastic1"));
    auto *grid = new QGridLayout(VideoSoftElastic1);
    labRows = named(new QLabel(QStringLiteral("Rows:"), VideoSoftElastic1), QStringLiteral("labRows"));
    txtRows = named(new QLineEdit(VideoSoftElastic1), QStringLiteral("txtRows"));
    labCols = named(new QLabel(QStringLiteral("Cols:"), VideoSoftElastic1), QStringLiteral("labCols"));
    txtCols = named(new QLineEdit(VideoSoftElastic1), QStringLiteral("txtCols"));
    Command1 = named(new QPushButton(QStringLiteral("Refresh"), VideoSoftElastic1), QStringLiteral("Command1"));
    grid->addWidget(labRows, 0, 0);
    grid->addWidget(txtRows, 0, 1);
    grid->addWidget(labCols, 0, 2);
    grid->addWidget(txtCols, 0, 3);
    grid->addWidget(Command1, 0, 5);
    grid->setColumnStretch(4, 1);

    tgDTable = named(new QTableView(VideoSoftElastic1), QStringLiteral("tgDTable"));
    tgDTableRows = new TableGridModel(this);
    tgDTable->setModel(tgDTableRows);
    tgDTable->verticalHeader()->hide();
    tgDTable->horizontalHeader()->show();
    tgDTable->setTabKeyNavigation(true);
    designFont_ = QFont(QStringLiteral("Arial"));
    tgDTable->setFont(designFont_);
    tgDTable->installEventFilter(this);
    grid->addWidget(tgDTable, 1, 0, 1, 6);
    outer->addWidget(VideoSoftElastic1, 1);

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });

    Timer1 = new FormTimer(this, QStringLiteral("Timer1"), 2000, false);
    Timer2 = new FormTimer(this, QStringLiteral("Timer2"), 1000, false);
    connect(Timer1, &FormTimer::Timer, this, [this] { UploadDataTable(); });
    connect(Timer2, &FormTimer::Timer, this, [this] { Timer2_Timer(); });
}

bool frmTable::eventFilter(QObject *watched, QEvent *event) {
    if (watched == tgDTable && event->type() == QEvent::FocusIn) GridHadFocus = true;
    return Form::eventFilter(watched, event);
}

void frmTable::Form_Load() {
    int32_t top = DefaultTop, left = DefaultLeft, height = DefaultHeight, width = DefaultWidth;
    readSettingsSection(Section, Section, [&](int32_t key) {
        QueryLongValue(key, QStringLiteral("Top"), top);
        QueryLongValue(key, QStringLiteral("Left"), left);
        QueryLongValue(key, QStringLiteral("Height"), height);
        QueryLongValue(key, QStringLiteral("Width"), width);
    });
    Move(left, top, width, height);

    // What a newly opened editor shows: no table, monitoring off, the boxes
    // empty and the design font.
    TableValues.redim(1, 1, 1, 1);
    TableRows = 0;
    TableCols = 0;
    TableMonStartRow = 0;
    TableMonEndRow = 0;
    TableMonitorOn = false;
    TableMonIntervalMs = 2000;
    Timer1->setEnabled(false);
    Timer1->setInterval(TableMonIntervalMs);
    RowsColsTyping = false;
    GridHadFocus = false;
    Timer2Ticks = 0;
    Optionmenu[3]->setChecked(false);
    Optionmenu[4]->setChecked(false);
    txtRows->clear();
    txtCols->clear();
    for (QWidget *w : {static_cast<QWidget *>(tgDTable), static_cast<QWidget *>(txtRows),
                       static_cast<QWidget *>(txtCols)}) {
        w->setFont(w == tgDTable ? designFont_ : QFont());
        w->setPalette(QPalette());
    }
    RefreshGrid();

    UploadDataTable();
    Timer2->setEnabled(true);
}

void frmTable::Form_Unload(int &) {
    Timer1->setEnabled(false);
    Timer2->setEnabled(false);

    int32_t top = DefaultTop, left = DefaultLeft, height = DefaultHeight, width = DefaultWidth;
    if (WindowState() == wsNormal) {
        top = Top();
        left = Left();
        height = Height();
        width = Width();
    }
    writeSettingsSection(Section, Section, Section, [&](int32_t key) {
        SetLongValue(key, QStringLiteral("Top"), top);
        SetLongValue(key, QStringLiteral("Left"), left);
        SetLongValue(key, QStringLiteral("Height"), height);
        SetLongValue(key, QStringLiteral("Width"), width);
    });
    // The table file is only ever open inside the procedure that writes it,
    // so none is left open here.
    frmMain &m = form<frmMain>();
    m.Message->setText(QStringLiteral("Data Table Form unloaded."));
    m.RefreshMessage();
}

QString frmTable::RowText(int32_t i) {
    QString text(std::max(0, TableCols), QLatin1Char(' '));
    for (int32_t c = 1; c <= TableCols - 1; ++c) {
        const int32_t v = TableValues(i + 1, c);
        text[c - 1] = v >= 32 && v <= 126 ? QChar(char16_t(v)) : QChar(MiddleDot);
    }
    return text;
}

QVariant frmTable::GetCellValue(int32_t i, int32_t column) {
    try {
        if (i < 0 || i >= TableRows || column < 0 || column > TableCols) return 0;
        if (column == 0) return i + 1;
        if (column == TableCols) return RowText(i);
        return TableValues(i + 1, column);
    } catch (const RuntimeError &) {
        // A cell outside the table's allocation shows nothing.
        return {};
    }
}

void frmTable::RefreshGrid() { tgDTableRows->reread(); }

// Reading the table from the controller is not built yet; the editor opens
// with no table.
void frmTable::UploadDataTable() {}

void frmTable::Command1_Click() { RefreshGrid(); }

void frmTable::Timer2_Timer() {
    ++Timer2Ticks;
    RefreshGrid();
    if (Timer2Ticks == 2) Timer2->setEnabled(false);
}
