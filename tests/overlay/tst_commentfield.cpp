#include "commentfield.h"

#include <QRandomGenerator>
#include <QTest>

// The comment arithmetic: lanes, start positions, steps and motion.
class TestCommentField : public QObject
{
    Q_OBJECT

private:
    static void ticks(CommentField &field, int count)
    {
        for (int i = 0; i < count; ++i)
            field.tick();
    }

private slots:
    void firstCommentTakesLaneZeroAtTheRightEdge()
    {
        CommentField field;
        const Comment &comment = field.add(100, 30, 1000, 150);
        QCOMPARE(comment.lane, 0);
        QCOMPARE(comment.top, 0);
        QCOMPARE(comment.left, 1000);
    }

    void laneGap_data()
    {
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("expectedLane");
        // Width 1000, comment 100 wide moving 2 px a tick: its right end plus 20 reaches the
        // overlay width exactly after 60 ticks.
        QTest::newRow("still entering") << 0 << 1;
        QTest::newRow("one tick short") << 59 << 1;
        QTest::newRow("right end + 20 == width") << 60 << 0;
        QTest::newRow("well inside") << 100 << 0;
    }
    void laneGap()
    {
        QFETCH(int, ticks);
        QFETCH(int, expectedLane);
        CommentField field;
        QCOMPARE(field.add(100, 30, 1000, 500).pixelsPerTick, 2); // 1100 / 500 = 2.2
        TestCommentField::ticks(field, ticks);
        QCOMPARE(field.freeLane(1000), expectedLane);
    }

    void quickCommentsStackDownward()
    {
        CommentField field;
        for (int lane = 0; lane < 3; ++lane) {
            const Comment &comment = field.add(200, 31, 1920, 150);
            QCOMPARE(comment.lane, lane);
            QCOMPARE(comment.top, 31 * lane);
        }
    }

    void topIsOwnHeightTimesLane()
    {
        // A comment of three lines on lane 1 sits lower than a one-line comment on that lane would.
        CommentField field;
        field.add(200, 31, 1920, 150);
        QCOMPARE(field.add(200, 93, 1920, 150).top, 93);
    }

    void lanesAreNotBoundedByAnyHeight()
    {
        CommentField field;
        for (int i = 0; i < 200; ++i)
            field.add(50, 31, 1920, 150);
        QCOMPARE(field.comments().back().lane, 199);
        QCOMPARE(field.comments().back().top, 199 * 31);
    }

    void rounding_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("rounded");
        QTest::newRow("2.5") << 2.5 << 2;
        QTest::newRow("3.5") << 3.5 << 4;
        QTest::newRow("0.5") << 0.5 << 0;
        QTest::newRow("1.5") << 1.5 << 2;
        QTest::newRow("4.5") << 4.5 << 4;
        QTest::newRow("2.4999") << 2.4999 << 2;
        QTest::newRow("2.5001") << 2.5001 << 3;
        QTest::newRow("12.8") << 12.8 << 13;
        QTest::newRow("-0.5") << -0.5 << 0;
        QTest::newRow("-1.5") << -1.5 << -2;
    }
    void rounding()
    {
        QFETCH(double, value);
        QFETCH(int, rounded);
        QCOMPARE(CommentField::roundHalfEven(value), rounded);
    }

    void stepKeptToFifteenDigits()
    {
        QCOMPARE(CommentField::keptStep(1.0 / 3.0), 0.333333333333333);
        QCOMPARE(CommentField::keptStep(2020.0 / 150.0), 13.4666666666667);
        // Just above a tie in binary, a tie once stored: the stored value rounds to even.
        const double nearTie = std::nextafter(2.5, 3.0);
        QCOMPARE(CommentField::roundHalfEven(nearTie), 3);
        QCOMPARE(CommentField::roundHalfEven(CommentField::keptStep(nearTie)), 2);
    }

    void stepFromWidthsAndSpeed_data()
    {
        QTest::addColumn<int>("overlayWidth");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("speed");
        QTest::addColumn<double>("step");
        QTest::addColumn<int>("pixels");
        QTest::newRow("tie to even down") << 1000 << 5 << 402 << 2.5 << 2;
        QTest::newRow("tie to even up") << 1000 << 400 << 400 << 3.5 << 4;
        QTest::newRow("default speed") << 1920 << 100 << 150 << 13.4666666666667 << 13;
        QTest::newRow("speed 1") << 1920 << 100 << 1 << 2020.0 << 2020;
        QTest::newRow("half pixel moves one") << 100 << 150 << 500 << 0.5 << 1;
        QTest::newRow("tiny step moves one") << 100 << 10 << 500 << 0.22 << 1;
    }
    void stepFromWidthsAndSpeed()
    {
        QFETCH(int, overlayWidth);
        QFETCH(int, width);
        QFETCH(int, speed);
        QFETCH(double, step);
        QFETCH(int, pixels);
        CommentField field;
        const Comment comment = field.add(width, 31, overlayWidth, speed);
        QCOMPARE(comment.step, step);
        QCOMPARE(comment.pixelsPerTick, pixels);
        field.tick();
        if (!field.isEmpty())
            QCOMPARE(field.comments().front().left, overlayWidth - pixels);
    }

    void speedOneCrossesInOneTickAndIsGone()
    {
        CommentField field;
        field.add(100, 31, 1920, 1);
        field.tick();
        QVERIFY(field.isEmpty());
    }

    void speedIsConfined_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<double>("step");
        QTest::newRow("zero") << 0 << 2000.0;
        QTest::newRow("negative") << -40 << 2000.0;
        QTest::newRow("above maximum") << 100000 << 4.0;
        QTest::newRow("lowest") << 1 << 2000.0;
        QTest::newRow("highest") << 500 << 4.0;
    }
    void speedIsConfined()
    {
        QFETCH(int, speed);
        QFETCH(double, step);
        CommentField field;
        QCOMPARE(field.add(80, 31, 1920, speed).step, step);
    }

    void laterSpeedLeavesEarlierCommentsAlone()
    {
        CommentField field;
        field.add(80, 31, 1920, 100);
        field.add(80, 31, 1920, 250);
        QCOMPARE(field.comments()[0].pixelsPerTick, 20);
        QCOMPARE(field.comments()[1].pixelsPerTick, 8);
        field.tick();
        QCOMPARE(field.comments()[0].left, 1900);
        QCOMPARE(field.comments()[1].left, 1912);
    }

    void droppedOnceRightEndPassesLeftEdge()
    {
        // 1 px a tick from x = 100, 10 wide: the right end reaches x = 0 after 110 ticks.
        CommentField field;
        field.add(10, 31, 100, 500);
        ticks(field, 109);
        QCOMPARE(field.comments().size(), size_t(1));
        QCOMPARE(field.comments().front().left + field.comments().front().width, 1); // last pixel column 0
        int dropped = 0;
        field.tick([](const Comment &, int) {}, [&](const Comment &) { ++dropped; });
        QCOMPARE(dropped, 1);
        QVERIFY(field.isEmpty());
    }

    void fieldStaysSmallUnderAStream()
    {
        CommentField field;
        for (int i = 0; i < 20000; ++i) {
            field.add(150, 31, 1920, 150);
            field.tick();
        }
        QVERIFY(field.comments().size() <= 150);
    }

    void freeLaneSkipsALaneTakenEarlierInTheList()
    {
        // An older wide comment still entering on lane 1, a newer one entering on lane 0: a single
        // pass would hand out lane 1 on top of the older one.
        CommentField field;
        field.add(10, 31, 1000, 500);  // lane 0, narrow: frees lane 0 soon
        field.add(900, 31, 1000, 500); // lane 1, wide: blocks lane 1 long
        ticks(field, 20);
        QCOMPARE(field.freeLane(1000), 0);
        field.add(10, 31, 1000, 500); // lane 0 again, later in the list than lane 1
        QCOMPARE(field.comments().back().lane, 0);
        QCOMPARE(field.freeLane(1000), 2);
    }

    // The original single pass over every comment ever made (never dropped): wherever it finds
    // a lane that really is free, the lane choice here must be the same.
    void laneChoiceMatchesSinglePassWhereThatIsFree()
    {
        struct Plain
        {
            qint64 left;
            int width;
            int lane;
            int pixels;
        };
        std::vector<Plain> everything;
        const int overlayWidth = 800;
        const auto blocks = [&](const Plain &p, int lane) {
            return p.lane == lane && p.left + p.width + CommentField::LaneGap > overlayWidth;
        };
        QRandomGenerator random(5);
        CommentField field;
        int compared = 0;
        int singlePassOverlaps = 0;
        for (int step = 0; step < 12000; ++step) {
            if (random.bounded(4) == 0) {
                int single = 0;
                for (const Plain &p : everything)
                    if (blocks(p, single))
                        ++single;
                const bool reallyFree = std::none_of(everything.begin(), everything.end(),
                                                     [&](const Plain &p) { return blocks(p, single); });
                const int width = 1 + random.bounded(400);
                const int speed = 50 + random.bounded(250);
                const Comment &made = field.add(width, 31, overlayWidth, speed);
                if (reallyFree) {
                    QCOMPARE(made.lane, single);
                    ++compared;
                } else {
                    QVERIFY(made.lane > single);
                    ++singlePassOverlaps;
                }
                everything.push_back({made.left, width, made.lane, made.pixelsPerTick});
            }
            field.tick();
            for (Plain &p : everything)
                p.left -= p.pixels;
        }
        QVERIFY(compared > 500);
        QVERIFY(singlePassOverlaps > 100);
        QVERIFY(field.comments().size() < everything.size() / 10);
    }
};

QTEST_APPLESS_MAIN(TestCommentField)
#include "tst_commentfield.moc"
