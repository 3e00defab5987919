#include "testdesktop.h"
#include "tform3.h"

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScreen>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

const QColor DeskColour(40, 150, 90);

// A plain window under the overlay with one known colour, counting the clicks it gets.
class Desk final : public QWidget
{
public:
    Desk()
    {
        setWindowFlag(Qt::FramelessWindowHint);
        QPalette p = palette();
        p.setColor(QPalette::Window, DeskColour);
        setPalette(p);
        setAutoFillBackground(true);
    }
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

QImage grabScreen()
{
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

bool anyPixelDiffers(const QImage &image, const QRect &area, const QColor &colour)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y) != colour)
                return true;
    return false;
}

bool click(const QPoint &at)
{
    return QProcess::execute(u"xdotool"_s, {u"mousemove"_s, QString::number(at.x()), QString::number(at.y()),
                                            u"click"_s, u"1"_s}) == 0;
}

} // namespace

// The overlay on a real X server, with and without a compositing manager.
class TestOverlayX11 : public QObject
{
    Q_OBJECT

private:
    TestDesktop m_desktop;

    void setCompositor(bool on)
    {
        if (on)
            QVERIFY(m_desktop.startCompositor());
        else
            m_desktop.stopCompositor();
        QCOMPARE(TestDesktop::selectionOwned(u"_NET_WM_CM_S0"_s), on);
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display");
        if (QGuiApplication::platformName() != u"xcb"_s)
            QSKIP("needs the xcb platform");
        QVERIFY(m_desktop.startWindowManager());
        // The window manager owns its selection before it has finished starting, and drops map
        // requests until then: map a probe until one is honoured.
        QWidget probe;
        probe.resize(50, 50);
        bool ready = false;
        for (int attempt = 0; attempt < 10 && !ready; ++attempt) {
            probe.hide();
            probe.show();
            ready = QTest::qWaitForWindowExposed(&probe, 2000);
        }
        QVERIFY(ready);
    }

    void desktopShowsThroughAndClicksPass_data()
    {
        QTest::addColumn<bool>("compositor");
        QTest::newRow("plain X") << false;
        QTest::newRow("compositor") << true;
    }
    void desktopShowsThroughAndClicksPass()
    {
        QFETCH(bool, compositor);
        setCompositor(compositor);

        Desk desk;
        // One pixel short of the screen: the window manager would make a screen-sized undecorated
        // window full-screen, above everything.
        desk.setGeometry(QGuiApplication::primaryScreen()->geometry().adjusted(0, 0, 0, -1));
        desk.show();
        QVERIFY(QTest::qWaitForWindowExposed(&desk));

        QStringList log;
        TForm3 overlay([] { return 500; }, [&](const QString &line) { log << line; });
        QCOMPARE(overlay.isShaped(), !compositor);
        QCOMPARE(log.size(), 1);
        overlay.show();
        overlay.AddComment(u"Lumotalk オーバーレイ <b>&amp;</b>"_s);
        overlay.findChild<QTimer *>(u"Timer1"_s)->stop();
        for (int i = 0; i < 150; ++i)
            overlay.Timer1Timer();
        const Comment c = overlay.comments().comments().front();
        const QRect comment =
            QRect(c.left, c.top, c.width, c.height).translated(overlay.geometry().topLeft());
        QVERIFY(comment.right() < overlay.geometry().right());

        // The comment is drawn, and the desk shows everywhere else.
        const QPoint free(comment.left() - 200, comment.bottom() + 300);
        const QList<QPoint> around = {free, QPoint(5, 5), QPoint(comment.right() + 10, comment.center().y()),
                                      QPoint(comment.left() - 10, comment.center().y())};
        const auto looksRight = [&] {
            const QImage screen = grabScreen();
            return anyPixelDiffers(screen, comment, DeskColour) &&
                   std::all_of(around.begin(), around.end(),
                               [&](const QPoint &p) { return screen.pixelColor(p) == DeskColour; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(looksRight(), 10000);
        TestDesktop::screenshot(compositor ? u"overlay-composited"_s : u"overlay-shaped"_s);

        // Clicks go to the window below, where no comment is and on the comment too.
        QVERIFY(click(free));
        QTRY_COMPARE(desk.presses, 1);
        QVERIFY(click(comment.center()));
        QTRY_COMPARE(desk.presses, 2);
    }

    void busyOverlayOverTheMainWindow_data() { desktopShowsThroughAndClicksPass_data(); }
    void busyOverlayOverTheMainWindow()
    {
        QFETCH(bool, compositor);
        setCompositor(compositor);

        Desk desk;
        desk.setGeometry(QGuiApplication::primaryScreen()->geometry().adjusted(0, 0, 0, -1));
        desk.show();
        QVERIFY(QTest::qWaitForWindowExposed(&desk));
        // A stand-in for the main window, so the screenshot shows comments over real controls.
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *memo = new QPlainTextEdit;
        for (int i = 0; i < 30; ++i)
            memo->appendPlainText(u"log line %1: attached to the client, overlay mode on"_s.arg(i));
        layout->addWidget(new QCheckBox(u"Lumotalk"_s));
        layout->addWidget(new QSpinBox);
        layout->addWidget(memo);
        window.setGeometry(
            QGuiApplication::primaryScreen()->availableGeometry().adjusted(100, 100, -100, -100));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        TForm3 overlay([] { return 150; }, {});
        overlay.show();
        auto *timer = overlay.findChild<QTimer *>(u"Timer1"_s);
        const QStringList texts = {u"こんにちは、会議に参加します"_s,
                                   u"/join"_s,
                                   u"Tom & Jerry <b>not bold</b>"_s,
                                   u"日本語のコメントが流れます"_s,
                                   u"lol"_s,
                                   u"二行目のある\nコメント"_s,
                                   u"The quick brown fox jumps over the lazy dog"_s,
                                   u"草"_s};
        for (int i = 0; i < 120; ++i) {
            overlay.AddComment(texts[i % texts.size()]);
            timer->stop();
            for (int t = 0; t < 1 + i % 3; ++t)
                overlay.Timer1Timer();
        }
        // Drawn over the desk above the window, and the desk still shows between the lanes there.
        const QRect strip(0, 0, overlay.width(), 60);
        const auto busy = [&] {
            const QImage screen = grabScreen();
            return anyPixelDiffers(screen, strip, DeskColour) && screen.pixelColor(1919, 1070) == DeskColour;
        };
        QTRY_VERIFY(busy());
        TestDesktop::screenshot(compositor ? u"overlay-busy-composited"_s : u"overlay-busy-shaped"_s);
    }

    void cleanupTestCase() { m_desktop.stopCompositor(); }
};

// Without a display the xcb platform cannot start at all; start offscreen so the test can skip.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestOverlayX11 test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_overlayx11.moc"
