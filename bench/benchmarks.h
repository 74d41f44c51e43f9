#pragma once
// Each benchmark prints its figures as lines "NAME VALUE UNIT" on standard
// output and returns the process exit code.

#include <QStringList>

int runHeaderPassBench(const QStringList &args);
int runRulesBench(const QStringList &args);
// Needs a QApplication: it drives the main window.
int runWindowCheckBench(const QStringList &args);
