#pragma once
// Plays the user's browser in a sign-in: open() (the sign-in's openBrowser
// hook) fetches the authorization address, and when the provider answers
// with a redirect, fetches its Location, the sign-in's loopback address,
// the way a browser would after the user said yes. visit() fetches a
// loopback address directly, as a page or program of someone else's would.

#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkReply;

class TestBrowser : public QObject
{
    Q_OBJECT
public:
    explicit TestBrowser(QObject *parent = nullptr);

    // Starts following the address and returns at once; the sign-in's event
    // loop carries the rest.
    bool open(const QUrl &url);
    // The hook for OAuthSignIn::openBrowser.
    std::function<bool(const QUrl &)> opener();
    // Fetches the address as the loopback page; returns at once.
    void visit(const QUrl &url);

    // Changes the authorization address before it is fetched: an attacker's
    // or a broken program's doing.
    std::function<QUrl(QUrl)> rewrite;

    QUrl openedUrl() const { return m_openedUrl; }
    // The page the loopback address showed, and its HTTP status (0 until
    // it has been read, or when there was no answer).
    QString loopbackPage() const { return m_loopbackPage; }
    int loopbackStatus() const { return m_loopbackStatus; }

signals:
    // The loopback page has been read, or its fetch failed.
    void loopbackAnswered();

private:
    void onAuthorizationAnswer(QNetworkReply *reply);
    void onLoopbackAnswer(QNetworkReply *reply);
    QNetworkReply *get(const QUrl &url);

    QNetworkAccessManager m_network;
    QUrl m_openedUrl;
    QString m_loopbackPage;
    int m_loopbackStatus = 0;
};
