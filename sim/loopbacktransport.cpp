#include "loopbacktransport.h"

#include "skypeerror.h"

#include <QPointer>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;

LoopbackTransport::LoopbackTransport(ApiServer *server, QObject *parent)
    : Transport(parent)
    , m_server(server)
    , m_client(server->addClient())
{
    connect(m_server, &ApiServer::notify, this, [this](ApiServer::ClientId client, const QString &text) {
        if (client != m_client || !m_available)
            return;
        enqueue([this, text] { emit notificationReceived(text); });
    });
}

LoopbackTransport::~LoopbackTransport()
{
    if (m_available && m_server)
        m_server->removeClient(m_client);
}

QString LoopbackTransport::invoke(const QString &command, int timeoutMs)
{
    if (!m_available || !m_server)
        throw SkypeError(0, u"The client's service is not available."_s);
    // The server may keep the reply for later (an attach waiting for the person); it then
    // lands in state that outlives this call, not on this stack.
    auto state = std::make_shared<std::optional<QString>>();
    m_server->invoke(m_client, command, [state](const QString &reply) { *state = reply; });
    if (!state->has_value())
        throw SkypeError(0, u"The client did not answer within %1 ms."_s.arg(timeoutMs));
    return **state;
}

void LoopbackTransport::invokeAsync(const QString &command, int timeoutMs, ReplyHandler done)
{
    struct Pending
    {
        ReplyHandler done;
        bool finished = false;
    };
    auto pending = std::make_shared<Pending>(Pending{std::move(done)});
    const auto finish = [this, pending](bool ok, const QString &text) {
        if (pending->finished)
            return;
        pending->finished = true;
        enqueue([pending, ok, text] { pending->done(ok, text); });
    };

    if (!m_available || !m_server) {
        finish(false, u"The client's service is not available."_s);
        return;
    }
    const QPointer<LoopbackTransport> self(this);
    const ApiServer::ClientId client = m_client;
    m_server->invoke(m_client, command, [self, client, finish](const QString &reply) {
        // A reply for a client that has since gone (transport destroyed, service restarted) is dropped.
        if (self && self->m_client == client && self->m_available)
            finish(true, reply);
    });
    if (!pending->finished && timeoutMs >= 0) {
        QTimer::singleShot(timeoutMs, this, [finish, timeoutMs] {
            finish(false, u"The client did not answer within %1 ms."_s.arg(timeoutMs));
        });
    }
}

void LoopbackTransport::setServiceAvailable(bool available)
{
    if (available == m_available)
        return;
    m_available = available;
    if (m_server) {
        if (available)
            m_client = m_server->addClient();
        else
            m_server->removeClient(m_client);
    }
    enqueue([this, available] { emit serviceAvailabilityChanged(available); });
}

void LoopbackTransport::enqueue(std::function<void()> delivery)
{
    m_queue.append(std::move(delivery));
    if (m_deliveryPosted)
        return;
    m_deliveryPosted = true;
    QMetaObject::invokeMethod(this, &LoopbackTransport::deliverQueued, Qt::QueuedConnection);
}

void LoopbackTransport::deliverQueued()
{
    m_deliveryPosted = false;
    const QPointer<LoopbackTransport> self(this);
    // One at a time, so whatever a receiver queues meanwhile stays behind what was there first,
    // and a receiver that destroys this transport ends the delivery.
    while (self && !m_queue.isEmpty()) {
        const std::function<void()> delivery = m_queue.takeFirst();
        delivery();
    }
}
