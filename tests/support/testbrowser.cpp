#include "support/testbrowser.h"

#include <QNetworkReply>

TestBrowser::TestBrowser(QObject *parent) : QObject(parent)
{
}

std::function<bool(const QUrl &)> TestBrowser::opener()
{
    return [this](const QUrl &url) { return open(url); };
}

bool TestBrowser::open(const QUrl &url)
{
    m_openedUrl = url;
    QNetworkReply *reply = get(rewrite ? rewrite(url) : url);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onAuthorizationAnswer(reply); });
    return true;
}

QNetworkReply *TestBrowser::get(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return m_network.get(request);
}

void TestBrowser::onAuthorizationAnswer(QNetworkReply *reply)
{
    reply->deleteLater();
    const QUrl location = reply->header(QNetworkRequest::LocationHeader).toUrl();
    if (!location.isEmpty())
        visit(reply->url().resolved(location));
}

void TestBrowser::visit(const QUrl &url)
{
    QNetworkReply *loopback = get(url);
    connect(loopback, &QNetworkReply::finished, this, [this, loopback] { onLoopbackAnswer(loopback); });
}

void TestBrowser::onLoopbackAnswer(QNetworkReply *reply)
{
    reply->deleteLater();
    m_loopbackStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_loopbackPage = QString::fromUtf8(reply->readAll());
    emit loopbackAnswered();
}
