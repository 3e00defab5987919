// The client layer over the real session bus against the running simulator program.

#include "dbusnames.h"
#include "dbustransport.h"
#include "protocol.h"
#include "simprocess.h"
#include "skype.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <memory>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// One program using the client: a TSkype on its own bus connection, recording every event.
// Like the real program, it asks to attach again whenever the client becomes available.
class Program final
{
public:
    Program()
    {
        auto transport = std::make_unique<DBusTransport>();
        busName = transport->uniqueName();
        skype = std::make_unique<TSkype>(std::move(transport));
        TSkype *s = skype.get();
        QObject::connect(s, &TSkype::OnAttachmentStatus, s, [this, s](int status) {
            statuses.append(status);
            if (status == Protocol::AttachAvailable)
                s->Attach(Protocol::Version, false);
        });
        QObject::connect(s, &TSkype::OnCallStatus, s, [this](const ICall &call, int status) {
            callStatuses.append({call.Id(), status});
        });
        QObject::connect(s, &TSkype::OnMessageStatus, s, [this](const IChatMessage &message, int status) {
            messages.append(message);
            messageStatuses.append({message.Id(), status});
        });
    }

    bool attach()
    {
        skype->Attach(Protocol::Version, false);
        return QTest::qWaitFor([this] { return lastStatus() == Protocol::AttachSuccess; }, 5000);
    }

    // Attachment statuses without "pending": that one shows only if the handshake is slow.
    QList<int> settledStatuses() const
    {
        QList<int> settled = statuses;
        settled.removeAll(Protocol::AttachPendingAuthorization);
        return settled;
    }

    QList<int> statusesOfCall(int id) const
    {
        QList<int> result;
        for (const auto &[call, status] : callStatuses) {
            if (call == id)
                result.append(status);
        }
        return result;
    }

    int lastStatus() const { return statuses.isEmpty() ? -2 : statuses.constLast(); }

    bool heardCall(int id, int status) const { return callStatuses.contains({id, status}); }
    bool heardMessage(int id, int status) const { return messageStatuses.contains({id, status}); }

    std::unique_ptr<TSkype> skype;
    QString busName;
    QList<int> statuses;
    QList<std::pair<int, int>> callStatuses;
    QList<std::pair<int, int>> messageStatuses;
    QList<IChatMessage> messages;
};

QJsonObject lastOf(const QJsonArray &array)
{
    return array.isEmpty() ? QJsonObject() : array.last().toObject();
}

} // namespace

class TestDBusTransport final : public QObject
{
    Q_OBJECT

private slots:
    void attachFollowsTheSimulatorComingAndGoing();
    void callLifeOverTheBus();
    void remoteSideEndsRinging_data();
    void remoteSideEndsRinging();
    void chatMessagesKeepEveryCharacter();
    void everyAttachedProgramHearsEveryNotification();
    void notificationsComeOnlyFromTheClient();
    void attachWaitsForThePersonWithoutBlockingOthers();
    void lostSimulatorMidCommandIsAnError_data();
    void lostSimulatorMidCommandIsAnError();
    void takenNameStopsTheSimulator_data();
    void takenNameStopsTheSimulator();
    void controlInterfaceRoundTrip();
};

void TestDBusTransport::attachFollowsTheSimulatorComingAndGoing()
{
    SimProcess sim;
    Program program;
    program.skype->Attach(Protocol::Version, false);
    QTRY_COMPARE(program.statuses, QList<int>{Protocol::AttachNotAvailable});
    QVERIFY_THROWS_EXCEPTION(SkypeError, program.skype->CurrentUser().Handle());

    QVERIFY2(sim.start(), qPrintable(sim.errorText()));
    QTRY_COMPARE_WITH_TIMEOUT(program.settledStatuses(), (QList<int>{3, 4, 0}), 5000);
    QCOMPARE(program.skype->CurrentUser().Handle(), u"me.lumo"_s);

    sim.stop();
    QTRY_COMPARE_WITH_TIMEOUT(program.settledStatuses(), (QList<int>{3, 4, 0, 3}), 5000);
    QVERIFY_THROWS_EXCEPTION(SkypeError, program.skype->CurrentUser().Handle());

    // A new simulator is a new client: the program attaches to it without being told twice.
    QVERIFY2(sim.start(), qPrintable(sim.errorText()));
    QTRY_COMPARE_WITH_TIMEOUT(program.settledStatuses(), (QList<int>{3, 4, 0, 3, 4, 0}), 5000);
    QCOMPARE(program.skype->CurrentUser().Handle(), u"me.lumo"_s);
}

void TestDBusTransport::callLifeOverTheBus()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorText()));
    QVERIFY(sim.setBehaviour(u"alice"_s, u"never"_s));
    Program program;
    QVERIFY(program.attach());

    ICall call = program.skype->PlaceCall(u"alice"_s);
    const int id = call.Id();
    QTRY_VERIFY(program.heardCall(id, Protocol::CallRinging));
    QCOMPARE(call.Status(), int(Protocol::CallRinging));
    QCOMPARE(call.PartnerHandle(), u"alice"_s);
    QCOMPARE(program.skype->ActiveCalls().Count(), 1);
    QCOMPARE(program.skype->ActiveCalls().Item(1).Id(), id);

    QVERIFY2(sim.answer(id), qPrintable(sim.lastError()));
    QTRY_VERIFY(program.heardCall(id, Protocol::CallInProgress));
    call.Hold();
    QTRY_VERIFY(program.heardCall(id, Protocol::CallLocalHold));
    call.Resume();
    QTRY_COMPARE(program.statusesOfCall(id).constLast(), int(Protocol::CallInProgress));
    QVERIFY2(sim.hangUp(id), qPrintable(sim.lastError()));
    QTRY_VERIFY(program.heardCall(id, Protocol::CallFinished));

    QCOMPARE(program.statusesOfCall(id),
             (QList<int>{Protocol::CallRouting, Protocol::CallRinging, Protocol::CallInProgress,
                         Protocol::CallLocalHold, Protocol::CallInProgress, Protocol::CallFinished}));
    QCOMPARE(call.Status(), int(Protocol::CallFinished));
    QCOMPARE(program.skype->ActiveCalls().Count(), 0);

    // The simulator served exactly what the program sent, and told the program what it did.
    const QString hold = u"ALTER CALL %1 HOLD"_s.arg(id);
    QVERIFY(sim.waitServed(
        [&](const QString &command, const QString &reply) { return command == hold && reply == hold; }));
    QCOMPARE(lastOf(sim.calls()).value(u"status"_s).toString(), u"FINISHED"_s);
}

void TestDBusTransport::remoteSideEndsRinging_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("status");
    QTest::newRow("answer") << u"Answer"_s << int(Protocol::CallInProgress);
    QTest::newRow("refuse") << u"Refuse"_s << int(Protocol::CallRefused);
    QTest::newRow("busy") << u"Busy"_s << int(Protocol::CallBusy);
    QTest::newRow("hang up") << u"HangUp"_s << int(Protocol::CallRefused);
}

void TestDBusTransport::remoteSideEndsRinging()
{
    QFETCH(QString, action);
    QFETCH(int, status);
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorText()));
    QVERIFY(sim.setBehaviour(u"carol"_s, u"never"_s));
    Program program;
    QVERIFY(program.attach());

    const int id = program.skype->PlaceCall(u"carol"_s).Id();
    QTRY_VERIFY(program.heardCall(id, Protocol::CallRinging));
    sim.control(action, {id});
    QVERIFY2(sim.lastError().isEmpty(), qPrintable(sim.lastError()));
    QTRY_COMPARE(program.statusesOfCall(id).constLast(), status);
}

void TestDBusTransport::chatMessagesKeepEveryCharacter()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorText()));
    Program program;
    QVERIFY(program.attach());

    // Leading blanks, line feeds and characters beyond the BMP cross the bus untouched.
    const QString body = u"  Grüße\n日本語 ☆ 😀 \"quoted\" <b>not bold</b>"_s;
    const int id = sim.say(u"alice"_s, u"alice"_s, body);
    QVERIFY2(id > 0, qPrintable(sim.lastError()));
    QTRY_VERIFY(program.heardMessage(id, Protocol::MessageReceived));
    const IChatMessage message = program.messages.constLast();
    QCOMPARE(message.Id(), id);
    QCOMPARE(message.Body(), body);
    QCOMPARE(message.FromHandle(), u"alice"_s);

    // The program answers in the same chat; the simulator shows it as the local user's.
    const IChat chat = message.Chat();
    const int sent = chat.SendMessage(u"/host"_s).Id();
    QTRY_VERIFY(program.heardMessage(sent, Protocol::MessageSent));
    QVERIFY(program.messageStatuses.indexOf({sent, Protocol::MessageSending}) <
            program.messageStatuses.indexOf({sent, Protocol::MessageSent}));
    const QJsonObject shown = lastOf(sim.messages(chat.Name()));
    QCOMPARE(shown.value(u"body"_s).toString(), u"/host"_s);
    QCOMPARE(shown.value(u"sender"_s).toString(), u"me.lumo"_s);
}

void TestDBusTransport::everyAttachedProgramHearsEveryNotification()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorText()));
    Program first;
    Program second;
    QVERIFY(first.attach());
    QVERIFY(second.attach());

    const int message = sim.say(u"bob"_s, u"bob"_s, u"/join"_s);
    QTRY_VERIFY(first.heardMessage(message, Protocol::MessageReceived));
    QTRY_VERIFY(second.heardMessage(message, Protocol::MessageReceived));

    // A call one program places is news for the other one too.
    const int call = first.skype->PlaceCall(u"dave"_s).Id();
    QTRY_VERIFY(second.heardCall(call, Protocol::CallBusy));
    QTRY_VERIFY(first.heardCall(call, Protocol::CallBusy));

    // One program leaving does not cost the other its notifications.
    first.skype.reset();
    const int incoming = sim.callMe(u"alice"_s);
    QVERIFY2(incoming > 0, qPrintable(sim.lastError()));
    QTRY_VERIFY(second.heardCall(incoming, Protocol::CallRinging));
}

void TestDBusTransport::notificationsComeOnlyFromTheClient()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorText()));
    Program program;
    QVERIFY(program.attach());

    // Another program on the bus tries to pass off a message as the client's.
    QDBusMessage fake = QDBusMessage::createMethodCall(program.busName, DBusNames::ClientPath,
                                                       DBusNames::ClientInterface, DBusNames::ClientNotify);
    fake << u"CHATMESSAGE 424242 STATUS RECEIVED"_s;
    const QDBusPendingCall delivered = QDBusConnection::sessionBus().asyncCall(fake);
    QTRY_VERIFY(delivered.isFinished());

    const int real = sim.say(u"alice"_s, u"alice"_s, u"real"_s);
    QTRY_VERIFY(program.heardMessage(real, Protocol::MessageReceived));
    QVERIFY(!program.heardMessage(424242, Protocol::MessageReceived));
}

void TestDBusTransport::attachWaitsForThePersonWithoutBlockingOthers()
{
    SimProcess sim;
    QVERIFY2(sim.start({u"--no-auto-allow"_s}), qPrintable(sim.errorText()));
    Program allowed;
    allowed.skype->Attach(Protocol::Version, false);
    QTRY_COMPARE(allowed.statuses, QList<int>{Protocol::AttachPendingAuthorization});

    // While that attach waits, the simulator goes on serving everyone else.
    QCOMPARE(sim.calls(), QJsonArray());
    QCOMPARE(sim.authorize(true), 1);
    QTRY_COMPARE(allowed.lastStatus(), int(Protocol::AttachSuccess));
    QCOMPARE(allowed.skype->CurrentUser().Handle(), u"me.lumo"_s);

    Program refused;
    refused.skype->Attach(Protocol::Version, false);
    int resolved = 0;
    QTRY_VERIFY((resolved += sim.authorize(false)) > 0);
    QCOMPARE(resolved, 1);
    QTRY_COMPARE(refused.lastStatus(), int(Protocol::AttachRefused));
    QVERIFY_THROWS_EXCEPTION(SkypeError, refused.skype->CurrentUser().Handle());
}

void TestDBusTransport::lostSimulatorMidCommandIsAnError_data()
{
    QTest::addColumn<bool>("killed");
    QTest::addColumn<int>("timeoutMs");
    // Stopped: only the time limit ends the wait. Killed: the bus reports the loss at once,
    // long before the (long) time limit.
    QTest::newRow("stopped") << false << 1000;
    QTest::newRow("killed") << true << 60000;
}

void TestDBusTransport::lostSimulatorMidCommandIsAnError()
{
    QFETCH(bool, killed);
    QFETCH(int, timeoutMs);
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorText()));
    Program program;
    QVERIFY(program.attach());
    program.skype->setCommandTimeout(timeoutMs);

    sim.pause();
    std::thread killer;
    if (killed) {
        const pid_t pid = pid_t(sim.pid());
        killer = std::thread([pid] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ::kill(pid, SIGKILL);
        });
    }
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY_THROWS_EXCEPTION(SkypeError, program.skype->CurrentUser().Handle());
    if (killer.joinable())
        killer.join();
    // Not a hang: the wait ended within its bound (and for a kill, far sooner).
    QVERIFY2(elapsed.elapsed() < (killed ? 20000 : timeoutMs + 10000),
             qPrintable(QString::number(elapsed.elapsed())));

    if (killed)
        QTRY_COMPARE_WITH_TIMEOUT(program.lastStatus(), int(Protocol::AttachNotAvailable), 5000);
    sim.stop();
}

void TestDBusTransport::takenNameStopsTheSimulator_data()
{
    QTest::addColumn<bool>("bySimulator");
    QTest::addColumn<QString>("name");
    QTest::newRow("another client") << false << DBusNames::ApiService;
    QTest::newRow("another simulator") << true << DBusNames::SimControlService;
}

void TestDBusTransport::takenNameStopsTheSimulator()
{
    QFETCH(bool, bySimulator);
    QFETCH(QString, name);
    SimProcess first;
    QDBusConnection squatter = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"squatter"_s);
    const auto leave = qScopeGuard([] { QDBusConnection::disconnectFromBus(u"squatter"_s); });
    if (bySimulator)
        QVERIFY2(first.start(), qPrintable(first.errorText()));
    else
        QVERIFY(squatter.registerService(DBusNames::ApiService));

    SimProcess second;
    QVERIFY(!second.start());
    QVERIFY(!second.isRunning());
    QVERIFY2(second.errorText().contains(name), qPrintable(second.errorText()));
    QVERIFY2(second.errorText().contains(u"already taken"_s), qPrintable(second.errorText()));
    QVERIFY2(!second.errorText().contains(u"exited with code 0"_s), qPrintable(second.errorText()));
}

void TestDBusTransport::controlInterfaceRoundTrip()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorText()));
    Program program;
    QVERIFY(program.attach());

    // Served tells what the program asked and what it got.
    QCOMPARE(program.skype->CurrentUser().Handle(), u"me.lumo"_s);
    QVERIFY(sim.waitServed([](const QString &command, const QString &reply) {
        return command == u"GET CURRENTUSERHANDLE"_s && reply == u"CURRENTUSERHANDLE me.lumo"_s;
    }));
    bool inTraffic = false;
    for (const QJsonValue &entry : sim.traffic()) {
        inTraffic |= entry[u"kind"_s] == u"command"_s && entry[u"text"_s] == u"GET CURRENTUSERHANDLE"_s;
    }
    QVERIFY(inTraffic);
    QVERIFY(sim.clearTraffic());
    QCOMPARE(sim.traffic(), QJsonArray());

    // A chat can be named by its name, its topic or the contact of a dialog.
    const QJsonArray chats = sim.chats();
    QVERIFY(!chats.isEmpty());
    const QJsonObject chat = chats.first().toObject();
    const QString name = chat[u"name"_s].toString();
    const QString member = chat[u"members"_s].toArray().last().toString();
    QVERIFY(sim.say(member, name, u"by name"_s) > 0);
    if (!chat[u"topic"_s].toString().isEmpty())
        QVERIFY(sim.say(member, chat[u"topic"_s].toString(), u"by topic"_s) > 0);
    QCOMPARE(lastOf(sim.messages(name))[u"sender"_s].toString(), member);
    QVERIFY(sim.say(u"alice"_s, u"alice"_s, u"in the dialog"_s) > 0);
    QCOMPARE(lastOf(sim.messages(u"alice"_s))[u"body"_s].toString(), u"in the dialog"_s);

    // Failures come back as errors with readable texts.
    QCOMPARE(sim.say(u"alice"_s, u"no such chat"_s, u"x"_s), 0);
    QVERIFY2(sim.lastError().contains(u"no such chat"_s), qPrintable(sim.lastError()));
    QVERIFY(!sim.setBehaviour(u"nobody"_s, u"answer"_s));
    QVERIFY2(sim.lastError().contains(u"nobody"_s), qPrintable(sim.lastError()));
    QVERIFY(!sim.setBehaviour(u"alice"_s, u"sing"_s));
    QVERIFY2(sim.lastError().contains(u"sing"_s), qPrintable(sim.lastError()));
    QVERIFY(!sim.answer(999999));
    QVERIFY(!sim.lastError().isEmpty());

    // The client's state as the program reads it follows the control interface.
    QVERIFY(sim.setSilentMode(true));
    QVERIFY(program.skype->SilentMode());
    QVERIFY(sim.setSilentMode(false));
    QVERIFY(!program.skype->SilentMode());

    const int call = sim.callMe(u"alice"_s);
    QVERIFY(call > 0);
    QCOMPARE(lastOf(sim.calls())[u"direction"_s].toString(), u"incoming"_s);
    QVERIFY(sim.localAnswer(call));
    QCOMPARE(lastOf(sim.calls())[u"status"_s].toString(), u"INPROGRESS"_s);

    QVERIFY(sim.reset());
    QVERIFY(sim.messages(u"alice"_s).isEmpty());
    QCOMPARE(program.skype->ActiveCalls().Count(), 0);
}

LUMOTALK_PRIVATE_BUS_MAIN(TestDBusTransport, QCoreApplication)

#include "tst_dbustransport.moc"
