// The client layer against the real simulator, joined in-process: every operation, the attach
// statuses, both notifications, the client's errors and whole call lives, with the simulator's
// clock stepped instead of waited for.

#include "apiserver.h"
#include "loopbacktransport.h"
#include "protocol.h"
#include "skype.h"
#include "world.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(IChatMessage)
Q_DECLARE_METATYPE(ICall)

namespace {

using CallEvent = std::pair<int, int>; // call id, status

// World, protocol server and one client over the loopback, torn down client first.
struct Rig
{
    Rig()
        : server(&world)
    {
        auto owned = std::make_unique<LoopbackTransport>(&server);
        transport = owned.get();
        skype = std::make_unique<TSkype>(std::move(owned));
        QObject::connect(skype.get(), &TSkype::OnCallStatus, skype.get(),
                         [this](const ICall &call, int status) {
                             callEvents.append({call.Id(), status});
                         });
        QObject::connect(skype.get(), &TSkype::OnAttachmentStatus, skype.get(),
                         [this](int status) { attachEvents.append(status); });
        QObject::connect(&server, &ApiServer::served, skype.get(),
                         [this](ApiServer::ClientId, const QString &command, const QString &) {
                             commands.append(command);
                         });
    }

    bool attach()
    {
        skype->Attach(8, false);
        if (!QTest::qWaitFor([this] { return attachEvents.contains(Protocol::AttachSuccess); }, 5000))
            return false;
        commands.clear();
        return true;
    }

    // The statuses this client has heard for one call, in order.
    QList<int> heard(int callId) const
    {
        QList<int> statuses;
        for (const CallEvent &event : callEvents) {
            if (event.first == callId)
                statuses.append(event.second);
        }
        return statuses;
    }

    int errorCode(const std::function<void()> &operation)
    {
        try {
            operation();
        } catch (const SkypeError &error) {
            return error.code();
        }
        return -1;
    }

    QString groupChat() const { return world.chats().constFirst().name; }

    World world;
    ApiServer server;
    LoopbackTransport *transport = nullptr;
    std::unique_ptr<TSkype> skype;
    QList<CallEvent> callEvents;
    QList<int> attachEvents;
    QStringList commands;
};

} // namespace

class TestSkypeLoopback final : public QObject
{
    Q_OBJECT

private slots:
    void readsTheClient();
    void chatOperations_data();
    void chatOperations();
    void commands();
    void clientErrors_data();
    void clientErrors();
    void attachStatuses();
    void attachPendingAuthorization_data();
    void attachPendingAuthorization();
    void serviceComesAndGoes();
    void messageNotifications();
    void answeredCallWholeLife();
    void unansweredCalls_data();
    void unansweredCalls();
    void activeCallsListTheLiveOnes();
};

void TestSkypeLoopback::readsTheClient()
{
    Rig rig;
    QVERIFY(rig.attach());
    QCOMPARE(rig.skype->CurrentUser().Handle(), u"me.lumo"_s);
    QCOMPARE(rig.skype->SilentMode(), false);
    rig.world.setSilentMode(true);
    QCOMPARE(rig.skype->SilentMode(), true);
    QCOMPARE(rig.skype->ActiveCalls().Count(), 0);
    QCOMPARE(rig.commands, (QStringList{u"GET CURRENTUSERHANDLE"_s, u"GET SILENT_MODE"_s,
                                        u"GET SILENT_MODE"_s, u"SEARCH ACTIVECALLS"_s}));
}

void TestSkypeLoopback::chatOperations_data()
{
    QTest::addColumn<QString>("body");
    QTest::newRow("plain") << u"/join"_s;
    QTest::newRow("blanks and line feeds") << u"  /host \n second line\r\n "_s;
    QTest::newRow("unicode") << u"ぬむぬむ☆ 😀 \t é"_s;
    QTest::newRow("1 MB") << QString(1024 * 1024, u'ä');
}

void TestSkypeLoopback::chatOperations()
{
    QFETCH(QString, body);
    Rig rig;
    QVERIFY(rig.attach());
    const QString chatName = rig.groupChat();
    const IChat chat = rig.skype->Chat(chatName);
    QCOMPARE(chat.Name(), chatName);
    QCOMPARE(chat.Topic(), u"Lumotalk demo conference"_s);

    // Ours, sent through the client.
    const IChatMessage sent = chat.SendMessage(body);
    QCOMPARE(sent.Body(), body);
    QCOMPARE(sent.FromHandle(), u"me.lumo"_s);
    QCOMPARE(sent.ChatName(), chatName);
    QCOMPARE(rig.world.message(sent.Id())->body, body);

    // A contact's, read back through its chat.
    const qint64 theirs = rig.world.say(u"bob"_s, chatName, body).value;
    const IChatMessage received = rig.skype->Message(int(theirs));
    QCOMPARE(received.Body(), body);
    QCOMPARE(received.FromHandle(), u"bob"_s);
    QCOMPARE(received.Chat().Topic(), u"Lumotalk demo conference"_s);
}

void TestSkypeLoopback::commands()
{
    Rig rig;
    QVERIFY(rig.attach());
    rig.skype->SendCommand(rig.skype->Command(12346, u"SET SILENT_MODE ON"_s, {}, true, 1));
    QVERIFY(rig.world.silentMode());
    QCOMPARE(rig.commands, QStringList{u"#12346 SET SILENT_MODE ON"_s});

    rig.skype->SendCommand(rig.skype->Command(7, u"SET SILENT_MODE OFF"_s, {}, false, 0));
    QVERIFY(!rig.world.silentMode());

    try {
        rig.skype->SendCommand(rig.skype->Command(8, u"FROBNICATE"_s, {}, true, 1000));
        QFAIL("no error raised");
    } catch (const SkypeError &error) {
        QCOMPARE(error.code(), Protocol::Error::UnknownCommand);
    }
}

void TestSkypeLoopback::clientErrors_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("code");
    QTest::newRow("status of an unknown call")
        << u"unknown call status"_s << int(Protocol::Error::UnknownCall);
    QTest::newRow("hold an unknown call") << u"unknown call hold"_s << int(Protocol::Error::UnknownCall);
    QTest::newRow("call yourself") << u"call self"_s << int(Protocol::Error::CannotCallSelf);
    QTest::newRow("call an invalid handle") << u"call invalid"_s << int(Protocol::Error::InvalidUserHandle);
    QTest::newRow("hold an unanswered call") << u"hold unanswered"_s << int(Protocol::Error::CannotHold);
    QTest::newRow("resume an unanswered call")
        << u"resume unanswered"_s << int(Protocol::Error::CannotResume);
    QTest::newRow("join unanswered calls")
        << u"join unanswered"_s << int(Protocol::Error::CannotCreateConference);
    QTest::newRow("body of an unknown message")
        << u"unknown message"_s << int(Protocol::Error::UnknownMessage);
    QTest::newRow("topic of an unknown chat") << u"unknown chat"_s << int(Protocol::Error::InvalidChatName);
    QTest::newRow("empty message") << u"empty message"_s << int(Protocol::Error::EmptyMessage);
}

void TestSkypeLoopback::clientErrors()
{
    QFETCH(QString, operation);
    QFETCH(int, code);
    Rig rig;
    QVERIFY(rig.attach());
    rig.world.setBehaviour(u"carol"_s, {Behaviour::NeverAnswer, 0});
    const QHash<QString, std::function<void()>> operations = {
        {u"unknown call status"_s, [&] { rig.skype->Call(4242).Status(); }},
        {u"unknown call hold"_s, [&] { rig.skype->Call(4242).Hold(); }},
        {u"call self"_s, [&] { rig.skype->PlaceCall(u"me.lumo"_s); }},
        {u"call invalid"_s, [&] { rig.skype->PlaceCall(u"bad/handle"_s); }},
        {u"hold unanswered"_s, [&] { rig.skype->PlaceCall(u"carol"_s).Hold(); }},
        {u"resume unanswered"_s, [&] { rig.skype->PlaceCall(u"carol"_s).Resume(); }},
        {u"join unanswered"_s,
         [&] {
             const ICall a = rig.skype->PlaceCall(u"carol"_s);
             rig.skype->PlaceCall(u"carol"_s).Join(a.Id());
         }},
        {u"unknown message"_s, [&] { rig.skype->Message(4242).Body(); }},
        {u"unknown chat"_s, [&] { rig.skype->Chat(u"#nobody/$nowhere"_s).Topic(); }},
        {u"empty message"_s, [&] { rig.skype->Chat(rig.groupChat()).SendMessage({}); }},
    };
    QVERIFY(operations.contains(operation));
    QCOMPARE(rig.errorCode(operations.value(operation)), code);
}

void TestSkypeLoopback::attachStatuses()
{
    Rig rig;
    QVERIFY_THROWS_EXCEPTION(SkypeError, rig.skype->SilentMode());
    rig.skype->Attach(8, false);
    QVERIFY(rig.attachEvents.isEmpty()); // never from inside Attach
    QTRY_COMPARE(rig.attachEvents, QList<int>{Protocol::AttachSuccess});
    QCOMPARE(rig.skype->AttachmentStatus(), int(Protocol::AttachSuccess));
    QCOMPARE(rig.commands, (QStringList{u"NAME Lumotalk"_s, u"PROTOCOL 8"_s}));
}

void TestSkypeLoopback::attachPendingAuthorization_data()
{
    QTest::addColumn<bool>("allow");
    QTest::addColumn<int>("status");
    QTest::newRow("allowed") << true << int(Protocol::AttachSuccess);
    QTest::newRow("refused") << false << int(Protocol::AttachRefused);
}

void TestSkypeLoopback::attachPendingAuthorization()
{
    QFETCH(bool, allow);
    QFETCH(int, status);
    Rig rig;
    rig.server.setAutoAllow(false);
    QSignalSpy asked(&rig.server, &ApiServer::authorizationRequested);
    rig.skype->Attach(8, false);
    QTRY_COMPARE(rig.attachEvents, QList<int>{Protocol::AttachPendingAuthorization});
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.at(0).at(1).toString(), u"Lumotalk"_s);
    rig.skype->Attach(8, false); // no second request while one waits
    QCOMPARE(rig.commands, QStringList{});

    rig.server.resolveAuthorization(rig.transport->clientId(), allow);
    QTRY_COMPARE(rig.attachEvents, (QList<int>{Protocol::AttachPendingAuthorization, status}));
    QCOMPARE(asked.size(), 1);
    if (allow)
        QCOMPARE(rig.skype->CurrentUser().Handle(), u"me.lumo"_s);
    else
        QVERIFY_THROWS_EXCEPTION(SkypeError, rig.skype->CurrentUser().Handle());
}

void TestSkypeLoopback::serviceComesAndGoes()
{
    Rig rig;
    // As the program does: attach again whenever the client becomes available.
    QObject::connect(rig.skype.get(), &TSkype::OnAttachmentStatus, rig.skype.get(), [&rig](int status) {
        if (status == Protocol::AttachAvailable)
            rig.skype->Attach(8, false);
    });
    rig.transport->setServiceAvailable(false);
    QTRY_COMPARE(rig.attachEvents, QList<int>{Protocol::AttachNotAvailable});
    rig.skype->Attach(8, false);
    QTRY_COMPARE(rig.attachEvents, (QList<int>{Protocol::AttachNotAvailable, Protocol::AttachNotAvailable}));

    rig.transport->setServiceAvailable(true);
    QTRY_COMPARE(rig.attachEvents, (QList<int>{Protocol::AttachNotAvailable, Protocol::AttachNotAvailable,
                                               Protocol::AttachAvailable, Protocol::AttachSuccess}));
    QCOMPARE(rig.skype->CurrentUser().Handle(), u"me.lumo"_s);

    rig.transport->setServiceAvailable(false);
    QTRY_COMPARE(rig.attachEvents.last(), int(Protocol::AttachNotAvailable));
    QVERIFY_THROWS_EXCEPTION(SkypeError, rig.skype->CurrentUser().Handle());
}

void TestSkypeLoopback::messageNotifications()
{
    Rig rig;
    QVERIFY(rig.attach());
    QList<std::pair<QString, int>> heard; // body, status
    QObject::connect(rig.skype.get(), &TSkype::OnMessageStatus, rig.skype.get(),
                     [&heard](const IChatMessage &message, int status) {
                         heard.append({message.Body(), status});
                     });
    rig.world.say(u"bob"_s, rig.groupChat(), u" /join"_s);
    QTRY_COMPARE(heard.size(), 1);
    QCOMPARE(heard.at(0), std::pair(u" /join"_s, int(Protocol::MessageReceived)));

    rig.skype->Chat(rig.groupChat()).SendMessage(u"/host"_s);
    rig.world.advanceBy(rig.world.setup().sendMs);
    QTRY_COMPARE(heard.size(), 3);
    QCOMPARE(heard.at(1), std::pair(u"/host"_s, int(Protocol::MessageSending)));
    QCOMPARE(heard.at(2), std::pair(u"/host"_s, int(Protocol::MessageSent)));
}

void TestSkypeLoopback::answeredCallWholeLife()
{
    Rig rig;
    QVERIFY(rig.attach());
    rig.world.setBehaviour(u"carol"_s, {Behaviour::Answer, 700});

    const ICall first = rig.skype->PlaceCall(u"alice"_s);
    QCOMPARE(first.Status(), int(Protocol::CallRouting));
    QCOMPARE(first.PartnerHandle(), u"alice"_s);
    rig.world.advanceBy(rig.world.setup().routingMs);
    QCOMPARE(first.Status(), int(Protocol::CallRinging));
    rig.world.advanceBy(2000);
    QCOMPARE(first.Status(), int(Protocol::CallInProgress));

    first.Hold();
    QCOMPARE(first.Status(), int(Protocol::CallLocalHold));
    first.Resume();
    QCOMPARE(first.Status(), int(Protocol::CallInProgress));

    // The conference: hold it, call the next one, merge the new call into the held one.
    first.Hold();
    const ICall second = rig.skype->PlaceCall(u"carol"_s);
    rig.world.advanceBy(rig.world.setup().routingMs + 700);
    QCOMPARE(second.Status(), int(Protocol::CallInProgress));
    second.Join(first.Id());
    QCOMPARE(first.Status(), int(Protocol::CallInProgress));
    QVERIFY(rig.world.call(first.Id())->confId != 0);
    QCOMPARE(rig.world.call(second.Id())->confId, rig.world.call(first.Id())->confId);

    rig.world.remoteHangUp(second.Id());
    QCOMPARE(second.Status(), int(Protocol::CallFinished));
    rig.world.remoteHangUp(first.Id());

    const QList<int> firstLife = {
        Protocol::CallRouting,    Protocol::CallRinging,   Protocol::CallInProgress, Protocol::CallLocalHold,
        Protocol::CallInProgress, Protocol::CallLocalHold, Protocol::CallInProgress, Protocol::CallFinished};
    const QList<int> secondLife = {Protocol::CallRouting, Protocol::CallRinging, Protocol::CallInProgress,
                                   Protocol::CallFinished};
    QTRY_COMPARE(rig.heard(first.Id()), firstLife);
    QTRY_COMPARE(rig.heard(second.Id()), secondLife);
    QCOMPARE(rig.skype->ActiveCalls().Count(), 0);
}

void TestSkypeLoopback::unansweredCalls_data()
{
    QTest::addColumn<QString>("contact");
    QTest::addColumn<int>("ringMs");
    QTest::addColumn<QList<int>>("life");
    QTest::newRow("refused") << u"bob"_s << 5000
                             << QList<int>{Protocol::CallRouting, Protocol::CallRinging,
                                           Protocol::CallRefused};
    QTest::newRow("busy") << u"dave"_s << 0 << QList<int>{Protocol::CallRouting, Protocol::CallBusy};
    QTest::newRow("missed") << u"carol"_s << 60000
                            << QList<int>{Protocol::CallRouting, Protocol::CallRinging, Protocol::CallMissed};
    QTest::newRow("offline") << u"erin"_s << 0 << QList<int>{Protocol::CallRouting, Protocol::CallFailed};
    QTest::newRow("unknown contact") << u"zed"_s << 0
                                     << QList<int>{Protocol::CallRouting, Protocol::CallFailed};
}

void TestSkypeLoopback::unansweredCalls()
{
    QFETCH(QString, contact);
    QFETCH(int, ringMs);
    QFETCH(QList<int>, life);
    Rig rig;
    QVERIFY(rig.attach());
    const ICall call = rig.skype->PlaceCall(contact);
    rig.world.advanceBy(rig.world.setup().routingMs);
    rig.world.advanceBy(ringMs);
    QCOMPARE(call.Status(), life.last());
    QTRY_COMPARE(rig.heard(call.Id()), life);
    QCOMPARE(rig.skype->ActiveCalls().Count(), 0);
}

void TestSkypeLoopback::activeCallsListTheLiveOnes()
{
    Rig rig;
    QVERIFY(rig.attach());
    rig.world.setBehaviour(u"carol"_s, {Behaviour::NeverAnswer, 0});
    const int a = rig.skype->PlaceCall(u"carol"_s).Id();
    const int b = rig.skype->PlaceCall(u"dave"_s).Id();
    const int c = rig.skype->PlaceCall(u"alice"_s).Id();
    const ICallCollection calls = rig.skype->ActiveCalls();
    QCOMPARE(calls.Count(), 3);
    QCOMPARE(calls.Item(1).Id(), a);
    QCOMPARE(calls.Item(2).Id(), b);
    QCOMPARE(calls.Item(3).Id(), c);
    rig.world.advanceBy(rig.world.setup().routingMs); // dave is busy
    QCOMPARE(calls.Count(), 2);
    QCOMPARE(calls.Item(2).Id(), c);
    QVERIFY_THROWS_EXCEPTION(SkypeError, calls.Item(3));
    QVERIFY_THROWS_EXCEPTION(SkypeError, calls.Item(0));
}

QTEST_GUILESS_MAIN(TestSkypeLoopback)
#include "tst_skypeloopback.moc"
