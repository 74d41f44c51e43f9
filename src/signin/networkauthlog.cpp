#include "signin/networkauthlog.h"

#include <QByteArrayView>

QuietNetworkAuthLog::QuietNetworkAuthLog()
{
    if (s_depth++ == 0)
        s_previous = QLoggingCategory::installFilter(&QuietNetworkAuthLog::filter);
}

QuietNetworkAuthLog::~QuietNetworkAuthLog()
{
    if (--s_depth == 0)
        QLoggingCategory::installFilter(s_previous);
}

void QuietNetworkAuthLog::filter(QLoggingCategory *category)
{
    if (s_previous)
        s_previous(category);
    if (QByteArrayView(category->categoryName()).startsWith("qt.networkauth.")) {
        for (const QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg})
            category->setEnabled(type, false);
    }
}
