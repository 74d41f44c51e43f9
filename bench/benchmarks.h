#pragma once
// Each benchmark prints its figures as lines "NAME VALUE UNIT" on standard
// output and returns the process exit code.

#include <QStringList>

int runHeaderPassBench(const QStringList &args);
int runRulesBench(const QStringList &args);
// The rules benchmark's rule set (850 rules) and 100000-entry known list,
// written into a program folder; false when a file could not be written.
bool writeBenchRuleFiles(const QString &folder);
int runSecondCheckBench(const QStringList &args);
// One "mailsieve --check" of the default mailbox in $MAILSIEVE_HOME, for
// second-check: prints its time, its rows and this process's peak memory.
int runCheckOnce();
// Needs a QApplication: it drives the main window.
int runWindowCheckBench(const QStringList &args);
// The learner's accuracy on the public SpamAssassin corpus and its speed.
int runLearningBench(const QStringList &args);
