#include "dbustransport.h"

#include "dbusnames.h"
#include "skypeerror.h"

#include <QAtomicInteger>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>

#include <climits>

using namespace Qt::StringLiterals;

// The object the client calls with every notification; it hands on what comes from the
// client's current owner of the API name. Anyone else on the bus cannot fake a notification.
class DBusNotifyReceiver final : public QObject, protected QDBusContext
{
    Q_OBJECT
public:
    using QObject::QObject;
    QString client; // the unique name now owning the API name

public slots:
    void Notify(const QString &text)
    {
        if (calledFromDBus() && (client.isEmpty() || message().service() != client))
            return;
        emit received(text);
    }

signals:
    void received(const QString &text);
};

// Hears the bus's local "Disconnected" signal, which only the string-based connect can name.
class DBusLossWatch final : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

public slots:
    void disconnected() { emit lost(); }

signals:
    void lost();
};

namespace {

QString nextConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return u"lumotalk-transport-%1"_s.arg(counter.fetchAndAddRelaxed(1) + 1);
}

// Libdbus treats INT_MAX as "wait for ever"; the bus still answers with an error when the
// service leaves without replying, so such a wait ends when the client goes.
int busTimeout(int timeoutMs)
{
    if (timeoutMs < 0)
        return INT_MAX;
    return qMax(timeoutMs, 1);
}

const QString LocalPath = u"/org/freedesktop/DBus/Local"_s;
const QString LocalInterface = u"org.freedesktop.DBus.Local"_s;
const QString LocalDisconnected = u"Disconnected"_s;

QString describe(const QDBusError &error, int timeoutMs)
{
    switch (error.type()) {
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        if (error.message().contains(u"disconnected"_s, Qt::CaseInsensitive))
            return u"The client left the bus without answering"_s;
        return u"The client did not answer within %1 ms"_s.arg(timeoutMs);
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
        return u"The client is not running on the session bus"_s;
    case QDBusError::Disconnected:
        return u"The connection to the session bus is lost"_s;
    default:
        return u"D-Bus error %1: %2"_s.arg(error.name(), error.message());
    }
}

QDBusMessage invokeMessage(const QString &command)
{
    QDBusMessage message = QDBusMessage::createMethodCall(DBusNames::ApiService, DBusNames::ApiPath,
                                                          DBusNames::ApiInterface, DBusNames::ApiInvoke);
    message << command;
    return message;
}

// The reply text of an answered Invoke, or false with a readable text.
bool readReply(const QDBusMessage &reply, int timeoutMs, QString &text)
{
    if (reply.type() == QDBusMessage::ErrorMessage) {
        text = describe(QDBusError(reply), timeoutMs);
        return false;
    }
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1 ||
        reply.arguments().constFirst().metaType() != QMetaType::fromType<QString>()) {
        text = u"The client's answer on the bus is not a single text"_s;
        return false;
    }
    text = reply.arguments().constFirst().toString();
    return true;
}

} // namespace

DBusTransport::DBusTransport(QObject *parent)
    : Transport(parent)
    , m_connectionName(nextConnectionName())
    , m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName))
{
    if (!m_connection.isConnected())
        return;

    m_receiver = new DBusNotifyReceiver(this);
    connect(m_receiver, &DBusNotifyReceiver::received, this, &Transport::notificationReceived);
    m_connection.registerObject(DBusNames::ClientPath, DBusNames::ClientInterface, m_receiver,
                                QDBusConnection::ExportAllSlots);

    m_watcher = new QDBusServiceWatcher(DBusNames::ApiService, m_connection,
                                        QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &oldOwner, const QString &newOwner) {
                onOwnerChanged(oldOwner, newOwner);
            });

    m_busLossWatch = new DBusLossWatch(this);
    connect(m_busLossWatch, &DBusLossWatch::lost, this, &DBusTransport::onBusDisconnected);
    m_connection.connect(QString(), LocalPath, LocalInterface, LocalDisconnected, m_busLossWatch,
                         SLOT(disconnected()));

    const QDBusReply<QString> owner = m_connection.interface()->serviceOwner(DBusNames::ApiService);
    if (owner.isValid() && !owner.value().isEmpty()) {
        m_receiver->client = owner.value();
        m_serviceKnownPresent = true;
    }
}

DBusTransport::~DBusTransport()
{
    // Everything the connection knows of goes while the connection is still alive: Qt tears a
    // connection down on its own thread, and must not meet objects this thread is freeing.
    const auto watchers = findChildren<QDBusPendingCallWatcher *>(Qt::FindDirectChildrenOnly);
    qDeleteAll(watchers);
    delete m_watcher;
    if (m_busLossWatch) {
        m_connection.disconnect(QString(), LocalPath, LocalInterface, LocalDisconnected, m_busLossWatch,
                                SLOT(disconnected()));
        delete m_busLossWatch;
    }
    if (m_receiver) {
        m_connection.unregisterObject(DBusNames::ClientPath);
        delete m_receiver;
    }
    QDBusConnection::disconnectFromBus(m_connectionName);
}

QString DBusTransport::uniqueName() const
{
    return m_connection.isConnected() ? m_connection.baseService() : QString();
}

bool DBusTransport::isServiceAvailable() const
{
    if (m_busLost || !m_connection.isConnected())
        return false;
    const QDBusReply<bool> registered = m_connection.interface()->isServiceRegistered(DBusNames::ApiService);
    return registered.isValid() && registered.value();
}

QString DBusTransport::invoke(const QString &command, int timeoutMs)
{
    if (m_busLost || !m_connection.isConnected())
        throw SkypeError(0, u"The session bus is not reachable"_s);
    const QDBusMessage reply = m_connection.call(invokeMessage(command), QDBus::Block, busTimeout(timeoutMs));
    QString text;
    if (!readReply(reply, timeoutMs, text))
        throw SkypeError(0, text);
    return text;
}

void DBusTransport::invokeAsync(const QString &command, int timeoutMs, ReplyHandler done)
{
    if (m_busLost || !m_connection.isConnected()) {
        QMetaObject::invokeMethod(
            this, [done = std::move(done)] { done(false, u"The session bus is not reachable"_s); },
            Qt::QueuedConnection);
        return;
    }
    const QDBusPendingCall call = m_connection.asyncCall(invokeMessage(command), busTimeout(timeoutMs));
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [timeoutMs, done = std::move(done)](QDBusPendingCallWatcher *finished) {
                // The handler may destroy this transport; the watcher must not die under it.
                finished->setParent(nullptr);
                finished->deleteLater();
                QString text;
                const bool ok = readReply(finished->reply(), timeoutMs, text);
                done(ok, text);
            });
}

void DBusTransport::onOwnerChanged(const QString &oldOwner, const QString &newOwner)
{
    if (m_busLost)
        return;
    m_receiver->client = newOwner;
    if (!oldOwner.isEmpty() && m_serviceKnownPresent) {
        m_serviceKnownPresent = false;
        emit serviceAvailabilityChanged(false);
    }
    if (!newOwner.isEmpty()) {
        m_serviceKnownPresent = true;
        emit serviceAvailabilityChanged(true);
    }
}

void DBusTransport::onBusDisconnected()
{
    if (m_busLost)
        return;
    m_busLost = true;
    if (m_serviceKnownPresent) {
        m_serviceKnownPresent = false;
        emit serviceAvailabilityChanged(false);
    }
}

#include "dbustransport.moc"
