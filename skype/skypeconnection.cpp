#include "skypeconnection.h"

#include "skype.h"
#include "skypeerror.h"

using namespace Qt::StringLiterals;

SkypeConnection::SkypeConnection(std::unique_ptr<Transport> transport)
    : m_transport(std::move(transport))
    , m_commandTimeoutMs(TSkype::DefaultCommandTimeoutMs)
{
    if (!m_transport)
        throw SkypeError(0, u"No transport to the client was given."_s);
}

SkypeConnection::~SkypeConnection()
{
    close();
}

void SkypeConnection::close()
{
    attached = false;
    handshaking = false;
    ++handshakeGeneration;
    if (!m_transport)
        return;
    m_transport->disconnect();
    if (m_deliveryDepth > 0)
        m_transport.release()->deleteLater();
    else
        m_transport.reset();
}

void SkypeConnection::requireAttached() const
{
    if (!m_transport)
        throw SkypeError(0, u"The connection to the client has been closed."_s);
    if (!attached)
        throw SkypeError(0, u"Not attached to the client: the handshake has not completed."_s);
}

QString SkypeConnection::query(const QString &command) const
{
    requireAttached();
    try {
        return m_transport->invoke(command, m_commandTimeoutMs);
    } catch (const SkypeError &) {
        throw;
    } catch (const std::exception &e) {
        throw SkypeError(
            0, u"Sending \"%1\" to the client failed: %2"_s.arg(command, QString::fromLocal8Bit(e.what())));
    }
}

void SkypeConnection::post(const QString &command) const
{
    requireAttached();
    m_transport->invokeAsync(command, m_commandTimeoutMs, [](bool, const QString &) {});
}

SkypeConnection::Delivery::Delivery(std::shared_ptr<SkypeConnection> connection)
    : m_connection(std::move(connection))
{
    ++m_connection->m_deliveryDepth;
}

SkypeConnection::Delivery::~Delivery()
{
    --m_connection->m_deliveryDepth;
}
