#include "apiservice.h"

#include "dbusnames.h"
#include "trafficlog.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QPointer>

using namespace Qt::StringLiterals;

ApiService::ApiService(ApiServer *server, TrafficLog *traffic, const QDBusConnection &connection,
                       QObject *parent)
    : QObject(parent)
    , m_server(server)
    , m_traffic(traffic)
    , m_connection(connection)
    , m_watcher(new QDBusServiceWatcher(this))
{
    m_watcher->setConnection(m_connection);
    m_watcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &ApiService::dropClient);
    connect(m_server, &ApiServer::notify, this, &ApiService::sendNotification);
}

ApiService::~ApiService()
{
    m_connection.unregisterObject(DBusNames::ApiPath);
}

bool ApiService::exportObject()
{
    return m_connection.registerObject(DBusNames::ApiPath, DBusNames::ApiInterface, this,
                                       QDBusConnection::ExportAllSlots);
}

QStringList ApiService::clientNames() const
{
    QStringList names = m_clientByName.keys();
    names.sort();
    return names;
}

QString ApiService::Invoke(const QString &command)
{
    if (!calledFromDBus())
        return {};
    const QString sender = message().service();
    const ApiServer::ClientId client = clientFor(sender);
    m_traffic->add(TrafficLog::Kind::Command, sender, command);

    // The reply may come much later (an attach the person has to allow), so it is always sent
    // by hand; the bus, not this program, holds the caller's wait.
    setDelayedReply(true);
    QDBusMessage call = message();
    QDBusConnection bus = connection();
    QPointer<TrafficLog> traffic = m_traffic;
    m_server->invoke(client, command, [call, bus, traffic, sender](const QString &reply) mutable {
        bus.send(call.createReply(reply));
        if (traffic)
            traffic->add(TrafficLog::Kind::Reply, sender, reply);
    });
    return {};
}

ApiServer::ClientId ApiService::clientFor(const QString &busName)
{
    const auto found = m_clientByName.constFind(busName);
    if (found != m_clientByName.constEnd())
        return found.value();

    const ApiServer::ClientId client = m_server->addClient();
    m_clientByName.insert(busName, client);
    m_nameByClient.insert(client, busName);
    m_watcher->addWatchedService(busName);

    // The name may have left between its call and the watch; ask the bus, without waiting.
    QDBusMessage hasOwner = QDBusMessage::createMethodCall(
        u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus"_s, u"NameHasOwner"_s);
    hasOwner << busName;
    auto *watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(hasOwner), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, busName](QDBusPendingCallWatcher *done) {
                done->deleteLater();
                const QDBusPendingReply<bool> reply = *done;
                if (reply.isValid() && !reply.value())
                    dropClient(busName);
            });

    m_traffic->add(TrafficLog::Kind::Event, busName, u"connected"_s);
    emit clientsChanged();
    return client;
}

void ApiService::dropClient(const QString &busName)
{
    const auto found = m_clientByName.constFind(busName);
    if (found == m_clientByName.constEnd())
        return;
    const ApiServer::ClientId client = found.value();
    m_clientByName.erase(found);
    m_nameByClient.remove(client);
    m_watcher->removeWatchedService(busName);
    m_server->removeClient(client);
    m_traffic->add(TrafficLog::Kind::Event, busName, u"left the bus"_s);
    emit clientsChanged();
}

void ApiService::sendNotification(ApiServer::ClientId client, const QString &text)
{
    const QString busName = m_nameByClient.value(client);
    if (busName.isEmpty())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(busName, DBusNames::ClientPath,
                                                         DBusNames::ClientInterface, DBusNames::ClientNotify);
    notify << text;
    notify.setAutoStartService(false);
    // send() marks a method call as expecting no reply: a stuck client cannot hold us up.
    m_connection.send(notify);
}
