#include "commenttext.h"
#include "overlayplatform.h"
#include "overlayswitch.h"
#include "tform3.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// A windowing system without blending, as plain X11 without a compositor.
class UnblendedPlatform final : public OverlayPlatform
{
public:
    bool needsShape() const override { return true; }
    QString modeDescription() const override { return u"shaped"_s; }
};

struct Harness
{
    explicit Harness(std::unique_ptr<OverlayPlatform> platform = std::make_unique<OverlayPlatform>())
        : overlay(
              [this] {
                  ++speedReads;
                  return speed;
              },
              [this](const QString &line) { log << line; }, std::move(platform))
    {
        overlay.resize(1000, 300);
    }
    int speed = 150;
    int speedReads = 0;
    QStringList log;
    TForm3 overlay;
};

QImage renderOverlay(TForm3 &overlay)
{
    QImage image(overlay.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    overlay.render(&image);
    return image;
}

} // namespace

class TestOverlayWidget : public QObject
{
    Q_OBJECT

private slots:
    void commentFontIsTheUiTypefaceAtTwentyPoints()
    {
        Harness h;
        QCOMPARE(h.overlay.commentFont().family(), QApplication::font().family());
        QCOMPARE(h.overlay.commentFont().pointSize(), 20);
    }

    void noWidgetPerComment()
    {
        Harness h;
        for (int i = 0; i < 50; ++i)
            h.overlay.AddComment(u"comment %1"_s.arg(i));
        for (int i = 0; i < 30; ++i)
            h.overlay.Timer1Timer();
        renderOverlay(h.overlay);
        QVERIFY(h.overlay.findChildren<QWidget *>().isEmpty());
        QCOMPARE(h.overlay.comments().comments().size(), size_t(50));
    }

    void textIsDrawnExactlyAsWritten_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("markup") << u"<b>bold</b> <i>x</i>"_s;
        QTest::newRow("image tag") << u"<img src=\"file:///etc/passwd\">"_s;
        QTest::newRow("ampersand") << u"Tom & Jerry"_s;
        QTest::newRow("mnemonic") << u"&File"_s;
        QTest::newRow("doubled ampersand") << u"a && b"_s;
        QTest::newRow("entity") << u"&lt;&amp;&gt;"_s;
        QTest::newRow("japanese") << u"こんにちは、世界"_s;
    }
    void textIsDrawnExactlyAsWritten()
    {
        QFETCH(QString, text);
        Harness h;
        h.speed = 500;
        h.overlay.AddComment(text);
        const Comment comment = h.overlay.comments().comments().front();
        // Width as plain text of the font: markup or a mnemonic would make it narrower.
        QCOMPARE(comment.width, QFontMetrics(h.overlay.commentFont()).horizontalAdvance(text));
        while (h.overlay.comments().comments().front().left > 20)
            h.overlay.Timer1Timer();
        const Comment now = h.overlay.comments().comments().front();
        const QImage shown = renderOverlay(h.overlay).copy(now.left, now.top, now.width, now.height);

        // The same text through the painter's plain-string drawing, an independent path.
        QImage expected(now.width, now.height, QImage::Format_ARGB32_Premultiplied);
        expected.fill(Qt::transparent);
        QPainter painter(&expected);
        painter.setFont(h.overlay.commentFont());
        painter.setPen(h.overlay.palette().color(QPalette::WindowText));
        painter.drawText(QPointF(0, QFontMetrics(h.overlay.commentFont()).ascent()), text);
        painter.end();
        QCOMPARE(shown, expected);
        int inked = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                inked += qAlpha(shown.pixel(x, y)) > 0 ? 1 : 0;
        QVERIFY(inked > 50);
    }

    void emptyTextIsOneBlankWideAndTakesALane()
    {
        Harness h;
        h.overlay.AddComment(QString());
        const Comment empty = h.overlay.comments().comments().front();
        QCOMPARE(empty.width, QFontMetrics(h.overlay.commentFont()).horizontalAdvance(u' '));
        QCOMPARE(empty.lane, 0);
        h.overlay.AddComment(u"next"_s);
        QCOMPARE(h.overlay.comments().comments().back().lane, 1);
    }

    void multiLineCommentIsAsTallAsAllItsLines()
    {
        const QFont font = Harness().overlay.commentFont();
        const QFontMetrics metrics(font);
        for (const QString &text : {u"a\nb\nc"_s, u"a\r\nb\r\nc"_s, u"a\rb\rc"_s})
            QCOMPARE(CommentText(text, font).size().height(), metrics.height() + 2 * metrics.lineSpacing());
        Harness h;
        h.overlay.AddComment(u"one"_s);
        h.overlay.AddComment(u"first\nsecond longer line"_s);
        const Comment two = h.overlay.comments().comments().back();
        QCOMPARE(two.lane, 1);
        QCOMPARE(two.top, metrics.height() + metrics.lineSpacing());
        QCOMPARE(two.width, metrics.horizontalAdvance(u"second longer line"_s));
    }

    void hugeTextIsBounded()
    {
        const QFont font = Harness().overlay.commentFont();
        const QSize wide = CommentText(QString(200000, u'W'), font).size();
        QCOMPARE(wide.width(), CommentText::MaxWidth);
        const QSize tall = CommentText(u"x\n"_s.repeated(10000), font).size();
        QCOMPARE(tall, CommentText(u"x\n"_s.repeated(CommentText::MaxLines - 1) + u"x"_s, font).size());
    }

    void laneBelowTheBottomIsStillUsed()
    {
        Harness h; // 300 px tall: about nine lanes fit
        for (int i = 0; i < 20; ++i)
            h.overlay.AddComment(u"quick"_s);
        const Comment last = h.overlay.comments().comments().back();
        QCOMPARE(last.lane, 19);
        QVERIFY(last.top >= h.overlay.height());
    }

    void speedIsReadOncePerCommentAndConfined()
    {
        Harness h;
        h.speed = 0; // what a half-typed spin box could give
        h.overlay.AddComment(u"a"_s);
        QCOMPARE(h.speedReads, 1);
        const Comment comment = h.overlay.comments().comments().front();
        QCOMPARE(comment.pixelsPerTick, 1000 + comment.width);
        h.speed = 300;
        for (int i = 0; i < 5; ++i)
            h.overlay.Timer1Timer();
        QCOMPARE(h.speedReads, 1);
    }

    void timerRunsOnlyWhileThereAreComments()
    {
        Harness h;
        auto *timer = h.overlay.findChild<QTimer *>(u"Timer1"_s);
        QVERIFY(timer);
        QCOMPARE(timer->interval(), 10);
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
        QVERIFY(!timer->isActive());
        h.speed = 1;
        h.overlay.AddComment(u"gone in one tick"_s);
        QVERIFY(timer->isActive());
        QTRY_VERIFY(!timer->isActive());
        QVERIFY(h.overlay.comments().isEmpty());
    }

    void repaintsOnlyWhatMoved()
    {
        Harness h;
        h.speed = 200;
        h.overlay.AddComment(u"moving"_s);
        for (int i = 0; i < 10; ++i)
            h.overlay.Timer1Timer();
        const Comment before = h.overlay.comments().comments().front();
        h.overlay.Timer1Timer();
        const Comment after = h.overlay.comments().comments().front();
        const QRect swept =
            QRect(after.left, after.top, before.left - after.left + after.width, after.height) &
            h.overlay.rect();
        QCOMPARE(h.overlay.lastRepaint(), QRegion(swept));
    }

    void picturesOnlyForCommentsInView()
    {
        Harness h;
        for (int i = 0; i < 100; ++i)
            h.overlay.AddComment(u"lane %1"_s.arg(i));
        for (int i = 0; i < 40; ++i)
            h.overlay.Timer1Timer();
        renderOverlay(h.overlay);
        QVERIFY(h.overlay.pictureCount() > 0);
        QVERIFY(h.overlay.pictureCount() <= 10); // lanes below the bottom are never drawn
    }

    void logsTheModeOnce()
    {
        Harness plain;
        QCOMPARE(plain.log.size(), 1);
        QVERIFY(!plain.overlay.isShaped());
        Harness shaped(std::make_unique<UnblendedPlatform>());
        QCOMPARE(shaped.log, QStringList{u"shaped"_s});
        shaped.overlay.AddComment(u"x"_s);
        shaped.overlay.Timer1Timer();
        QCOMPARE(shaped.log.size(), 1);
    }

    void shapeHoldsOnlyTheComments()
    {
        Harness h(std::make_unique<UnblendedPlatform>());
        QVERIFY(h.overlay.isShaped());
        // Nothing shown yet, and never the whole window.
        QVERIFY(!h.overlay.mask().isEmpty());
        QVERIFY(!h.overlay.mask().intersects(h.overlay.rect()));
        h.speed = 100;
        h.overlay.AddComment(u"first"_s);
        h.overlay.AddComment(u"second"_s);
        for (int i = 0; i < 20; ++i) {
            h.overlay.Timer1Timer();
            QRegion expected;
            for (const Comment &c : h.overlay.comments().comments())
                expected += QRect(c.left, c.top, c.width, c.height) & h.overlay.rect();
            QCOMPARE(h.overlay.mask(), expected);
        }
        // Drawn opaque on the window colour: there are no transparent pixels to show black.
        const Comment c = h.overlay.comments().comments().front();
        const QRect where = QRect(c.left, c.top, c.width, c.height) & h.overlay.rect();
        QImage shown(where.size(), QImage::Format_ARGB32_Premultiplied);
        shown.fill(Qt::transparent);
        h.overlay.render(&shown, QPoint(), QRegion(where));
        QCOMPARE(shown.pixelColor(0, 0), h.overlay.palette().color(QPalette::Window));
    }

    void switchOpensAndFreesTheOverlay()
    {
        QWidget mainWindow;
        std::unique_ptr<TForm3> overlay;
        QStringList log;
        const auto speed = [] { return 150; };
        const auto logLine = [&](const QString &line) { log << line; };
        switchOverlay(true, overlay, &mainWindow, speed, logLine);
        QVERIFY(overlay);
        QVERIFY(overlay->isVisible());
        QVERIFY(mainWindow.isVisible());
        QVERIFY(overlay->windowFlags().testFlag(Qt::WindowTransparentForInput));
        QVERIFY(overlay->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
        QVERIFY(overlay->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(overlay->windowFlags().testFlag(Qt::FramelessWindowHint));
        overlay->AddComment(u"x"_s);
        QPointer<TForm3> first = overlay.get();
        switchOverlay(false, overlay, &mainWindow, speed, logLine);
        QVERIFY(!overlay);
        QVERIFY(!first);
        switchOverlay(true, overlay, &mainWindow, speed, logLine);
        QVERIFY(overlay->comments().isEmpty());
        QCOMPARE(log.size(), 2);
    }
};

QTEST_MAIN(TestOverlayWidget)
#include "tst_overlaywidget.moc"
