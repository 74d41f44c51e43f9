#pragma once
// The rule tables' list files ("subj.lst", "header.lst", "from.lst",
// "except.lst") and the rule options file "mailsieve.ini", all in one folder
// the caller names.
//
// A list file: line 1 "columns,rows"; then "column,row,text" for every
// non-empty cell, row by row and column by column; a CR inside a cell is
// written as TAB and an LF as BS; every line ends with CR LF.

#include "rules/rulelist.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

QString listFileName(RuleTable table);
QString ruleOptionsFileName();

// The most rows a list file may declare on line 1. A table takes its
// declared size whatever its cells, and each row costs about 200 bytes even
// when empty, so a damaged file of a few bytes claiming a million rows would
// take hundreds of megabytes; this many rows, far beyond any table kept by
// hand or by import, take some 20 MB.
constexpr int MaxListFileRows = 100'000;

QByteArray serializeRuleList(const RuleList &table);

// Replaces the table with the file's content. A missing file gives the
// headings and one empty rule row. The table takes the size on line 1 (at
// most MaxListFileRows rows), so rows that no cell line names, empty rules
// between others or after the last, are kept; columns beyond the table's
// fixed width are dropped. Row 0 always holds the table's headings. On
// failure the table keeps its previous content and records the error
// (RuleList::loadError); returns success.
bool loadRuleList(RuleList &table, const QString &path);
// Writes the table; on failure the file keeps its previous content.
bool saveRuleList(const RuleList &table, const QString &path, QString &error);

// Reads the size rules and the known-list switch; missing or unreadable
// values take their defaults.
bool readRuleOptions(RuleSet &rules, const QString &path, QString &error);
// Writes the seven option keys, keeping any other content of the file.
bool saveRuleOptions(const RuleSet &rules, const QString &path, QString &error);

// What a load or save left undone, one message per file, for the user.
struct RuleFilesResult
{
    QStringList errors;
    bool ok() const { return errors.isEmpty(); }
};

// Loads the four tables (subject, header, sender, exception) and the rule
// options. A table that fails keeps its previous content and does not stop
// the others from loading.
RuleFilesResult readSettings(RuleSet &rules, const QString &folder);
// Writes the four tables and the rule options. A file that already holds
// its table is left as it is, byte for byte. A table whose file failed to
// load and that was neither loaded nor edited since is not written, so the
// file is not replaced by what was read before the fault. A file that still
// does not load when an edited table replaces it is first kept as
// "<name>.bad" (the result says so).
RuleFilesResult Savesettings(const RuleSet &rules, const QString &folder);
