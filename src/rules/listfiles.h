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

QByteArray serializeRuleList(const RuleList &table);

// Replaces the table with the file's content. A missing file gives the
// headings and one empty rule row. The size on line 1 is believed only as
// far as the cell lines back it: rows up to the last one a cell names (at
// least the headings and one rule row; a row beyond what the file's rule
// cells could fill is an error), columns up to the table's fixed width. Row
// 0 always holds the table's headings. On failure the table keeps its
// previous content and records the error (RuleList::loadError); returns
// success.
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
// Writes the four tables and the rule options. A table whose file failed to
// load and that was neither loaded nor edited since is not written, so the
// file is not replaced by what was read before the fault. A file that still
// does not load when an edited table replaces it is first kept as
// "<name>.bad" (the result says so).
RuleFilesResult Savesettings(const RuleSet &rules, const QString &folder);
