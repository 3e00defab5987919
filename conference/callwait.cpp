#include "callwait.h"

#include "conferencehost.h"

#include <skype.h>

#include <QEventLoop>
#include <QTimer>

#include <optional>

ConnectionWatch::ConnectionWatch(const ConferenceHost &host)
    : m_host(host)
    , m_skype(host.skype())
    , m_generation(host.connectionGeneration())
{}

bool ConnectionWatch::gone() const
{
    return m_skype.isNull() || m_host.skype() != m_skype.data() ||
           m_host.connectionGeneration() != m_generation;
}

Wake waitForCall(const ConferenceHost &host, const ConnectionWatch &watch, const QDeadlineTimer &until,
                 int tickMs)
{
    if (host.closing())
        return Wake::Closing;
    if (watch.gone())
        return Wake::Gone;
    if (until.hasExpired())
        return Wake::Due;

    QEventLoop loop;
    std::optional<Wake> reason;
    // Only flags are set in here: reading the client from inside the loop could throw through it.
    const auto wake = [&](Wake why) {
        if (!reason) {
            reason = why;
            loop.quit();
        }
    };
    QObject::connect(watch.skype(), &TSkype::OnCallStatus, &loop, [&] { wake(Wake::CallChanged); });
    QObject::connect(watch.skype(), &QObject::destroyed, &loop, [&] { wake(Wake::Gone); });

    QTimer tick;
    tick.setInterval(std::max(1, tickMs));
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (host.closing())
            wake(Wake::Closing);
        else if (watch.gone())
            wake(Wake::Gone);
        else if (until.hasExpired())
            wake(Wake::Due);
    });
    tick.start();
    loop.exec();

    // Whatever woke the loop, the handlers that ran in it may have closed or restarted.
    // Nothing of ours ending the loop means the application's exit did, which ends every loop.
    if (!reason || host.closing())
        return Wake::Closing;
    if (watch.gone())
        return Wake::Gone;
    return *reason;
}
