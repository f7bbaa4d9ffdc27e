// The data table editor: the controller's data table in a grid, one grid row
// per table row, with its Rows and Cols boxes, menus and toolbar. It reads the
// table from the controller and writes it back (holding the link meanwhile,
// which keeps the polling loop and DDE off the controller), loads and saves
// it as a .tab file, and reads a row range again on its monitoring timer. A
// read or write lets the window's events run between two rows, and a file is
// read a line per turn, so that a table of thousands of rows never holds the
// window longer than one row's work.
// The table itself lives in the shared TableRows, TableCols and TableValues;
// the grid reads its rows from them on request.
#pragma once

#include <QAbstractTableModel>
#include <QFont>
#include <QLineEdit>
#include <QPointer>
#include <QSet>
#include <QStyledItemDelegate>
#include <QVariant>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/forms.h"
#include "core/msgbox.h"
#include "datatable/tablefile.h"

class QAction;
class QGridLayout;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QTableView;
class QToolBar;
class QVBoxLayout;
class frmTable;

// The grid's row source: every row and cell comes from the window. The grid
// keeps the size it read last until it reads its rows again.
class TableGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TableGridModel(frmTable *window);
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // The end of a cell's editing: the window stores the entry.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    // Drops every row and column read so far; the grid reads them again.
    void reread();
    // The grid reads the cells of the rows it has again (an open cell
    // editor stays open).
    void rereadCells();
    // True while the grid has the table's present size.
    bool fitsTable() const;
    // The grid reads the cells of table rows first..last again, in place:
    // the current cell, the selection, the scroll position and a cell being
    // edited stay as they are.
    void rereadRows(int32_t first, int32_t last);

private:
    frmTable *window_;
    int32_t rows_ = 0;
    int32_t cols_ = 0;  // TableCols when the grid last read its rows
};

// The grid's cell editor: a line of text for every column; the window's
// clipboard commands work on its selection.
class TableCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    // The open cell editor, nullptr when no cell is being edited.
    QLineEdit *editor() const { return editor_; }

private:
    mutable QPointer<QLineEdit> editor_;
};

// Monitored cells not read since the link went down: whole rows, less the
// cells the user has entered since.
class StaleCells {
public:
    void markRows(int32_t first, int32_t last);
    void rowRead(int32_t row);
    void cellEntered(int32_t row, int32_t column);
    bool contains(int32_t row, int32_t column) const;
    void clear();

private:
    std::vector<bool> rows_;  // indexed by row
    QSet<quint64> entered_;   // (row, column) keys in stale rows
};

class frmTable : public Form {
    Q_OBJECT
public:
    frmTable();

    // A read or write of many rows shows its progress (the count in the
    // status line, the rows read in the grid) at its first row and then at
    // most once in this many milliseconds; its end shows at once.
    static inline int ProgressIntervalMs = 100;

    // Controls.
    QTableView *tgDTable = nullptr;
    TableGridModel *tgDTableRows = nullptr;
    QLineEdit *txtRows = nullptr;
    QLineEdit *txtCols = nullptr;
    QLabel *labRows = nullptr;
    QLabel *labCols = nullptr;
    QPushButton *Command1 = nullptr;  // "Refresh"
    QToolBar *Toolbar1 = nullptr;     // buttons keyed Open, Save, Cut, Copy, Paste
    CommonDialog CMDialog1;
    FormTimer *Timer1 = nullptr;  // monitoring
    FormTimer *Timer2 = nullptr;  // the two re-reads after the load
    QWidget *VideoSoftElastic1 = nullptr;

    // Menus; the item arrays are indexed from 1, as the items are numbered.
    QMenuBar *MenuBar = nullptr;
    QMenu *mnuFile = nullptr;
    QMenu *mnuEdit = nullptr;
    QMenu *mnuOptions = nullptr;
    QMenu *mnuHelp = nullptr;
    std::array<QAction *, 11> Filemenu{};
    QAction *mnuEditCut = nullptr;
    QAction *mnuEditCopy = nullptr;
    QAction *mnuEditPaste = nullptr;
    std::array<QAction *, 6> Optionmenu{};
    std::array<QAction *, 3> HelpMenu{};

    LineScanner awkDTable;  // reads data table files

    // Window-level state.
    bool RowsColsTyping = false;  // a key has been typed into txtRows or txtCols since the last Enter
    bool GridHadFocus = false;    // the grid has had the focus since the load
    int32_t Timer2Ticks = 0;
    // The cells of one row as they pass to and from the library: element c
    // holds column c.
    std::vector<int32_t> DataTableRowBuffer;

    // The grid row source: the cell of the 0-based row index i in a grid
    // column (the row number in column 0, the row's text in column
    // TableCols), nothing outside the table.
    QVariant GetCellValue(int32_t i, int32_t column);
    // The text column of the 0-based row index i.
    QString RowText(int32_t i);
    // Stores the characters of the text column's entry into the row's cells.
    void ApplyRowText(int32_t i, const QString &text);
    // The end of a cell's editing in the grid row `row` (from 1) and grid
    // column `column`.
    void CellEditEnded(int32_t row, int32_t column, const QString &text);
    // The grid reads all rows again.
    void RefreshGrid();
    // Lays out the grid's columns for the table's size and reads all rows.
    void BuildGridColumns();
    // Changes the table's size; the controller is not told.
    void SetTableSize(int16_t rows, int16_t columns);
    // Reallocates TableValues as (0..rows, 0..columns), keeping the cells
    // that both sizes have.
    void ResizeTableValues(int16_t rows, int16_t columns);

    // Reads the table (or, while monitoring, the monitored rows) from the
    // controller.
    void UploadDataTable();
    // Writes the table to the controller.
    void DownloadDataTable();

    // The table file.
    void LoadDataTableFile();
    // Reads a table file, letting the window's events run after each line;
    // False when the file was there but was refused, or its reading was
    // ended before it was read whole.
    bool ReadDataTableFile(const QString &path);
    // The per-line event of awkDTable.
    bool awkDTable_Line();
    void SaveDataTableFile(QString &path);
    void FileSaveAs();

    void ChooseTableFont();

    // Menus and toolbar.
    void Filemenu_Click(int16_t index);
    void Optionmenu_Click(int16_t index);
    void HelpMenu_Click(int16_t index);
    void mnuEditCut_Click();
    void mnuEditCopy_Click();
    void mnuEditPaste_Click();
    void Toolbar1_ButtonClick(const QString &key);

    void txtRows_KeyPress(int &keyAscii);
    void txtCols_KeyPress(int &keyAscii);
    void txtRows_LostFocus();
    void txtCols_LostFocus();
    void Command1_Click();
    // A monitoring tick: the monitored rows are read again, and the next
    // tick counts its interval from the end of this one.
    void Timer1_Timer();
    void Timer2_Timer();

    TableCellDelegate *cellEditor() const { return cellEditor_; }

    // Every monitored cell shows "*" until monitoring reads its row again:
    // the link went down.
    void markMonitoredRowsStale();

protected:
    void buildControls() override;
    void Form_Load() override;
    void Form_Unload(int &cancel) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The steps of buildControls, in the window's order.
    void buildFileMenu();
    void buildEditMenu();
    void buildOptionsMenu();
    void buildHelpMenu();
    void buildToolbar(QVBoxLayout *outer);
    QGridLayout *buildSizeFields();
    void buildGrid(QGridLayout *grid);
    // The clipboard commands' cell editor: the open one with text selected,
    // while the grid has (or has had) the focus.
    QLineEdit *clipboardEditor();
    void commitRows();
    void commitCols();
    // Whether a read that let events run after row `row` stops there, and
    // what the status line then says (nothing when it says so already);
    // nullopt when it goes on. epoch and monitored are those of its start.
    std::optional<QString> readStops(quint64 epoch, bool monitored, int32_t row) const;
    // A file dialog of the table file; the name chosen, nullopt for Cancel
    // (or when the user will not overwrite an existing file).
    std::optional<QString> askFileName(FileDialogKind kind, const QString &title, const QString &filter);

    QFont designFont_;
    TableCellDelegate *cellEditor_ = nullptr;
    DataTableFileReader *reading_ = nullptr;  // the file being read
    StaleCells staleCells_;
    // Counts the loads and unloads of the window and the changes of the
    // table that do not come from the controller (a file read, a new size):
    // a read that lets events run stops when it changed meanwhile.
    quint64 tableEpoch_ = 0;
};
