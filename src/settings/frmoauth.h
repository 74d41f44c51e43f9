#pragma once
// The OAuth 2.0 values of one mailbox: the user's own client ID and secret,
// and for "OAuth 2.0 (other)" the provider's endpoints and scope (Google's
// and Microsoft's are shown, not edited). "Sign in" runs the browser
// sign-in with the values as they stand in the dialog.

#include "settings/signinmethod.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

class TfrmOAuth : public QDialog
{
    Q_OBJECT

public:
    TfrmOAuth(int mailbox, SignInMethod method, const OAuthClientConfig &stored, QWidget *parent = nullptr);

    // Signs in with the dialog's values; an error text, empty on success.
    // The button is hidden while it is not assigned.
    std::function<QString(const OAuthClientConfig &)> signIn;

    // The values to keep for the mailbox: the typed ones, trimmed; a
    // provider's endpoints and scope are not the mailbox's own and stay as
    // they were stored.
    OAuthClientConfig config() const;

    QLineEdit *edClientId = nullptr;
    QLineEdit *edClientSecret = nullptr;
    QLineEdit *edAuthorizationUrl = nullptr;
    QLineEdit *edTokenUrl = nullptr;
    QLineEdit *edScope = nullptr;
    QLabel *lblRegistration = nullptr;
    QPushButton *btSignIn = nullptr;
    QLabel *lblResult = nullptr;
    QPushButton *btOK = nullptr;
    QPushButton *btCancel = nullptr;

    void btSignInClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    const SignInMethod m_method;
    const OAuthClientConfig m_stored;
};
