// A call's life in the model, with the clock stepped: every behaviour, both sides' actions,
// conferences, the active-call list and the real-time driver.

#include "protocol.h"
#include "world.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Notification texts as the world emits them.
struct Heard
{
    QStringList texts;
    explicit Heard(World &world)
    {
        QObject::connect(&world, &World::notification, &world, [this](const QString &t) { texts.append(t); });
    }
    QStringList take() { return std::exchange(texts, {}); }
};

QString statusOf(const World &world, qint64 id)
{
    return Protocol::callStatusWord(world.call(id)->status);
}

WorldSetup smallWorld()
{
    WorldSetup setup;
    setup.account = {u"me"_s, u"Me"_s};
    setup.contacts = {{u"ann"_s, u"Ann"_s, {Behaviour::Answer, 1000}}};
    setup.routingMs = 200;
    setup.ringTimeMs = 5000;
    return setup;
}

} // namespace

class TestWorldCalls final : public QObject
{
    Q_OBJECT
private slots:
    void behaviours_data();
    void behaviours();
    void behaviourTextRoundTrip_data();
    void behaviourTextRoundTrip();
    void remoteSideActions_data();
    void remoteSideActions();
    void holdResumeHangUp();
    void incomingCall();
    void incomingCallRingsOut();
    void joinGivesOneConferenceAndResumesIt();
    void multiTargetCallIsOneConference();
    void activeCallsInCreationOrder();
    void resetEndsCallsAndKeepsIdsFresh();
    void scheduleIsAnnounced();
    void realTimeDrivesItself();
};

void TestWorldCalls::behaviours_data()
{
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<int>("ringTimeMs");
    QTest::addColumn<QStringList>("timeline"); // "<ms> <STATUS>" for each change, in order

    QTest::newRow("answer") << u"answer 1000"_s << 5000
                            << QStringList{u"0 ROUTING"_s, u"200 RINGING"_s, u"1200 INPROGRESS"_s};
    QTest::newRow("answer at once") << u"answer 0"_s << 5000
                                    << QStringList{u"0 ROUTING"_s, u"200 RINGING"_s, u"200 INPROGRESS"_s};
    QTest::newRow("refuse") << u"refuse 700"_s << 5000
                            << QStringList{u"0 ROUTING"_s, u"200 RINGING"_s, u"900 REFUSED"_s};
    QTest::newRow("busy") << u"busy"_s << 5000 << QStringList{u"0 ROUTING"_s, u"200 BUSY"_s};
    QTest::newRow("no answer") << u"noanswer"_s << 5000
                               << QStringList{u"0 ROUTING"_s, u"200 RINGING"_s, u"5200 MISSED"_s};
    QTest::newRow("no answer, endless ring")
        << u"noanswer"_s << 0 << QStringList{u"0 ROUTING"_s, u"200 RINGING"_s};
    QTest::newRow("never") << u"never"_s << 5000 << QStringList{u"0 ROUTING"_s, u"200 RINGING"_s};
    QTest::newRow("offline") << u"offline"_s << 5000 << QStringList{u"0 ROUTING"_s, u"200 FAILED"_s};
    QTest::newRow("unknown handle") << QString() << 5000 << QStringList{u"0 ROUTING"_s, u"200 FAILED"_s};
}

void TestWorldCalls::behaviours()
{
    QFETCH(QString, behaviour);
    QFETCH(int, ringTimeMs);
    QFETCH(QStringList, timeline);

    WorldSetup setup = smallWorld();
    setup.ringTimeMs = ringTimeMs;
    World world(setup);
    const QString target = behaviour.isEmpty() ? u"stranger"_s : u"ann"_s;
    if (!behaviour.isEmpty())
        QVERIFY(world.setBehaviour(u"ann"_s, *Behaviour::fromText(behaviour)));

    QStringList seen;
    qint64 id = 0;
    connect(&world, &World::callChanged, this, [&](qint64 changed) {
        QCOMPARE(changed, id);
        seen.append(u"%1 %2"_s.arg(world.now()).arg(statusOf(world, changed)));
    });
    id = world.placeCall({target}).value;
    seen.prepend(u"0 "_s + statusOf(world, id));
    // Step in small pieces so a change that comes early or late shows in its time stamp.
    for (int t = 0; t < 60000; t += 100)
        world.advanceTo(t);
    QCOMPARE(seen, timeline);
    QCOMPARE(world.activeCalls().isEmpty(), World::isCallEnded(world.call(id)->status));
}

void TestWorldCalls::behaviourTextRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("canonical"); // empty: refused
    QTest::newRow("answer") << u"answer"_s << u"answer 2000"_s;
    QTest::newRow("answer ms") << u"answer 10"_s << u"answer 10"_s;
    QTest::newRow("refuse") << u"refuse"_s << u"refuse 1500"_s;
    QTest::newRow("busy") << u"busy"_s << u"busy"_s;
    QTest::newRow("noanswer") << u"noanswer"_s << u"noanswer"_s;
    QTest::newRow("never") << u"never"_s << u"never"_s;
    QTest::newRow("offline") << u"offline"_s << u"offline"_s;
    QTest::newRow("busy with delay") << u"busy 10"_s << QString();
    QTest::newRow("negative") << u"answer -5"_s << QString();
    QTest::newRow("junk delay") << u"answer soon"_s << QString();
    QTest::newRow("unknown") << u"dance"_s << QString();
    QTest::newRow("empty") << QString() << QString();
}

void TestWorldCalls::behaviourTextRoundTrip()
{
    QFETCH(QString, text);
    QFETCH(QString, canonical);
    const std::optional<Behaviour> parsed = Behaviour::fromText(text);
    QCOMPARE(parsed.has_value(), !canonical.isEmpty());
    if (parsed)
        QCOMPARE(parsed->toText(), canonical);
}

void TestWorldCalls::remoteSideActions_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("answeredFirst");
    QTest::addColumn<QString>("result"); // status word, or "ERROR <code>"
    QTest::newRow("answer ringing") << u"answer"_s << false << u"INPROGRESS"_s;
    QTest::newRow("refuse ringing") << u"refuse"_s << false << u"REFUSED"_s;
    QTest::newRow("busy ringing") << u"busy"_s << false << u"BUSY"_s;
    QTest::newRow("hang up ringing") << u"hangup"_s << false << u"REFUSED"_s;
    QTest::newRow("hang up answered") << u"hangup"_s << true << u"FINISHED"_s;
    QTest::newRow("answer answered") << u"answer"_s << true << u"ERROR 24"_s;
    QTest::newRow("refuse answered") << u"refuse"_s << true << u"ERROR 24"_s;
}

void TestWorldCalls::remoteSideActions()
{
    QFETCH(QString, action);
    QFETCH(bool, answeredFirst);
    QFETCH(QString, result);

    World world(smallWorld());
    QVERIFY(world.setBehaviour(u"ann"_s, {Behaviour::NeverAnswer, 0}));
    const qint64 id = world.placeCall({u"ann"_s}).value;
    world.advanceBy(200);
    QCOMPARE(statusOf(world, id), u"RINGING"_s);
    if (answeredFirst)
        QVERIFY(world.remoteAnswer(id).ok());

    const Outcome outcome = action == u"answer"_s   ? world.remoteAnswer(id)
                            : action == u"refuse"_s ? world.remoteRefuse(id)
                            : action == u"busy"_s   ? world.remoteBusy(id)
                                                    : world.remoteHangUp(id);
    if (result.startsWith(u"ERROR"_s)) {
        QCOMPARE(outcome.errorReply().left(result.size()), result);
    } else {
        QVERIFY(outcome.ok());
        QCOMPARE(statusOf(world, id), result);
    }
    QVERIFY(!world.remoteAnswer(99999).ok());
}

void TestWorldCalls::holdResumeHangUp()
{
    World world(smallWorld());
    Heard heard(world);
    const qint64 id = world.placeCall({u"ann"_s}).value;
    world.advanceBy(1200);
    QVERIFY(world.holdCall(id).ok());
    QVERIFY(world.holdCall(id).ok()); // holding a held call changes nothing and tells nobody
    QVERIFY(world.resumeCall(id).ok());
    QVERIFY(world.hangUpCall(id).ok());
    QCOMPARE(world.hangUpCall(id).code, Protocol::Error::CannotHangUpInactive);
    QCOMPARE(world.holdCall(id).code, Protocol::Error::CannotHold);
    QCOMPARE(world.resumeCall(id).code, Protocol::Error::CannotResume);
    const QString c = u"CALL %1 STATUS "_s.arg(id);
    QCOMPARE(heard.take(), (QStringList{c + u"ROUTING"_s, c + u"RINGING"_s, c + u"INPROGRESS"_s,
                                        c + u"LOCALHOLD"_s, c + u"INPROGRESS"_s, c + u"FINISHED"_s}));

    // Hanging up before the answer cancels, and the answer that was due never comes.
    const qint64 second = world.placeCall({u"ann"_s}).value;
    world.advanceBy(300);
    QVERIFY(world.hangUpCall(second).ok());
    world.advanceBy(5000);
    QCOMPARE(statusOf(world, second), u"CANCELLED"_s);
    QCOMPARE(world.nextDueMs(), -1);
}

void TestWorldCalls::incomingCall()
{
    World world(smallWorld());
    Heard heard(world);
    const qint64 id = world.callLocalUser(u"ann"_s).value;
    QCOMPARE(world.call(id)->direction, Call::Incoming);
    QCOMPARE(statusOf(world, id), u"RINGING"_s);
    QVERIFY(world.answerCall(id).ok());
    world.advanceBy(10000); // answered: the ring time no longer applies
    QCOMPARE(statusOf(world, id), u"INPROGRESS"_s);
    QVERIFY(world.remoteHangUp(id).ok());
    QCOMPARE(statusOf(world, id), u"FINISHED"_s);
    const QString c = u"CALL %1 STATUS "_s.arg(id);
    QCOMPARE(heard.take(), (QStringList{c + u"RINGING"_s, c + u"INPROGRESS"_s, c + u"FINISHED"_s}));

    const qint64 refused = world.callLocalUser(u"ann"_s).value;
    QVERIFY(world.hangUpCall(refused).ok());
    QCOMPARE(statusOf(world, refused), u"REFUSED"_s);

    const qint64 gaveUp = world.callLocalUser(u"ann"_s).value;
    QVERIFY(world.remoteHangUp(gaveUp).ok());
    QCOMPARE(statusOf(world, gaveUp), u"MISSED"_s);

    QCOMPARE(world.callLocalUser(u"me"_s).code, Protocol::Error::CannotCallSelf);
    QCOMPARE(world.callLocalUser(u"not valid"_s).code, Protocol::Error::InvalidUserHandle);
}

void TestWorldCalls::incomingCallRingsOut()
{
    World world(smallWorld());
    const qint64 id = world.callLocalUser(u"ann"_s).value;
    world.advanceBy(4999);
    QCOMPARE(statusOf(world, id), u"RINGING"_s);
    world.advanceBy(1);
    QCOMPARE(statusOf(world, id), u"MISSED"_s);
    QCOMPARE(world.answerCall(id).code, Protocol::Error::CannotHangUpInactive);
}

void TestWorldCalls::joinGivesOneConferenceAndResumesIt()
{
    World world(smallWorld());
    const qint64 first = world.placeCall({u"ann"_s}).value;
    const qint64 second = world.placeCall({u"ann"_s}).value;
    world.advanceBy(1200);
    const qint64 third = world.placeCall({u"ann"_s}).value;
    world.advanceBy(1200);
    QVERIFY(world.joinCall(second, first).ok()); // both in progress: a conference of two
    QCOMPARE(world.call(first)->confId, first);
    QCOMPARE(world.call(second)->confId, first);

    // As the conference host does for "/join": hold everything, then join the new call to a held one.
    QVERIFY(world.holdCall(first).ok());
    QVERIFY(world.holdCall(second).ok());
    Heard heard(world);
    const Outcome joined = world.joinCall(third, second);
    QVERIFY(joined.ok());
    QCOMPARE(joined.value, first);
    for (qint64 id : {first, second, third}) {
        QCOMPARE(world.call(id)->confId, first);
        QCOMPARE(statusOf(world, id), u"INPROGRESS"_s);
    }
    QCOMPARE(heard.take(), (QStringList{u"CALL %1 STATUS INPROGRESS"_s.arg(first),
                                        u"CALL %1 STATUS INPROGRESS"_s.arg(second)}));
    QCOMPARE(world.execute(u"GET CALL %1 CONF_ID"_s.arg(third)),
             u"CALL %1 CONF_ID %2"_s.arg(third).arg(first));

    QCOMPARE(world.joinCall(third, third).code, Protocol::Error::CannotCreateConference);
    QCOMPARE(world.joinCall(99999, first).code, Protocol::Error::UnknownCall);
}

void TestWorldCalls::multiTargetCallIsOneConference()
{
    World world;
    const QString reply = world.execute(u"CALL alice, carol"_s);
    const QList<Call> calls = world.calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(reply, u"CALL %1 STATUS ROUTING"_s.arg(calls.at(0).id));
    QCOMPARE(calls.at(0).partner, u"alice"_s);
    QCOMPARE(calls.at(1).partner, u"carol"_s);
    QVERIFY(calls.at(0).confId != 0);
    QCOMPARE(calls.at(1).confId, calls.at(0).confId);
}

void TestWorldCalls::activeCallsInCreationOrder()
{
    World world;
    const qint64 alice = world.placeCall({u"alice"_s}).value;
    const qint64 dave = world.placeCall({u"dave"_s}).value;
    const qint64 carol = world.placeCall({u"carol"_s}).value;
    const qint64 bob = world.callLocalUser(u"bob"_s).value;
    QCOMPARE(world.execute(u"SEARCH ACTIVECALLS"_s),
             u"CALLS %1, %2, %3, %4"_s.arg(alice).arg(dave).arg(carol).arg(bob));
    world.advanceBy(500); // dave is busy
    QCOMPARE(world.execute(u"SEARCH ACTIVECALLS"_s), u"CALLS %1, %2, %3"_s.arg(alice).arg(carol).arg(bob));
    QVERIFY(world.hangUpCall(alice).ok());
    QVERIFY(world.hangUpCall(carol).ok());
    QVERIFY(world.hangUpCall(bob).ok());
    QCOMPARE(world.execute(u"SEARCH ACTIVECALLS"_s), u"CALLS "_s);
}

void TestWorldCalls::resetEndsCallsAndKeepsIdsFresh()
{
    World world;
    const qint64 id = world.placeCall({u"alice"_s}).value;
    world.say(u"alice"_s, world.chats().constFirst().name, u"hello"_s);
    Heard heard(world);
    QSignalSpy resets(&world, &World::worldReset);
    world.reset();
    QCOMPARE(resets.size(), 1);
    QCOMPARE(heard.take(), QStringList{u"CALL %1 STATUS FINISHED"_s.arg(id)});
    QVERIFY(world.calls().isEmpty());
    QCOMPARE(world.messages().size(), 1); // the world's own greeting only
    QCOMPARE(world.nextDueMs(), -1);
    // An old id held by a client must not name a new object.
    QVERIFY(world.placeCall({u"alice"_s}).value > id);
}

void TestWorldCalls::scheduleIsAnnounced()
{
    World world(smallWorld());
    QSignalSpy changes(&world, &World::scheduleChanged);
    QCOMPARE(world.nextDueMs(), -1);
    world.placeCall({u"ann"_s});
    QCOMPARE(world.nextDueMs(), 200);
    QVERIFY(!changes.isEmpty());
    changes.clear();
    world.advanceBy(200);
    QCOMPARE(world.nextDueMs(), 1200);
    QVERIFY(!changes.isEmpty());
    world.advanceBy(1000);
    QCOMPARE(world.nextDueMs(), -1);
}

void TestWorldCalls::realTimeDrivesItself()
{
    WorldSetup setup = smallWorld();
    setup.routingMs = 10;
    setup.contacts.first().behaviour = {Behaviour::Answer, 10};
    World world(setup);
    world.setRealTime(true);
    const qint64 id = world.placeCall({u"ann"_s}).value;
    QTRY_COMPARE(statusOf(world, id), u"INPROGRESS"_s);
    QCOMPARE(world.nextDueMs(), -1);
}

QTEST_GUILESS_MAIN(TestWorldCalls)
#include "tst_worldcalls.moc"
