// The whole program path for a chat-driven conference: the main window attached over the
// session bus to the simulator program, the remote side played through its control interface,
// and the outcome checked in the window's log and in what the simulator served and holds.

#include "inorder.h"
#include <dbustransport.h>
#include <form1.h>
#include <protocol.h>
#include <simprocess.h>

#include <QApplication>
#include <QDir>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QString Me = u"me.lumo"_s;
const QString Topic = u"Lumotalk demo conference"_s;

class RecordingReporter final : public ErrorReporter
{
public:
    void report(std::optional<int> code, const QString &text) override
    {
        reports.append(ErrorReporter::format(code, text));
    }
    QStringList reports;
};

} // namespace

class TestConferenceE2E final : public QObject
{
    Q_OBJECT

private:
    SimProcess m_sim;
    std::unique_ptr<TForm1> m_form;
    std::shared_ptr<RecordingReporter> m_reporter;

    QStringList log() const
    {
        return m_form->findChild<QPlainTextEdit *>(u"Memo1"_s)->toPlainText().split(u'\n');
    }

    QStringList sentBodies()
    {
        QStringList bodies;
        for (const QJsonValue &value : m_sim.messages(Topic)) {
            if (value[u"sender"_s].toString() == Me)
                bodies.append(value[u"body"_s].toString());
        }
        return bodies;
    }

    QJsonObject call(const QString &partner)
    {
        QJsonObject found;
        for (const QJsonValue &value : m_sim.calls()) {
            if (value[u"partner"_s].toString() == partner)
                found = value.toObject();
        }
        return found;
    }

    QStringList served() const
    {
        QStringList commands;
        for (const auto &[command, reply] : m_sim.served())
            commands.append(command);
        return commands;
    }

    // A call from a contact, answered by the local user.
    int callInProgress(const QString &from)
    {
        const int id = m_sim.callMe(from);
        if (id <= 0 || !m_sim.localAnswer(id))
            return 0;
        return id;
    }

    void grab(const QString &name)
    {
        QDir().mkpath(u"artifacts"_s);
        m_form->grab().save(u"artifacts/"_s + name + u".png"_s);
    }

private slots:
    void init()
    {
        QVERIFY2(m_sim.start(), qPrintable(m_sim.errorText()));
        m_reporter = std::make_shared<RecordingReporter>();
        TForm1::Environment environment;
        environment.transportFactory = [] { return std::make_unique<DBusTransport>(); };
        environment.errorReporter = m_reporter;
        m_form = std::make_unique<TForm1>(std::move(environment));
        QSignalSpy attached(m_form.get(), &TForm1::attached);
        m_form->start();
        QVERIFY(attached.count() > 0 || attached.wait(10000));

        QVERIFY(m_sim.say(Me, Topic, u"/host"_s) > 0);
        QTRY_VERIFY(log().contains(u"We are now hosting a conference call in "_s + Topic));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed() && m_form)
            grab(u"failed-conference-"_s + QString::fromLatin1(QTest::currentTestFunction()));
        m_form.reset();
        m_sim.stop();
        QVERIFY2(m_reporter->reports.isEmpty(), qPrintable(m_reporter->reports.join(u'\n')));
    }

    void joinIsHeldPlacedAnsweredJoined()
    {
        const int bob = callInProgress(u"bob"_s);
        const int dave = callInProgress(u"dave"_s);
        QVERIFY(bob > 0 && dave > 0);
        m_sim.clearSeen();
        // A picture of the window while the add waits for alice to answer.
        bool waitingShown = false;
        QObject scope; // ends both the connection and the timer with this test
        connect(&m_sim, &SimProcess::servedSeen, &scope, [&](const QString &command, const QString &) {
            if (command == u"CALL alice")
                QTimer::singleShot(300, &scope, [&] {
                    waitingShown = log().endsWith(u"Waiting for the new call to become InProgress"_s);
                    grab(u"conference-join-waiting"_s);
                });
        });
        QVERIFY(m_sim.say(u"alice"_s, Topic, u"/join"_s) > 0);

        QVERIFY(m_sim.waitServed(
            [](const QString &command, const QString &) { return command == u"CALL alice"; }));
        QTRY_VERIFY_WITH_TIMEOUT(log().contains(u"Joining this new call up with existing conference call."_s),
                                 15000);
        QVERIFY(inOrder(log(), {u"Remote join request detected."_s, u"Adding alice to the conference.."_s,
                                u"Initiating OnHold sequence"_s, u"Initiating OnHold check sequence"_s,
                                u"OnHold check sequence finished"_s, u"Placing new call to alice"_s,
                                u"Waiting for the new call to become InProgress"_s,
                                u"New call to alice has entered InProgress state."_s,
                                u"Joining this new call up with existing conference call."_s}));
        const int alice = call(u"alice"_s)[u"id"_s].toInt();
        const QString join = u"ALTER CALL %1 JOIN_CONFERENCE %2"_s.arg(alice).arg(bob);
        QVERIFY(m_sim.waitServed([&](const QString &command, const QString &) { return command == join; }));
        QVERIFY(inOrder(served(), {u"ALTER CALL %1 HOLD"_s.arg(bob), u"ALTER CALL %1 HOLD"_s.arg(dave),
                                   u"CALL alice"_s, join}));
        QTRY_VERIFY(sentBodies().contains(u"alice added to the conference."_s));
        QVERIFY(inOrder(sentBodies(), {u"Adding alice - putting the conference on hold."_s,
                                       u"alice added to the conference."_s}));
        QCOMPARE(call(u"alice"_s)[u"status"_s].toString(), u"INPROGRESS"_s);
        QCOMPARE(call(u"alice"_s)[u"confId"_s], call(u"bob"_s)[u"confId"_s]);
        QCOMPARE(call(u"dave"_s)[u"status"_s].toString(), u"LOCALHOLD"_s);
        QVERIFY(waitingShown);
        grab(u"conference-joined"_s);
    }

    void refusedJoinResumesConference()
    {
        const int alice = callInProgress(u"alice"_s);
        QVERIFY(alice > 0);
        QVERIFY(m_sim.say(u"bob"_s, Topic, u"/join"_s) > 0);
        QTRY_VERIFY_WITH_TIMEOUT(log().contains(u"Adding bob failed."_s), 15000);
        QTRY_VERIFY(sentBodies().contains(u"Call to bob failed. Resuming conference."_s));
        QTRY_COMPARE(call(u"alice"_s)[u"status"_s].toString(), u"INPROGRESS"_s);
        QCOMPARE(call(u"bob"_s)[u"status"_s].toString(), u"REFUSED"_s);
    }

    void silentButton()
    {
        m_sim.clearSeen();
        m_form->findChild<QPushButton *>(u"Silent"_s)->click();
        QVERIFY(m_sim.waitServed(
            [](const QString &command, const QString &) { return command == u"#12346 SET SILENT_MODE ON"; }));
        QVERIFY(inOrder(log(), {u"Silent Mode ON"_s, u"Error:Wait Time Out"_s, u"Please, Click"_s}));
        QVERIFY(m_form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    }
};

int main(int argc, char *argv[])
{
    runOnPrivateSessionBus(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestConferenceE2E test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_conference_e2e.moc"
