#pragma once
// A table model over one rule table for the Spam settings window's grids.
// Model row i is rule row i + 1; the heading row is the horizontal header.
// The model edits the RuleList in place, so the next marking run sees every
// edit; call refresh() after the list changed behind the model's back (a
// load, a marking run that counted hits, a rule editor writing a row).

#include "rules/rulelist.h"

#include <QAbstractTableModel>
#include <QIcon>

class RuleTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // The MarkState (as int) of column 0's picture.
    static constexpr int MarkPictureRole = Qt::UserRole + 1;

    explicit RuleTableModel(RuleList &table, QObject *parent = nullptr);

    RuleList &ruleList() { return table_; }
    void setMarkPictures(const QIcon &checkMark, const QIcon &questionMark);
    void refresh();

    // A Hits cell takes only decimal digits of a non-negative 32-bit integer.
    static bool isValidHits(const QString &text);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool moveRows(const QModelIndex &sourceParent, int sourceRow, int count, const QModelIndex &destinationParent,
                  int destinationChild) override;
    // Sorts the rule rows by a sortable column, always ascending.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    static int ruleRow(const QModelIndex &index) { return index.row() + 1; }
    bool isDeleteRow(int row) const;
    // A typed Matches cell of a subject or sender rule needs a visible
    // character, as in the rule editors, unless the row's operator takes no
    // pattern ("Is blank" ...). An exception, which can only keep a message,
    // takes any text.
    bool isValidPattern(int row, const QString &text) const;

    RuleList &table_;
    QIcon checkMark_;
    QIcon questionMark_;
};
