#include "settings/frmoauth.h"

#include "mail/printabletext.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <optional>

namespace {

QString registrationText(const std::optional<OAuthProvider> &provider)
{
    if (!provider) {
        return QStringLiteral("Register Mailsieve with your provider as an installed (desktop) application "
                              "that receives the sign-in on http://127.0.0.1, and enter the values the "
                              "provider gives.  The README explains each of them.");
    }
    const QString url = provider->registrationHelp.toHtmlEscaped();
    return QStringLiteral("The client ID is your own registration of Mailsieve with the provider: "
                          "<a href=\"%1\">how to register a client</a>.")
        .arg(url);
}

} // namespace

TfrmOAuth::TfrmOAuth(int mailbox, SignInMethod method, const OAuthClientConfig &stored, QWidget *parent)
    : QDialog(parent), m_method(method), m_stored(stored)
{
    setWindowTitle(QStringLiteral("Mailbox %1: %2").arg(mailbox).arg(signInMethodName(method)));

    const std::optional<OAuthProvider> provider = oauthProvider(method);
    const OAuthClientConfig shown = effectiveOAuthConfig(method, stored);
    edClientId = new QLineEdit(shown.clientId);
    edClientSecret = new QLineEdit(shown.clientSecret);
    edClientSecret->setPlaceholderText(QStringLiteral("only when the provider gave one"));
    edAuthorizationUrl = new QLineEdit(shown.authorizationUrl);
    edTokenUrl = new QLineEdit(shown.tokenUrl);
    edScope = new QLineEdit(shown.scope);
    for (QLineEdit *providerOwn : {edAuthorizationUrl, edTokenUrl, edScope})
        providerOwn->setReadOnly(provider.has_value());

    lblRegistration = new QLabel(registrationText(provider));
    lblRegistration->setWordWrap(true);
    lblRegistration->setTextFormat(Qt::RichText);
    lblRegistration->setOpenExternalLinks(true);

    btSignIn = new QPushButton(QStringLiteral("&Sign in"));
    btSignIn->setToolTip(QStringLiteral("Opens the provider's sign-in page in your browser"));
    connect(btSignIn, &QPushButton::clicked, this, &TfrmOAuth::btSignInClick);
    lblResult = new QLabel;
    lblResult->setWordWrap(true);
    lblResult->setTextFormat(Qt::PlainText);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Client &ID:"), edClientId);
    form->addRow(QStringLiteral("Client s&ecret:"), edClientSecret);
    form->addRow(QStringLiteral("&Authorization URL:"), edAuthorizationUrl);
    form->addRow(QStringLiteral("&Token URL:"), edTokenUrl);
    form->addRow(QStringLiteral("S&cope:"), edScope);

    auto *buttons = new QDialogButtonBox;
    btOK = buttons->addButton(QDialogButtonBox::Ok);
    btCancel = buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblRegistration);
    layout->addLayout(form);
    layout->addWidget(btSignIn, 0, Qt::AlignLeft);
    layout->addWidget(lblResult);
    layout->addStretch(1);
    layout->addWidget(buttons);
    resize(560, sizeHint().height());
}

OAuthClientConfig TfrmOAuth::config() const
{
    OAuthClientConfig config = m_stored;
    config.clientId = edClientId->text().trimmed();
    config.clientSecret = edClientSecret->text().trimmed();
    if (!oauthProvider(m_method)) {
        config.authorizationUrl = edAuthorizationUrl->text().trimmed();
        config.tokenUrl = edTokenUrl->text().trimmed();
        config.scope = edScope->text().trimmed();
    }
    return config;
}

void TfrmOAuth::showEvent(QShowEvent *event)
{
    btSignIn->setVisible(bool(signIn));
    QDialog::showEvent(event);
}

void TfrmOAuth::btSignInClick()
{
    if (!signIn)
        return;
    lblResult->setText(QStringLiteral("Waiting for the sign-in in your browser..."));
    btSignIn->setEnabled(false);
    const QString problem = signIn(config());
    btSignIn->setEnabled(true);
    lblResult->setText(problem.isEmpty() ? QStringLiteral("Signed in.") : printableText(problem));
}
