#pragma once

// A scripted transport: canned replies by command, every command recorded in a log that
// outlives the transport, and hooks to play the client's side (notifications, the service
// coming and going, late or lost replies).

#include "skypeerror.h"
#include "transport.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <stdexcept>

class FakeTransport final : public Transport
{
    Q_OBJECT
public:
    enum class Failure { None, SkypeErrorThrown, OtherThrown };

    FakeTransport()
        : log(std::make_shared<QStringList>())
    {
        replies.insert(QStringLiteral("NAME Lumotalk"), QStringLiteral("OK"));
        replies.insert(QStringLiteral("PROTOCOL 8"), QStringLiteral("PROTOCOL 8"));
    }

    bool isServiceAvailable() const override { return available; }

    QString invoke(const QString &command, int timeoutMs) override
    {
        log->append(command);
        lastTimeoutMs = timeoutMs;
        if (failure == Failure::SkypeErrorThrown)
            throw SkypeError(0, QStringLiteral("The client did not answer in time."));
        if (failure == Failure::OtherThrown)
            throw std::runtime_error("broken pipe");
        return replies.value(command);
    }

    void invokeAsync(const QString &command, int timeoutMs, ReplyHandler done) override
    {
        log->append(command);
        lastTimeoutMs = timeoutMs;
        if (holdAsync) {
            held.append({command, std::move(done)});
            return;
        }
        const bool ok = available && failure == Failure::None;
        const QString reply = ok ? replies.value(command) : QStringLiteral("gone");
        QTimer::singleShot(0, this, [done = std::move(done), ok, reply] { done(ok, reply); });
    }

    // Answers the oldest held asynchronous command now.
    void releaseHeld(bool ok, const QString &reply)
    {
        const Held h = held.takeFirst();
        h.done(ok, reply);
    }

    void setAvailable(bool on)
    {
        available = on;
        emit serviceAvailabilityChanged(on);
    }
    void notify(const QString &text) { emit notificationReceived(text); }

    struct Held
    {
        QString command;
        ReplyHandler done;
    };

    std::shared_ptr<QStringList> log;
    QHash<QString, QString> replies;
    bool available = true;
    bool holdAsync = false;
    Failure failure = Failure::None;
    QList<Held> held;
    int lastTimeoutMs = 0;
};
