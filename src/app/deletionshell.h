#pragma once
// Handing files and programs to the desktop: the mail program started after
// a delete pass, the log file opened for viewing. Only success or failure
// is reported back.

#include <QString>

// An executable file, or a command line whose program is on the search
// path, is started detached; any other existing file is opened with the
// desktop's application for it.
bool startMailProgram(const QString &program);
// Opens a document (the log file) with the desktop's application for it.
bool openWithDesktop(const QString &path);
