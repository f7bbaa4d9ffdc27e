// What the data table editor's tests share: a table put into the editor and
// read back out of it, and files written and read whole.
#pragma once

#include <QFile>
#include <QList>
#include <QtTest/QTest>

#include "core/globals.h"
#include "datatable/frmTable.h"

// Puts a table into the editor, as a file read leaves it, and lays out the grid.
inline void setTable(frmTable &t, const QList<QList<int32_t>> &rows) {
    TableRows = int32_t(rows.size());
    TableCols = int32_t(rows.front().size()) + 1;
    TableValues.redim(0, TableRows, 0, TableCols);
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c) TableValues(r + 1, c + 1) = rows[r][c];
    t.BuildGridColumns();
}
inline QList<int32_t> tableRow(int32_t r) {
    QList<int32_t> out;
    for (int32_t c = 1; c < TableCols; ++c) out << TableValues(r, c);
    return out;
}
inline QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
inline void writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}
