#pragma once
// The desktop keyring (the Secret Service, or KWallet under KDE), reached
// through QtKeychain: mailbox passwords are kept there rather than in the
// settings file.
//
// QtKeychain answers asynchronously; each operation here waits for its job
// in a local event loop (user input held back) for at most the time-out.
// A keyring that has not answered once within it counts as unavailable for
// the rest of the run, so a hung keyring costs one wait, not one per
// mailbox. Without a D-Bus session (a console check over SSH, a CI machine)
// the jobs fail at once and the keyring is simply unavailable. So is a
// keyring daemon that was restarted during the run: the Secret Service
// library keeps the session it opened with the first one.

#include <QString>

#include <chrono>
#include <memory>

namespace QKeychain {
class Job;
}

class PasswordVault
{
public:
    // The name under which the entries appear in the keyring.
    static inline const QString DefaultService = QStringLiteral("Mailsieve");
    static constexpr std::chrono::milliseconds DefaultTimeout{5000};

    explicit PasswordVault(const QString &service = DefaultService, std::chrono::milliseconds timeout = DefaultTimeout);

    // Ok: done (for a read: found).
    enum class Answer { Ok, NotFound, Unavailable };
    struct Lookup
    {
        Answer answer = Answer::Unavailable;
        QString secret; // set when Ok
    };

    Lookup read(const QString &key);
    // False when the keyring did not take the secret.
    bool write(const QString &key, const QString &secret);
    // True also when there was nothing to remove.
    bool remove(const QString &key);
    // Asks the keyring (a look-up of an entry that is never stored) whether
    // it answers now.
    bool isAvailable();

    QString service() const { return m_service; }
    // The keyring's last error, for a log or a test's failure message.
    QString errorString() const { return m_error; }

private:
    // Runs the job to its end; Unavailable for an error or a time-out.
    // After a time-out the job is let go (it deletes itself if it ever
    // finishes) and job is empty.
    Answer run(std::unique_ptr<QKeychain::Job> &job);

    QString m_service;
    std::chrono::milliseconds m_timeout;
    bool m_silent = false; // did not answer within the time-out once
    QString m_error;
};
