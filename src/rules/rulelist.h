#pragma once
// The rule tables: plain tables of text cells, row 0 the headings, rows 1
// onward the rules, and the RuleSet that holds the four tables, the size
// rules, the known-list switch and the known spammer list for the whole run.

#include "rules/knownlist.h"
#include "rules/learningoptions.h"
#include "rules/markstate.h"
#include "rules/revision.h"

#include <QList>
#include <QString>
#include <QStringList>

enum class RuleTable { Subject, Header, Sender, Exception };

// Column numbers of each table.
namespace SubjectCol {
enum : int { Picture, What, Matches, Case, Del, Hits, Count };
}
namespace HeaderCol {
enum : int { Picture, What, Matches, Case, Del, Hits, Count };
}
namespace SenderCol {
enum : int { Picture, What, Condition, Matches, Del, Hits, Count };
}
// DmarcOnly "Yes": the exception accepts only mail whose From domain passed
// DMARC at the user's receiving server ("Only when DMARC passes").
namespace ExceptCol {
enum : int { What, Condition, Matches, Case, Hits, DmarcOnly, Count };
}

// What differs between the four tables, for the file reader, the marking
// decision and the table models.
struct RuleTableLayout
{
    int columns;
    QStringList headings; // row 0, column 0 upward
    bool hasPicture; // column 0 shows the check or question picture
    int matchesColumn;
    int delColumn; // -1: the exception table has no Del? column
    int hitsColumn;
    QList<int> editableColumns;
    QList<int> sortableColumns;
};

const RuleTableLayout &layoutOf(RuleTable table);

class RuleList
{
public:
    // A fresh table: the headings and one empty rule row.
    explicit RuleList(RuleTable table);
    static constexpr int EmptyRowCount = 2;

    RuleTable table() const { return table_; }
    const RuleTableLayout &layout() const { return layoutOf(table_); }

    int columnCount() const { return columns_; }
    int rowCount() const { return int(rows_.size()); }
    void setColumnCount(int columns);
    void setRowCount(int rows);

    // Cells outside the table read as empty.
    const QString &cell(int column, int row) const
    {
        if (row < 0 || row >= rowCount() || column < 0 || column >= columns_)
            return emptyCell();
        return rows_[row][column];
    }
    void setCell(int column, int row, const QString &text);

    // Inserts an empty row at row (0 < row <= rowCount).
    void insertRow(int row);
    void removeRow(int row);
    void swapRows(int a, int b);
    // Sorts the rule rows in ascending order of one column: text without
    // regard to case, or as numbers for the Hits column.
    void sortRules(int column);
    void setHeadings();

    // The picture of column 0 (MarkState::Check or ::Question, None when unset).
    MarkState picture(int row) const;
    void setPicture(int row, MarkState picture);

    // Raises the row's hit counter by one: a text that is no integer counts
    // as 0, and the counter stops at the largest 32-bit value.
    void bumpHits(int row);

    // Set when the table's file could not be read; the table is then not
    // saved until it is loaded again or edited (any of the editing calls
    // above clear it).
    const QString &loadError() const { return loadError_; }
    void setLoadError(const QString &error) { loadError_ = error; }

    // Changes with every edit of the rules' cells; hit counters and
    // pictures leave it as it is.
    quint64 revision() const { return revision_.value(); }

    bool operator==(const RuleList &other) const;

private:
    void edited()
    {
        loadError_.clear();
        revision_.bump();
    }
    static const QString &emptyCell();

    RuleTable table_;
    int columns_ = 0;
    QList<QStringList> rows_;
    QList<MarkState> pictures_;
    QString loadError_;
    Revision revision_;
};

// The columns a table's file holds: the exception table's DMARC column
// only while a rule uses it, so files without it save back as they were
// and earlier versions read them the same.
int storedColumnCount(const RuleList &table);

// Sets the picture of column 0 of a rule row (0 < row < rowCount).
void CheckGridAdv(RuleList &table, int row, bool isCheck);
// Sets every rule row's picture from its Del? cell.
void setPicturesFromDel(RuleList &table);

struct SizeRules
{
    bool smallerEnabled = false;
    qint64 smallerLimit = 5;
    bool smallerCheck = true;
    bool largerEnabled = false;
    qint64 largerLimit = 20000;
    bool largerCheck = true;

    bool operator==(const SizeRules &) const = default;
};

struct RuleSet
{
    RuleList SubjectRules{RuleTable::Subject};
    RuleList HeaderRules{RuleTable::Header};
    RuleList SenderRules{RuleTable::Sender};
    RuleList ExceptionRules{RuleTable::Exception};
    SizeRules sizeRules;
    bool knownListEnabled = false;
    KnownSpammerList knownList;
    LearningOptions learning;

    RuleList &table(RuleTable which);
    const RuleList &table(RuleTable which) const;
    // Writes the heading row of every table.
    void SetGridHeadings();
};

constexpr RuleTable AllRuleTables[] = {RuleTable::Subject, RuleTable::Header, RuleTable::Sender, RuleTable::Exception};
