#pragma once
// The interactive OAuth 2.0 sign-in of one mailbox: the authorization-code
// flow with PKCE through the system browser and a redirect to a loopback
// port on 127.0.0.1. The refresh token it gains is kept (see refreshtokens.h).

#include "settings/generalsettings.h"

#include <QObject>
#include <QUrl>

#include <functional>

class SettingsStore;

struct SignInResult
{
    bool ok = false;
    QString error; // for the user, when not ok
};

class OAuthSignIn : public QObject
{
    Q_OBJECT
public:
    explicit OAuthSignIn(SettingsStore &store, QObject *parent = nullptr);

    // Shows the authorization page; the desktop's browser unless replaced
    // (the console prints the address too, a test follows it itself).
    // False when it could not be shown.
    std::function<bool(const QUrl &)> openBrowser;

    // Runs the flow for the mailbox and waits for its end, at most timeoutMs.
    // The event loop runs meanwhile, user input included, so a window can
    // offer cancel().
    SignInResult run(const MailboxLogin &login, int timeoutMs = 300000);

public slots:
    // Ends a running sign-in as failed.
    void cancel();

signals:
    void canceled();

private:
    SettingsStore &m_store;
};
