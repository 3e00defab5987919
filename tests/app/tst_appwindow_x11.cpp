// The program's window on a real X server with a window manager, a compositor and a tray host,
// attached over the session bus to the simulator program: where the window sits, hiding and
// restoring it, the tray icon, and what the log and the list show as the client's state changes.

#include "banner.h"
#include <dbustransport.h>
#include <form1.h>
#include <protocol.h>
#include <simprocess.h>
#include <testdesktop.h>

#include <QAction>
#include <QApplication>
#include <QJsonObject>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

class RecordingReporter final : public ErrorReporter
{
public:
    void report(std::optional<int> code, const QString &text) override
    {
        reports.append(ErrorReporter::format(code, text));
    }
    QStringList reports;
};

// What the X server itself says about a top-level window: the bounds of the frame the window
// manager put around it, and whether it is mapped.
struct XFrame
{
    QRect bounds;
    bool viewable = false;
};

XFrame xFrameOf(WId window)
{
    XFrame result;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return result;
    }
    xcb_window_t current = xcb_window_t(window);
    // Climb to the child of the root: the window manager's frame.
    for (;;) {
        xcb_query_tree_reply_t *tree =
            xcb_query_tree_reply(connection, xcb_query_tree(connection, current), nullptr);
        if (!tree)
            break;
        const bool top = tree->parent == tree->root;
        const xcb_window_t parent = tree->parent;
        std::free(tree);
        if (top)
            break;
        current = parent;
    }
    if (xcb_get_geometry_reply_t *geometry =
            xcb_get_geometry_reply(connection, xcb_get_geometry(connection, current), nullptr)) {
        result.bounds = QRect(geometry->x, geometry->y, geometry->width + 2 * geometry->border_width,
                              geometry->height + 2 * geometry->border_width);
        std::free(geometry);
    }
    if (xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, xcb_window_t(window)), nullptr)) {
        result.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
    }
    xcb_disconnect(connection);
    return result;
}

} // namespace

class TestForm1X11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void noTrayHidesByUnmappingUntilTrayAppears();
    void windowPlacedWhereDesigned();
    void trayIconPresent();
    void bannerAndCallListOverTheBus();
    void reattachWhenSimulatorRestarts();
    void restartShowsNewCaptionAndBanner();
    void hideAndRestoreExactlyAcrossRestart();

private:
    void makeForm();
    bool waitAttached(int timeoutMs = 10000);
    QStringList log() const
    {
        return m_form->findChild<QPlainTextEdit *>(u"Memo1"_s)->toPlainText().split(u'\n');
    }
    QStringList calls() const;
    QString shoot(const QString &name);

    TestDesktop m_desktop;
    SimProcess m_sim;
    std::unique_ptr<TForm1> m_form;
    std::shared_ptr<RecordingReporter> m_reporter;
};

void TestForm1X11::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QGuiApplication::platformName() != u"xcb")
        QSKIP("needs an X display");
    QVERIFY(m_desktop.startWindowManager());
    QVERIFY(m_desktop.startCompositor());
    QVERIFY2(m_sim.start(), qPrintable(m_sim.errorText()));
}

void TestForm1X11::init()
{
    makeForm();
}

void TestForm1X11::cleanup()
{
    if (QTest::currentTestFailed() && m_form)
        shoot(u"failed-"_s + QString::fromLatin1(QTest::currentTestFunction()));
    m_form.reset();
    QVERIFY2(m_reporter->reports.isEmpty(), qPrintable(m_reporter->reports.join(u'\n')));
}

void TestForm1X11::makeForm()
{
    m_form.reset();
    m_reporter = std::make_shared<RecordingReporter>();
    TForm1::Environment environment;
    environment.transportFactory = [] { return std::make_unique<DBusTransport>(); };
    environment.errorReporter = m_reporter;
    m_form = std::make_unique<TForm1>(std::move(environment));
}

bool TestForm1X11::waitAttached(int timeoutMs)
{
    QSignalSpy attached(m_form.get(), &TForm1::attached);
    if (!m_form->isVisible())
        m_form->start();
    return attached.wait(timeoutMs);
}

QStringList TestForm1X11::calls() const
{
    QStringList lines;
    const auto *list = m_form->findChild<QListWidget *>(u"ListBox1"_s);
    for (int row = 0; row < list->count(); ++row)
        lines.append(list->item(row)->text());
    return lines;
}

QString TestForm1X11::shoot(const QString &name)
{
    QCoreApplication::processEvents();
    const QString path = TestDesktop::screenshot(u"lumotalk-"_s + name);
    qInfo("screenshot: %s", qPrintable(path));
    return path;
}

void TestForm1X11::noTrayHidesByUnmappingUntilTrayAppears()
{
    QVERIFY(!TestDesktop::selectionOwned(u"_NET_SYSTEM_TRAY_S0"_s));
    QVERIFY(waitAttached());
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    const WId window = m_form->winId();
    QTRY_COMPARE(xFrameOf(window).bounds, TForm1::DesignBounds);
    const QRect before = xFrameOf(window).bounds;

    m_form->findChild<QPushButton *>(u"Button4"_s)->click();
    QVERIFY(m_form->isHiddenAway());
    QTRY_VERIFY(!xFrameOf(window).viewable);

    // A tray host starts: the icon appears, and a double-click on it brings the window back where it was.
    QVERIFY(m_desktop.startTray());
    auto *tray = m_form->findChild<QSystemTrayIcon *>(u"TrayIcon1"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!tray->geometry().isEmpty(), 10000);
    // The double-click itself: pointer events synthesised for this test process do not reach the
    // icon on Xvfb, so the icon's own activation stands in for them here.
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->isHiddenAway(), 5000);
    QTRY_VERIFY(xFrameOf(window).viewable);
    QTRY_COMPARE(xFrameOf(window).bounds, before);
    shoot(u"restored-from-late-tray"_s);
}

void TestForm1X11::windowPlacedWhereDesigned()
{
    QVERIFY(waitAttached());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    const WId window = m_form->winId();
    QTRY_COMPARE(xFrameOf(window).bounds, QRect(220, 129, 805, 297));
    QCOMPARE(m_form->frameGeometry(), QRect(220, 129, 805, 297));
    QVERIFY(m_form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    const QString shot = shoot(u"main-window"_s);
    QVERIFY(QFile::exists(shot));
}

void TestForm1X11::trayIconPresent()
{
    QVERIFY(m_desktop.startTray());
    QVERIFY(waitAttached());
    QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
    auto *tray = m_form->findChild<QSystemTrayIcon *>(u"TrayIcon1"_s);
    QVERIFY(tray->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!tray->geometry().isEmpty(), 10000);
    QCOMPARE(tray->toolTip(), u"Lumotalk"_s);
    QVERIFY(!log().constFirst().startsWith(u"No notification area"_s));
}

void TestForm1X11::bannerAndCallListOverTheBus()
{
    m_form->start();
    m_form->Log(u"written before the attach"_s);
    QSignalSpy attached(m_form.get(), &TForm1::attached);
    QVERIFY(attached.wait(10000) || attached.count() == 1);
    QCOMPARE(log(), Banner);
    QCOMPARE(calls(), QStringList{u"No active calls."_s});

    const int call = m_sim.callMe(u"alice"_s);
    QVERIFY2(call > 0, qPrintable(m_sim.lastError()));
    QTRY_COMPARE(calls(), QStringList{u"alice "_s + Protocol::callStatusText(Protocol::CallRinging)});
    QVERIFY(m_sim.localAnswer(call));
    QTRY_COMPARE(calls(), QStringList{u"alice "_s + Protocol::callStatusText(Protocol::CallInProgress)});
    shoot(u"call-in-progress"_s);

    QVERIFY(m_sim.hangUp(call));
    QTRY_COMPARE(calls(), QStringList{u"No active calls."_s});
    QCOMPARE(log().mid(Banner.size()),
             (QStringList{u"alice dropped (from the conference)."_s, u"All active calls are now finished."_s,
                          u"To start hosting again, type /host in Skype chat."_s}));
}

void TestForm1X11::reattachWhenSimulatorRestarts()
{
    QVERIFY(waitAttached());
    m_form->Log(u"a line of the first session"_s);
    QSignalSpy attached(m_form.get(), &TForm1::attached);
    m_sim.stop();
    QVERIFY2(m_sim.start(), qPrintable(m_sim.errorText()));
    QVERIFY(attached.wait(10000));
    QCOMPARE(log(), Banner);
}

void TestForm1X11::restartShowsNewCaptionAndBanner()
{
    QVERIFY(waitAttached());
    m_form->conference().Hosting = 1;
    m_form->Log(u"before the restart"_s);
    QSignalSpy attached(m_form.get(), &TForm1::attached);
    m_form->armRestartTimer();
    QVERIFY(attached.wait(10000));
    QCOMPARE(m_form->windowTitle(), u"ぬむぬむ☆"_s);
    QCOMPARE(log(), Banner);
    QCOMPARE(m_form->conference().Hosting, quint8(0));
    shoot(u"after-restart"_s);
}

void TestForm1X11::hideAndRestoreExactlyAcrossRestart()
{
    QVERIFY(m_desktop.startTray());
    QVERIFY(waitAttached());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    const WId window = m_form->winId();
    // Moved and resized by the user first, so that the design place proves nothing.
    const QRect before(300, 250, 700, 260);
    m_form->setOuterBounds(before);
    QTRY_COMPARE(xFrameOf(window).bounds, before);

    m_form->findChild<QPushButton *>(u"Button4"_s)->click();
    QVERIFY(m_form->isHiddenAway());
    // Window managers pull windows back from beyond the screens: it is unmapped instead.
    QTRY_VERIFY(!xFrameOf(window).viewable);
    shoot(u"hidden"_s);

    QSignalSpy attached(m_form.get(), &TForm1::attached);
    m_form->findChild<QPushButton *>(u"Button1"_s)->click();
    QVERIFY(attached.wait(10000));
    QVERIFY(m_form->isHiddenAway());
    QVERIFY(!xFrameOf(window).viewable);

    m_form->findChild<QAction *>(u"Show1"_s)->trigger();
    QTRY_COMPARE(xFrameOf(window).bounds, before);
    QCOMPARE(m_form->frameGeometry(), before);
    shoot(u"restored"_s);
}

int main(int argc, char *argv[])
{
    runOnPrivateSessionBus(argc, argv);
    // Without a display the test case still starts, and skips.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestForm1X11 test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_appwindow_x11.moc"
