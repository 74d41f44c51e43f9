#pragma once
// "The program's folder": where the rule lists, the known spammer list,
// mailsieve.ini, downloaded messages, the help pages, the default log and
// the alarm sound live. $MAILSIEVE_HOME when set, else the per-user data
// folder. It is created on first use and seeded from the shipped data.

#include <QString>
#include <QStringList>

// The folder, with no trailing separator. Creates it when missing.
QString programFolder();

// The full name of a file in the program's folder.
QString programFile(const QString &name);

// Folders that may hold the shipped data (known list, help, sounds), most
// specific first: the "data" folder beside the executable (the build
// folder), "share/mailsieve" of the prefix the executable is installed in,
// then "mailsieve" in each XDG data folder ($XDG_DATA_HOME, $XDG_DATA_DIRS).
QStringList shippedDataFolders();

// Folders that may hold the program's icon theme tree ("hicolor/..."), in
// the same order: "icons" beside the executable, "share/icons" of the
// prefix, then "icons" in each XDG data folder.
QStringList shippedIconFolders();

// Copies each shipped file or folder (the icons and the demo mailbox stay
// behind: they are the program's own, not the user's) into the program's
// folder when no file of that name is there yet; user files are never
// overwritten. Returns the names of the entries that could not be copied.
QStringList seedProgramFolder(const QString &folder, const QStringList &sources);

// Deletes downloaded-message files ("msg_" n ".eml") left by an earlier run.
void removeDownloadedMessages(const QString &folder);
