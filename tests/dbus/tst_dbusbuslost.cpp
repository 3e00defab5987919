// A session bus that goes away under an attached program: reported as "not available", and
// commands fail at once instead of hanging. The test brings its own bus daemon to kill.

#include "dbustransport.h"
#include "protocol.h"
#include "simprocess.h"
#include "skype.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

class TestDBusBusLost final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void lostBusIsReportedNotHung();

private:
    QProcess m_daemon;
};

void TestDBusBusLost::initTestCase()
{
    m_daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
    QVERIFY2(m_daemon.waitForStarted(5000), qPrintable(m_daemon.errorString()));
    QTRY_VERIFY(m_daemon.canReadLine());
    const QByteArray address = m_daemon.readLine().trimmed();
    QVERIFY(!address.isEmpty());
    // Before anything in this process touches the session bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
}

void TestDBusBusLost::cleanupTestCase()
{
    m_daemon.kill();
    m_daemon.waitForFinished(3000);
}

void TestDBusBusLost::lostBusIsReportedNotHung()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorText()));
    auto transport = std::make_unique<DBusTransport>();
    Transport *raw = transport.get();
    QSignalSpy availability(raw, &Transport::serviceAvailabilityChanged);
    TSkype skype(std::move(transport));
    QSignalSpy statuses(&skype, &TSkype::OnAttachmentStatus);
    skype.Attach(Protocol::Version, false);
    QTRY_VERIFY(!statuses.isEmpty() && statuses.last().constFirst().toInt() == Protocol::AttachSuccess);
    skype.setCommandTimeout(30000);

    m_daemon.kill();
    QVERIFY(m_daemon.waitForFinished(3000));

    QTRY_VERIFY_WITH_TIMEOUT(!availability.isEmpty(), 5000);
    QCOMPARE(availability.last().constFirst().toBool(), false);
    QCOMPARE(statuses.last().constFirst().toInt(), int(Protocol::AttachNotAvailable));
    QVERIFY(!raw->isServiceAvailable());

    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY_THROWS_EXCEPTION(SkypeError, raw->invoke(u"PING"_s, 30000));
    QVERIFY_THROWS_EXCEPTION(SkypeError, skype.CurrentUser().Handle());
    QVERIFY(elapsed.elapsed() < 10000);

    // An asynchronous command on the dead bus still gets its answer, from the event loop.
    bool answered = false;
    bool succeeded = true;
    raw->invokeAsync(u"PING"_s, -1, [&](bool ok, const QString &) {
        answered = true;
        succeeded = ok;
    });
    QVERIFY(!answered);
    QTRY_VERIFY(answered);
    QVERIFY(!succeeded);
}

QTEST_GUILESS_MAIN(TestDBusBusLost)

#include "tst_dbusbuslost.moc"
