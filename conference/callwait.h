#pragma once

// Waiting inside an add without spinning: a nested event loop that other handlers run in
// (further chat messages, call-status changes, the restart timer), woken by a call-status
// notification, by a short tick, or by the connection going away.

#include <QDeadlineTimer>
#include <QPointer>

class ConferenceHost;
class TSkype;

// The connection an add started on. Once it has gone, none of its objects may be touched.
class ConnectionWatch final
{
public:
    explicit ConnectionWatch(const ConferenceHost &host);
    bool gone() const;
    TSkype *skype() const { return m_skype; }

private:
    const ConferenceHost &m_host;
    QPointer<TSkype> m_skype;
    quint64 m_generation;
};

enum class Wake {
    CallChanged, // some call of the connection changed status
    Due,         // until ran out
    Closing,     // the program is closing
    Gone,        // the connection was restarted or lost
};

// Returns at once when the wait should not start; otherwise runs the event loop until one of
// the reasons above. Looks at closing and the connection every tickMs, with no client traffic.
Wake waitForCall(const ConferenceHost &host, const ConnectionWatch &watch, const QDeadlineTimer &until,
                 int tickMs);
