// The client over the bus, against the simulator program on a private session bus:
// - attach latency: the program sees the client appear (status 4) -> attached (status 0), the
//   NAME/PROTOCOL handshake included; and, for scale, simulator start -> attached;
// - one command's round trip: the raw transport, and a property read through the object model.

#include "dbustransport.h"
#include "protocol.h"
#include "simprocess.h"
#include "skype.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

template <typename Predicate> bool waitUntil(Predicate done, int timeoutMs = 10000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// A TSkype that attaches whenever the client appears, stamping when it saw each status.
struct Program
{
    Program()
        : skype(std::make_unique<TSkype>(std::make_unique<DBusTransport>()))
    {
        TSkype *s = skype.get();
        QObject::connect(s, &TSkype::OnAttachmentStatus, s, [this, s](int status) {
            last = status;
            if (status == Protocol::AttachAvailable) {
                availableNs = clock.nsecsElapsed();
                s->Attach(Protocol::Version, false);
            } else if (status == Protocol::AttachSuccess) {
                attachedNs = clock.nsecsElapsed();
            }
        });
        clock.start();
    }

    std::unique_ptr<TSkype> skype;
    QElapsedTimer clock;
    int last = -2;
    qint64 availableNs = 0;
    qint64 attachedNs = 0;
};

void BM_AttachAfterServiceAppears(benchmark::State &state)
{
    Program program;
    SimProcess sim;
    for (auto _ : state) {
        program.availableNs = program.attachedNs = 0;
        const qint64 started = program.clock.nsecsElapsed();
        if (!sim.start()) {
            state.SkipWithError(qPrintable(sim.errorText()));
            break;
        }
        if (!waitUntil([&] { return program.attachedNs != 0; })) {
            state.SkipWithError("no attach within 10 s");
            break;
        }
        const bool fromStart = state.range(0) == 1;
        state.SetIterationTime(double(program.attachedNs - (fromStart ? started : program.availableNs)) /
                               1e9);
        sim.stop();
        waitUntil([&] { return program.last == Protocol::AttachNotAvailable; });
    }
}
BENCHMARK(BM_AttachAfterServiceAppears)
    ->ArgName("fromProcessStart")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);

void BM_TransportRoundTrip(benchmark::State &state)
{
    SimProcess sim;
    if (!sim.start()) {
        state.SkipWithError(qPrintable(sim.errorText()));
        return;
    }
    DBusTransport transport;
    for (auto _ : state)
        benchmark::DoNotOptimize(transport.invoke(u"PING"_s, 5000));
}
BENCHMARK(BM_TransportRoundTrip)->Unit(benchmark::kMicrosecond);

void BM_PropertyReadRoundTrip(benchmark::State &state)
{
    SimProcess sim;
    if (!sim.start()) {
        state.SkipWithError(qPrintable(sim.errorText()));
        return;
    }
    Program program;
    program.skype->Attach(Protocol::Version, false);
    if (!waitUntil([&] { return program.last == Protocol::AttachSuccess; })) {
        state.SkipWithError("no attach within 10 s");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(program.skype->CurrentUser().Handle());
}
BENCHMARK(BM_PropertyReadRoundTrip)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char *argv[])
{
    runOnPrivateSessionBus(argc, argv);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
