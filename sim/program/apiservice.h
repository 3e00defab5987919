#pragma once

#include "apiserver.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QHash>
#include <QObject>
#include <QString>

class QDBusServiceWatcher;
class TrafficLog;

// Serves the client's API on the bus from an ApiServer. Each sender's unique bus name is one
// client, dropped when that name leaves the bus. Nothing here waits on a client: replies and
// notifications are sent and forgotten.
class ApiService final : public QObject, protected QDBusContext
{
    Q_OBJECT
public:
    ApiService(ApiServer *server, TrafficLog *traffic, const QDBusConnection &connection,
               QObject *parent = nullptr);
    ~ApiService() override;

    // Exports the API object; must happen before the service name is taken, so no client can
    // find the name without the object behind it.
    bool exportObject();
    QStringList clientNames() const;

public slots:
    // The API's only method: one command text in, its reply text out (possibly later).
    QString Invoke(const QString &command);

signals:
    void clientsChanged();

private:
    ApiServer::ClientId clientFor(const QString &busName);
    void dropClient(const QString &busName);
    void sendNotification(ApiServer::ClientId client, const QString &text);

    ApiServer *m_server;
    TrafficLog *m_traffic;
    QDBusConnection m_connection;
    QDBusServiceWatcher *m_watcher;
    QHash<QString, ApiServer::ClientId> m_clientByName;
    QHash<ApiServer::ClientId, QString> m_nameByClient;
};
