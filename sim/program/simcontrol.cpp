#include "simcontrol.h"

#include "dbusnames.h"
#include "protocol.h"
#include "trafficlog.h"
#include "world.h"

#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace {

QString toJson(const QJsonArray &array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

} // namespace

SimControl::SimControl(World *world, ApiServer *server, TrafficLog *traffic,
                       const QDBusConnection &connection, QObject *parent)
    : QObject(parent)
    , m_world(world)
    , m_server(server)
    , m_traffic(traffic)
    , m_connection(connection)
{
    connect(m_server, &ApiServer::served, this,
            [this](ApiServer::ClientId, const QString &command, const QString &reply) {
                emitSignal(u"Served"_s, {command, reply});
            });
    connect(m_server, &ApiServer::notified, this, [this](const QString &text) {
        m_traffic->add(TrafficLog::Kind::Notification, {}, text);
        emitSignal(u"Notified"_s, {text});
    });
    connect(m_server, &ApiServer::authorizationRequested, this,
            [this](ApiServer::ClientId client, const QString &program) {
                m_pendingAuthorizations.append(client);
                m_traffic->add(TrafficLog::Kind::Event, program, u"asks to attach; waiting for permission"_s);
                emitSignal(u"AuthorizationRequested"_s, {program});
            });
}

SimControl::~SimControl()
{
    m_connection.unregisterObject(DBusNames::SimControlPath);
}

bool SimControl::exportObject()
{
    return m_connection.registerObject(DBusNames::SimControlPath, DBusNames::SimControlInterface, this,
                                       QDBusConnection::ExportAllSlots);
}

void SimControl::emitSignal(const QString &name, const QVariantList &arguments)
{
    QDBusMessage signal =
        QDBusMessage::createSignal(DBusNames::SimControlPath, DBusNames::SimControlInterface, name);
    signal.setArguments(arguments);
    m_connection.send(signal);
}

void SimControl::fail(const QString &text)
{
    if (calledFromDBus())
        sendErrorReply(DBusNames::SimControlInterface + u".Error"_s, text);
}

bool SimControl::check(const Outcome &outcome)
{
    if (outcome.ok())
        return true;
    fail(u"%1 (client error %2)"_s.arg(outcome.text).arg(outcome.code));
    return false;
}

QString SimControl::findChat(const QString &chat) const
{
    if (m_world->chat(chat))
        return chat;
    if (m_world->contact(chat)) {
        const QString dialog = World::dialogChatName(m_world->account().handle, chat);
        if (m_world->chat(dialog))
            return dialog;
    }
    QString byTopic;
    for (const Chat &candidate : m_world->chats()) {
        if (candidate.topic.isEmpty() || candidate.topic != chat)
            continue;
        if (!byTopic.isEmpty())
            return {}; // two chats share that topic: the caller must name one
        byTopic = candidate.name;
    }
    return byTopic;
}

int SimControl::Say(const QString &sender, const QString &chat, const QString &text)
{
    const QString name = findChat(chat);
    if (name.isEmpty()) {
        fail(u"No chat \"%1\": give a chat name, a contact's handle or a chat's topic"_s.arg(chat));
        return 0;
    }
    const Outcome outcome = m_world->say(sender, name, text);
    return check(outcome) ? int(outcome.value) : 0;
}

void SimControl::Answer(int call)
{
    check(m_world->remoteAnswer(call));
}

void SimControl::Refuse(int call)
{
    check(m_world->remoteRefuse(call));
}

void SimControl::Busy(int call)
{
    check(m_world->remoteBusy(call));
}

void SimControl::HangUp(int call)
{
    check(m_world->remoteHangUp(call));
}

void SimControl::Hold(int call)
{
    check(m_world->holdCall(call));
}

void SimControl::Resume(int call)
{
    check(m_world->resumeCall(call));
}

void SimControl::LocalHangUp(int call)
{
    check(m_world->hangUpCall(call));
}

void SimControl::LocalAnswer(int call)
{
    check(m_world->answerCall(call));
}

int SimControl::PlaceCall(const QString &handle)
{
    const Outcome outcome = m_world->placeCall({handle});
    return check(outcome) ? int(outcome.value) : 0;
}

int SimControl::CallMe(const QString &from)
{
    const Outcome outcome = m_world->callLocalUser(from);
    return check(outcome) ? int(outcome.value) : 0;
}

void SimControl::SetBehaviour(const QString &handle, const QString &behaviour, int delayMs)
{
    std::optional<Behaviour> parsed = Behaviour::fromText(behaviour);
    if (!parsed) {
        fail(u"Unknown behaviour \"%1\": use answer, refuse, busy, noanswer, never or offline"_s.arg(
            behaviour));
        return;
    }
    if (delayMs >= 0)
        parsed->delayMs = delayMs;
    if (!m_world->setBehaviour(handle, *parsed))
        fail(u"No contact \"%1\""_s.arg(handle));
}

void SimControl::SetSilentMode(bool on)
{
    m_world->setSilentMode(on);
}

void SimControl::SetAutoAllow(bool on)
{
    m_server->setAutoAllow(on);
    emit autoAllowChanged(on);
}

void SimControl::resolveAuthorization(ApiServer::ClientId client, bool allow)
{
    if (m_pendingAuthorizations.removeAll(client) > 0)
        m_server->resolveAuthorization(client, allow);
}

int SimControl::Authorize(bool allow)
{
    const QList<ApiServer::ClientId> pending = std::exchange(m_pendingAuthorizations, {});
    for (const ApiServer::ClientId client : pending)
        m_server->resolveAuthorization(client, allow);
    return int(pending.size());
}

void SimControl::Reset()
{
    m_world->reset();
}

QString SimControl::Chats()
{
    QJsonArray array;
    for (const Chat &chat : m_world->chats()) {
        array.append(QJsonObject{
            {u"name"_s, chat.name},
            {u"topic"_s, chat.topic},
            {u"members"_s, QJsonArray::fromStringList(chat.members)},
            {u"dialog"_s, chat.dialog},
        });
    }
    return toJson(array);
}

QString SimControl::Messages(const QString &chat)
{
    const QString name = findChat(chat);
    if (name.isEmpty()) {
        fail(u"No chat \"%1\": give a chat name, a contact's handle or a chat's topic"_s.arg(chat));
        return {};
    }
    QJsonArray array;
    for (const Message &message : m_world->messages(name)) {
        array.append(QJsonObject{
            {u"id"_s, message.id},
            {u"sender"_s, message.sender},
            {u"body"_s, message.body},
            {u"status"_s, Protocol::messageStatusWord(message.status)},
            {u"time"_s, message.wallTime.toString(Qt::ISODateWithMs)},
        });
    }
    return toJson(array);
}

QString SimControl::Calls()
{
    QJsonArray array;
    for (const Call &call : m_world->calls()) {
        array.append(QJsonObject{
            {u"id"_s, call.id},
            {u"partner"_s, call.partner},
            {u"direction"_s, call.direction == Call::Incoming ? u"incoming"_s : u"outgoing"_s},
            {u"status"_s, Protocol::callStatusWord(call.status)},
            {u"statusText"_s, Protocol::callStatusText(call.status)},
            {u"confId"_s, call.confId},
        });
    }
    return toJson(array);
}

QString SimControl::Contacts()
{
    QJsonArray array;
    for (const Contact &contact : m_world->contacts()) {
        array.append(QJsonObject{
            {u"handle"_s, contact.handle},
            {u"fullName"_s, contact.fullName},
            {u"behaviour"_s, contact.behaviour.toText()},
        });
    }
    return toJson(array);
}

QString SimControl::Traffic()
{
    return toJson(m_traffic->toJson());
}

void SimControl::ClearTraffic()
{
    m_traffic->clear();
}
