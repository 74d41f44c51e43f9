#pragma once
// Shared set-up of the main-program tests: a program folder of their own
// (MAILSIEVE_HOME), stored mailboxes and rules, and a scripted mailbox of
// messages whose list rows are known in advance.

#include "rules/listfiles.h"
#include "rules/rulelist.h"
#include "settings/generalsettings.h"
#include "settings/settingsstore.h"
#include "support/messagebuilder.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

namespace appfixture {

// The dates below are shown in this locale's short date and long time.
inline void useUsEnglish()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

// Edits the stored general and mailbox settings in the current MAILSIEVE_HOME.
inline void storeSettings(const std::function<void(GeneralSettings &)> &edit)
{
    SettingsStore store;
    GeneralSettings settings;
    QVERIFY(settings.ReadSettings(store));
    QVERIFY(settings.readServerSettings(store));
    edit(settings);
    QVERIFY(settings.SaveSettings(store));
    QVERIFY(settings.saveServerSettings(store).ok());
}

inline void storeMailbox(GeneralSettings &settings, int n, const QString &server, const QString &user,
                         const QString &password)
{
    MailboxConfig &mailbox = settings.mailboxes[n - 1];
    mailbox.server = server;
    mailbox.mailbox = user;
    mailbox.password = password;
    mailbox.security = MailSecurity::None;
}

// Rules: a subject containing "viagra" is spam, one containing "offer" is
// possible spam, and the known list names spammer@bad.example.
inline void storeRules(const QString &folder)
{
    RuleSet rules;
    rules.SubjectRules.setRowCount(3);
    const QStringList spam = {QString(),
                              QStringLiteral("Contains"),
                              QStringLiteral("viagra"),
                              QStringLiteral("No"),
                              QStringLiteral("Yes"),
                              QStringLiteral("0")};
    const QStringList maybe = {QString(),
                               QStringLiteral("Contains"),
                               QStringLiteral("offer"),
                               QStringLiteral("No"),
                               QStringLiteral("No"),
                               QStringLiteral("0")};
    for (int c = 0; c < spam.size(); ++c) {
        rules.SubjectRules.setCell(c, 1, spam[c]);
        rules.SubjectRules.setCell(c, 2, maybe[c]);
    }
    rules.knownListEnabled = true;
    QVERIFY(Savesettings(rules, folder).ok());
    QFile known(folder + QStringLiteral("/known.lst"));
    QVERIFY(known.open(QIODevice::WriteOnly));
    known.write("spammer@bad.example\r\n");
}

// The 20-message mailbox. Message i (1..20):
//  - Subject "Grüße Nummer i" in a Q-encoded word; every fourth one is
//    "Cheap viagra i" (spam), every fifth (not fourth) "Special offer i";
//  - From "Sender i" <sender-i@example.org>, message 6 from spammer@bad.example;
//  - Date on day i of June 1999 at 10:22:05, message 3 at midnight, message 7
//    without a Date field, message 10 with an unreadable one.
inline QString subjectOf(int i)
{
    if (i % 4 == 0)
        return QStringLiteral("Cheap viagra %1").arg(i);
    if (i % 5 == 0)
        return QStringLiteral("Special offer %1").arg(i);
    return QStringLiteral("Grüße Nummer %1").arg(i);
}

inline QString senderOf(int i)
{
    return i == 6 ? QStringLiteral("spammer@bad.example") : QStringLiteral("sender-%1@example.org").arg(i);
}

inline QByteArray messageText(int i)
{
    QList<QByteArray> header;
    header << "Received: from mx.example.org by pop.example.org; Sat, 05 Jun 1999 10:22:06 -0400";
    header << "From: \"Sender " + QByteArray::number(i) + "\" <" + senderOf(i).toUtf8() + ">";
    header << "To: user@example.org";
    header << "Subject: " + (i % 4 == 0 || i % 5 == 0 ? subjectOf(i).toUtf8() : MessageBuilder::encodeQ(subjectOf(i)));
    if (i == 3)
        header << "Date: Thu, 03 Jun 1999 00:00:00 +0000";
    else if (i == 10)
        header << "Date: sometime next week";
    else if (i != 7)
        header << "Date: Sat, " + QByteArray::number(i).rightJustified(2, '0') + " Jun 1999 10:22:05 -0400";
    header << "Message-ID: <" + QByteArray::number(i) + "@example.org>";
    return MessageBuilder::assemble(header, {"Hello,", "body line of message " + QByteArray::number(i)});
}

inline QList<QByteArray> mailbox(int count)
{
    QList<QByteArray> messages;
    for (int i = 1; i <= count; ++i)
        messages << messageText(i);
    return messages;
}

// The Date column of message i in US English.
inline QString dateColumnOf(int i)
{
    if (i == 3)
        return QStringLiteral("6/3/99");
    if (i == 7)
        return QString();
    if (i == 10)
        return QStringLiteral("sometime next week");
    return QStringLiteral("6/%1/99 10:22:05 AM").arg(i);
}

inline MarkState markOf(int i)
{
    if (i % 4 == 0)
        return MarkState::Check;
    if (i % 5 == 0)
        return MarkState::Question;
    if (i == 6)
        return MarkState::KnownSpammer;
    return MarkState::None;
}

// The fixture numbers of the messages in a mailbox, from their Message-IDs.
inline QList<int> numbersIn(const QList<QByteArray> &messages)
{
    QList<int> numbers;
    for (const QByteArray &message : messages) {
        const int at = message.indexOf("Message-ID: <") + 13;
        numbers << message.mid(at, message.indexOf('@', at) - at).toInt();
    }
    return numbers;
}

} // namespace appfixture
