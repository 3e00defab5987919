#pragma once

// The loopback to the simulator with a gate in front: commands that start with a closed prefix
// get the client's access-denied error instead of reaching it, so a test can make one step fail.

#include <loopbacktransport.h>
#include <protocol.h>

#include <QStringList>
#include <QTimer>

class GateTransport final : public Transport
{
    Q_OBJECT
public:
    GateTransport(ApiServer *server, const QStringList *closed)
        : m_inner(new LoopbackTransport(server, this))
        , m_closed(closed)
    {
        connect(m_inner, &Transport::notificationReceived, this, &Transport::notificationReceived);
        connect(m_inner, &Transport::serviceAvailabilityChanged, this,
                &Transport::serviceAvailabilityChanged);
    }

    static QString deniedReply()
    {
        return QStringLiteral("ERROR %1 Access denied").arg(Protocol::Error::AccessDenied);
    }

    LoopbackTransport *inner() const { return m_inner; }
    bool isServiceAvailable() const override { return m_inner->isServiceAvailable(); }

    QString invoke(const QString &command, int timeoutMs) override
    {
        if (isClosed(command))
            return deniedReply();
        return m_inner->invoke(command, timeoutMs);
    }

    void invokeAsync(const QString &command, int timeoutMs, ReplyHandler done) override
    {
        if (isClosed(command)) {
            QTimer::singleShot(0, this, [done] { done(true, deniedReply()); });
            return;
        }
        m_inner->invokeAsync(command, timeoutMs, std::move(done));
    }

private:
    bool isClosed(const QString &command) const
    {
        for (const QString &prefix : *m_closed) {
            if (command.startsWith(prefix))
                return true;
        }
        return false;
    }

    LoopbackTransport *m_inner;
    const QStringList *m_closed;
};
