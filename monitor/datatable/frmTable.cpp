#include "datatable/frmTable.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>
#include <cmath>

#include "core/basics.h"
#include "core/controls.h"
#include "core/eventpump.h"
#include "core/link.h"
#include "core/globals.h"
#include "core/mainwindow.h"
#include "core/settings.h"
#include "datatable/fontdialog.h"
#include "datatable/frmTableMon.h"
#include "windows/resourcewindow.h"

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
// What a monitored cell shows while it has not been read since the link
// went down.
constexpr char16_t StaleMark = u'*';

// Column widths of the grid, in twips.
constexpr int RowNumberWidth = 600;
constexpr int DataColumnWidth = 800;
constexpr int MessageWidth = 2500;

// The font dialog's flags: screen fonts, effects, ANSI fonts only, fixed-pitch
// fonts only (17665).
constexpr int TableFontFlags = cdlCFScreenFonts | cdlCFEffects | cdlCFANSIOnly | cdlCFFixedPitchOnly;

const QString TableFilter = QStringLiteral("MV Data Tables (*.tab)|*.tab");

// Suspend leaves a connection that a transfer holds to the transfer. Declared
// before the transfer's hold, so that it runs once the hold is let go: a
// connection the user suspended meanwhile is closed as Suspend closes it.
class SuspendedConnectionCloser {
public:
    SuspendedConnectionCloser() = default;
    SuspendedConnectionCloser(const SuspendedConnectionCloser &) = delete;
    SuspendedConnectionCloser &operator=(const SuspendedConnectionCloser &) = delete;
    ~SuspendedConnectionCloser() {
        ControllerLink &link = controllerLink();
        if (link.state() != ControllerLink::State::Suspended || link.busy() || ConnectionHandle == 0) return;
        if (!link.close()) MsgBox(QStringLiteral("Failed to CLOSE network."), mbExclamation);
    }
};

// What a stopped download leaves in the controller: rows 1 to row - 1 are
// written, row `row` may be in part, the rows after it are not.
QString rowsWritten(int32_t row, int32_t rows) {
    QString text = row == 1 ? QStringLiteral("No row was written before it")
                 : row == 2 ? QStringLiteral("Row 1 was written to the controller")
                            : QStringLiteral("Rows 1 to %1 were written to the controller").arg(row - 1);
    text += QStringLiteral("; row %1 may be written in part").arg(row);
    if (row < rows) {
        text += row + 1 == rows ? QStringLiteral(", and row %1 was not").arg(rows)
                                : QStringLiteral(", and rows %1 to %2 were not").arg(row + 1).arg(rows);
    }
    return text + QLatin1Char('.');
}

// What a download stopped between two rows leaves: rows 1 to `row` are
// written, the rows after it are not.
QString rowsWrittenUpTo(int32_t row, int32_t rows) {
    const QString written = row == 1 ? QStringLiteral("Row 1 was written to the controller")
                                     : QStringLiteral("Rows 1 to %1 were written to the controller").arg(row);
    const QString notWritten = row + 1 == rows ? QStringLiteral("row %1 was not").arg(rows)
                                               : QStringLiteral("rows %1 to %2 were not").arg(row + 1).arg(rows);
    return written + QStringLiteral(", and ") + notWritten + QLatin1Char('.');
}

int pixels(int twips) { return twips / TwipsPerPixel; }

// When a long read or write shows how far it has come: at its first row,
// then once frmTable::ProgressIntervalMs have passed since it last did. A
// window turn that has something new to draw costs far more than one that
// has not, so the rows between are drawn together.
class ProgressPace {
public:
    bool due() {
        if (shown_.isValid() && shown_.elapsed() < frmTable::ProgressIntervalMs) return false;
        shown_.start();
        return true;
    }

private:
    QElapsedTimer shown_;
};

// The character of a cell code of the ANSI code page; a character outside it
// is stored as "?".
int32_t ansiCode(QChar ch) { return ch.unicode() <= 255 ? ch.unicode() : '?'; }
}  // namespace

// ---- Grid row source -----------------------------------------------------------

TableGridModel::TableGridModel(frmTable *window) : QAbstractTableModel(window), window_(window) {}

int TableGridModel::rowCount(const QModelIndex &parent) const {
    if (parent.isValid()) return 0;
    return std::max(0, rows_);
}

int TableGridModel::columnCount(const QModelIndex &parent) const {
    if (parent.isValid()) return 0;
    // "Row #", the data columns and the text column; only "Row #" for a
    // table without columns.
    return cols_ <= 0 ? 1 : cols_ + 1;
}

QVariant TableGridModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid()) return {};
    const int column = index.column();
    if (role == Qt::TextAlignmentRole) {
        if (column == 0 || cols_ == 1) return int(Qt::AlignCenter);
        if (column == cols_) return int(Qt::AlignLeft | Qt::AlignVCenter);
        return int(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    return window_->GetCellValue(index.row(), column);
}

QVariant TableGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return {};
    if (section == 0) return QStringLiteral("Row #");
    if (cols_ == 1) return QStringLiteral("1");
    if (section == cols_) return QStringLiteral("Message");
    return QStringLiteral(" ") + QString::number(section);
}

Qt::ItemFlags TableGridModel::flags(const QModelIndex &index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    // The row numbers are not the table's to change.
    if (index.isValid() && index.column() > 0) f |= Qt::ItemIsEditable;
    return f;
}

bool TableGridModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    window_->CellEditEnded(index.row() + 1, index.column(), value.toString());
    return true;
}

void TableGridModel::reread() {
    beginResetModel();
    rows_ = TableRows;
    cols_ = TableCols;
    endResetModel();
}

void TableGridModel::rereadCells() {
    if (rowCount() == 0) return;
    Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

bool TableGridModel::fitsTable() const { return rows_ == TableRows && cols_ == TableCols; }

void TableGridModel::rereadRows(int32_t first, int32_t last) {
    first = std::max(first, 1);
    last = std::min(last, rows_);
    if (first > last) return;
    Q_EMIT dataChanged(index(first - 1, 0), index(last - 1, columnCount() - 1));
}

QWidget *TableCellDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &) const {
    auto *e = new QLineEdit(parent);
    e->setObjectName(QStringLiteral("CellEditor"));
    e->setFrame(false);
    editor_ = e;
    return e;
}

void TableCellDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const {
    // The editor starts with the cell's value; a later re-read of the cell
    // (a monitoring tick) leaves what the user is typing alone.
    auto *e = qobject_cast<QLineEdit *>(editor);
    if (!e || e->property("filled").toBool()) return;
    e->setText(index.data(Qt::EditRole).toString());
    e->setProperty("filled", true);
}

void TableCellDelegate::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const {
    if (auto *e = qobject_cast<QLineEdit *>(editor)) model->setData(index, e->text(), Qt::EditRole);
}

// ---- Window ----------------------------------------------------------------------

frmTable::frmTable() : Form(QStringLiteral("frmTable")) {
    // Rows that monitoring reads are current only while the link is up.
    ControllerLink &link = controllerLink();
    connect(&link, &ControllerLink::lost, this, [this] { markMonitoredRowsStale(); });
    connect(&link, &ControllerLink::closed, this, [this] { markMonitoredRowsStale(); });
    connect(&link, &ControllerLink::suspended, this, [this] { markMonitoredRowsStale(); });
}

namespace {
quint64 cellKey(int32_t row, int32_t column) { return (quint64(uint32_t(row)) << 32) | uint32_t(column); }
}  // namespace

void StaleCells::markRows(int32_t first, int32_t last) {
    if (first < 0 || first > last) return;
    if (rows_.size() <= size_t(last)) rows_.resize(size_t(last) + 1, false);
    std::fill(rows_.begin() + first, rows_.begin() + last + 1, true);
    entered_.clear();
}

void StaleCells::rowRead(int32_t row) {
    if (row >= 0 && size_t(row) < rows_.size()) rows_[size_t(row)] = false;
}

void StaleCells::cellEntered(int32_t row, int32_t column) {
    if (row >= 0 && size_t(row) < rows_.size() && rows_[size_t(row)]) entered_.insert(cellKey(row, column));
}

bool StaleCells::contains(int32_t row, int32_t column) const {
    return row >= 0 && size_t(row) < rows_.size() && rows_[size_t(row)] && !entered_.contains(cellKey(row, column));
}

void StaleCells::clear() {
    rows_.clear();
    entered_.clear();
}

void frmTable::markMonitoredRowsStale() {
    if (!loaded() || !TableMonitorOn) return;
    const int32_t first = std::max<int32_t>(1, TableMonStartRow), last = std::min<int32_t>(TableMonEndRow, TableRows);
    if (first > last) return;
    staleCells_.markRows(first, last);
    tgDTableRows->rereadRows(first, last);
}

void frmTable::buildControls() {
    setWindowTitle(QStringLiteral("Data Table"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    MenuBar = named(new QMenuBar(this), QStringLiteral("MenuBar"));
    outer->setMenuBar(MenuBar);
    buildFileMenu();
    buildEditMenu();
    buildOptionsMenu();
    buildHelpMenu();
    buildToolbar(outer);
    QGridLayout *grid = buildSizeFields();
    buildGrid(grid);
    outer->addWidget(VideoSoftElastic1, 1);
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });

    Timer1 = new FormTimer(this, QStringLiteral("Timer1"), 2000, false);
    Timer2 = new FormTimer(this, QStringLiteral("Timer2"), 1000, false);
    connect(Timer1, &FormTimer::Timer, this, [this] { Timer1_Timer(); });
    connect(Timer2, &FormTimer::Timer, this, [this] { Timer2_Timer(); });
}

namespace {
// A menu item of a control array: named by array and index, a separator for "-".
QAction *menuItem(QMenu *menu, const QString &array, int index, const QString &caption) {
    QAction *a = caption == QStringLiteral("-") ? menu->addSeparator() : menu->addAction(caption);
    a->setObjectName(controlName(array, index));
    a->setProperty("Index", index);
    return a;
}
}  // namespace

void frmTable::buildFileMenu() {
    mnuFile = named(MenuBar->addMenu(QStringLiteral("&File")), QStringLiteral("mnuFile"));
    const std::array<const char *, 10> fileItems{"&New", "&Open", "-",  "&Save",     "Save &As...",
                                                 "-",    "&Upload", "&Download", "-", "E&xit"};
    for (int i = 1; i <= 10; ++i) {
        Filemenu[i] = menuItem(mnuFile, QStringLiteral("Filemenu"), i, QLatin1String(fileItems[i - 1]));
        connect(Filemenu[i], &QAction::triggered, this, [this, i] { Filemenu_Click(int16_t(i)); });
    }
}

void frmTable::buildEditMenu() {
    mnuEdit = named(MenuBar->addMenu(QStringLiteral("&Edit")), QStringLiteral("mnuEdit"));
    mnuEditCut = named(mnuEdit->addAction(QStringLiteral("C&ut")), QStringLiteral("mnuEditCut"));
    mnuEditCut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    mnuEditCopy = named(mnuEdit->addAction(QStringLiteral("&Copy")), QStringLiteral("mnuEditCopy"));
    mnuEditCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    mnuEditPaste = named(mnuEdit->addAction(QStringLiteral("&Paste")), QStringLiteral("mnuEditPaste"));
    mnuEditPaste->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    connect(mnuEditCut, &QAction::triggered, this, [this] { mnuEditCut_Click(); });
    connect(mnuEditCopy, &QAction::triggered, this, [this] { mnuEditCopy_Click(); });
    connect(mnuEditPaste, &QAction::triggered, this, [this] { mnuEditPaste_Click(); });
}

void frmTable::buildOptionsMenu() {
    mnuOptions = named(MenuBar->addMenu(QStringLiteral("&Options")), QStringLiteral("mnuOptions"));
    const std::array<const char *, 5> optionItems{"&Font...", "-", "&Begin Monitoring ...", "&End Monitoring ...",
                                                  "&Monitor Setup"};
    for (int i = 1; i <= 5; ++i) {
        Optionmenu[i] = menuItem(mnuOptions, QStringLiteral("Optionmenu"), i, QLatin1String(optionItems[i - 1]));
        connect(Optionmenu[i], &QAction::triggered, this, [this, i](bool checked) {
            // The handler sets the check marks itself.
            if (Optionmenu[i]->isCheckable()) Optionmenu[i]->setChecked(!checked);
            Optionmenu_Click(int16_t(i));
        });
    }
    Optionmenu[3]->setCheckable(true);
    Optionmenu[4]->setCheckable(true);
}

void frmTable::buildHelpMenu() {
    mnuHelp = named(MenuBar->addMenu(QStringLiteral("&Help")), QStringLiteral("mnuHelp"));
    HelpMenu[1] = menuItem(mnuHelp, QStringLiteral("HelpMenu"), 1, QStringLiteral("&Contents"));
    HelpMenu[2] = menuItem(mnuHelp, QStringLiteral("HelpMenu"), 2, QStringLiteral("&Help on Help ..."));
    for (int i = 1; i <= 2; ++i)
        connect(HelpMenu[i], &QAction::triggered, this, [this, i] { HelpMenu_Click(int16_t(i)); });
}

void frmTable::buildToolbar(QVBoxLayout *outer) {
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
        const QString k = QLatin1String(key);
        connect(a, &QAction::triggered, this, [this, k] { Toolbar1_ButtonClick(k); });
    }
    outer->addWidget(Toolbar1);
}

// The resizing container with the row and column fields on its first row;
// its grid layout.
QGridLayout *frmTable::buildSizeFields() {
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
    onKeyPress(txtRows, [this](int &key) { txtRows_KeyPress(key); });
    onKeyPress(txtCols, [this](int &key) { txtCols_KeyPress(key); });
    onLostFocus(txtRows, [this] { txtRows_LostFocus(); });
    onLostFocus(txtCols, [this] { txtCols_LostFocus(); });
    return grid;
}

// The data table grid below the size fields.
void frmTable::buildGrid(QGridLayout *grid) {
    tgDTable = named(new QTableView(VideoSoftElastic1), QStringLiteral("tgDTable"));
    tgDTableRows = new TableGridModel(this);
    tgDTable->setModel(tgDTableRows);
    cellEditor_ = new TableCellDelegate(tgDTable);
    tgDTable->setItemDelegate(cellEditor_);
    tgDTable->verticalHeader()->hide();
    tgDTable->horizontalHeader()->show();
    tgDTable->setTabKeyNavigation(true);
    tgDTable->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed);
    designFont_ = QFont(QStringLiteral("Arial"));
    tgDTable->setFont(designFont_);
    tgDTable->installEventFilter(this);
    grid->addWidget(tgDTable, 1, 0, 1, 6);
}

bool frmTable::eventFilter(QObject *watched, QEvent *event) {
    if (watched == tgDTable) {
        if (event->type() == QEvent::FocusIn) GridHadFocus = true;
        if (event->type() == QEvent::KeyPress) {
            auto *key = static_cast<QKeyEvent *>(event);
            // Ctrl+E puts the current cell into edit mode.
            if (key->key() == Qt::Key_E && key->modifiers() == Qt::ControlModifier) {
                tgDTable->edit(tgDTable->currentIndex());
                return true;
            }
        }
    }
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
    ++tableEpoch_;
    staleCells_.clear();
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
    // A read under way stops after its row.
    ++tableEpoch_;
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
    ShowStatus(QStringLiteral("Data Table Form unloaded."));
}

// ---- Cells and the grid ----------------------------------------------------------------

QString frmTable::RowText(int32_t i) {
    QString text(std::max(0, TableCols), QLatin1Char(' '));
    for (int32_t c = 1; c <= TableCols - 1; ++c) {
        const int32_t v = TableValues(i + 1, c);
        text[c - 1] = v >= 32 && v <= 126 ? QChar(char16_t(v)) : QChar(MiddleDot);
    }
    return text;
}

void frmTable::ApplyRowText(int32_t i, const QString &text) {
    try {
        for (int32_t c = 1; c <= TableCols - 1; ++c) {
            const QChar ch = c <= text.size() ? text.at(c - 1) : QChar(MiddleDot);
            if (ch == QChar(MiddleDot)) continue;
            // The mark of a cell not read since the link went down, left as
            // the row's text showed it.
            if (ch == StaleMark && staleCells_.contains(i + 1, c)) continue;
            int32_t &cell = TableValues(i + 1, c);
            if (cell >= 0 && cell < 256 && QChar(char16_t(cell)) == ch) continue;
            cell = ansiCode(ch);
            staleCells_.cellEntered(i + 1, c);
        }
    } catch (const std::exception &) {
        // A row outside the table changes nothing more.
    }
    tgDTableRows->rereadCells();
}

void frmTable::CellEditEnded(int32_t row, int32_t column, const QString &text) {
    try {
        if (column == TableCols) {
            ApplyRowText(row - 1, text);
        } else if (column >= 1 && column < TableCols) {
            // Only a number that a cell can hold is taken.
            if (const auto v = tableCellValue(text)) {
                TableValues(row, column) = *v;
                staleCells_.cellEntered(row, column);
            }
        }
    } catch (const std::exception &) {
    }
    tgDTableRows->rereadCells();
}

QVariant frmTable::GetCellValue(int32_t i, int32_t column) {
    try {
        if (i < 0 || i >= TableRows || column < 0 || column > TableCols) return 0;
        if (column == 0) return i + 1;
        // A monitored cell not read since the link went down shows "*", in
        // its column and in the row's text.
        if (column == TableCols) {
            QString text = RowText(i);
            for (int32_t c = 1; c <= TableCols - 1; ++c)
                if (staleCells_.contains(i + 1, c)) text[c - 1] = StaleMark;
            return text;
        }
        if (staleCells_.contains(i + 1, column)) return QString(StaleMark);
        return TableValues(i + 1, column);
    } catch (const RuntimeError &) {
        // A cell outside the table's allocation shows nothing.
        return {};
    }
}

void frmTable::RefreshGrid() { tgDTableRows->reread(); }

void frmTable::BuildGridColumns() {
    try {
        RefreshGrid();
        QHeaderView *header = tgDTable->horizontalHeader();
        header->show();
        header->resizeSection(0, pixels(RowNumberWidth));
        if (TableCols == 1) {
            header->resizeSection(1, pixels(DataColumnWidth));
        } else if (TableCols >= 2) {
            for (int32_t i = 1; i <= TableCols - 1; ++i) header->resizeSection(i, pixels(DataColumnWidth));
            header->resizeSection(TableCols, pixels(MessageWidth));
        }
        tgDTable->setCurrentIndex(tgDTableRows->index(0, 0));
        tgDTable->viewport()->update();
    } catch (const std::exception &) {
    }
}

void frmTable::ResizeTableValues(int16_t rows, int16_t columns) {
    TableCells resized;
    resized.redim(0, rows, 0, columns);
    const int32_t keepRows = std::min<int32_t>(TableRows, rows);
    const int32_t keepCols = std::min<int32_t>(TableCols, columns);
    for (int32_t r = 1; r <= keepRows; ++r)
        for (int32_t c = 1; c <= keepCols; ++c)
            if (TableValues.contains(r, c)) resized(r, c) = TableValues(r, c);
    TableValues = std::move(resized);
    TableRows = rows;
    TableCols = columns;
    ++tableEpoch_;
}

void frmTable::SetTableSize(int16_t rows, int16_t columns) {
    try {
        if (rows == 0 || columns == 0) {
            TableRows = rows;
            TableCols = columns + 1;
            ++tableEpoch_;
            return;
        }
        ResizeTableValues(rows, int16_t(columns + 1));
        BuildGridColumns();
    } catch (const std::exception &) {
    }
}

void frmTable::Command1_Click() { RefreshGrid(); }

void frmTable::Timer1_Timer() {
    // A read of many rows may outlast the interval: the next tick waits a
    // whole interval after this one, so that the window has its turn first.
    Timer1->setEnabled(false);
    UploadDataTable();
    if (loaded() && TableMonitorOn) Timer1->setEnabled(true);
}

void frmTable::Timer2_Timer() {
    ++Timer2Ticks;
    RefreshGrid();
    if (Timer2Ticks == 2) Timer2->setEnabled(false);
}

// ---- Rows and Cols boxes ----------------------------------------------------------------

namespace {
// The boxes' typing: the first key since the last Enter empties the box, and
// Enter commits it and is swallowed.
void rowsColsKey(QLineEdit *box, bool &typing, int &keyAscii, const std::function<void()> &commit) {
    if (!typing) {
        box->clear();
        typing = true;
    }
    if (keyAscii != 13) return;
    keyAscii = 0;
    commit();
    typing = false;
}

// The size typed into the Rows or Cols box: a whole number from 1 to most
// (rounded, halves to the even neighbour). Any other entry changes nothing: the status line names the box and what it
// takes (when the user typed it), and the box shows the size again.
std::optional<int16_t> typedSize(QLineEdit *box, const QString &name, int32_t most, int32_t size) {
    const auto v = tryBoxNumber(box->text(), BoxBits::Bits32);
    if (v && *v > 0 && *v <= most) {
        // The box shows the size taken (1000 for 1e3).
        if (box->text().trimmed() != QString::number(*v)) box->setText(QString::number(*v));
        return int16_t(*v);
    }
    if (box->isModified())
        ShowStatus(QStringLiteral("Nothing changed: %1 takes whole numbers from 1 to %2, not %3.")
                       .arg(name)
                       .arg(most)
                       .arg(box->text().trimmed()));
    box->setText(QString::number(size));
    return std::nullopt;
}
}  // namespace

void frmTable::commitRows() {
    if (const auto v = typedSize(txtRows, QStringLiteral("Rows"), MaxTableRows, TableRows))
        SetTableSize(*v, int16_t(TableCols - 1));
}

void frmTable::commitCols() {
    if (const auto v = typedSize(txtCols, QStringLiteral("Cols"), MaxTableColumns, TableCols - 1))
        SetTableSize(int16_t(TableRows), *v);
}

void frmTable::txtRows_KeyPress(int &keyAscii) {
    rowsColsKey(txtRows, RowsColsTyping, keyAscii, [this] { commitRows(); });
}
void frmTable::txtCols_KeyPress(int &keyAscii) {
    rowsColsKey(txtCols, RowsColsTyping, keyAscii, [this] { commitCols(); });
}
void frmTable::txtRows_LostFocus() { commitRows(); }
void frmTable::txtCols_LostFocus() { commitCols(); }

// ---- Controller transfers ----------------------------------------------------------------

std::optional<QString> frmTable::readStops(quint64 epoch, bool monitored, int32_t row) const {
    // The window closed, or the table is another one now: the read has
    // nothing left to fill (an unload says so itself).
    if (epoch != tableEpoch_)
        return loaded() ? QStringLiteral("Data table upload stopped after row %1: the table was changed.").arg(row)
                        : QString();
    // Suspended, lost or closed: the status line says so already.
    if (NoComm || ConnectionHandle == 0) return QString();
    if (monitored && !TableMonitorOn) return QStringLiteral("Data table monitoring ended after row %1.").arg(row);
    return std::nullopt;
}

void frmTable::UploadDataTable() {
    // No connection, or another transfer holds it: the firmware update, a
    // download of this window whose message box is open, or a read of this
    // window letting events run between its rows.
    if (NoComm || controllerLink().busy()) return;
    Hourglass hourglass;
    const SuspendedConnectionCloser closer;
    const ControllerLink::Hold hold;
    const bool monitored = TableMonitorOn;
    try {
        if (!monitored) {
            const int32_t keptRows = TableRows, keptCols = TableCols;
            if (OrvComm::ZqGetDataTableDim(ConnectionHandle, &TableRows, &TableCols) != 1) {
                MsgBox(QStringLiteral("Failed to get data table dimensions."), mbExclamation);
                return;
            }
            if (TableRows == 0 || TableCols == 0) {
                MsgBox(QStringLiteral("There is NO data table to load."), mbExclamation);
                return;
            }
            if (TableRows > MaxTableRows) {
                TableRows = keptRows;
                TableCols = keptCols;
                MsgBox(QStringLiteral("The data table has more than %1 rows and cannot be loaded.").arg(MaxTableRows),
                       mbExclamation);
                return;
            }
            TableCols += 1;
            TableMonStartRow = 1;
            TableMonEndRow = static_cast<int16_t>(TableRows);
            TableValues.redim(1, TableRows, 1, TableCols);
            ++tableEpoch_;
            staleCells_.clear();
        }
        // A monitored upload keeps the table's size: the grid keeps its place
        // and the rows read are refreshed in it.
        const bool inPlace = monitored && tgDTableRows->fitsTable();
        if (!inPlace) BuildGridColumns();
        const QString busyText = QStringLiteral("Uploading data table ... Please stand by.");
        ShowStatus(busyText);
        DataTableRowBuffer.assign(std::max<size_t>(256, size_t(std::max(0, TableCols)) + 1), 0);
        // There is no row 0 to read.
        const int32_t first = std::max<int32_t>(1, TableMonStartRow);
        const int32_t last = std::min<int32_t>(TableMonEndRow, TableRows);
        const quint64 epoch = tableEpoch_;
        // The grid shows the rows read up to shown, and the status line their
        // count, as the pace allows; the rest once the read ends.
        ProgressPace pace;
        int32_t read = first - 1, shown = first - 1;
        std::optional<QString> ended;  // the status line of a read that ended early
        for (int32_t r = first; r <= last; ++r) {
            if (r > first) {
                // The window's turn between two rows. End Monitoring, Suspend
                // or closing the editor meanwhile ends the read here.
                DoEvents();
                if ((ended = readStops(epoch, monitored, r - 1))) break;
            }
            if (OrvComm::ZqGetDataTableRow(ConnectionHandle, r, 1, TableCols - 1, DataTableRowBuffer.data()) != 1) {
                ended = FailureText(QStringLiteral("Failed to get data table row %1.").arg(r));
                break;
            }
            for (int32_t c = 1; c <= TableCols - 1; ++c) TableValues(r, c) = DataTableRowBuffer[size_t(c)];
            staleCells_.rowRead(r);
            read = r;
            if (r < last && pace.due()) {
                tgDTableRows->rereadRows(shown + 1, read);
                shown = read;
                mainWindow().setStatusText(
                    busyText + QStringLiteral("\nRows read: %1 of %2.").arg(r - first + 1).arg(last - first + 1));
            }
        }
        // Another table, or none, has the grid now.
        if (epoch == tableEpoch_ && read > shown) tgDTableRows->rereadRows(shown + 1, read);
        if (ended) {
            if (!ended->isEmpty()) ShowStatus(*ended);
            return;
        }
        ShowStatus(QStringLiteral("Upload complete."));
        // The size is unchanged in place: a Rows or Cols entry being typed
        // stays.
        if (!inPlace) {
            txtRows->setText(QString::number(TableRows));
            txtCols->setText(QString::number(TableCols - 1));
        }
    } catch (const std::exception &e) {
        MsgBox(describeException(e), mbExclamation);
    }
}

void frmTable::DownloadDataTable() {
    // Without a link, or while a transfer holds it, nothing is written: the
    // status line says why.
    if (const QString refused = LinkRefusal(QStringLiteral("Failed to download the data table.")); !refused.isEmpty()) {
        ShowStatus(refused);
        return;
    }
    Hourglass hourglass;
    const int32_t keptRows = TableRows, keptCols = TableCols;
    const SuspendedConnectionCloser closer;
    const ControllerLink::Hold hold;
    try {
        if (OrvComm::ZqGetDataTableDim(ConnectionHandle, &TableRows, &TableCols) != 1) {
            TableRows = keptRows;
            TableCols = keptCols;
            MsgBox(QStringLiteral("Failed to get data table dimensions."), mbExclamation);
            return;
        }
        TableCols += 1;
        if (TableRows != keptRows || TableCols != keptCols) {
            TableRows = keptRows;
            TableCols = keptCols;
            MsgBox(QStringLiteral("Cannot change data table dimensions."), mbExclamation);
            return;
        }
        const QString busyText = QStringLiteral("Downloading data table ... Please stand by.");
        ShowStatus(busyText);
        DataTableRowBuffer.assign(std::max<size_t>(256, size_t(std::max(0, TableCols)) + 1), 0);
        const quint64 epoch = tableEpoch_;
        const int32_t rows = TableRows;
        ProgressPace pace;
        for (int32_t r = 1; r <= rows; ++r) {
            if (r > 1) {
                // The window's turn between two rows. Closing the editor,
                // another table, or a link suspended, lost or closed
                // meanwhile ends the download here.
                DoEvents();
                if (epoch != tableEpoch_ || NoComm || ConnectionHandle == 0) {
                    const QString why = !loaded()               ? QStringLiteral("the editor was closed")
                                        : epoch != tableEpoch_ ? QStringLiteral("the table was changed")
                                                               : controllerLink().whyNot();
                    const QString stopped =
                        QStringLiteral("Data table download stopped after row %1: %2.").arg(r - 1).arg(why);
                    if (loaded()) ShowStatus(stopped);
                    MsgBox(stopped + QLatin1Char('\n') + rowsWrittenUpTo(r - 1, rows), mbExclamation);
                    return;
                }
            }
            // Each cell travels as a signed 16-bit number: its low 16 bits.
            for (int32_t c = 1; c <= TableCols - 1; ++c)
                DataTableRowBuffer[size_t(c)] = static_cast<int16_t>(static_cast<uint16_t>(TableValues(r, c)));
            if (OrvComm::ZqPutDataTableRow(ConnectionHandle, r, 1, TableCols - 1, DataTableRowBuffer.data()) != 1) {
                // Which row, why, and what the controller holds now.
                const QString failed = FailureText(QStringLiteral("Failed to set data table row %1.").arg(r)).trimmed();
                ShowStatus(failed);
                MsgBox(failed + QLatin1Char('\n') + rowsWritten(r, rows), mbExclamation);
                return;
            }
            if (r < rows && pace.due())
                mainWindow().setStatusText(busyText + QStringLiteral("\nRows written: %1 of %2.").arg(r).arg(rows));
        }
        ShowStatus(QStringLiteral("Download complete."));
    } catch (const std::exception &e) {
        TableRows = keptRows;
        TableCols = keptCols;
        MsgBox(describeException(e), mbExclamation);
    }
}

// ---- The table file ----------------------------------------------------------------------

std::optional<QString> frmTable::askFileName(FileDialogKind kind, const QString &title, const QString &filter) {
    CMDialog1.DialogTitle = title;
    CMDialog1.Filter = filter;
    CMDialog1.FilterIndex = 1;
    CMDialog1.DefaultExt = QStringLiteral("tab");
    const bool chosen = kind == FileDialogKind::Open ? CMDialog1.ShowOpen(this) : CMDialog1.ShowSave(this);
    if (!chosen) return std::nullopt;
    const QString name = CMDialog1.FileName;
    if (kind == FileDialogKind::Save && !name.isEmpty() && QFileInfo::exists(name) &&
        MsgBox(name + QStringLiteral(" already exists. Do you want to overwrite ?"), mbOKCancel + mbQuestion) != mbOK)
        return std::nullopt;
    return name;
}

void frmTable::LoadDataTableFile() {
    // One file at a time: the one being read ends first (closing the editor
    // ends it at once).
    if (reading_) {
        ShowStatus(QStringLiteral("The data table file %1 is still being read.").arg(awkDTable.FileName));
        return;
    }
    const auto name = askFileName(FileDialogKind::Open, QStringLiteral("Load Data Table"), TableFilter);
    if (!name) return;
    Hourglass hourglass;
    // The file becomes the table's file once it is read whole (a Save
    // meanwhile writes the table shown to the file it came from); a file
    // that is refused never does.
    if (name->isEmpty() || ReadDataTableFile(*name)) DataTablePath = *name;
    BuildGridColumns();
}

bool frmTable::ReadDataTableFile(const QString &path) {
    if (!QFileInfo::exists(path)) return true;
    DataTableFileReader reader;
    reading_ = &reader;
    awkDTable.FileName = path;
    // The window has its turn after each line. The table is replaced only
    // by the file read whole: closing the editor or another table meanwhile
    // ends the reading, and the file is not loaded.
    const quint64 epoch = tableEpoch_;
    const bool scanned = awkDTable.Scan([this, epoch] {
        if (!awkDTable_Line()) return false;
        DoEvents();
        return epoch == tableEpoch_;
    });
    reading_ = nullptr;
    if (epoch != tableEpoch_) {
        const QString why = loaded() ? QStringLiteral("the table was changed while the file was read")
                                     : QStringLiteral("the editor was closed");
        MsgBox(QStringLiteral("%1 was not loaded: %2.").arg(path, why), mbExclamation);
        return false;
    }
    if (!scanned) {
        MsgBox(QStringLiteral("Failed to read data table file %1.\n%2").arg(path, awkDTable.errorString()),
               mbExclamation);
        return false;
    }
    if (!reader.finish()) {
        const QString where =
            reader.errorLine() > 0 ? QStringLiteral("Line %1: ").arg(reader.errorLine()) : QString();
        MsgBox(QStringLiteral("%1 is not a data table file; the table is unchanged.\n%2%3")
                   .arg(path, where, reader.error()),
               mbExclamation);
        return false;
    }
    TableRows = reader.rows();
    TableCols = reader.cols();
    TableValues = std::move(reader.cells());
    ++tableEpoch_;
    // Every cell now holds the file's value, whether the link is up or not.
    staleCells_.clear();
    txtRows->setText(QString::number(TableRows));
    txtCols->setText(QString::number(TableCols - 1));
    return true;
}

bool frmTable::awkDTable_Line() { return reading_ && reading_->line(awkDTable); }

void frmTable::SaveDataTableFile(QString &path) {
    if (path.isEmpty()) {
        const auto name = askFileName(FileDialogKind::Save, QStringLiteral("Save Data Table"), TableFilter);
        if (!name || name->isEmpty()) return;
        path = *name;
    }
    DataTablePath = path;
    Hourglass hourglass;
    QString error;
    try {
        // Written whole or not at all: a file that exists stays as it was
        // when the new one cannot be written.
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            QByteArray text = DataTableHeader(TableRows, TableCols - 1).toLatin1() + "\r\n{\r\n";
            std::vector<int32_t> cells(size_t(std::max(0, TableCols - 1)));
            for (int32_t r = 1; r <= TableRows; ++r) {
                for (int32_t c = 1; c <= TableCols - 1; ++c) cells[size_t(c - 1)] = TableValues(r, c);
                text += DataTableRowLine(cells);
                text += "\r\n";
            }
            text += "}\r\n";
            if (file.write(text) == text.size() && file.commit()) return;
        }
        error = file.errorString();
    } catch (const std::exception &e) {
        error = describeException(e);
    }
    MsgBox(QStringLiteral("Failed to save the data table to %1.\n%2").arg(path, error), mbExclamation);
}

void frmTable::FileSaveAs() {
    const auto name =
        askFileName(FileDialogKind::Save, QStringLiteral("Save Data Table"), QStringLiteral("Data Tables (*.tab)|*.tab"));
    if (!name) return;
    DataTablePath = *name;
    SaveDataTableFile(DataTablePath);
}

// ---- Clipboard, font, help -------------------------------------------------------------------

QLineEdit *frmTable::clipboardEditor() {
    QWidget *focus = QApplication::focusWidget();
    const bool gridActive = focus && (focus == tgDTable || tgDTable->isAncestorOf(focus));
    if (!gridActive && !GridHadFocus) return nullptr;
    QLineEdit *editor = cellEditor_->editor();
    if (!editor || editor->selectedText().isEmpty()) return nullptr;
    return editor;
}

void frmTable::mnuEditCopy_Click() {
    if (QLineEdit *e = clipboardEditor()) QGuiApplication::clipboard()->setText(e->selectedText());
}

void frmTable::mnuEditCut_Click() {
    if (QLineEdit *e = clipboardEditor()) {
        QGuiApplication::clipboard()->setText(e->selectedText());
        e->insert(QString());
    }
}

void frmTable::mnuEditPaste_Click() {
    if (QLineEdit *e = clipboardEditor()) e->insert(QGuiApplication::clipboard()->text());
}

void frmTable::ChooseTableFont() {
    try {
        FontDialogCall call;
        call.title = QStringLiteral("Data Table Font");
        call.font = tgDTable->font();
        call.colour = tgDTable->palette().color(QPalette::Text);
        call.flags = TableFontFlags;
        const auto chosen = ShowFontDialog(this, call);
        if (!chosen) return;
        for (QWidget *w : {static_cast<QWidget *>(tgDTable), static_cast<QWidget *>(txtRows),
                           static_cast<QWidget *>(txtCols)}) {
            w->setFont(chosen->font);
            QPalette p = w->palette();
            p.setColor(QPalette::Text, chosen->colour);
            w->setPalette(p);
        }
    } catch (const std::exception &) {
    }
}

void frmTable::HelpMenu_Click(int16_t index) {
    CommonDialog &help = mainWindow().commonDialog();
    help.HelpFile = QCoreApplication::applicationDirPath() + QStringLiteral("/orvmon34.pdf");
    if (index == 1) {
        help.HelpCommand = 1;
        help.HelpContext = 200;
    } else if (index == 2) {
        help.HelpCommand = 4;
    } else {
        return;
    }
    help.ShowHelp();
}

// ---- Menus and toolbar ------------------------------------------------------------------------

void frmTable::Filemenu_Click(int16_t index) {
    switch (index) {
    case 2: LoadDataTableFile(); break;
    case 4: SaveDataTableFile(DataTablePath); break;
    case 5: FileSaveAs(); break;
    case 7:
        UploadDataTable();
        RefreshGrid();
        break;
    case 8: DownloadDataTable(); break;
    case 10: Unload(); break;
    default: break;  // "New" does nothing
    }
}

void frmTable::Optionmenu_Click(int16_t index) {
    switch (index) {
    case 1: ChooseTableFont(); break;
    case 3:  // Begin Monitoring
    case 4:  // End Monitoring
        // Without a connection monitoring stays as it is.
        if (NoComm) return;
        TableMonitorOn = index == 3;
        Optionmenu[3]->setChecked(TableMonitorOn);
        Optionmenu[4]->setChecked(!TableMonitorOn);
        Timer1->setEnabled(TableMonitorOn);
        break;
    case 5: form<frmTableMon>().Show(); break;
    default: break;
    }
}

void frmTable::Toolbar1_ButtonClick(const QString &key) {
    if (key == QStringLiteral("Open")) Filemenu_Click(2);
    else if (key == QStringLiteral("Save")) Filemenu_Click(4);
    else if (key == QStringLiteral("Cut")) mnuEditCut_Click();
    else if (key == QStringLiteral("Copy")) mnuEditCopy_Click();
    else if (key == QStringLiteral("Paste")) mnuEditPaste_Click();
}
