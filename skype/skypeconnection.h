#pragma once

// The one path from TSkype and all of its handles to the client. The handles share it by
// reference count; TSkype closes it when it goes, after which every use throws.

#include "transport.h"

#include <QString>

#include <memory>

class SkypeConnection final
{
public:
    explicit SkypeConnection(std::unique_ptr<Transport> transport);
    ~SkypeConnection();
    SkypeConnection(const SkypeConnection &) = delete;
    SkypeConnection &operator=(const SkypeConnection &) = delete;

    // Null once closed.
    Transport *transport() const { return m_transport.get(); }
    bool isClosed() const { return !m_transport; }
    // Drops the transport. Inside one of its own deliveries it is deleted later, so the
    // transport never runs on after its own destruction.
    void close();

    // Throws unless the connection is open and the handshake has completed.
    void requireAttached() const;

    // Sends one command and returns its reply text, "ERROR ..." included; waits at most the
    // command time-out. Throws SkypeError (code 0) when not attached, on a transport failure
    // or time-out.
    QString query(const QString &command) const;
    // Sends one command without waiting; its reply is dropped.
    void post(const QString &command) const;

    int commandTimeout() const { return m_commandTimeoutMs; }
    void setCommandTimeout(int ms) { m_commandTimeoutMs = ms; }

    // Attachment state, kept here so it lives exactly as long as the transport it is about.
    bool attached = false;
    bool handshaking = false;
    bool nameAnswered = false;
    quint64 handshakeGeneration = 0;
    int attachmentStatus = -1;
    int protocol = 0;

    // Marks a delivery from the transport (a notification, a reply, a change of the service),
    // during which the transport must not be deleted outright.
    class Delivery final
    {
    public:
        explicit Delivery(std::shared_ptr<SkypeConnection> connection);
        ~Delivery();
        Delivery(const Delivery &) = delete;
        Delivery &operator=(const Delivery &) = delete;

    private:
        std::shared_ptr<SkypeConnection> m_connection;
    };

private:
    std::unique_ptr<Transport> m_transport;
    int m_commandTimeoutMs;
    int m_deliveryDepth = 0;
};
