// Every command an attached program may send, with its reply or error, against one known world.

#include "protocol.h"
#include "world.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The demo world with calls in every state a command cares about.
struct Scene
{
    World world;
    qint64 active = 0;   // alice, in progress
    qint64 held = 0;     // alice, local hold
    qint64 busy = 0;     // dave, ended busy
    qint64 ringing = 0;  // carol, ringing outgoing
    qint64 incoming = 0; // bob calling, ringing
    qint64 message = 0;  // alice's greeting in the group chat
    QString group;

    Scene()
    {
        active = world.placeCall({u"alice"_s}).value;
        world.advanceBy(2500);
        held = world.placeCall({u"alice"_s}).value;
        world.advanceBy(2500);
        world.holdCall(held);
        busy = world.placeCall({u"dave"_s}).value;
        ringing = world.placeCall({u"carol"_s}).value;
        world.advanceBy(500);
        incoming = world.callLocalUser(u"bob"_s).value;
        message = world.messages().constFirst().id;
        group = world.chats().constFirst().name;
    }

    qint64 nextId() const
    {
        qint64 last = 0;
        for (const Call &call : world.calls())
            last = std::max(last, call.id);
        for (const Message &m : world.messages())
            last = std::max(last, m.id);
        return last + 1;
    }

    QString fill(QString text) const
    {
        QStringList chats;
        for (const Chat &chat : world.chats())
            chats.append(chat.name);
        return text.replace(u"{active}"_s, QString::number(active))
            .replace(u"{held}"_s, QString::number(held))
            .replace(u"{busy}"_s, QString::number(busy))
            .replace(u"{ringing}"_s, QString::number(ringing))
            .replace(u"{incoming}"_s, QString::number(incoming))
            .replace(u"{message}"_s, QString::number(message))
            .replace(u"{next}"_s, QString::number(nextId()))
            .replace(u"{group}"_s, group)
            .replace(u"{chats}"_s, chats.join(u", "_s));
    }
};

} // namespace

class TestWorldCommands final : public QObject
{
    Q_OBJECT
private slots:
    void replies_data();
    void replies();
    void prefixFreeValuesAreExact();
};

void TestWorldCommands::replies_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("expected"); // "ERROR <code>" checks the code and that a text follows

    const auto row = [](const char *name, const QString &command, const QString &expected) {
        QTest::newRow(name) << command << expected;
    };
    row("ping", u"PING"_s, u"PONG"_s);
    row("keywords in any case", u"get currentuserhandle"_s, u"CURRENTUSERHANDLE me.lumo"_s);
    row("current user", u"GET CURRENTUSERHANDLE"_s, u"CURRENTUSERHANDLE me.lumo"_s);
    row("silent mode", u"GET SILENT_MODE"_s, u"SILENT_MODE OFF"_s);
    row("silent on", u"SET SILENT_MODE ON"_s, u"SILENT_MODE ON"_s);
    row("silent off", u"SET SILENT_MODE OFF"_s, u"SILENT_MODE OFF"_s);
    row("silent junk", u"SET SILENT_MODE MAYBE"_s, u"ERROR 2"_s);
    row("active calls", u"SEARCH ACTIVECALLS"_s, u"CALLS {active}, {held}, {ringing}, {incoming}"_s);
    row("all calls", u"SEARCH CALLS"_s, u"CALLS {active}, {held}, {busy}, {ringing}, {incoming}"_s);
    row("chats", u"SEARCH CHATS"_s, u"CHATS {chats}"_s);
    row("search junk", u"SEARCH FRIENDS"_s, u"ERROR 2"_s);

    row("status", u"GET CALL {active} STATUS"_s, u"CALL {active} STATUS INPROGRESS"_s);
    row("status held", u"GET CALL {held} STATUS"_s, u"CALL {held} STATUS LOCALHOLD"_s);
    row("status busy", u"GET CALL {busy} STATUS"_s, u"CALL {busy} STATUS BUSY"_s);
    row("status ringing", u"GET CALL {ringing} STATUS"_s, u"CALL {ringing} STATUS RINGING"_s);
    row("partner", u"GET CALL {active} PARTNER_HANDLE"_s, u"CALL {active} PARTNER_HANDLE alice"_s);
    row("conf id none", u"GET CALL {active} CONF_ID"_s, u"CALL {active} CONF_ID 0"_s);
    row("type", u"GET CALL {incoming} TYPE"_s, u"CALL {incoming} TYPE INCOMING_P2P"_s);
    row("call id junk", u"GET CALL x STATUS"_s, u"ERROR 11"_s);
    row("call id negative", u"GET CALL -1 STATUS"_s, u"ERROR 11"_s);
    row("call id huge", u"GET CALL 99999999999999999999 STATUS"_s, u"ERROR 11"_s);
    row("call unknown", u"GET CALL 99999 STATUS"_s, u"ERROR 12"_s);
    row("call property unknown", u"GET CALL {active} COLOUR"_s, u"ERROR 7"_s);
    row("call property missing", u"GET CALL {active}"_s, u"ERROR 7"_s);
    row("get unknown", u"GET WEATHER"_s, u"ERROR 7"_s);
    row("get nothing", u"GET "_s, u"ERROR 7"_s);

    row("hold", u"ALTER CALL {active} HOLD"_s, u"ALTER CALL {active} HOLD"_s);
    row("hold held", u"ALTER CALL {held} HOLD"_s, u"ALTER CALL {held} HOLD"_s);
    row("hold ended", u"ALTER CALL {busy} HOLD"_s, u"ERROR 22"_s);
    row("hold ringing", u"ALTER CALL {ringing} HOLD"_s, u"ERROR 22"_s);
    row("resume", u"ALTER CALL {held} RESUME"_s, u"ALTER CALL {held} RESUME"_s);
    row("resume ended", u"ALTER CALL {busy} RESUME"_s, u"ERROR 23"_s);
    row("hang up", u"ALTER CALL {active} HANGUP"_s, u"ALTER CALL {active} HANGUP"_s);
    row("end hang up", u"ALTER CALL {held} END HANGUP"_s, u"ALTER CALL {held} END HANGUP"_s);
    row("hang up ended", u"ALTER CALL {busy} HANGUP"_s, u"ERROR 24"_s);
    row("answer", u"ALTER CALL {incoming} ANSWER"_s, u"ALTER CALL {incoming} ANSWER"_s);
    row("answer outgoing", u"ALTER CALL {ringing} ANSWER"_s, u"ERROR 24"_s);
    row("join", u"ALTER CALL {active} JOIN_CONFERENCE {held}"_s,
        u"ALTER CALL {active} JOIN_CONFERENCE {held}"_s);
    row("join ended", u"ALTER CALL {active} JOIN_CONFERENCE {busy}"_s, u"ERROR 72"_s);
    row("join itself", u"ALTER CALL {active} JOIN_CONFERENCE {active}"_s, u"ERROR 72"_s);
    row("join ringing", u"ALTER CALL {ringing} JOIN_CONFERENCE {held}"_s, u"ERROR 72"_s);
    row("join junk", u"ALTER CALL {active} JOIN_CONFERENCE x"_s, u"ERROR 72"_s);
    row("join unknown", u"ALTER CALL {active} JOIN_CONFERENCE 99999"_s, u"ERROR 72"_s);
    row("alter junk action", u"ALTER CALL {active} DANCE"_s, u"ERROR 2"_s);
    row("alter no action", u"ALTER CALL {active}"_s, u"ERROR 2"_s);
    row("alter id junk", u"ALTER CALL y HOLD"_s, u"ERROR 11"_s);
    row("alter unknown", u"ALTER CALL 99999 HOLD"_s, u"ERROR 12"_s);
    row("alter junk", u"ALTER CHAT x"_s, u"ERROR 2"_s);

    row("set hold", u"SET CALL {active} STATUS ONHOLD"_s, u"CALL {active} STATUS LOCALHOLD"_s);
    row("set resume", u"SET CALL {held} STATUS INPROGRESS"_s, u"CALL {held} STATUS INPROGRESS"_s);
    row("set answer", u"SET CALL {incoming} STATUS INPROGRESS"_s, u"CALL {incoming} STATUS INPROGRESS"_s);
    row("set finish", u"SET CALL {active} STATUS FINISHED"_s, u"CALL {active} STATUS FINISHED"_s);
    row("set cancel", u"SET CALL {ringing} STATUS FINISHED"_s, u"CALL {ringing} STATUS CANCELLED"_s);
    row("set join", u"SET CALL {active} JOIN_CONFERENCE {held}"_s, u"CALL {active} CONF_ID {held}"_s);
    row("set join ended", u"SET CALL {active} JOIN_CONFERENCE {busy}"_s, u"ERROR 72"_s);
    row("set hold ended", u"SET CALL {busy} STATUS ONHOLD"_s, u"ERROR 22"_s);
    row("set resume ended", u"SET CALL {busy} STATUS INPROGRESS"_s, u"ERROR 23"_s);
    row("set finish ended", u"SET CALL {busy} STATUS FINISHED"_s, u"ERROR 24"_s);
    row("set unknown call", u"SET CALL 99999 STATUS ONHOLD"_s, u"ERROR 19"_s);
    row("set call id junk", u"SET CALL z STATUS ONHOLD"_s, u"ERROR 19"_s);
    row("set status junk", u"SET CALL {active} STATUS DANCING"_s, u"ERROR 20"_s);
    row("set property junk", u"SET CALL {active} VOLUME 3"_s, u"ERROR 20"_s);
    row("set property missing", u"SET CALL {active}"_s, u"ERROR 20"_s);
    row("set junk", u"SET WEATHER SUNNY"_s, u"ERROR 2"_s);

    row("place", u"CALL bob"_s, u"CALL {next} STATUS ROUTING"_s);
    row("place two", u"CALL alice, bob"_s, u"CALL {next} STATUS ROUTING"_s);
    row("place unknown", u"CALL nobody.known"_s, u"CALL {next} STATUS ROUTING"_s);
    row("place self", u"CALL me.lumo"_s, u"ERROR 94"_s);
    row("place self second", u"CALL alice, me.lumo"_s, u"ERROR 94"_s);
    row("place bad handle", u"CALL bad!handle"_s, u"ERROR 34"_s);
    row("place blank handle", u"CALL a b"_s, u"ERROR 34"_s);
    row("place nobody", u"CALL"_s, u"ERROR 34"_s);
    row("place empty", u"CALL "_s, u"ERROR 34"_s);
    row("place empty second", u"CALL alice, "_s, u"ERROR 34"_s);

    row("body", u"GET CHATMESSAGE {message} BODY"_s,
        u"CHATMESSAGE {message} BODY Hi all! Type /host here to start a conference, then /join to be added."_s);
    row("from", u"GET CHATMESSAGE {message} FROM_HANDLE"_s, u"CHATMESSAGE {message} FROM_HANDLE alice"_s);
    row("chat name", u"GET CHATMESSAGE {message} CHATNAME"_s, u"CHATMESSAGE {message} CHATNAME {group}"_s);
    row("message status", u"GET CHATMESSAGE {message} STATUS"_s, u"CHATMESSAGE {message} STATUS RECEIVED"_s);
    row("message id junk", u"GET CHATMESSAGE q BODY"_s, u"ERROR 14"_s);
    row("message unknown", u"GET CHATMESSAGE 99999 BODY"_s, u"ERROR 15"_s);
    row("message is no call", u"GET CALL {message} STATUS"_s, u"ERROR 12"_s);
    row("message property junk", u"GET CHATMESSAGE {message} SIZE"_s, u"ERROR 7"_s);

    row("chat name read", u"GET CHAT {group} NAME"_s, u"CHAT {group} NAME {group}"_s);
    row("topic", u"GET CHAT {group} TOPIC"_s, u"CHAT {group} TOPIC Lumotalk demo conference"_s);
    row("members", u"GET CHAT {group} MEMBERS"_s,
        u"CHAT {group} MEMBERS me.lumo alice bob carol dave erin"_s);
    row("chat unknown", u"GET CHAT #nobody/$00 NAME"_s, u"ERROR 105"_s);
    row("chat property junk", u"GET CHAT {group} COLOUR"_s, u"ERROR 7"_s);

    row("send", u"CHATMESSAGE {group} hello"_s, u"CHATMESSAGE {next} STATUS SENDING"_s);
    row("send empty", u"CHATMESSAGE {group} "_s, u"ERROR 43"_s);
    row("send nothing", u"CHATMESSAGE {group}"_s, u"ERROR 43"_s);
    row("send unknown chat", u"CHATMESSAGE #nobody/$00 hi"_s, u"ERROR 105"_s);

    row("unknown", u"DANCE"_s, u"ERROR 2"_s);
    row("empty", QString(), u"ERROR 2"_s);
    row("blank", u" "_s, u"ERROR 2"_s);
    row("ping with junk", u"PING PONG"_s, u"ERROR 2"_s);
    row("double blank", u"GET  CURRENTUSERHANDLE"_s, u"ERROR 7"_s);
    row("line feed", u"GET CURRENTUSERHANDLE\n"_s, u"ERROR 7"_s);
}

void TestWorldCommands::replies()
{
    QFETCH(QString, command);
    QFETCH(QString, expected);
    Scene scene;
    command = scene.fill(command);
    expected = scene.fill(expected);

    const QString reply = scene.world.execute(command);
    if (expected.startsWith(u"ERROR "_s)) {
        QVERIFY2(reply.startsWith(expected + u' '), qPrintable(reply));
        QVERIFY2(reply.size() > expected.size() + 1, "an error carries a text");
    } else {
        QCOMPARE(reply, expected);
    }
}

// A body goes back exactly as sent: the value is the rest of the reply, not a word of it.
void TestWorldCommands::prefixFreeValuesAreExact()
{
    World world;
    const QString group = world.chats().constFirst().name;
    const QString body = u"  two leading blanks\nline two\r\n\u00e9\U0001F600 trailing  "_s;
    const QString reply = world.execute(u"CHATMESSAGE "_s + group + u' ' + body);
    qint64 id = 0;
    QVERIFY(Protocol::parseId(reply.section(u' ', 1, 1), id));
    QCOMPARE(world.execute(u"GET CHATMESSAGE %1 BODY"_s.arg(id)), u"CHATMESSAGE %1 BODY "_s.arg(id) + body);
}

QTEST_APPLESS_MAIN(TestWorldCommands)
#include "tst_worldcommands.moc"
