// The main window against the in-process simulator: attach and banner, the call list, the end of
// hosting, restarts, the error guard, and hiding and restoring.

#include "banner.h"
#include "gatetransport.h"

#include <apiserver.h>
#include <form1.h>
#include <protocol.h>
#include <world.h>

#include <QCheckBox>
#include <QEventLoop>
#include <QFontInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

struct Report
{
    std::optional<int> code;
    QString text;
};

class RecordingReporter final : public ErrorReporter
{
public:
    void report(std::optional<int> code, const QString &text) override { reports.append({code, text}); }
    QList<Report> reports;
};

class TestPlatform final : public DesktopPlatform
{
public:
    bool trayAvailable() const override { return tray; }
    bool canPlaceWindows() const override { return placeable; }
    bool tray = true;
    bool placeable = true;
};

// The simulator, the window on it and what the window reported.
struct Rig
{
    explicit Rig(bool tray = true, bool placeable = true)
    {
        auto platformOwned = std::make_unique<TestPlatform>();
        platformOwned->tray = tray;
        platformOwned->placeable = placeable;
        platform = platformOwned.get();
        TForm1::Environment environment;
        environment.transportFactory = [this]() -> std::unique_ptr<Transport> {
            ++connectionsMade;
            if (refuseConnections)
                throw SkypeError(0, u"The session bus cannot be reached."_s);
            auto transport = std::make_unique<GateTransport>(&server, &closedCommands);
            lastTransport = transport.get();
            return transport;
        };
        environment.errorReporter = reporter;
        environment.platform = std::move(platformOwned);
        form = std::make_unique<TForm1>(std::move(environment));
    }

    template <typename T> T *control(const QString &name) const { return form->findChild<T *>(name); }
    QStringList log() const { return control<QPlainTextEdit>(u"Memo1"_s)->toPlainText().split(u'\n'); }
    QStringList calls() const
    {
        QStringList lines;
        const QListWidget *list = control<QListWidget>(u"ListBox1"_s);
        for (int row = 0; row < list->count(); ++row)
            lines.append(list->item(row)->text());
        return lines;
    }
    bool startAndAttach()
    {
        QSignalSpy attached(form.get(), &TForm1::attached);
        form->start();
        return attached.wait(5000);
    }
    QString chatName() const { return world.chats().constFirst().name; }
    QStringList sentBodies() const
    {
        QStringList bodies;
        for (const Message &message : world.messages(chatName())) {
            if (message.sender == world.account().handle)
                bodies.append(message.body);
        }
        return bodies;
    }
    // A call with the contact that is in progress once the simulator's clock has moved on.
    qint64 callInProgress(const QString &handle)
    {
        const Outcome placed = world.placeCall({handle});
        world.advanceBy(5000);
        return placed.value;
    }

    World world;
    ApiServer server{&world};
    QStringList closedCommands;
    bool refuseConnections = false;
    int connectionsMade = 0;
    QPointer<GateTransport> lastTransport;
    std::shared_ptr<RecordingReporter> reporter = std::make_shared<RecordingReporter>();
    TestPlatform *platform = nullptr;
    std::unique_ptr<TForm1> form;
};

// A nested event loop as the conference's waits run one: deferred deletions wait for it to end.
template <typename Condition> bool spinUntil(Condition condition, int timeoutMs = 5000)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    poll.start(10);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return condition();
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void toolBarControls_data();
    void toolBarControls();
    void windowMakeUp();
    void bannerAfterAttach();
    void otherAttachmentStatusesDoNothing_data();
    void otherAttachmentStatusesDoNothing();
    void reattachWhenServiceComesBackEmptiesLog();
    void callListFollowsEveryChange();
    void finishedCallWhileNotHosting();
    void finishedCallsEndHosting();
    void restartByTimer();
    void restartInsideHandlerOfOldConnection();
    void failingRestartThenSucceeding();
    void failedStartLeavesUsableWindow();
    void errorEndsHandlerAndProgramGoesOn();
    void hideAndRestoreKeepBounds();
    void restoreWhileShownChangesNothing();
    void hideWithoutTrayUnmaps();
    void restartWhileHidden();
    void stayOnTopSwitchKeepsWindow();
    void closingEndsProgram();
    void overlaySwitch();
    void errorBoxShowsCodeAndTextOnce();
};

void TestForm1::toolBarControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("width");
    QTest::newRow("LumotalkMode") << u"LumotalkMode"_s << u"QCheckBox"_s << u"Lumotalk"_s << 0 << 73;
    QTest::newRow("Label1") << u"Label1"_s << u"QLabel"_s << u"Speed"_s << 73 << 31;
    QTest::newRow("SpinEdit1") << u"SpinEdit1"_s << u"QSpinBox"_s << QString() << 104 << 64;
    QTest::newRow("ToolButton1") << u"ToolButton1"_s << u"QWidget"_s << QString() << 168 << 92;
    QTest::newRow("Silent") << u"Silent"_s << u"QPushButton"_s << u"Silent Mode"_s << 260 << 75;
    QTest::newRow("RemoteReboot") << u"RemoteReboot"_s << u"QCheckBox"_s << u"Use Remote_Reboot"_s << 335
                                  << 126;
    QTest::newRow("remote_join") << u"remote_join"_s << u"QCheckBox"_s << u"use remote_join"_s << 461 << 97;
    QTest::newRow("ToolButton2") << u"ToolButton2"_s << u"QWidget"_s << QString() << 558 << 23;
    QTest::newRow("Button4") << u"Button4"_s << u"QPushButton"_s << u"Minimum"_s << 581 << 93;
}

void TestForm1::toolBarControls()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, caption);
    QFETCH(int, left);
    QFETCH(int, width);
    Rig rig;
    rig.form->start();
    QWidget *control = rig.control<QWidget>(name);
    QVERIFY(control);
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), className);
    QCOMPARE(control->parentWidget()->objectName(), u"ToolBar1"_s);
    QCOMPARE(control->geometry(), QRect(left, 2, width, 23));
    QVERIFY(control->isVisible());
    if (auto *button = qobject_cast<QAbstractButton *>(control)) {
        QCOMPARE(button->text(), caption);
        QVERIFY(!button->isChecked());
    } else if (auto *label = qobject_cast<QLabel *>(control)) {
        QCOMPARE(label->text(), caption);
    }
}

void TestForm1::windowMakeUp()
{
    Rig rig;
    rig.form->start();
    TForm1 &form = *rig.form;
    QCOMPARE(form.windowTitle(), u"Lumotalk2"_s);
    QVERIFY(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(form.windowType(), Qt::Tool);
    QCOMPARE(form.frameGeometry(), QRect(220, 129, 805, 297));
    QCOMPARE(QFontInfo(form.font()).family(), u"IPAPGothic"_s);
    QCOMPARE(form.font().pixelSize(), 12);
    QCOMPARE(QFontInfo(rig.control<QPlainTextEdit>(u"Memo1"_s)->font()).family(), u"IPAPGothic"_s);

    auto *memo = rig.control<QPlainTextEdit>(u"Memo1"_s);
    QVERIFY(memo->isReadOnly());
    QVERIFY(memo->toPlainText().isEmpty());

    auto *toolBar = rig.control<QWidget>(u"ToolBar1"_s);
    QCOMPARE(toolBar->geometry(), QRect(0, 0, form.width(), 29));
    auto *list = rig.control<QListWidget>(u"ListBox1"_s);
    QCOMPARE(list->geometry(), QRect(form.width() - 121, 29, 121, form.height() - 29));
    QCOMPARE(memo->geometry(), QRect(0, 29, form.width() - 121, form.height() - 29));

    auto *spin = rig.control<QSpinBox>(u"SpinEdit1"_s);
    QCOMPARE(spin->minimum(), 1);
    QCOMPARE(spin->maximum(), 500);
    QCOMPARE(spin->singleStep(), 10);
    QCOMPARE(spin->value(), 150);

    auto *restart = rig.control<QPushButton>(u"Button1"_s);
    QCOMPARE(restart->text(), u"リブート"_s);
    QVERIFY(!restart->isVisible());
    QCOMPARE(restart->focusPolicy(), Qt::NoFocus);

    auto *timer = rig.control<QTimer>(u"Timer1"_s);
    QVERIFY(timer->isSingleShot());
    QCOMPARE(timer->interval(), 1000);
    QVERIFY(!timer->isActive());

    auto *tray = rig.control<QSystemTrayIcon>(u"TrayIcon1"_s);
    QCOMPARE(tray->toolTip(), u"Lumotalk"_s);
    QVERIFY(!tray->icon().isNull());
    QCOMPARE(tray->contextMenu(), rig.control<QMenu>(u"PopupMenu1"_s));
    QCOMPARE(tray->contextMenu()->actions().size(), 1);
    QCOMPARE(tray->contextMenu()->actions().constFirst()->objectName(), u"Show1"_s);
    QCOMPARE(tray->contextMenu()->actions().constFirst()->text(), u"表示"_s);
}

void TestForm1::bannerAfterAttach()
{
    Rig rig;
    QVERIFY(rig.startAndAttach());
    QCOMPARE(rig.log(), Banner);
    QCOMPARE(rig.calls(), QStringList{u"No active calls."_s});
    QVERIFY(rig.reporter->reports.isEmpty());
}

void TestForm1::otherAttachmentStatusesDoNothing_data()
{
    QTest::addColumn<int>("status");
    for (int status : {-1, 1, 2, 3})
        QTest::addRow("%d", status) << status;
}

void TestForm1::otherAttachmentStatusesDoNothing()
{
    QFETCH(int, status);
    Rig rig;
    QVERIFY(rig.startAndAttach());
    rig.form->Log(u"later line"_s);
    QSignalSpy attached(rig.form.get(), &TForm1::attached);
    rig.form->SkypeAttachmentStatus(status);
    QTest::qWait(50); // gives a wrong attach request the chance to be answered
    QCOMPARE(attached.count(), 0);
    QCOMPARE(rig.log(), Banner + QStringList{u"later line"_s});
}

void TestForm1::reattachWhenServiceComesBackEmptiesLog()
{
    Rig rig;
    QVERIFY(rig.startAndAttach());
    rig.form->Log(u"a line of the first session"_s);
    QSignalSpy attached(rig.form.get(), &TForm1::attached);
    rig.lastTransport->inner()->setServiceAvailable(false);
    rig.lastTransport->inner()->setServiceAvailable(true);
    QVERIFY(attached.wait(5000));
    QCOMPARE(rig.log(), Banner);
    QCOMPARE(rig.connectionsMade, 1); // the same connection attached again
}

void TestForm1::callListFollowsEveryChange()
{
    Rig rig;
    QVERIFY(rig.startAndAttach());
    const auto line = [](const QString &handle, int status) {
        return handle + u' ' + Protocol::callStatusText(status);
    };

    const qint64 alice = rig.world.placeCall({u"alice"_s}).value;
    QTRY_COMPARE(rig.calls(), QStringList{line(u"alice"_s, rig.world.call(alice)->status)});
    rig.world.advanceBy(5000);
    QCOMPARE(rig.world.call(alice)->status, int(Protocol::CallInProgress));
    QTRY_COMPARE(rig.calls(), QStringList{line(u"alice"_s, Protocol::CallInProgress)});

    QVERIFY(rig.world.holdCall(alice).ok());
    const qint64 carol = rig.world.placeCall({u"carol"_s}).value;
    rig.world.advanceBy(1000);
    const QStringList both = {line(u"alice"_s, rig.world.call(alice)->status),
                              line(u"carol"_s, rig.world.call(carol)->status)};
    QTRY_COMPARE(rig.calls(), both);

    QVERIFY(rig.world.hangUpCall(alice).ok());
    QVERIFY(rig.world.hangUpCall(carol).ok());
    QTRY_COMPARE(rig.calls(), QStringList{u"No active calls."_s});
}

void TestForm1::finishedCallWhileNotHosting()
{
    Rig rig;
    QVERIFY(rig.startAndAttach());
    const qint64 alice = rig.callInProgress(u"alice"_s);
    QTRY_VERIFY(rig.calls().constFirst().startsWith(u"alice "_s));
    QVERIFY(rig.world.remoteHangUp(alice).ok());
    QTRY_COMPARE(rig.calls(), QStringList{u"No active calls."_s});
    QCOMPARE(rig.log().mid(Banner.size()),
             (QStringList{u"alice dropped (from the conference)."_s, u"All active calls are now finished."_s,
                          u"To start hosting again, type /host in Skype chat."_s}));
    QVERIFY(rig.sentBodies().isEmpty());
}

void TestForm1::finishedCallsEndHosting()
{
    Rig rig;
    QVERIFY(rig.startAndAttach());
    Conference &conference = rig.form->conference();
    conference.Hosting = 1;
    conference.HostChat = rig.form->skype()->Chat(rig.chatName());
    const qint64 alice = rig.callInProgress(u"alice"_s);
    const qint64 erinless = rig.world.placeCall({u"carol"_s}).value;
    rig.world.advanceBy(1000);
    QVERIFY(rig.world.remoteAnswer(erinless).ok());
    QTRY_COMPARE(rig.calls().size(), 2);

    QVERIFY(rig.world.remoteHangUp(alice).ok());
    QTRY_COMPARE(rig.calls().size(), 1);
    QCOMPARE(rig.log().mid(Banner.size()), QStringList{u"alice dropped (from the conference)."_s});
    QTRY_COMPARE(rig.sentBodies(), QStringList{u"alice dropped from the conference."_s});
    QCOMPARE(conference.Hosting, quint8(1));

    QVERIFY(rig.world.remoteHangUp(erinless).ok());
    QTRY_COMPARE(rig.calls(), QStringList{u"No active calls."_s});
    QCOMPARE(rig.log().mid(Banner.size() + 1),
             (QStringList{u"carol dropped (from the conference)."_s, u"All active calls are now finished."_s,
                          u"To start hosting again, type /host in Skype chat."_s}));
    QTRY_COMPARE(rig.sentBodies(), (QStringList{u"alice dropped from the conference."_s,
                                                u"carol dropped from the conference."_s}));
    QCOMPARE(conference.Hosting, quint8(0));
    QVERIFY(!conference.HostChat);
}

void TestForm1::restartByTimer()
{
    Rig rig;
    QVERIFY(rig.startAndAttach());
    QPointer<TSkype> old = rig.form->skype();
    const quint64 generation = rig.form->connectionGeneration();
    rig.form->conference().Hosting = 1;
    rig.form->conference().HostChat = old->Chat(rig.chatName());
    rig.form->Log(u"before the restart"_s);

    QSignalSpy attached(rig.form.get(), &TForm1::attached);
    rig.form->armRestartTimer();
    QTest::qWait(300);
    rig.form->armRestartTimer(); // already armed: still one restart
    QTRY_COMPARE_WITH_TIMEOUT(rig.form->windowTitle(), u"ぬむぬむ☆"_s, 3000);
    QCOMPARE(rig.form->connectionGeneration(), generation + 1);
    QCOMPARE(rig.form->conference().Hosting, quint8(0));
    QVERIFY(!rig.form->conference().HostChat);
    QVERIFY(!rig.control<QTimer>(u"Timer1"_s)->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(attached.count(), 1, 5000);
    QCOMPARE(rig.log(), Banner);
    QTRY_VERIFY(!old); // the old connection is gone
    QTest::qWait(1300);
    QCOMPARE(rig.connectionsMade, 2);
    QCOMPARE(rig.form->connectionGeneration(), generation + 1);
    QVERIFY(rig.reporter->reports.isEmpty());
}

void TestForm1::restartInsideHandlerOfOldConnection()
{
    Rig rig;
    QVERIFY(rig.startAndAttach());
    QPointer<TSkype> old = rig.form->skype();
    const quint64 generation = rig.form->connectionGeneration();
    bool nestedRestartSeen = false;
    ICall staleCall;
    // Like a wait of the participant adder: a handler of the old connection pumps events while the
    // restart timer fires.
    connect(old, &TSkype::OnCallStatus, this, [&](const ICall &call, int) {
        if (nestedRestartSeen)
            return;
        rig.form->armRestartTimer();
        QVERIFY(spinUntil([&] { return rig.form->connectionGeneration() != generation; }));
        nestedRestartSeen = true;
        staleCall = call;
    });
    rig.world.placeCall({u"alice"_s});
    QTRY_VERIFY_WITH_TIMEOUT(nestedRestartSeen, 5000);
    QTRY_VERIFY(!old);
    QVERIFY_THROWS_EXCEPTION(SkypeError, staleCall.PartnerHandle());
    QVERIFY(rig.form->skype());
    QTRY_COMPARE(rig.log(), Banner);
}

void TestForm1::failingRestartThenSucceeding()
{
    Rig rig;
    QVERIFY(rig.startAndAttach());
    QPointer<TSkype> old = rig.form->skype();
    auto *restart = rig.control<QPushButton>(u"Button1"_s);

    rig.refuseConnections = true;
    rig.form->armRestartTimer();
    QTRY_COMPARE_WITH_TIMEOUT(rig.reporter->reports.size(), 1, 3000);
    QCOMPARE(rig.reporter->reports.constFirst().code, std::optional<int>(0));
    QCOMPARE(rig.reporter->reports.constFirst().text, u"The session bus cannot be reached."_s);
    QCOMPARE(rig.form->skype(), nullptr);
    QTRY_VERIFY(!old);
    QCOMPARE(rig.log(), QStringList{u"No connection to Skype. Press \"リブート\" to try again."_s});
    QVERIFY(restart->isVisible());

    // Nothing that needs the connection may fail now.
    rig.control<QPushButton>(u"Silent"_s)->click();
    rig.form->conference().UpdateActiveCalls();
    QCOMPARE(rig.form->conference().InProgressCalls(), 0);
    QCOMPARE(rig.reporter->reports.size(), 1);

    rig.refuseConnections = false;
    QSignalSpy attached(rig.form.get(), &TForm1::attached);
    restart->click();
    QVERIFY(attached.wait(5000));
    QVERIFY(rig.form->skype());
    QCOMPARE(rig.log(), Banner);
    QVERIFY(!restart->isVisible());
    QCOMPARE(rig.reporter->reports.size(), 1);
}

void TestForm1::failedStartLeavesUsableWindow()
{
    Rig rig;
    rig.refuseConnections = true;
    rig.form->start();
    QVERIFY(rig.form->isVisible());
    QCOMPARE(rig.form->windowTitle(), u"Lumotalk2"_s);
    QCOMPARE(rig.reporter->reports.size(), 1);
    QCOMPARE(rig.reporter->reports.constFirst().text, u"The session bus cannot be reached."_s);
    QCOMPARE(rig.log(), QStringList{u"No connection to Skype. Press \"リブート\" to try again."_s});
    QCOMPARE(rig.form->skype(), nullptr);

    rig.control<QPushButton>(u"Silent"_s)->click();
    rig.form->SkypeAttachmentStatus(Protocol::AttachAvailable);
    rig.control<QPushButton>(u"Button4"_s)->click();
    QVERIFY(rig.form->isHiddenAway());
    QCOMPARE(rig.reporter->reports.size(), 1);
}

void TestForm1::errorEndsHandlerAndProgramGoesOn()
{
    Rig rig;
    rig.closedCommands = {u"SEARCH ACTIVECALLS"_s};
    QVERIFY(rig.startAndAttach() == false || true); // the handler fails after the banner
    QTRY_COMPARE(rig.reporter->reports.size(), 1);
    const Report report = rig.reporter->reports.constFirst();
    QCOMPARE(report.code, std::optional<int>(Protocol::Error::AccessDenied));
    QVERIFY2(report.text.contains(u"Access denied"_s), qPrintable(report.text));
    QVERIFY(ErrorReporter::format(report.code, report.text).contains(u"68"_s));
    // The steps before the failure stay done.
    QCOMPARE(rig.log(), Banner);
    QVERIFY(rig.calls().isEmpty());

    // The program goes on: the next call change refreshes the list.
    rig.closedCommands.clear();
    rig.world.placeCall({u"alice"_s});
    QTRY_COMPARE(rig.calls().size(), 1);
    QVERIFY(rig.calls().constFirst().startsWith(u"alice "_s));
    QCOMPARE(rig.reporter->reports.size(), 1);
}

void TestForm1::hideAndRestoreKeepBounds()
{
    Rig rig;
    rig.form->start();
    TForm1 &form = *rig.form;
    const QRect before(300, 200, 640, 250);
    form.setOuterBounds(before);
    QCOMPARE(form.frameGeometry(), before);

    auto *minimum = rig.control<QPushButton>(u"Button4"_s);
    minimum->click();
    QVERIFY(form.isHiddenAway());
    QVERIFY(form.isVisible());
    QCOMPARE(form.frameGeometry().topLeft(), QPoint(200000, 200000));
    QCOMPARE(form.frameGeometry().size(), before.size());
    QCOMPARE(form.savedBounds(), before);

    minimum->click(); // hidden already: the saved bounds stay those from before the first press
    QCOMPARE(form.savedBounds(), before);

    rig.control<QAction>(u"Show1"_s)->trigger();
    QVERIFY(!form.isHiddenAway());
    QCOMPARE(form.frameGeometry(), before);

    minimum->click();
    emit rig.control<QSystemTrayIcon>(u"TrayIcon1"_s)->activated(QSystemTrayIcon::DoubleClick);
    QCOMPARE(form.frameGeometry(), before);
    QVERIFY(!form.isHiddenAway());
}

void TestForm1::restoreWhileShownChangesNothing()
{
    Rig rig;
    rig.form->start();
    TForm1 &form = *rig.form;
    rig.control<QPushButton>(u"Button4"_s)->click();
    rig.control<QAction>(u"Show1"_s)->trigger();
    const QRect moved(400, 300, 700, 280);
    form.setOuterBounds(moved); // the user moves and resizes it
    rig.control<QAction>(u"Show1"_s)->trigger();
    emit rig.control<QSystemTrayIcon>(u"TrayIcon1"_s)->activated(QSystemTrayIcon::DoubleClick);
    QCOMPARE(form.frameGeometry(), moved);
    emit rig.control<QSystemTrayIcon>(u"TrayIcon1"_s)->activated(QSystemTrayIcon::Trigger);
    QCOMPARE(form.frameGeometry(), moved);
}

void TestForm1::hideWithoutTrayUnmaps()
{
    Rig rig(/*tray=*/false);
    rig.form->start();
    TForm1 &form = *rig.form;
    QVERIFY(rig.log().constFirst().startsWith(u"No notification area"_s));
    const QRect before = form.frameGeometry();
    rig.control<QPushButton>(u"Button4"_s)->click();
    QVERIFY(form.isHiddenAway());
    QVERIFY(!form.isVisible()); // not moved where nothing could bring it back
    QCOMPARE(form.pos(), before.topLeft());

    rig.platform->tray = true; // a tray host has started since
    emit rig.control<QSystemTrayIcon>(u"TrayIcon1"_s)->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(form.isVisible());
    QVERIFY(!form.isHiddenAway());
    QCOMPARE(form.frameGeometry(), before);
}

void TestForm1::restartWhileHidden()
{
    Rig rig;
    QVERIFY(rig.startAndAttach());
    TForm1 &form = *rig.form;
    const QRect before = form.frameGeometry();
    rig.control<QPushButton>(u"Button4"_s)->click();
    QSignalSpy attached(&form, &TForm1::attached);
    rig.control<QPushButton>(u"Button1"_s)->click();
    QVERIFY(attached.wait(5000));
    QVERIFY(form.isHiddenAway());
    QCOMPARE(form.frameGeometry().topLeft(), QPoint(200000, 200000));
    QCOMPARE(form.savedBounds(), before);
    rig.control<QAction>(u"Show1"_s)->trigger();
    QCOMPARE(form.frameGeometry(), before);
}

void TestForm1::stayOnTopSwitchKeepsWindow()
{
    Rig rig;
    rig.form->start();
    TForm1 &form = *rig.form;
    const QRect before = form.frameGeometry();
    form.setStayOnTop(false);
    QVERIFY(form.isVisible());
    QVERIFY(!form.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    form.setStayOnTop(true);
    QVERIFY(form.isVisible());
    QVERIFY(form.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(form.frameGeometry(), before);
}

void TestForm1::closingEndsProgram()
{
    Rig rig;
    QVERIFY(rig.startAndAttach());
    QSignalSpy closed(rig.form.get(), &TForm1::closed);
    QVERIFY(rig.form->close());
    QCOMPARE(closed.count(), 1);
    QVERIFY(rig.form->closing());
}

void TestForm1::overlaySwitch()
{
    Rig rig;
    rig.form->start();
    auto *mode = rig.control<QCheckBox>(u"LumotalkMode"_s);
    QVERIFY(!rig.form->overlayMode());
    mode->click();
    QVERIFY2(rig.form->overlayMode(), qPrintable(rig.reporter->reports.value(0).text));
    rig.form->addComment(u"hello"_s);
    mode->click();
    QVERIFY(!rig.form->overlayMode());
    rig.form->addComment(u"nobody sees this"_s); // no overlay: nothing happens
    QVERIFY(rig.reporter->reports.isEmpty());
}

void TestForm1::errorBoxShowsCodeAndTextOnce()
{
    MessageBoxErrorReporter reporter;
    reporter.report(Protocol::Error::AccessDenied, u"Access denied"_s);
    reporter.report(Protocol::Error::AccessDenied, u"Access denied"_s);
    reporter.report(std::nullopt, u"Something else"_s);
    QList<QMessageBox *> boxes;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible())
            boxes.append(box);
    }
    QCOMPARE(boxes.size(), 2);
    const QMessageBox *first = boxes.constFirst()->text().contains(u"Access"_s) ? boxes[0] : boxes[1];
    QCOMPARE(first->windowTitle(), u"Lumotalk"_s);
    QVERIFY(first->text().contains(u"Access denied"_s));
    QVERIFY(first->text().contains(u"68"_s));
    QVERIFY(!first->isModal()); // a handler never waits in a nested event loop for the user
}

QTEST_MAIN(TestForm1)
#include "tst_appwindow.moc"
