#pragma once

// An in-process path from the client layer to the simulator's protocol server: commands go
// straight to the ApiServer, and everything that comes back unasked (notifications, late
// replies, the service appearing or leaving) is delivered from the event loop, in order.

#include "apiserver.h"
#include "transport.h"

#include <QList>
#include <QPointer>

#include <functional>

class LoopbackTransport final : public Transport
{
    Q_OBJECT
public:
    explicit LoopbackTransport(ApiServer *server, QObject *parent = nullptr);
    ~LoopbackTransport() override;

    bool isServiceAvailable() const override { return m_available; }
    QString invoke(const QString &command, int timeoutMs) override;
    void invokeAsync(const QString &command, int timeoutMs, ReplyHandler done) override;

    // The client's service leaves (the server forgets this client) or comes back as a new client.
    void setServiceAvailable(bool available);
    ApiServer::ClientId clientId() const { return m_client; }

private:
    void enqueue(std::function<void()> delivery);
    void deliverQueued();

    QPointer<ApiServer> m_server;
    ApiServer::ClientId m_client = 0;
    bool m_available = true;
    QList<std::function<void()>> m_queue;
    bool m_deliveryPosted = false;
};
