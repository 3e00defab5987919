#pragma once

#include "transport.h"

#include <QDBusConnection>
#include <QString>

class QDBusServiceWatcher;
class DBusNotifyReceiver;
class DBusLossWatch;

// The client on the D-Bus session bus. Every instance has its own private bus connection, so
// every TSkype is a separate client to the service (its own unique name, its own notifications).
// A bus that cannot be reached or goes away reads as "service not available", never as a hang.
class DBusTransport final : public Transport
{
    Q_OBJECT
public:
    explicit DBusTransport(QObject *parent = nullptr);
    ~DBusTransport() override;

    bool isServiceAvailable() const override;
    QString invoke(const QString &command, int timeoutMs) override;
    void invokeAsync(const QString &command, int timeoutMs, ReplyHandler done) override;

    // This connection's unique name on the bus, empty when there is no bus.
    QString uniqueName() const;

private:
    void onOwnerChanged(const QString &oldOwner, const QString &newOwner);
    void onBusDisconnected();

    QString m_connectionName;
    QDBusConnection m_connection;
    QDBusServiceWatcher *m_watcher = nullptr;
    DBusNotifyReceiver *m_receiver = nullptr;
    DBusLossWatch *m_busLossWatch = nullptr;
    bool m_serviceKnownPresent = false;
    bool m_busLost = false;
};
