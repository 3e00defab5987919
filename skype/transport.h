#pragma once

#include <QObject>
#include <QString>

#include <functional>

// One path to a running client: command text in, reply text out, notifications as they come.
// Implementations: the D-Bus session bus and an in-process loopback to the simulator.
class Transport : public QObject
{
    Q_OBJECT
public:
    using ReplyHandler = std::function<void(bool ok, const QString &replyOrError)>;

    using QObject::QObject;
    ~Transport() override = default;

    // Whether the client's service is there right now.
    virtual bool isServiceAvailable() const = 0;

    // Sends one command and waits for its reply, at most timeoutMs, without dispatching events.
    // Throws SkypeError (code 0) on a transport failure or time-out; the reply text is returned
    // as is, "ERROR ..." included.
    virtual QString invoke(const QString &command, int timeoutMs) = 0;

    // Sends one command and hands the reply to done later, from the event loop (never from
    // inside this call). ok is false with a readable text when the transport failed or
    // timeoutMs (< 0: no limit) ran out. done is not called once the transport is destroyed.
    virtual void invokeAsync(const QString &command, int timeoutMs, ReplyHandler done) = 0;

signals:
    // A notification text from the client, delivered from the event loop.
    void notificationReceived(const QString &text);
    // The client's service appeared on, or left, the path.
    void serviceAvailabilityChanged(bool available);
};
