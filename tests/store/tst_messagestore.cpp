// The message store: its file made, migrated or set aside when damaged, one
// check's header blocks kept and found again, fates and pruning, the
// user's marks, and the failures (full disk, a lock held by another
// program) that leave the file as it was.

#include "store/messagestore.h"
#include "store/storecheck.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const StoreAccount kPop{QStringLiteral("pop.example.org"), QStringLiteral("user"), QStringLiteral("POP3"), QString()};
const StoreAccount kImap{QStringLiteral("imap.example.org"), QStringLiteral("user"), QStringLiteral("IMAP"),
                         QStringLiteral("INBOX")};
const QDateTime kMonday = QDateTime(QDate(2026, 12, 7), QTime(9, 0), Qt::UTC);

QByteArray blockOf(int i)
{
    return "Subject: message " + QByteArray::number(i) + "\r\nFrom: a@example.org\r\n\r\n";
}

PackedHeaders headerOf(int i)
{
    return PackedHeaders(blockOf(i));
}

// One complete check that lists these messages (remembering the new ones).
void listMessages(MessageStore &store, const StoreAccount &account, const QList<QByteArray> &identities,
                  const QDateTime &when)
{
    const std::unique_ptr<StoreCheck> check = store.beginCheck(account, when);
    QVERIFY2(check, qPrintable(store.errorText()));
    QList<StoreCheck::Listed> listed;
    for (const QByteArray &identity : identities) {
        if (!check->find(identity))
            check->remember(identity, 100, headerOf(int(listed.size())));
        listed.append({identity, MarkState::None, MarkSource::None});
    }
    QVERIFY2(check->finish(listed, true), qPrintable(store.errorText()));
}

// A store as the first version of the program wrote it: accounts and
// messages, no header blocks; message "uidl-1" marked by the user.
void writeVersion1(const QString &path)
{
    // The first version: accounts and messages, no header blocks.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v1"));
    db.setDatabaseName(path);
    QVERIFY(db.open());
    QSqlQuery query(db);
    QVERIFY(query.exec(QStringLiteral(
        "CREATE TABLE accounts (id INTEGER PRIMARY KEY, server TEXT NOT NULL, user TEXT NOT NULL, protocol "
        "TEXT NOT NULL, folder TEXT NOT NULL, uid_validity INTEGER, last_check INTEGER, UNIQUE (server, user, "
        "protocol, folder))")));
    QVERIFY(query.exec(QStringLiteral(
        "CREATE TABLE messages (id INTEGER PRIMARY KEY, account INTEGER NOT NULL REFERENCES accounts (id) ON "
        "DELETE CASCADE, identity BLOB NOT NULL, uid INTEGER, size INTEGER NOT NULL, first_seen INTEGER NOT "
        "NULL, last_seen INTEGER NOT NULL, mark INTEGER NOT NULL DEFAULT -1, marked_by TEXT, marked_at "
        "INTEGER, fate TEXT NOT NULL DEFAULT 'present', moved_to TEXT, fate_at INTEGER, UNIQUE (account, "
        "identity))")));
    QVERIFY(query.exec(QStringLiteral("INSERT INTO accounts VALUES (1, 'pop.example.org', 'user', 'POP3', "
                                      "'', NULL, NULL)")));
    QVERIFY(query.exec(
        QStringLiteral("INSERT INTO messages (account, identity, size, first_seen, last_seen, "
                       "mark, marked_by, marked_at) VALUES (1, CAST('uidl-1' AS BLOB), 10, 1, 1, 0, 'user', 5)")));
    QVERIFY(query.exec(QStringLiteral("PRAGMA user_version = 1")));
    query.finish();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("v1"));
}

QVariant scalar(const MessageStore &store, const QString &sql)
{
    QSqlQuery query(QSqlDatabase::database(store.connectionName()));
    return query.exec(sql) && query.next() ? query.value(0) : QVariant();
}

// A store as the second version wrote it: "uidl-1" marked by the user, its
// header block (oldBlock) kept as qCompress of it.
void writeVersion2(const QString &path, const QByteArray &oldBlock)
{
    MessageStore store(path);
    QVERIFY(store.open());
    const std::unique_ptr<StoreCheck> check = store.beginCheck(kPop, kMonday);
    check->remember("uidl-1", 10, headerOf(0));
    QVERIFY(check->finish({}, false));
    QVERIFY(store.setUserMark(kPop, "uidl-1", {MarkState::Check, kMonday}));
    QSqlQuery query(QSqlDatabase::database(store.connectionName()));
    QVERIFY(query.prepare(QStringLiteral("UPDATE header_blocks SET block = ?")));
    query.addBindValue(oldBlock);
    QVERIFY(query.exec());
    // What later versions added.
    for (const char *column : {"marking", "subject", "sender", "date_field"})
        QVERIFY(query.exec(QStringLiteral("ALTER TABLE messages DROP COLUMN ") + QLatin1String(column)));
    for (const char *table : {"learned_tokens", "learned_totals", "learned_messages"})
        QVERIFY(query.exec(QStringLiteral("DROP TABLE ") + QLatin1String(table)));
    QVERIFY(query.exec(QStringLiteral("PRAGMA user_version = 2")));
}

} // namespace

class TestMessageStore : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.emplace();
        m_path = m_dir->filePath(MessageStore::FileName);
    }

    void madeOrMigrated_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QByteArray>("oldBlock");
        QTest::addColumn<PackedHeaders>("firstHeaders");
        QTest::newRow("no file (version 0)") << 0 << QByteArray() << headerOf(0);
        QTest::newRow("version 1") << 1 << QByteArray() << headerOf(0);
        // Its block is read back repacked, not fetched again.
        QTest::newRow("version 2") << 2 << qCompress(blockOf(7)) << headerOf(7);
        // One that does not uncompress is fetched again.
        QTest::newRow("version 2, damaged block") << 2 << QByteArray("\0\0\0\x20not zlib") << headerOf(0);
    }

    void madeOrMigrated()
    {
        QFETCH(int, version);
        QFETCH(QByteArray, oldBlock);
        QFETCH(PackedHeaders, firstHeaders);
        const bool olderFile = version > 0;
        if (version == 1)
            writeVersion1(m_path);
        else if (version == 2)
            writeVersion2(m_path, oldBlock);
        MessageStore store(m_path);
        QVERIFY2(store.open(), qPrintable(store.errorText()));
        QCOMPARE(scalar(store, QStringLiteral("PRAGMA user_version")).toInt(), MessageStore::SchemaVersion);
        QCOMPARE(scalar(store, QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
        QCOMPARE(store.takeWarning(), QString());
        // Whom the user writes with is nobody else's business.
        if (!olderFile)
            QCOMPARE(QFile::permissions(m_path) & ~(QFile::ReadUser | QFile::WriteUser),
                     QFile::ReadOwner | QFile::WriteOwner);
        // What the older file kept is still there; what it lacks is fetched again.
        QCOMPARE(store.userMarks(kPop).contains("uidl-1"), olderFile);
        listMessages(store, kPop, {"uidl-1", "uidl-2"}, kMonday);
        const std::unique_ptr<StoreCheck> check = store.beginCheck(kPop, kMonday);
        QCOMPARE(check->find("uidl-1")->headers, firstHeaders);
        QCOMPARE(check->find("uidl-1")->headers.lines(), firstHeaders.lines());
        QCOMPARE(check->find("uidl-2")->headers, headerOf(1));
    }

    void migrationWaitsForAnotherProgramsLock()
    {
        writeVersion1(m_path);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        db.setDatabaseName(m_path);
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE")));
        {
            MessageStore store(m_path, 50ms);
            QVERIFY(!store.open());
            QVERIFY2(store.errorText().contains(QStringLiteral("locked")), qPrintable(store.errorText()));
            QVERIFY(!QFile::exists(m_path + MessageStore::SetAsideSuffix));
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("ROLLBACK")));
            QVERIFY2(store.open(), qPrintable(store.errorText()));
            QVERIFY(store.userMarks(kPop).contains("uidl-1"));
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    }

    void damagedFileIsKeptBesideANewOne_data()
    {
        QTest::addColumn<bool>("newerSchema");
        QTest::newRow("not a database") << false;
        QTest::newRow("written by a newer program") << true;
    }

    void damagedFileIsKeptBesideANewOne()
    {
        QFETCH(bool, newerSchema);
        QByteArray before = "This is not a database, just text the user put here.\n";
        if (newerSchema) {
            {
                MessageStore newer(m_path);
                QVERIFY(newer.open());
                QSqlQuery query(QSqlDatabase::database(newer.connectionName()));
                QVERIFY(query.exec(QStringLiteral("PRAGMA user_version = %1").arg(MessageStore::SchemaVersion + 1)));
            }
            QFile file(m_path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            before = file.readAll();
        } else {
            QFile file(m_path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(before);
        }
        MessageStore store(m_path);
        QVERIFY2(store.open(), qPrintable(store.errorText()));
        QVERIFY(store.takeWarning().contains(m_path + QStringLiteral(".bad")));
        QFile kept(m_path + QStringLiteral(".bad"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), before);
        listMessages(store, kPop, {"a"}, kMonday);
        QCOMPARE(store.messageCount(kPop), 1);
    }

    void imapFolderForgottenWhenItsUidValidityChanges()
    {
        MessageStore store(m_path);
        {
            const std::unique_ptr<StoreCheck> check = store.beginCheck(kImap, kMonday);
            QCOMPARE(check->highestUid(7), 0u);
            check->remember(imapIdentity(7, 3), 30, headerOf(3));
            check->remember(imapIdentity(7, 12), 120, headerOf(12));
            QVERIFY(check->finish({}, false));
        }
        const std::unique_ptr<StoreCheck> check = store.beginCheck(kImap, kMonday);
        QCOMPARE(check->highestUid(7), 12u);
        QCOMPARE(check->find(imapIdentity(7, 3))->size, 30);
        QCOMPARE(check->highestUid(8), 0u);
        QVERIFY(!check->find(imapIdentity(7, 3)));
        QVERIFY(check->finish({}, true));
        QCOMPARE(store.messageCount(kImap), 0);
    }

    // What a complete check learnt of a message comes back at the next one:
    // its row's texts, the rules' decisions, and its block without the
    // check (the row let go of it). A message fetched again under the same
    // identity loses them.
    void aMessageKeepsItsTextsAndDecisions()
    {
        const QByteArray fingerprint(16, 'r');
        const MarkOutcome checked{MarkState::Check, {{RuleTable::Header, 3}}};
        const HeaderSummary texts{QStringLiteral("Hello"), QStringLiteral("a@example.org"), QString()};
        MessageStore store(m_path);
        {
            const std::unique_ptr<StoreCheck> check = store.beginCheck(kPop, kMonday);
            check->remember("with", 10, headerOf(1), texts);
            check->remember("without", 10, headerOf(2));
            check->keep("with", fingerprint, MarkState::None, checked);
            QVERIFY(check->finish({{"with", MarkState::Check, MarkSource::Rule}, {"without"}}, true));
        }
        QCOMPARE(store.headerBlock(kPop, "with"), headerOf(1));
        QVERIFY(store.headerBlock(kImap, "with").isEmpty());
        {
            const std::unique_ptr<StoreCheck> check = store.beginCheck(kPop, kMonday);
            QCOMPARE(check->find("with")->summary, texts);
            QVERIFY(!check->find("without")->summary);
            QCOMPARE(check->recall("with", fingerprint, MarkState::None), checked);
            QVERIFY(!check->recall("with", QByteArray(16, 'x'), MarkState::None));
            check->remember("with", 10, headerOf(3));
            QVERIFY(!check->recall("with", fingerprint, MarkState::None));
            QVERIFY(check->finish({{"with"}, {"without"}}, true));
        }
        const std::unique_ptr<StoreCheck> check = store.beginCheck(kPop, kMonday);
        QVERIFY(!check->find("with")->summary);
        QVERIFY(!check->recall("with", fingerprint, MarkState::None));
    }

    void emptyHeaderBlockIsKept()
    {
        // A server may send an empty header block; it is not a missing one.
        MessageStore store(m_path);
        {
            const std::unique_ptr<StoreCheck> check = store.beginCheck(kPop, kMonday);
            check->remember("empty", 0, PackedHeaders(QByteArray()));
            QVERIFY2(!check->failed(), qPrintable(store.errorText()));
            QVERIFY(check->finish({}, false));
        }
        const std::unique_ptr<StoreCheck> check = store.beginCheck(kPop, kMonday);
        const std::optional<CachedHeader> found = check->find("empty");
        QVERIFY(found);
        QVERIFY(found->headers.isEmpty());
    }

    void goneMessagesPrunedAfterThirtyDays()
    {
        MessageStore store(m_path);
        listMessages(store, kPop, {"a", "b", "c"}, kMonday);
        QVERIFY(store.recordRemoved(kPop, {{"c", QString()}}, kMonday));
        listMessages(store, kPop, {"a"}, kMonday.addDays(1));
        QCOMPARE(scalar(store, QStringLiteral("SELECT group_concat(fate, ',') FROM (SELECT fate FROM messages "
                                              "ORDER BY identity)"))
                     .toString(),
                 QStringLiteral("present,gone,deleted"));
        listMessages(store, kPop, {"a"}, kMonday.addDays(30));
        QCOMPARE(store.messageCount(kPop), 3);
        listMessages(store, kPop, {"a"}, kMonday.addDays(31).addSecs(1));
        QCOMPARE(store.messageCount(kPop), 1);
        QCOMPARE(scalar(store, QStringLiteral("SELECT count(*) FROM header_blocks")).toInt(), 1);
    }

    void userMarkKeepsItsDate()
    {
        MessageStore store(m_path);
        listMessages(store, kPop, {"a", "b"}, kMonday);
        QVERIFY(store.setUserMark(kPop, "b", {MarkState::Check, kMonday.addSecs(60)}));
        {
            const std::unique_ptr<StoreCheck> check = store.beginCheck(kPop, kMonday.addDays(2));
            QVERIFY(check->finish(
                {{"a", MarkState::Question, MarkSource::Rule}, {"b", MarkState::Check, MarkSource::User}}, true));
        }
        const QHash<QByteArray, UserMark> marks = store.userMarks(kPop);
        QCOMPARE(marks.keys(), QList<QByteArray>{"b"});
        QCOMPARE(marks["b"].when, kMonday.addSecs(60));
        QCOMPARE(scalar(store, QStringLiteral("SELECT marked_by FROM messages WHERE identity = CAST('a' AS BLOB)"))
                     .toString(),
                 QStringLiteral("rule"));
        QVERIFY(store.forgetUserMarks(kPop));
        QVERIFY(store.userMarks(kPop).isEmpty());
    }

    void onlyConfiguredAccountsKept()
    {
        MessageStore store(m_path);
        listMessages(store, kPop, {"a"}, kMonday);
        listMessages(store, kImap, {imapIdentity(1, 1)}, kMonday);
        QVERIFY(store.keepOnlyAccounts({kImap}));
        QCOMPARE(store.messageCount(kPop), 0);
        QCOMPARE(store.messageCount(kImap), 1);
        QCOMPARE(scalar(store, QStringLiteral("SELECT count(*) FROM header_blocks")).toInt(), 1);
    }

    void fullDiskLeavesTheStoreAsItWas()
    {
        MessageStore store(m_path);
        listMessages(store, kPop, {"a"}, kMonday);
        const int pages = scalar(store, QStringLiteral("PRAGMA page_count")).toInt();
        QVERIFY(scalar(store, QStringLiteral("PRAGMA max_page_count = %1").arg(pages)).isValid());
        {
            const std::unique_ptr<StoreCheck> check = store.beginCheck(kPop, kMonday.addDays(1));
            QVERIFY(check);
            // Blocks that do not compress.
            QRandomGenerator random(22);
            for (int i = 0; i < 50 && !check->failed(); ++i) {
                QByteArray block(5000, Qt::Uninitialized);
                random.fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
                check->remember("new-" + QByteArray::number(i), block.size(), PackedHeaders(block));
            }
            QVERIFY(check->failed());
            QVERIFY2(store.errorText().contains(QStringLiteral("full")), qPrintable(store.errorText()));
            // From then on it answers like an empty cache and writes nothing.
            QVERIFY(!check->find("a"));
            QVERIFY(!check->finish({{"a", MarkState::Check, MarkSource::Rule}}, true));
        }
        MessageStore again(m_path);
        const std::unique_ptr<StoreCheck> check = again.beginCheck(kPop, kMonday);
        QCOMPARE(check->find("a")->headers, headerOf(0));
        QCOMPARE(again.messageCount(kPop), 1);
    }

    void anotherProgramsLockEndsTheWaitWithoutTheStore()
    {
        MessageStore window(m_path);
        MessageStore cron(m_path, 50ms);
        listMessages(window, kPop, {"a"}, kMonday);
        {
            const std::unique_ptr<StoreCheck> held = window.beginCheck(kPop, kMonday);
            QVERIFY(held);
            QVERIFY(!cron.beginCheck(kPop, kMonday));
            QVERIFY2(cron.errorText().contains(QStringLiteral("locked")), qPrintable(cron.errorText()));
            held->remember("b", 1, headerOf(1));
            QVERIFY(held->finish({}, false));
        }
        const std::unique_ptr<StoreCheck> check = cron.beginCheck(kPop, kMonday);
        QVERIFY2(check, qPrintable(cron.errorText()));
        QVERIFY(check->find("b"));
    }

private:
    std::optional<QTemporaryDir> m_dir;
    QString m_path;
};

QTEST_GUILESS_MAIN(TestMessageStore)
#include "tst_messagestore.moc"
