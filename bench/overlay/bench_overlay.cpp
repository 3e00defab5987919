// One overlay tick (move every comment, repaint what moved into a 1920x1080 image) against the
// plain per-label design: one QLabel per comment, never dropped, step parsed from text each tick.

#include "commentfield.h"
#include "tform3.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int Width = 1920;
constexpr int Height = 1080;
const QStringList Texts = {u"こんにちは、会議に参加します"_s,
                           u"/join"_s,
                           u"Tom & Jerry"_s,
                           u"lol"_s,
                           u"The quick brown fox jumps over the lazy dog"_s,
                           u"日本語のコメント"_s};

double residentMiB()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

QFont commentFont()
{
    QFont font = QApplication::font();
    font.setPointSize(20);
    return font;
}

// The overlay as built.
struct Overlay
{
    Overlay()
        : form([this] { return speed; }, {})
    {
        form.resize(Width, Height);
        image.fill(Qt::transparent);
    }
    void add(int i) { form.AddComment(Texts[i % Texts.size()]); }
    void tick()
    {
        form.Timer1Timer();
        const QRegion dirty = form.lastRepaint();
        if (!dirty.isEmpty())
            form.render(&image, dirty.boundingRect().topLeft(), dirty);
    }
    void stopTimer() { form.findChild<QTimer *>()->stop(); }
    int speed = 500;
    TForm3 form;
    QImage image{Width, Height, QImage::Format_ARGB32_Premultiplied};
};

// The plain reading: a label per comment, a single lane pass over all of them, the step kept as
// text and parsed at every tick, nothing ever removed, the whole window rendered.
struct Labels
{
    Labels()
    {
        parent.resize(Width, Height);
        image.fill(Qt::transparent);
    }
    int freeLane() const
    {
        int candidate = 0;
        for (size_t i = 0; i < labels.size(); ++i)
            if (lanes[i] == candidate && labels[i]->x() + labels[i]->width() + 20 > Width)
                ++candidate;
        return candidate;
    }
    void add(int i)
    {
        auto *label = new QLabel(&parent);
        label->setFont(font);
        label->setText(Texts[i % Texts.size()]);
        label->adjustSize();
        const int lane = freeLane();
        label->move(Width, label->height() * lane);
        hints.push_back(QString::number((double(Width) + label->width()) / speed, 'g', 15));
        lanes.push_back(lane);
        labels.push_back(label);
        label->show();
    }
    void move()
    {
        for (size_t i = 0; i < labels.size(); ++i)
            labels[i]->move(labels[i]->x() - CommentField::roundHalfEven(hints[i].toDouble()),
                            labels[i]->y());
    }
    void tick()
    {
        move();
        image.fill(Qt::transparent);
        parent.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    }
    void stopTimer() {}
    int speed = 500;
    QFont font = commentFont();
    QWidget parent;
    std::vector<QLabel *> labels;
    std::vector<int> lanes;
    std::vector<QString> hints;
    QImage image{Width, Height, QImage::Format_ARGB32_Premultiplied};
};

void modelTick(Overlay &o)
{
    o.form.Timer1Timer();
}
void modelTick(Labels &l)
{
    l.move();
}

// N comments in flight, spread over the screen as a steady stream leaves them: added over 400
// ticks at the slowest speed, so none leaves during the 100 measured ticks.
template <typename Scene> void warmUp(Scene &scene, int inFlight, int firstIndex = 0)
{
    scene.speed = 500;
    int added = 0;
    for (int t = 0; t < 400; ++t) {
        const int due = int(qint64(inFlight) * (t + 1) / 400);
        while (added < due)
            scene.add(firstIndex + added++);
        scene.stopTimer();
        modelTick(scene);
    }
}

// 100,000 comments through at the default speed, 100 per tick, and all of them gone by the end.
template <typename Scene> void stream(Scene &scene)
{
    scene.speed = 150;
    for (int i = 0; i < 100000;) {
        for (int k = 0; k < 100; ++k)
            scene.add(i++);
        scene.stopTimer();
        modelTick(scene);
    }
    for (int t = 0; t < 300; ++t)
        modelTick(scene);
}

template <typename Scene> void inFlight(benchmark::State &state)
{
    Scene scene;
    warmUp(scene, int(state.range(0)));
    for (auto _ : state)
        scene.tick();
    state.counters["in_flight"] = double(state.range(0));
}

template <typename Scene> void afterPassed(benchmark::State &state)
{
    const double before = residentMiB();
    auto scene = std::make_unique<Scene>();
    stream(*scene);
    warmUp(*scene, int(state.range(0)), 100000);
    for (auto _ : state)
        scene->tick();
    state.counters["in_flight"] = double(state.range(0));
    state.counters["rss_MiB"] = residentMiB();
    state.counters["rss_growth_MiB"] = residentMiB() - before;
}

} // namespace

BENCHMARK(inFlight<Overlay>)
    ->Name("tick/overlay")
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(100)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(inFlight<Labels>)
    ->Name("tick/labels")
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(100)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(afterPassed<Overlay>)
    ->Name("tick_after_100000/overlay")
    ->Arg(100)
    ->Iterations(100)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(afterPassed<Labels>)
    ->Name("tick_after_100000/labels")
    ->Arg(100)
    ->Iterations(100)
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
