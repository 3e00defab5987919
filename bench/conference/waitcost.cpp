// Runs lumotalk against skypesim on a private session bus and measures, from the simulator's side
// of the bus:
//  - the time from a "/join" notification to the program's first command, to its first hold and
//    to the new call being placed, and from the new call's end to the program's next command;
//  - the CPU time the program uses while an add waits for an answer, against the same time idle.
//
//     bench_conference_wait [--wait-seconds 20] [--runs 20] [--lumotalk PATH]

#include <simprocess.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString Me = u"me.lumo"_s;
const QString Topic = u"Lumotalk demo conference"_s;

// User plus system CPU time of a process so far, in seconds.
double cpuSeconds(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which may hold blanks, in parentheses.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble(); // utime, stime
    return ticks / double(sysconf(_SC_CLK_TCK));
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

double worst(const QList<double> &values)
{
    return values.isEmpty() ? 0 : *std::max_element(values.begin(), values.end());
}

void print(const char *what, const QList<double> &ms)
{
    std::printf("  %-58s median %5.0f ms   worst %5.0f ms   (n=%lld)\n", what, median(ms), worst(ms),
                static_cast<long long>(ms.size()));
}

} // namespace

int main(int argc, char *argv[])
{
    runOnPrivateSessionBus(argc, argv);
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption waitOption(u"wait-seconds"_s, u"How long the measured answer wait lasts."_s,
                                        u"s"_s, u"20"_s);
    const QCommandLineOption runsOption(u"runs"_s, u"How many \"/join\" requests are timed."_s, u"n"_s,
                                        u"20"_s);
    const QCommandLineOption programOption(u"lumotalk"_s, u"The program to run."_s, u"path"_s,
                                           QCoreApplication::applicationDirPath() + u"/lumotalk"_s);
    parser.addOptions({waitOption, runsOption, programOption});
    parser.process(app);
    const int waitSeconds = parser.value(waitOption).toInt();
    const int runs = parser.value(runsOption).toInt();

    SimProcess sim;
    if (!sim.start()) {
        std::fprintf(stderr, "skypesim: %s\n", qPrintable(sim.errorText()));
        return 1;
    }
    QProcess lumotalk;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    lumotalk.setProcessEnvironment(environment);
    lumotalk.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    lumotalk.setStandardOutputFile(QProcess::nullDevice());
    lumotalk.start(parser.value(programOption), {});
    if (!lumotalk.waitForStarted()) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(parser.value(programOption)));
        return 1;
    }
    const auto fail = [&](const char *what) {
        std::fprintf(stderr, "failed: %s\n", what);
        lumotalk.kill();
        lumotalk.waitForFinished();
        return 1;
    };
    if (!sim.waitServed(
            [](const QString &command, const QString &) { return command.startsWith(u"PROTOCOL"); }, 15000))
        return fail("the program did not attach");
    runFor(1000);

    // A conference: a contact's call, answered, and the group chat hosted.
    const int bob = sim.callMe(u"bob"_s);
    if (bob <= 0 || !sim.localAnswer(bob))
        return fail("no call in progress");
    if (sim.say(Me, Topic, u"/host"_s) <= 0)
        return fail("cannot type /host");
    if (!sim.waitServed(
            [](const QString &command, const QString &) { return command.contains(u"is now hosting"); }))
        return fail("not hosting");
    runFor(1000);

    // --- latency: dave is busy, so each add holds, places, fails at once and resumes ---
    QList<double> toFirst, toHold, toPlace, toReact, toResume;
    const QString resume = u"ALTER CALL %1 RESUME"_s.arg(bob);
    for (int run = 0; run < runs; ++run) {
        sim.clearTraffic();
        const int message = sim.say(u"dave"_s, Topic, u"/join"_s);
        if (message <= 0)
            return fail("cannot type /join");
        if (!sim.waitServed([&](const QString &command, const QString &) { return command == resume; },
                            10000))
            return fail("the add did not end");
        // The simulator's own record: when it sent each notification and received each command.
        const QString received = u"CHATMESSAGE %1 STATUS RECEIVED"_s.arg(message);
        std::optional<QDateTime> start, busy;
        std::optional<double> first, hold, place, react, resumed;
        for (const QJsonValue &value : sim.traffic()) {
            const QJsonObject entry = value.toObject();
            const QDateTime time = QDateTime::fromString(entry[u"time"_s].toString(), Qt::ISODateWithMs);
            const QString text = entry[u"text"_s].toString();
            const QString kind = entry[u"kind"_s].toString();
            if (kind == u"notification") {
                if (text == received)
                    start = time;
                else if (start && !busy && text.startsWith(u"CALL ") && text.endsWith(u" BUSY"))
                    busy = time;
                continue;
            }
            if (kind != u"command" || !start)
                continue;
            const double since = double(start->msecsTo(time));
            if (!first)
                first = since;
            if (!hold && text.endsWith(u" HOLD"))
                hold = since;
            if (!place && text == u"CALL dave")
                place = since;
            if (busy && !react)
                react = double(busy->msecsTo(time));
            if (busy && !resumed && text == resume)
                resumed = double(busy->msecsTo(time));
        }
        if (!first || !hold || !place || !react || !resumed)
            return fail("the traffic log lacks a step");
        toFirst.append(*first);
        toHold.append(*hold);
        toPlace.append(*place);
        toReact.append(*react);
        toResume.append(*resumed);
        runFor(300);
        sim.clearSeen();
    }

    // --- CPU: the same time idle, then waiting for an answer that comes after the measured span ---
    const double idleStart = cpuSeconds(lumotalk.processId());
    runFor(waitSeconds * 1000);
    const double idle = cpuSeconds(lumotalk.processId()) - idleStart;

    sim.setBehaviour(u"alice"_s, u"answer"_s, waitSeconds * 1000 + 5000);
    sim.clearSeen();
    if (sim.say(u"alice"_s, Topic, u"/join"_s) <= 0)
        return fail("cannot type /join");
    if (!sim.waitServed([](const QString &command, const QString &) { return command == u"CALL alice"; }))
        return fail("the call was not placed");
    const qsizetype servedBefore = sim.served().size();
    const double waitStart = cpuSeconds(lumotalk.processId());
    const double simStart = cpuSeconds(sim.pid());
    QElapsedTimer span;
    span.start();
    runFor(waitSeconds * 1000);
    const double waiting = cpuSeconds(lumotalk.processId()) - waitStart;
    const double simWaiting = cpuSeconds(sim.pid()) - simStart;
    const double seconds = span.nsecsElapsed() / 1e9;
    const qsizetype commandsWhileWaiting = sim.served().size() - servedBefore;
    const bool joined = sim.waitServed(
        [](const QString &command, const QString &) { return command.contains(u"JOIN_CONFERENCE"); }, 15000);

    std::printf("\"/join\" to the program's commands, as skypesim logged them (1 ms resolution) (%d runs):\n",
                runs);
    print("notification -> first command (reads the message)", toFirst);
    print("notification -> first ALTER CALL ... HOLD", toHold);
    print("notification -> CALL <handle> (new call placed)", toPlace);
    print("new call's BUSY notification -> next command", toReact);
    print("new call's BUSY notification -> conference resumed", toResume);
    std::printf("\nCPU time of lumotalk over %.1f s:\n", seconds);
    std::printf("  idle, hosting, no add              %6.3f s  = %5.2f %% of one core\n", idle,
                100 * idle / seconds);
    std::printf("  an add waiting for an answer       %6.3f s  = %5.2f %% of one core\n", waiting,
                100 * waiting / seconds);
    std::printf("  skypesim meanwhile                 %6.3f s  = %5.2f %% of one core\n", simWaiting,
                100 * simWaiting / seconds);
    std::printf("  commands the program sent while waiting: %lld\n",
                static_cast<long long>(commandsWhileWaiting));
    std::printf("  the add then joined the answered call: %s\n", joined ? "yes" : "NO");

    lumotalk.terminate();
    if (!lumotalk.waitForFinished(5000))
        lumotalk.kill();
    return joined ? 0 : 1;
}
