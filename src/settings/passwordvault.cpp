#include "settings/passwordvault.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QTimer>

namespace {

// Never stored: looking it up only tells whether the keyring answers.
const QString ProbeKey = QStringLiteral("availability-probe");

} // namespace

PasswordVault::PasswordVault(const QString &service, std::chrono::milliseconds timeout)
    : m_service(service), m_timeout(timeout)
{
}

PasswordVault::Answer PasswordVault::run(std::unique_ptr<QKeychain::Job> &job)
{
    if (m_silent)
        return Answer::Unavailable;
    // Never the plain-text file QtKeychain can fall back to: the settings
    // file's scrambled value is this program's fallback.
    job->setInsecureFallback(false);
    job->setAutoDelete(false);
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    bool finished = false;
    QObject::connect(job.get(), &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    job->start();
    timeout.start(m_timeout);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!finished) {
        m_silent = true;
        m_error = QStringLiteral("the desktop keyring did not answer within %1 ms").arg(m_timeout.count());
        QObject::disconnect(job.get(), nullptr, &loop, nullptr);
        job.release()->setAutoDelete(true);
        return Answer::Unavailable;
    }
    switch (job->error()) {
    case QKeychain::NoError:
        return Answer::Ok;
    case QKeychain::EntryNotFound:
        return Answer::NotFound;
    default:
        m_error = job->errorString();
        return Answer::Unavailable;
    }
}

PasswordVault::Lookup PasswordVault::read(const QString &key)
{
    auto *reading = new QKeychain::ReadPasswordJob(m_service);
    std::unique_ptr<QKeychain::Job> job(reading);
    reading->setKey(key);
    const Answer answer = run(job);
    return {answer, answer == Answer::Ok ? reading->textData() : QString()};
}

bool PasswordVault::write(const QString &key, const QString &secret)
{
    auto *writing = new QKeychain::WritePasswordJob(m_service);
    std::unique_ptr<QKeychain::Job> job(writing);
    writing->setKey(key);
    writing->setTextData(secret);
    return run(job) == Answer::Ok;
}

bool PasswordVault::remove(const QString &key)
{
    std::unique_ptr<QKeychain::Job> job(new QKeychain::DeletePasswordJob(m_service));
    job->setKey(key);
    return run(job) != Answer::Unavailable;
}

bool PasswordVault::isAvailable()
{
    return read(ProbeKey).answer != Answer::Unavailable;
}
