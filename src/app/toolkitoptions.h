#pragma once
// The options the Qt toolkit reads from any program's command line: the
// session manager restarts a program with "-session <id>", and users pass
// "-style fusion" or "-platform xcb". They belong to the window and never
// select the command-line check.

#include <QStringList>

// The arguments without the toolkit's options and their values; the first
// one (the program's name) always stays. A value-taking option without its
// value is not the toolkit's and stays too.
QStringList withoutToolkitOptions(const QStringList &arguments);
