#pragma once
// Prints one rule table: the title centred at the top, the date at the top
// left, the time at the top right, "Page" and the page number at the bottom
// right, the heading row again on every page, the table centred, portrait.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class QPrinter;
class RuleList;

struct PrintedTable
{
    QString title;
    QStringList headings;
    QList<QStringList> rows;
    QList<int> columnWidths; // relative widths, one per column
};

// The rule rows and headings of a table, without the picture column.
PrintedTable printedTableOf(const RuleList &table, const QString &title, const QList<int> &columnWidths);

// Returns the number of pages printed; 0 when the printer could not start.
int printRuleTable(QPrinter &printer, const PrintedTable &table,
                   const QDateTime &printedAt = QDateTime::currentDateTime());
