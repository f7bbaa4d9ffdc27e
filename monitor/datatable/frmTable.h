// The data table editor: the controller's data table in a grid, one grid row
// per table row, with its Rows and Cols boxes, menus and toolbar. The table
// itself lives in the shared TableRows, TableCols and TableValues; the grid
// reads its rows from them on request.
#pragma once

#include <QAbstractTableModel>
#include <QFont>
#include <QVariant>
#include <array>
#include <cstdint>

#include "core/forms.h"
#include "core/msgbox.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QTableView;
class QToolBar;
class frmTable;

// The grid's row source: every row and cell comes from the window.
class TableGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TableGridModel(frmTable *window);
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Drops every row and column read so far; the grid reads them again.
    void reread();

private:
    frmTable *window_;
};

class frmTable : public Form {
    Q_OBJECT
public:
    frmTable();

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

    // Window-level state.
    bool RowsColsTyping = false;  // a key has been typed into txtRows or txtCols since the last Enter
    bool GridHadFocus = false;    // the grid has had the focus since the load
    int32_t Timer2Ticks = 0;

    // The grid row source: the cell of the 0-based row index i in a grid
    // column (the row number in column 0, the row's text in column
    // TableCols), nothing outside the table.
    QVariant GetCellValue(int32_t i, int32_t column);
    // The text column of the 0-based row index i.
    QString RowText(int32_t i);
    // The grid reads all rows again.
    void RefreshGrid();

    void UploadDataTable();
    void Command1_Click();
    void Timer2_Timer();

protected:
    void buildControls() override;
    void Form_Load() override;
    void Form_Unload(int &cancel) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QFont designFont_;
};
