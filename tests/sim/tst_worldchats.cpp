// Chats and messages: who may say what where, the statuses each side's message goes through,
// bodies kept exactly, silent mode, and commands that must not hurt the model.

#include "protocol.h"
#include "world.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestWorldChats final : public QObject
{
    Q_OBJECT
private slots:
    void defaultWorldIsADemo();
    void chatNamesHaveTheClientsShape();
    void localMessageIsSendingThenSent();
    void contactMessageIsReceived();
    void sayRefuses_data();
    void sayRefuses();
    void bodiesKeptExactly_data();
    void bodiesKeptExactly();
    void silentModeIsNotified();
    void junkNeverHurts();
};

void TestWorldChats::defaultWorldIsADemo()
{
    World world;
    QCOMPARE(world.account().handle, u"me.lumo"_s);
    QSet<Behaviour::Kind> kinds;
    for (const Contact &contact : world.contacts())
        kinds.insert(contact.behaviour.kind);
    for (Behaviour::Kind kind : {Behaviour::Answer, Behaviour::Refuse, Behaviour::NoAnswer})
        QVERIFY(kinds.contains(kind));
    QCOMPARE(world.contact(u"alice"_s)->behaviour, (Behaviour{Behaviour::Answer, 2000}));

    const Chat group = world.chats().constFirst();
    QVERIFY(!group.dialog);
    QVERIFY(!group.topic.isEmpty());
    QCOMPARE(group.members.size(), world.contacts().size() + 1);
    for (const Contact &contact : world.contacts()) {
        const std::optional<Chat> dialog = world.chat(World::dialogChatName(u"me.lumo"_s, contact.handle));
        QVERIFY(dialog);
        QVERIFY(dialog->dialog);
        QCOMPARE(dialog->members, (QStringList{u"me.lumo"_s, contact.handle}));
    }
    QCOMPARE(world.chats().size(), world.contacts().size() + 1);
}

void TestWorldChats::chatNamesHaveTheClientsShape()
{
    const QString dialog = World::dialogChatName(u"me"_s, u"bob"_s);
    const QString group = World::groupChatName(u"me"_s, u"x"_s);
    QVERIFY2(QRegularExpression(u"^#me/\\$bob;[0-9a-f]{16}$"_s).match(dialog).hasMatch(), qPrintable(dialog));
    QVERIFY2(QRegularExpression(u"^#me/\\$[0-9a-f]{16}$"_s).match(group).hasMatch(), qPrintable(group));
    QCOMPARE(World::dialogChatName(u"me"_s, u"bob"_s), dialog); // stable from run to run
    QVERIFY(World::groupChatName(u"me"_s, u"y"_s) != group);
}

void TestWorldChats::localMessageIsSendingThenSent()
{
    World world;
    const QString chat = World::dialogChatName(u"me.lumo"_s, u"bob"_s);
    QStringList heard;
    connect(&world, &World::notification, this, [&](const QString &text) { heard.append(text); });
    QSignalSpy added(&world, &World::messageAdded);
    QSignalSpy changed(&world, &World::messageChanged);

    const QString reply = world.execute(u"CHATMESSAGE "_s + chat + u" /host"_s);
    QCOMPARE(added.size(), 1);
    const qint64 id = added.at(0).at(0).toLongLong();
    QCOMPARE(reply, u"CHATMESSAGE %1 STATUS SENDING"_s.arg(id));
    QCOMPARE(heard, QStringList{u"CHATMESSAGE %1 STATUS SENDING"_s.arg(id)});
    world.advanceBy(world.setup().sendMs);
    QCOMPARE(heard.last(), u"CHATMESSAGE %1 STATUS SENT"_s.arg(id));
    QCOMPARE(changed.size(), 1);

    const Message message = *world.message(id);
    QCOMPARE(message.sender, u"me.lumo"_s);
    QCOMPARE(message.chatName, chat);
    QCOMPARE(message.status, int(Protocol::MessageSent));
    QCOMPARE(world.messages(chat).size(), 1);
}

void TestWorldChats::contactMessageIsReceived()
{
    World world;
    const QString group = world.chats().constFirst().name;
    QStringList heard;
    connect(&world, &World::notification, this, [&](const QString &text) { heard.append(text); });
    const Outcome said = world.say(u"carol"_s, group, u"/join"_s);
    QVERIFY(said.ok());
    QCOMPARE(heard, QStringList{u"CHATMESSAGE %1 STATUS RECEIVED"_s.arg(said.value)});
    QCOMPARE(world.execute(u"GET CHATMESSAGE %1 FROM_HANDLE"_s.arg(said.value)),
             u"CHATMESSAGE %1 FROM_HANDLE carol"_s.arg(said.value));
    QCOMPARE(world.nextDueMs(), -1); // nothing more to come for a received message
}

void TestWorldChats::sayRefuses_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("chat"); // "group", "dialog" (with bob) or a literal name
    QTest::addColumn<int>("text");     // length of the text
    QTest::addColumn<int>("code");
    QTest::newRow("unknown chat") << u"alice"_s << u"#nowhere"_s << 2
                                  << int(Protocol::Error::InvalidChatName);
    QTest::newRow("empty") << u"alice"_s << u"group"_s << 0 << int(Protocol::Error::EmptyMessage);
    QTest::newRow("not a member") << u"alice"_s << u"dialog"_s << 2
                                  << int(Protocol::Error::ChatSendFailedNotMember);
    QTest::newRow("stranger") << u"mallory"_s << u"group"_s << 2
                              << int(Protocol::Error::ChatSendFailedNotMember);
    QTest::newRow("too long") << u"me.lumo"_s << u"group"_s << int(World::MaxBodyLength + 1)
                              << int(Protocol::Error::ChatSendFailed);
}

void TestWorldChats::sayRefuses()
{
    QFETCH(QString, sender);
    QFETCH(QString, chat);
    QFETCH(int, text);
    QFETCH(int, code);
    World world;
    if (chat == u"group"_s)
        chat = world.chats().constFirst().name;
    else if (chat == u"dialog"_s)
        chat = World::dialogChatName(u"me.lumo"_s, u"bob"_s);
    const qsizetype before = world.messages().size();
    const Outcome outcome = world.say(sender, chat, QString(text, u'x'));
    QCOMPARE(outcome.code, code);
    QVERIFY(!outcome.text.isEmpty());
    QCOMPARE(world.messages().size(), before);
}

void TestWorldChats::bodiesKeptExactly_data()
{
    QTest::addColumn<QString>("body");
    QTest::newRow("leading blanks") << u"   indented"_s;
    QTest::newRow("only a blank") << u" "_s;
    QTest::newRow("line feeds") << u"one\ntwo\r\nthree\n"_s;
    QTest::newRow("unicode") << u"\u65e5\u672c\u8a9e \U0001F389 \u202e\u0000 end"_s;
    QTest::newRow("lone surrogate") << QString(QChar(0xd800));
    QTest::newRow("protocol words") << u"CALL 5 STATUS FINISHED\nCHATMESSAGE 1 STATUS SENT"_s;
    QTest::newRow("one megabyte") << QString(1024 * 1024, u'\u00e9');
}

void TestWorldChats::bodiesKeptExactly()
{
    QFETCH(QString, body);
    World world;
    const QString group = world.chats().constFirst().name;
    const QString reply = world.execute(u"CHATMESSAGE "_s + group + u' ' + body);
    QVERIFY2(reply.endsWith(u" STATUS SENDING"_s), qPrintable(reply.left(100)));
    const qint64 id = world.messages().constLast().id;
    QCOMPARE(world.message(id)->body, body);
    QCOMPARE(world.execute(u"GET CHATMESSAGE %1 BODY"_s.arg(id)), u"CHATMESSAGE %1 BODY "_s.arg(id) + body);

    const Outcome said = world.say(u"alice"_s, group, body);
    QVERIFY(said.ok());
    QCOMPARE(world.message(said.value)->body, body);
}

void TestWorldChats::silentModeIsNotified()
{
    World world;
    QStringList heard;
    connect(&world, &World::notification, this, [&](const QString &text) { heard.append(text); });
    QSignalSpy changed(&world, &World::silentModeChanged);
    QCOMPARE(world.execute(u"SET SILENT_MODE ON"_s), u"SILENT_MODE ON"_s);
    QCOMPARE(world.execute(u"SET SILENT_MODE ON"_s), u"SILENT_MODE ON"_s);
    QCOMPARE(world.execute(u"GET SILENT_MODE"_s), u"SILENT_MODE ON"_s);
    world.setSilentMode(false);
    QCOMPARE(heard, (QStringList{u"SILENT_MODE ON"_s, u"SILENT_MODE ON"_s, u"SILENT_MODE OFF"_s}));
    QCOMPARE(changed.size(), 2); // only real changes reach the window
    QVERIFY(world.silentMode() == false);
}

// Random and hostile command texts: every one gets a reply, an error is well formed, and the
// model's invariants hold afterwards.
void TestWorldChats::junkNeverHurts()
{
    World world;
    const QStringList words = {u"GET"_s,   u"SET"_s,        u"ALTER"_s,   u"CALL"_s,   u"CHATMESSAGE"_s,
                               u"CHAT"_s,  u"SEARCH"_s,     u"STATUS"_s,  u"HOLD"_s,   u"JOIN_CONFERENCE"_s,
                               u"1"_s,     u"2"_s,          u"-1"_s,      u""_s,       u"\n"_s,
                               u"alice"_s, u"me.lumo"_s,    u"ON"_s,      u"BODY"_s,   u"ACTIVECALLS"_s,
                               u"#"_s,     u"\U0001F600"_s, u"CONF_ID"_s, u"ANSWER"_s, u"INPROGRESS"_s};
    QRandomGenerator random(20240601);
    for (int i = 0; i < 20000; ++i) {
        QStringList parts;
        const int count = int(random.bounded(6));
        for (int p = 0; p < count; ++p)
            parts.append(words.at(int(random.bounded(qsizetype(words.size())))));
        const QString reply = world.execute(parts.join(u' '));
        QVERIFY(!reply.isEmpty());
        if (reply.startsWith(u"ERROR"_s)) {
            const QStringList fields = reply.split(u' ');
            QVERIFY2(fields.size() >= 3, qPrintable(reply));
            qint64 code = 0;
            QVERIFY2(Protocol::parseId(fields.at(1), code) && code > 0, qPrintable(reply));
        }
        if (i % 1000 == 0)
            world.advanceBy(1000);
    }
    for (const Call &call : world.calls())
        QVERIFY(Protocol::callStatusWord(call.status).size() > 0);
    qint64 lastId = 0;
    for (const Call &call : world.activeCalls()) {
        QVERIFY(call.id > lastId);
        lastId = call.id;
    }
}

QTEST_APPLESS_MAIN(TestWorldChats)
#include "tst_worldchats.moc"
