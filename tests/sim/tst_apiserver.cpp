// The protocol server: the attach handshake per client, the person's decision when auto-allow is
// off, "#id" prefixes, and notifications to every attached client, after the reply they follow.

#include "apiserver.h"
#include "protocol.h"
#include "world.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Fixture
{
    World world;
    ApiServer server{&world};
    QHash<ApiServer::ClientId, QStringList> inbox; // replies and notifications, as each client sees them

    Fixture()
    {
        QObject::connect(&server, &ApiServer::notify, &server,
                         [this](ApiServer::ClientId client, const QString &t) {
                             inbox[client].append(u"notify: "_s + t);
                         });
    }

    QString send(ApiServer::ClientId client, const QString &command)
    {
        QString answer = u"(no reply)"_s;
        server.invoke(client, command, [&, client](const QString &reply) {
            answer = reply;
            inbox[client].append(u"reply: "_s + reply);
        });
        return answer;
    }

    ApiServer::ClientId attached()
    {
        const ApiServer::ClientId client = server.addClient();
        send(client, u"NAME Lumotalk"_s);
        send(client, u"PROTOCOL 8"_s);
        inbox.remove(client);
        return client;
    }
};

} // namespace

class TestApiServer final : public QObject
{
    Q_OBJECT
private slots:
    void handshake_data();
    void handshake();
    void pendingAuthorization_data();
    void pendingAuthorization();
    void removedWhilePending();
    void idPrefixOnEveryReply_data();
    void idPrefixOnEveryReply();
    void everyAttachedClientHearsEverything();
    void notificationsFollowTheirReply();
    void servedAndNotifiedForTheTrafficPane();
    void junkNeverCrashes();
};

void TestApiServer::handshake_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("replies");
    QTest::newRow("normal") << QStringList{u"NAME Lumotalk"_s, u"PROTOCOL 8"_s, u"PING"_s}
                            << QStringList{u"OK"_s, u"PROTOCOL 8"_s, u"PONG"_s};
    QTest::newRow("newer client") << QStringList{u"NAME x"_s, u"PROTOCOL 99"_s}
                                  << QStringList{u"OK"_s, u"PROTOCOL 8"_s};
    QTest::newRow("older client") << QStringList{u"NAME x"_s, u"PROTOCOL 5"_s}
                                  << QStringList{u"OK"_s, u"PROTOCOL 5"_s};
    QTest::newRow("command first") << QStringList{u"PING"_s, u"GET CURRENTUSERHANDLE"_s}
                                   << QStringList{u"ERROR 68"_s, u"ERROR 68"_s};
    QTest::newRow("protocol first") << QStringList{u"PROTOCOL 8"_s} << QStringList{u"ERROR 68"_s};
    QTest::newRow("nameless") << QStringList{u"NAME"_s, u"NAME "_s, u"PING"_s}
                              << QStringList{u"ERROR 68"_s, u"ERROR 68"_s, u"ERROR 68"_s};
    QTest::newRow("protocol junk") << QStringList{u"NAME x"_s, u"PROTOCOL eight"_s, u"PROTOCOL"_s}
                                   << QStringList{u"OK"_s, u"ERROR 2"_s, u"ERROR 2"_s};
    QTest::newRow("name twice") << QStringList{u"NAME x"_s, u"NAME y"_s} << QStringList{u"OK"_s, u"OK"_s};
    QTest::newRow("lower case") << QStringList{u"name x"_s, u"protocol 8"_s}
                                << QStringList{u"OK"_s, u"PROTOCOL 8"_s};
}

void TestApiServer::handshake()
{
    QFETCH(QStringList, commands);
    QFETCH(QStringList, replies);
    Fixture f;
    const ApiServer::ClientId client = f.server.addClient();
    for (qsizetype i = 0; i < commands.size(); ++i) {
        const QString reply = f.send(client, commands.at(i));
        if (replies.at(i).startsWith(u"ERROR"_s))
            QVERIFY2(reply.startsWith(replies.at(i) + u' '), qPrintable(reply));
        else
            QCOMPARE(reply, replies.at(i));
    }
}

void TestApiServer::pendingAuthorization_data()
{
    QTest::addColumn<bool>("allow");
    QTest::newRow("allowed") << true;
    QTest::newRow("refused") << false;
}

void TestApiServer::pendingAuthorization()
{
    QFETCH(bool, allow);
    Fixture f;
    f.server.setAutoAllow(false);
    QSignalSpy asked(&f.server, &ApiServer::authorizationRequested);
    const ApiServer::ClientId client = f.server.addClient();
    QCOMPARE(f.send(client, u"#1 NAME Lumotalk"_s), u"(no reply)"_s);
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.at(0).at(1).toString(), u"Lumotalk"_s);
    QVERIFY(f.send(client, u"PING"_s).startsWith(u"ERROR 68 "_s)); // still waiting for the person
    QCOMPARE(f.send(client, u"NAME Lumotalk"_s), u"(no reply)"_s); // asked again: both get the answer
    QCOMPARE(asked.size(), 1);

    f.world.say(u"alice"_s, f.world.chats().constFirst().name, u"not for a pending client"_s);
    f.server.resolveAuthorization(client, allow);
    const QString answer = allow ? u"OK"_s : u"ERROR 68 Access denied"_s;
    QCOMPARE(f.inbox.value(client).mid(1), (QStringList{u"reply: #1 "_s + answer, u"reply: "_s + answer}));
    f.server.resolveAuthorization(client, allow); // nothing pending: nothing happens
    QCOMPARE(f.inbox.value(client).size(), 3);
    QCOMPARE(f.send(client, u"PING"_s).startsWith(u"PONG"_s), allow);

    if (!allow) { // a refused program may ask again
        QCOMPARE(f.send(client, u"NAME Lumotalk"_s), u"(no reply)"_s);
        QCOMPARE(asked.size(), 2);
    }
}

void TestApiServer::removedWhilePending()
{
    Fixture f;
    f.server.setAutoAllow(false);
    const ApiServer::ClientId client = f.server.addClient();
    bool called = false;
    f.server.invoke(client, u"NAME x"_s, [&](const QString &) { called = true; });
    f.server.removeClient(client);
    f.server.resolveAuthorization(client, true);
    QVERIFY(!called);
    QVERIFY(f.send(client, u"PING"_s).startsWith(u"ERROR 68 "_s));
}

void TestApiServer::idPrefixOnEveryReply_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("reply");
    QTest::newRow("silent mode") << u"#12346 SET SILENT_MODE ON"_s << u"#12346 SILENT_MODE ON"_s;
    QTest::newRow("error") << u"#7 GET CALL x STATUS"_s << u"#7 ERROR 11 Invalid call id"_s;
    QTest::newRow("handshake") << u"#a NAME again"_s << u"#a OK"_s;
    QTest::newRow("protocol") << u"#b PROTOCOL 8"_s << u"#b PROTOCOL 8"_s;
    QTest::newRow("alone") << u"#c"_s << u"#c ERROR 2 Unknown command"_s;
    QTest::newRow("echo") << u"#d ALTER CALL 1 HOLD"_s << u"#d ERROR 12 Unknown call"_s;
}

void TestApiServer::idPrefixOnEveryReply()
{
    QFETCH(QString, command);
    QFETCH(QString, reply);
    Fixture f;
    QCOMPARE(f.send(f.attached(), command), reply);
}

void TestApiServer::everyAttachedClientHearsEverything()
{
    Fixture f;
    const ApiServer::ClientId first = f.attached();
    const ApiServer::ClientId second = f.attached();
    const ApiServer::ClientId stranger = f.server.addClient(); // never attached
    const QString reply = f.send(first, u"CALL alice"_s);
    const QString id = reply.section(u' ', 1, 1);
    f.world.advanceBy(2500);
    const QStringList life = {u"notify: CALL %1 STATUS ROUTING"_s.arg(id),
                              u"notify: CALL %1 STATUS RINGING"_s.arg(id),
                              u"notify: CALL %1 STATUS INPROGRESS"_s.arg(id)};
    QCOMPARE(f.inbox.value(first), QStringList{u"reply: "_s + reply} + life);
    QCOMPARE(f.inbox.value(second), life);
    QVERIFY(!f.inbox.contains(stranger));

    f.server.removeClient(second);
    f.world.setSilentMode(true);
    QCOMPARE(f.inbox.value(first).last(), u"notify: SILENT_MODE ON"_s);
    QCOMPARE(f.inbox.value(second).last(), life.last());
}

// A client first learns an id from its reply, then hears what becomes of it.
void TestApiServer::notificationsFollowTheirReply()
{
    Fixture f;
    const ApiServer::ClientId client = f.attached();
    QStringList order;
    connect(&f.server, &ApiServer::notify, this,
            [&](ApiServer::ClientId, const QString &t) { order.append(t); });
    f.server.invoke(client, u"#5 CHATMESSAGE "_s + f.world.chats().constFirst().name + u" hi"_s,
                    [&](const QString &reply) { order.append(reply); });
    QCOMPARE(order.size(), 2);
    QVERIFY2(order.at(0).startsWith(u"#5 CHATMESSAGE "_s), qPrintable(order.at(0)));
    QCOMPARE(order.at(1), order.at(0).mid(3));
}

void TestApiServer::servedAndNotifiedForTheTrafficPane()
{
    Fixture f;
    QSignalSpy served(&f.server, &ApiServer::served);
    QSignalSpy notified(&f.server, &ApiServer::notified);
    const ApiServer::ClientId client = f.attached();
    QCOMPARE(served.size(), 2);
    f.send(client, u"#9 SET SILENT_MODE ON"_s);
    QCOMPARE(served.size(), 3);
    QCOMPARE(served.at(2).at(0).value<ApiServer::ClientId>(), client);
    QCOMPARE(served.at(2).at(1).toString(), u"#9 SET SILENT_MODE ON"_s);
    QCOMPARE(served.at(2).at(2).toString(), u"#9 SILENT_MODE ON"_s);
    QCOMPARE(notified.size(), 1); // once, however many clients hear it
    QCOMPARE(notified.at(0).at(0).toString(), u"SILENT_MODE ON"_s);
}

void TestApiServer::junkNeverCrashes()
{
    Fixture f;
    const ApiServer::ClientId client = f.attached();
    const QStringList junk = {QString(),
                              u"#"_s,
                              u"# "_s,
                              u"#1"_s,
                              u"#1 "_s,
                              u"##"_s,
                              u"\n"_s,
                              u"NAME\nx"_s,
                              QString(1024 * 1024, u'#'),
                              u"CHATMESSAGE "_s + QString(1024 * 1024, u'x'),
                              u"GET CHATMESSAGE "_s + QString(100000, u'9') + u" BODY"_s,
                              u"\U0001F600 \U0001F600"_s,
                              QString(QChar(0xdc00)) + u" PING"_s};
    for (const QString &command : junk) {
        const QString reply = f.send(client, command);
        QVERIFY2(reply != u"(no reply)"_s, qPrintable(command.left(40)));
    }
    QCOMPARE(f.send(client, u"PING"_s), u"PONG"_s);
}

QTEST_APPLESS_MAIN(TestApiServer)
#include "tst_apiserver.moc"
