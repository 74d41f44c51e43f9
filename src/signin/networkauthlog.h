#pragma once
// Qt's sign-in classes write warnings of their own to the terminal (a
// provider's refusal, a failed code exchange), ahead of the message the
// sign-in gives the user and in other words. While a QuietNetworkAuthLog
// lives, the qt.networkauth categories say nothing below a critical message.

#include <QLoggingCategory>

class QuietNetworkAuthLog
{
public:
    QuietNetworkAuthLog();
    ~QuietNetworkAuthLog();
    Q_DISABLE_COPY_MOVE(QuietNetworkAuthLog)

private:
    static void filter(QLoggingCategory *category);

    // The filter is a plain function: the one it stands in front of, and how
    // many quiet scopes are open (nested ones leave the first in charge).
    static inline QLoggingCategory::CategoryFilter s_previous = nullptr;
    static inline int s_depth = 0;
};
