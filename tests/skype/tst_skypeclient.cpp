// The client layer against a scripted transport: what each operation sends, how each reply is
// read, which replies are refused, and how attach statuses and notifications are delivered.

#include "faketransport.h"
#include "protocol.h"
#include "skype.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(IChatMessage)
Q_DECLARE_METATYPE(ICall)

namespace {

const QString GroupChat = u"#me/$0123456789abcdef"_s;

// Every operation of the object model, by name, with its result as text.
QString runOperation(TSkype &skype, const QString &operation)
{
    static const QHash<QString, std::function<QString(TSkype &)>> operations = {
        {u"CurrentUser.Handle"_s, [](TSkype &s) { return s.CurrentUser().Handle(); }},
        {u"ActiveCalls.Count"_s, [](TSkype &s) { return QString::number(s.ActiveCalls().Count()); }},
        {u"ActiveCalls.Item(1)"_s, [](TSkype &s) { return QString::number(s.ActiveCalls().Item(1).Id()); }},
        {u"ActiveCalls.Item(2)"_s, [](TSkype &s) { return QString::number(s.ActiveCalls().Item(2).Id()); }},
        {u"ICall.Status"_s, [](TSkype &s) { return QString::number(s.Call(5).Status()); }},
        {u"ICall.PartnerHandle"_s, [](TSkype &s) { return s.Call(5).PartnerHandle(); }},
        {u"ICall.Hold"_s, [](TSkype &s) { return s.Call(5).Hold(), u"done"_s; }},
        {u"ICall.Resume"_s, [](TSkype &s) { return s.Call(5).Resume(), u"done"_s; }},
        {u"ICall.Join"_s, [](TSkype &s) { return s.Call(5).Join(3), u"done"_s; }},
        {u"PlaceCall"_s, [](TSkype &s) { return QString::number(s.PlaceCall(u"alice"_s, {}, {}, {}).Id()); }},
        {u"PlaceCall(3)"_s,
         [](TSkype &s) { return QString::number(s.PlaceCall(u"alice"_s, u"bob"_s, {}, u"carol"_s).Id()); }},
        {u"IChatMessage.Body"_s, [](TSkype &s) { return s.Message(12).Body(); }},
        {u"IChatMessage.FromHandle"_s, [](TSkype &s) { return s.Message(12).FromHandle(); }},
        {u"IChatMessage.ChatName"_s, [](TSkype &s) { return s.Message(12).ChatName(); }},
        {u"IChat.Name"_s, [](TSkype &s) { return s.Chat(GroupChat).Name(); }},
        {u"IChat.Topic"_s, [](TSkype &s) { return s.Chat(GroupChat).Topic(); }},
        {u"IChat.SendMessage"_s,
         [](TSkype &s) { return QString::number(s.Chat(GroupChat).SendMessage(u" hi,\nall "_s).Id()); }},
        {u"SilentMode"_s, [](TSkype &s) { return s.SilentMode() ? u"on"_s : u"off"_s; }},
        {u"SendCommand"_s,
         [](TSkype &s) {
             s.SendCommand(s.Command(12346, u"SET SILENT_MODE ON"_s, {}, true, 1));
             return u"done"_s;
         }},
    };
    const auto it = operations.find(operation);
    if (it == operations.end())
        qFatal("no operation %s", qPrintable(operation));
    return it.value()(skype);
}

struct Fixture
{
    Fixture()
    {
        auto owned = std::make_unique<FakeTransport>();
        transport = owned.get();
        log = transport->log;
        skype = std::make_unique<TSkype>(std::move(owned));
    }

    bool attach()
    {
        QSignalSpy spy(skype.get(), &TSkype::OnAttachmentStatus);
        skype->Attach(8, false);
        if (!spy.wait(2000) && spy.isEmpty())
            return false;
        log->clear();
        return spy.last().at(0).toInt() == Protocol::AttachSuccess;
    }

    FakeTransport *transport = nullptr;
    std::shared_ptr<QStringList> log;
    std::unique_ptr<TSkype> skype;
};

} // namespace

class TestSkypeClient final : public QObject
{
    Q_OBJECT

private slots:
    void operation_data();
    void operation();
    void refusedReply_data();
    void refusedReply();
    void callStatusWords_data();
    void callStatusWords();
    void errorTextsStayShort();
    void transportFailure_data();
    void transportFailure();
    void unsafeNamesAreNotSent_data();
    void unsafeNamesAreNotSent();
    void activeCallsAreFetchedAfresh();
    void messageChatHandle();
    void handlesOutliveTheirSkype();
    void attachNotAvailable();
    void attachSucceedsFromTheEventLoop();
    void attachRefused_data();
    void attachRefused();
    void attachPendingThenAllowed();
    void secondAttachDuringHandshake();
    void availabilityDrivesReattach();
    void commandsBeforeAttachThrow();
    void notifications_data();
    void notifications();
    void junkNotificationsDropped_data();
    void junkNotificationsDropped();
    void notificationsBeforeAttachIgnored();
    void handlerMayDestroyTheSkype();
    void commandTimeoutCountsAsSent();
    void commandErrorRaises();
    void commandGoneServiceRaises();
    void nonBlockingCommandDoesNotWait();
    void callStatusTexts_data();
    void callStatusTexts();
};

void TestSkypeClient::operation_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("result");

    const QString megabyte(1024 * 1024, u'é');
    QTest::newRow("current user") << u"CurrentUser.Handle"_s << u"GET CURRENTUSERHANDLE"_s
                                  << u"CURRENTUSERHANDLE me.lumo"_s << u"me.lumo"_s;
    QTest::newRow("active calls, two")
        << u"ActiveCalls.Count"_s << u"SEARCH ACTIVECALLS"_s << u"CALLS 3, 7"_s << u"2"_s;
    QTest::newRow("active calls, none with blank")
        << u"ActiveCalls.Count"_s << u"SEARCH ACTIVECALLS"_s << u"CALLS "_s << u"0"_s;
    QTest::newRow("active calls, none bare")
        << u"ActiveCalls.Count"_s << u"SEARCH ACTIVECALLS"_s << u"CALLS"_s << u"0"_s;
    QTest::newRow("active calls, other first word")
        << u"ActiveCalls.Count"_s << u"SEARCH ACTIVECALLS"_s << u"ACTIVECALLS 4"_s << u"1"_s;
    QTest::newRow("active call item 1")
        << u"ActiveCalls.Item(1)"_s << u"SEARCH ACTIVECALLS"_s << u"CALLS 3, 7"_s << u"3"_s;
    QTest::newRow("active call item 2")
        << u"ActiveCalls.Item(2)"_s << u"SEARCH ACTIVECALLS"_s << u"CALLS 3, 7"_s << u"7"_s;
    QTest::newRow("call status") << u"ICall.Status"_s << u"GET CALL 5 STATUS"_s
                                 << u"CALL 5 STATUS INPROGRESS"_s << u"5"_s;
    QTest::newRow("call status unknown word")
        << u"ICall.Status"_s << u"GET CALL 5 STATUS"_s << u"CALL 5 STATUS WAITING_REDIAL"_s << u"-1"_s;
    QTest::newRow("call partner") << u"ICall.PartnerHandle"_s << u"GET CALL 5 PARTNER_HANDLE"_s
                                  << u"CALL 5 PARTNER_HANDLE alice"_s << u"alice"_s;
    QTest::newRow("hold") << u"ICall.Hold"_s << u"ALTER CALL 5 HOLD"_s << u"ALTER CALL 5 HOLD"_s << u"done"_s;
    QTest::newRow("resume") << u"ICall.Resume"_s << u"ALTER CALL 5 RESUME"_s << u"ALTER CALL 5 RESUME"_s
                            << u"done"_s;
    QTest::newRow("join") << u"ICall.Join"_s << u"ALTER CALL 5 JOIN_CONFERENCE 3"_s
                          << u"ALTER CALL 5 JOIN_CONFERENCE 3"_s << u"done"_s;
    QTest::newRow("place call") << u"PlaceCall"_s << u"CALL alice"_s << u"CALL 9 STATUS ROUTING"_s << u"9"_s;
    QTest::newRow("place call, several targets")
        << u"PlaceCall(3)"_s << u"CALL alice, bob, carol"_s << u"CALL 10 STATUS ROUTING"_s << u"10"_s;
    QTest::newRow("body kept exactly")
        << u"IChatMessage.Body"_s << u"GET CHATMESSAGE 12 BODY"_s
        << u"CHATMESSAGE 12 BODY   /join\n second line \r\n"_s << u"  /join\n second line \r\n"_s;
    QTest::newRow("body unicode") << u"IChatMessage.Body"_s << u"GET CHATMESSAGE 12 BODY"_s
                                  << u"CHATMESSAGE 12 BODY ぬむぬむ☆ 😀 \u0000 é"_s
                                  << u"ぬむぬむ☆ 😀 \u0000 é"_s;
    QTest::newRow("body empty") << u"IChatMessage.Body"_s << u"GET CHATMESSAGE 12 BODY"_s
                                << u"CHATMESSAGE 12 BODY "_s << QString();
    QTest::newRow("body 1 MB") << u"IChatMessage.Body"_s << u"GET CHATMESSAGE 12 BODY"_s
                               << u"CHATMESSAGE 12 BODY "_s + megabyte << megabyte;
    QTest::newRow("sender") << u"IChatMessage.FromHandle"_s << u"GET CHATMESSAGE 12 FROM_HANDLE"_s
                            << u"CHATMESSAGE 12 FROM_HANDLE bob"_s << u"bob"_s;
    QTest::newRow("chat name") << u"IChatMessage.ChatName"_s << u"GET CHATMESSAGE 12 CHATNAME"_s
                               << u"CHATMESSAGE 12 CHATNAME "_s + GroupChat << GroupChat;
    QTest::newRow("chat's name") << u"IChat.Name"_s << u"GET CHAT "_s + GroupChat + u" NAME"_s
                                 << u"CHAT "_s + GroupChat + u" NAME "_s + GroupChat << GroupChat;
    QTest::newRow("topic") << u"IChat.Topic"_s << u"GET CHAT "_s + GroupChat + u" TOPIC"_s
                           << u"CHAT "_s + GroupChat + u" TOPIC  Friday\ncall ☆"_s << u" Friday\ncall ☆"_s;
    QTest::newRow("send message") << u"IChat.SendMessage"_s
                                  << u"CHATMESSAGE "_s + GroupChat + u"  hi,\nall "_s
                                  << u"CHATMESSAGE 33 STATUS SENDING"_s << u"33"_s;
    QTest::newRow("silent on") << u"SilentMode"_s << u"GET SILENT_MODE"_s << u"SILENT_MODE ON"_s << u"on"_s;
    QTest::newRow("silent off") << u"SilentMode"_s << u"GET SILENT_MODE"_s << u"SILENT_MODE OFF"_s
                                << u"off"_s;
    QTest::newRow("command") << u"SendCommand"_s << u"#12346 SET SILENT_MODE ON"_s
                             << u"#12346 SILENT_MODE ON"_s << u"done"_s;
}

void TestSkypeClient::operation()
{
    QFETCH(QString, operation);
    QFETCH(QString, command);
    QFETCH(QString, reply);
    QFETCH(QString, result);

    Fixture f;
    QVERIFY(f.attach());
    f.transport->replies.insert(command, reply);
    QCOMPARE(runOperation(*f.skype, operation), result);
    QCOMPARE(*f.log, QStringList{command});
}

void TestSkypeClient::refusedReply_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text"); // the client's own text; empty: ours, any

    const QString chatTopic = u"GET CHAT "_s + GroupChat + u" TOPIC"_s;
    // The client's own errors keep code and text.
    QTest::newRow("unknown call") << u"ICall.Status"_s << u"GET CALL 5 STATUS"_s << u"ERROR 12 Unknown call"_s
                                  << 12 << u"Unknown call"_s;
    QTest::newRow("cannot hold") << u"ICall.Hold"_s << u"ALTER CALL 5 HOLD"_s
                                 << u"ERROR 22 Cannot hold this call"_s << 22 << u"Cannot hold this call"_s;
    QTest::newRow("cannot call self")
        << u"PlaceCall"_s << u"CALL alice"_s << u"ERROR 94 Cannot call yourself"_s << 94
        << u"Cannot call yourself"_s;
    QTest::newRow("error without text")
        << u"SilentMode"_s << u"GET SILENT_MODE"_s << u"ERROR 7"_s << 7 << QString();
    QTest::newRow("command error") << u"SendCommand"_s << u"#12346 SET SILENT_MODE ON"_s
                                   << u"#12346 ERROR 2 Unknown command"_s << 2 << u"Unknown command"_s;
    // Replies that cannot be read: code 0.
    QTest::newRow("empty") << u"ICall.Status"_s << u"GET CALL 5 STATUS"_s << QString() << 0 << QString();
    QTest::newRow("other call's status")
        << u"ICall.Status"_s << u"GET CALL 5 STATUS"_s << u"CALL 6 STATUS RINGING"_s << 0 << QString();
    QTest::newRow("status missing") << u"ICall.Status"_s << u"GET CALL 5 STATUS"_s << u"CALL 5 STATUS"_s << 0
                                    << QString();
    QTest::newRow("status blank") << u"ICall.Status"_s << u"GET CALL 5 STATUS"_s << u"CALL 5 STATUS "_s << 0
                                  << QString();
    QTest::newRow("status lower case")
        << u"ICall.Status"_s << u"GET CALL 5 STATUS"_s << u"CALL 5 STATUS ringing"_s << 0 << QString();
    QTest::newRow("status extra field")
        << u"ICall.Status"_s << u"GET CALL 5 STATUS"_s << u"CALL 5 STATUS RINGING now"_s << 0 << QString();
    QTest::newRow("status emoji") << u"ICall.Status"_s << u"GET CALL 5 STATUS"_s << u"CALL 5 STATUS 😀"_s << 0
                                  << QString();
    QTest::newRow("other property") << u"ICall.PartnerHandle"_s << u"GET CALL 5 PARTNER_HANDLE"_s
                                    << u"CALL 5 PARTNER_DISPNAME Alice"_s << 0 << QString();
    QTest::newRow("glued property") << u"ICall.PartnerHandle"_s << u"GET CALL 5 PARTNER_HANDLE"_s
                                    << u"CALL 5 PARTNER_HANDLEalice"_s << 0 << QString();
    QTest::newRow("calls, junk id") << u"ActiveCalls.Count"_s << u"SEARCH ACTIVECALLS"_s << u"CALLS 1, x"_s
                                    << 0 << QString();
    QTest::newRow("calls, empty item")
        << u"ActiveCalls.Count"_s << u"SEARCH ACTIVECALLS"_s << u"CALLS 1,, 2"_s << 0 << QString();
    QTest::newRow("calls, negative") << u"ActiveCalls.Count"_s << u"SEARCH ACTIVECALLS"_s << u"CALLS -1"_s
                                     << 0 << QString();
    QTest::newRow("calls, wrong word")
        << u"ActiveCalls.Count"_s << u"SEARCH ACTIVECALLS"_s << u"CHATS 1, 2"_s << 0 << QString();
    QTest::newRow("item out of range")
        << u"ActiveCalls.Item(2)"_s << u"SEARCH ACTIVECALLS"_s << u"CALLS 3"_s << 0 << QString();
    QTest::newRow("item of none") << u"ActiveCalls.Item(1)"_s << u"SEARCH ACTIVECALLS"_s << u"CALLS"_s << 0
                                  << QString();
    QTest::newRow("placed, id not a number")
        << u"PlaceCall"_s << u"CALL alice"_s << u"CALL x STATUS ROUTING"_s << 0 << QString();
    QTest::newRow("placed, id too large")
        << u"PlaceCall"_s << u"CALL alice"_s << u"CALL 99999999999 STATUS ROUTING"_s << 0 << QString();
    QTest::newRow("placed, no status") << u"PlaceCall"_s << u"CALL alice"_s << u"CALL 9"_s << 0 << QString();
    QTest::newRow("echo of another command")
        << u"ICall.Hold"_s << u"ALTER CALL 5 HOLD"_s << u"ALTER CALL 5 RESUME"_s << 0 << QString();
    QTest::newRow("other message's body") << u"IChatMessage.Body"_s << u"GET CHATMESSAGE 12 BODY"_s
                                          << u"CHATMESSAGE 13 BODY hello"_s << 0 << QString();
    QTest::newRow("other chat's topic")
        << u"IChat.Topic"_s << chatTopic << u"CHAT #me/$other TOPIC x"_s << 0 << QString();
    QTest::newRow("sent, no id") << u"IChat.SendMessage"_s << u"CHATMESSAGE "_s + GroupChat + u"  hi,\nall "_s
                                 << u"CHATMESSAGE STATUS SENDING"_s << 0 << QString();
    QTest::newRow("silent, unknown word")
        << u"SilentMode"_s << u"GET SILENT_MODE"_s << u"SILENT_MODE MAYBE"_s << 0 << QString();
    QTest::newRow("silent, missing") << u"SilentMode"_s << u"GET SILENT_MODE"_s << u"SILENT_MODE"_s << 0
                                     << QString();
    QTest::newRow("error, code not a number")
        << u"SilentMode"_s << u"GET SILENT_MODE"_s << u"ERROR x oops"_s << 0 << QString();
    QTest::newRow("error bare") << u"SilentMode"_s << u"GET SILENT_MODE"_s << u"ERROR"_s << 0 << QString();
    QTest::newRow("command, other id")
        << u"SendCommand"_s << u"#12346 SET SILENT_MODE ON"_s << u"#12345 SILENT_MODE ON"_s << 0 << QString();
    QTest::newRow("line feeds") << u"ICall.Status"_s << u"GET CALL 5 STATUS"_s << u"CALL 5 STATUS\nRINGING"_s
                                << 0 << QString();
}

void TestSkypeClient::refusedReply()
{
    QFETCH(QString, operation);
    QFETCH(QString, command);
    QFETCH(QString, reply);
    QFETCH(int, code);
    QFETCH(QString, text);

    Fixture f;
    QVERIFY(f.attach());
    f.transport->replies.insert(command, reply);
    try {
        runOperation(*f.skype, operation);
        QFAIL("no error raised");
    } catch (const SkypeError &error) {
        QCOMPARE(error.code(), code);
        if (!text.isEmpty())
            QCOMPARE(error.text(), text);
        QVERIFY(!error.text().isEmpty());
    }
    QCOMPARE(*f.log, QStringList{command});
}

void TestSkypeClient::callStatusWords_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("status");
    for (int status = 0; status <= 22; ++status) {
        const QString word = Protocol::callStatusWord(status);
        QTest::newRow(qPrintable(word)) << word << status;
    }
    QTest::newRow("unknown") << u"SOMETHING_NEW"_s << -1;
}

void TestSkypeClient::callStatusWords()
{
    QFETCH(QString, word);
    QFETCH(int, status);
    Fixture f;
    QVERIFY(f.attach());
    f.transport->replies.insert(u"GET CALL 41 STATUS"_s, u"CALL 41 STATUS "_s + word);
    QCOMPARE(f.skype->Call(41).Status(), status);
}

void TestSkypeClient::errorTextsStayShort()
{
    Fixture f;
    QVERIFY(f.attach());
    f.transport->replies.insert(u"GET SILENT_MODE"_s, u"SILENT_MODE "_s + QString(1024 * 1024, u'x'));
    try {
        f.skype->SilentMode();
        QFAIL("no error raised");
    } catch (const SkypeError &error) {
        QCOMPARE(error.code(), 0);
        QVERIFY2(error.text().size() < 400, qPrintable(error.text().left(400)));
        QVERIFY(error.text().contains(u"GET SILENT_MODE"_s));
    }
}

void TestSkypeClient::transportFailure_data()
{
    QTest::addColumn<FakeTransport::Failure>("failure");
    QTest::newRow("time-out") << FakeTransport::Failure::SkypeErrorThrown;
    QTest::newRow("other failure") << FakeTransport::Failure::OtherThrown;
}

void TestSkypeClient::transportFailure()
{
    QFETCH(FakeTransport::Failure, failure);
    Fixture f;
    QVERIFY(f.attach());
    f.skype->setCommandTimeout(750);
    f.transport->failure = failure;
    QVERIFY_THROWS_EXCEPTION(SkypeError, f.skype->Call(5).Status());
    try {
        f.skype->CurrentUser().Handle();
    } catch (const SkypeError &error) {
        QCOMPARE(error.code(), 0);
        QVERIFY(!error.text().isEmpty());
    }
    QCOMPARE(f.transport->lastTimeoutMs, 750);
}

void TestSkypeClient::unsafeNamesAreNotSent_data()
{
    QTest::addColumn<QString>("handle");
    QTest::newRow("empty") << QString();
    QTest::newRow("blank") << u"bob eve"_s;
    QTest::newRow("comma") << u"bob,eve"_s;
    QTest::newRow("line feed") << u"bob\nGET SILENT_MODE"_s;
}

void TestSkypeClient::unsafeNamesAreNotSent()
{
    QFETCH(QString, handle);
    Fixture f;
    QVERIFY(f.attach());
    QVERIFY_THROWS_EXCEPTION(SkypeError, f.skype->PlaceCall(handle));
    QVERIFY_THROWS_EXCEPTION(SkypeError, f.skype->PlaceCall(u"alice"_s, handle.isEmpty() ? u" "_s : handle));
    QVERIFY_THROWS_EXCEPTION(SkypeError, f.skype->Chat(handle).SendMessage(u"hi"_s));
    QVERIFY(f.log->isEmpty());
}

void TestSkypeClient::activeCallsAreFetchedAfresh()
{
    Fixture f;
    QVERIFY(f.attach());
    const ICallCollection calls = f.skype->ActiveCalls();
    f.transport->replies.insert(u"SEARCH ACTIVECALLS"_s, u"CALLS 3"_s);
    QCOMPARE(calls.Count(), 1);
    f.transport->replies.insert(u"SEARCH ACTIVECALLS"_s, u"CALLS 3, 8"_s);
    QCOMPARE(calls.Count(), 2);
    QCOMPARE(calls.Item(2).Id(), 8);
    QCOMPARE(f.log->size(), 3);
}

void TestSkypeClient::messageChatHandle()
{
    Fixture f;
    QVERIFY(f.attach());
    f.transport->replies.insert(u"GET CHATMESSAGE 12 CHATNAME"_s, u"CHATMESSAGE 12 CHATNAME "_s + GroupChat);
    f.transport->replies.insert(u"GET CHAT "_s + GroupChat + u" TOPIC"_s,
                                u"CHAT "_s + GroupChat + u" TOPIC Plans"_s);
    const IChat chat = f.skype->Message(12).Chat();
    QCOMPARE(chat.Topic(), u"Plans"_s);
    QCOMPARE(*f.log,
             (QStringList{u"GET CHATMESSAGE 12 CHATNAME"_s, u"GET CHAT "_s + GroupChat + u" TOPIC"_s}));
}

void TestSkypeClient::handlesOutliveTheirSkype()
{
    auto first = std::make_unique<Fixture>();
    QVERIFY(first->attach());
    const ICall call = first->skype->Call(5);
    const IChatMessage message = first->skype->Message(12);
    const IChat chat = first->skype->Chat(GroupChat);
    const IUser user = first->skype->CurrentUser();
    const ICallCollection calls = first->skype->ActiveCalls();
    const std::shared_ptr<QStringList> firstLog = first->log;
    first.reset();

    Fixture second;
    QVERIFY(second.attach());
    const auto expectClosed = [](const std::function<void()> &operation) {
        try {
            operation();
            return false;
        } catch (const SkypeError &error) {
            return error.code() == 0 && !error.text().isEmpty();
        }
    };
    QVERIFY(expectClosed([&] { call.Status(); }));
    QVERIFY(expectClosed([&] { call.Hold(); }));
    QVERIFY(expectClosed([&] { call.Join(3); }));
    QVERIFY(expectClosed([&] { message.Body(); }));
    QVERIFY(expectClosed([&] { message.Chat(); }));
    QVERIFY(expectClosed([&] { chat.SendMessage(u"hi"_s); }));
    QVERIFY(expectClosed([&] { user.Handle(); }));
    QVERIFY(expectClosed([&] { calls.Count(); }));
    QVERIFY(expectClosed([&] { ICall().Status(); }));
    QVERIFY(firstLog->isEmpty());
    QVERIFY(second.log->isEmpty());
}

void TestSkypeClient::attachNotAvailable()
{
    Fixture f;
    f.transport->available = false;
    QSignalSpy spy(f.skype.get(), &TSkype::OnAttachmentStatus);
    f.skype->Attach(8, false);
    QCOMPARE(spy.size(), 0);
    QVERIFY(spy.wait(2000));
    QCOMPARE(spy.takeFirst().at(0).toInt(), int(Protocol::AttachNotAvailable));
    QCOMPARE(f.skype->AttachmentStatus(), int(Protocol::AttachNotAvailable));
    QVERIFY(f.log->isEmpty());
}

void TestSkypeClient::attachSucceedsFromTheEventLoop()
{
    Fixture f;
    QSignalSpy spy(f.skype.get(), &TSkype::OnAttachmentStatus);
    f.skype->Attach(8, false);
    QCOMPARE(spy.size(), 0);
    QTRY_COMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), int(Protocol::AttachSuccess));
    QCOMPARE(*f.log, (QStringList{u"NAME Lumotalk"_s, u"PROTOCOL 8"_s}));
    // The NAME request waits without a limit: the person may take long to allow it.
    f.log->clear();
    f.transport->replies.insert(u"GET SILENT_MODE"_s, u"SILENT_MODE OFF"_s);
    QCOMPARE(f.skype->SilentMode(), false);

    // Attaching again when attached only confirms it.
    f.skype->Attach(8, false);
    QTRY_COMPARE(spy.size(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), int(Protocol::AttachSuccess));
    QCOMPARE(*f.log, QStringList{u"GET SILENT_MODE"_s});
}

void TestSkypeClient::attachRefused_data()
{
    QTest::addColumn<QString>("nameReply");
    QTest::addColumn<QString>("protocolReply");
    QTest::addColumn<int>("status");
    QTest::newRow("access denied") << u"ERROR 68 Access denied"_s << u"PROTOCOL 8"_s
                                   << int(Protocol::AttachRefused);
    QTest::newRow("protocol refused")
        << u"OK"_s << u"ERROR 68 Access denied"_s << int(Protocol::AttachRefused);
    QTest::newRow("name reply unreadable") << u"KO"_s << u"PROTOCOL 8"_s << int(Protocol::AttachUnknown);
    QTest::newRow("protocol unreadable") << u"OK"_s << u"PROTOCOL x"_s << int(Protocol::AttachUnknown);
}

void TestSkypeClient::attachRefused()
{
    QFETCH(QString, nameReply);
    QFETCH(QString, protocolReply);
    QFETCH(int, status);
    Fixture f;
    f.transport->replies.insert(u"NAME Lumotalk"_s, nameReply);
    f.transport->replies.insert(u"PROTOCOL 8"_s, protocolReply);
    QSignalSpy spy(f.skype.get(), &TSkype::OnAttachmentStatus);
    f.skype->Attach(8, false);
    QTRY_COMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), status);
    QVERIFY_THROWS_EXCEPTION(SkypeError, f.skype->SilentMode());
}

void TestSkypeClient::attachPendingThenAllowed()
{
    Fixture f;
    f.transport->holdAsync = true;
    QSignalSpy spy(f.skype.get(), &TSkype::OnAttachmentStatus);
    f.skype->Attach(8, false);
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.at(0).at(0).toInt(), int(Protocol::AttachPendingAuthorization));
    QCOMPARE(f.transport->held.size(), 1);
    QCOMPARE(f.transport->lastTimeoutMs, -1);

    f.transport->holdAsync = false;
    f.transport->releaseHeld(true, u"OK"_s);
    QTRY_COMPARE(spy.size(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), int(Protocol::AttachSuccess));
}

void TestSkypeClient::secondAttachDuringHandshake()
{
    Fixture f;
    f.transport->holdAsync = true;
    QSignalSpy spy(f.skype.get(), &TSkype::OnAttachmentStatus);
    f.skype->Attach(8, false);
    f.skype->Attach(8, false);
    QCOMPARE(*f.log, QStringList{u"NAME Lumotalk"_s});
    f.transport->holdAsync = false;
    f.transport->releaseHeld(true, u"OK"_s);
    QTRY_VERIFY(!spy.isEmpty() && spy.last().at(0).toInt() == int(Protocol::AttachSuccess));
    QCOMPARE(*f.log, (QStringList{u"NAME Lumotalk"_s, u"PROTOCOL 8"_s}));
}

void TestSkypeClient::availabilityDrivesReattach()
{
    Fixture f;
    f.transport->available = false;
    QList<int> statuses;
    // The program's own reaction: attach again as soon as the client is there.
    QObject::connect(f.skype.get(), &TSkype::OnAttachmentStatus, f.skype.get(), [&](int status) {
        statuses.append(status);
        if (status == Protocol::AttachAvailable)
            f.skype->Attach(8, false);
    });
    f.skype->Attach(8, false);
    QTRY_COMPARE(statuses, QList<int>{Protocol::AttachNotAvailable});

    f.transport->setAvailable(true);
    QTRY_COMPARE(statuses, (QList<int>{Protocol::AttachNotAvailable, Protocol::AttachAvailable,
                                       Protocol::AttachSuccess}));

    f.transport->setAvailable(false);
    QCOMPARE(statuses.last(), int(Protocol::AttachNotAvailable));
    QVERIFY_THROWS_EXCEPTION(SkypeError, f.skype->SilentMode());
}

void TestSkypeClient::commandsBeforeAttachThrow()
{
    Fixture f;
    QVERIFY_THROWS_EXCEPTION(SkypeError, f.skype->SilentMode());
    QVERIFY_THROWS_EXCEPTION(SkypeError, f.skype->ActiveCalls());
    QVERIFY_THROWS_EXCEPTION(SkypeError, f.skype->PlaceCall(u"alice"_s));
    QVERIFY_THROWS_EXCEPTION(SkypeError, f.skype->Call(5).Status());
    QVERIFY_THROWS_EXCEPTION(SkypeError, f.skype->SendCommand(f.skype->Command(1, u"PING"_s)));
    QVERIFY_THROWS_EXCEPTION(SkypeError, f.skype->SendCommand(f.skype->Command(1, u"PING"_s, {}, true, 100)));
    QVERIFY(f.log->isEmpty());
}

void TestSkypeClient::notifications_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isCall");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("status");
    QTest::newRow("call ringing") << u"CALL 5 STATUS RINGING"_s << true << 5 << int(Protocol::CallRinging);
    QTest::newRow("call finished") << u"CALL 12 STATUS FINISHED"_s << true << 12
                                   << int(Protocol::CallFinished);
    QTest::newRow("call new word") << u"CALL 12 STATUS WAITING_REDIAL_COMMAND"_s << true << 12 << -1;
    QTest::newRow("message received")
        << u"CHATMESSAGE 7 STATUS RECEIVED"_s << false << 7 << int(Protocol::MessageReceived);
    QTest::newRow("message sent") << u"CHATMESSAGE 8 STATUS SENT"_s << false << 8
                                  << int(Protocol::MessageSent);
    QTest::newRow("message read") << u"CHATMESSAGE 8 STATUS READ"_s << false << 8
                                  << int(Protocol::MessageRead);
}

void TestSkypeClient::notifications()
{
    QFETCH(QString, text);
    QFETCH(bool, isCall);
    QFETCH(int, id);
    QFETCH(int, status);
    Fixture f;
    QVERIFY(f.attach());
    QSignalSpy calls(f.skype.get(), &TSkype::OnCallStatus);
    QSignalSpy messages(f.skype.get(), &TSkype::OnMessageStatus);
    f.transport->notify(text);
    QCOMPARE(calls.size(), isCall ? 1 : 0);
    QCOMPARE(messages.size(), isCall ? 0 : 1);
    const QList<QVariant> args = isCall ? calls.at(0) : messages.at(0);
    QCOMPARE(args.at(1).toInt(), status);
    if (isCall) {
        const ICall call = args.at(0).value<ICall>();
        QCOMPARE(call.Id(), id);
        f.transport->replies.insert(u"GET CALL %1 PARTNER_HANDLE"_s.arg(id),
                                    u"CALL %1 PARTNER_HANDLE bob"_s.arg(id));
        QCOMPARE(call.PartnerHandle(), u"bob"_s);
    } else {
        const IChatMessage message = args.at(0).value<IChatMessage>();
        QCOMPARE(message.Id(), id);
        f.transport->replies.insert(u"GET CHATMESSAGE %1 BODY"_s.arg(id),
                                    u"CHATMESSAGE %1 BODY /join"_s.arg(id));
        QCOMPARE(message.Body(), u"/join"_s);
    }
}

void TestSkypeClient::junkNotificationsDropped_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("blank") << u" "_s;
    QTest::newRow("word only") << u"CALL"_s;
    QTest::newRow("no property") << u"CALL 5"_s;
    QTest::newRow("no status") << u"CALL 5 STATUS"_s;
    QTest::newRow("blank status") << u"CALL 5 STATUS "_s;
    QTest::newRow("id not a number") << u"CALL x STATUS RINGING"_s;
    QTest::newRow("negative id") << u"CALL -5 STATUS RINGING"_s;
    QTest::newRow("id too large") << u"CALL 99999999999 STATUS RINGING"_s;
    QTest::newRow("two blanks") << u"CALL  5 STATUS RINGING"_s;
    QTest::newRow("extra field") << u"CALL 5 STATUS RINGING now"_s;
    QTest::newRow("lower case") << u"CALL 5 STATUS ringing"_s;
    QTest::newRow("line feed") << u"CALL 5 STATUS RINGING\nCALL 6 STATUS RINGING"_s;
    QTest::newRow("emoji") << u"CHATMESSAGE 5 STATUS 😀"_s;
    QTest::newRow("other property") << u"CALL 5 PARTNER_HANDLE bob"_s;
    QTest::newRow("other object") << u"CHAT #me/$x TOPIC STATUS"_s;
    QTest::newRow("user status") << u"USERSTATUS ONLINE"_s;
    QTest::newRow("1 MB") << u"CHATMESSAGE 5 STATUS "_s + QString(1024 * 1024, u'A') + u'.';
}

void TestSkypeClient::junkNotificationsDropped()
{
    QFETCH(QString, text);
    Fixture f;
    QVERIFY(f.attach());
    QSignalSpy calls(f.skype.get(), &TSkype::OnCallStatus);
    QSignalSpy messages(f.skype.get(), &TSkype::OnMessageStatus);
    f.transport->notify(text);
    QCOMPARE(calls.size(), 0);
    QCOMPARE(messages.size(), 0);
    QVERIFY(f.log->isEmpty());
}

void TestSkypeClient::notificationsBeforeAttachIgnored()
{
    Fixture f;
    QSignalSpy calls(f.skype.get(), &TSkype::OnCallStatus);
    f.transport->notify(u"CALL 5 STATUS RINGING"_s);
    QCOMPARE(calls.size(), 0);
}

void TestSkypeClient::handlerMayDestroyTheSkype()
{
    // A restart can run nested in a handler: the component goes while its event is delivered.
    auto f = std::make_unique<Fixture>();
    QVERIFY(f->attach());
    FakeTransport *transport = f->transport;
    QPointer<FakeTransport> watch(transport);
    QObject::connect(f->skype.get(), &TSkype::OnCallStatus, f->skype.get(),
                     [&f](const ICall &, int) { f->skype.reset(); });
    transport->notify(u"CALL 5 STATUS FINISHED"_s);
    QVERIFY(!f->skype);
    QVERIFY(watch); // deleted later, not under its own feet
    QTRY_VERIFY(!watch);
}

void TestSkypeClient::commandTimeoutCountsAsSent()
{
    Fixture f;
    QVERIFY(f.attach());
    f.transport->failure = FakeTransport::Failure::SkypeErrorThrown;
    f.skype->SendCommand(f.skype->Command(12346, u"SET SILENT_MODE ON"_s, {}, true, 1));
    QCOMPARE(*f.log, QStringList{u"#12346 SET SILENT_MODE ON"_s});
    QCOMPARE(f.transport->lastTimeoutMs, 1);
}

void TestSkypeClient::commandErrorRaises()
{
    Fixture f;
    QVERIFY(f.attach());
    f.transport->replies.insert(u"#3 GET FOO"_s, u"#3 ERROR 7 GET: invalid WHAT"_s);
    try {
        f.skype->SendCommand(f.skype->Command(3, u"GET FOO"_s, {}, true, 100));
        QFAIL("no error raised");
    } catch (const SkypeError &error) {
        QCOMPARE(error.code(), 7);
        QCOMPARE(error.text(), u"GET: invalid WHAT"_s);
    }
}

void TestSkypeClient::commandGoneServiceRaises()
{
    Fixture f;
    QVERIFY(f.attach());
    f.transport->available = false; // gone without a word yet
    f.transport->failure = FakeTransport::Failure::SkypeErrorThrown;
    QVERIFY_THROWS_EXCEPTION(SkypeError,
                             f.skype->SendCommand(f.skype->Command(1, u"SET SILENT_MODE ON"_s, {}, true, 1)));
}

void TestSkypeClient::nonBlockingCommandDoesNotWait()
{
    Fixture f;
    QVERIFY(f.attach());
    f.transport->holdAsync = true;
    f.skype->SendCommand(f.skype->Command(4, u"SET SILENT_MODE ON"_s, {}, false, 0));
    QCOMPARE(*f.log, QStringList{u"#4 SET SILENT_MODE ON"_s});
    // Its reply, even an error, goes nowhere.
    f.transport->releaseHeld(true, u"#4 ERROR 2 Unknown command"_s);
}

void TestSkypeClient::callStatusTexts_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    QTest::newRow("unknown") << -1 << u"Unknown"_s;
    QTest::newRow("never placed") << 0 << u"Never placed"_s;
    QTest::newRow("failed") << 3 << u"Sorry, call failed!"_s;
    QTest::newRow("ringing") << 4 << u"Calling"_s;
    QTest::newRow("in progress") << 5 << u"Call in Progress"_s;
    QTest::newRow("local hold") << 12 << u"On Local Hold"_s;
    QTest::newRow("vm failed") << 20 << u"Voicemail Failed"_s;
    QTest::newRow("transferred") << 22 << u"Unknown"_s;
    QTest::newRow("beyond") << 23 << u"Unknown"_s;
}

void TestSkypeClient::callStatusTexts()
{
    QFETCH(int, status);
    QFETCH(QString, text);
    Fixture f;
    QCOMPARE(f.skype->Convert().CallStatusToText(status), text);
}

QTEST_GUILESS_MAIN(TestSkypeClient)
#include "tst_skypeclient.moc"
