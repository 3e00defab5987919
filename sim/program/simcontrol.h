#pragma once

#include "apiserver.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QString>

class TrafficLog;
class World;
struct Outcome;

// The simulator's control interface for scripts and tests (gdbus call / dbus-send). Failures
// come back as D-Bus error replies with a readable text. Every command the API served is
// announced by the signal Served(command, reply), every notification by Notified(text), and
// every attach waiting for permission by AuthorizationRequested(program).
class SimControl final : public QObject, protected QDBusContext
{
    Q_OBJECT
public:
    SimControl(World *world, ApiServer *server, TrafficLog *traffic, const QDBusConnection &connection,
               QObject *parent = nullptr);
    ~SimControl() override;

    bool exportObject();
    // Answers one waiting attach (the window's way); later Authorize calls skip it.
    void resolveAuthorization(ApiServer::ClientId client, bool allow);

public slots:
    // chat: a chat name, a contact's handle (their dialog chat) or a chat's exact topic.
    int Say(const QString &sender, const QString &chat, const QString &text);
    // The remote side of a call.
    void Answer(int call);
    void Refuse(int call);
    void Busy(int call);
    void HangUp(int call);
    // The local user.
    void Hold(int call);
    void Resume(int call);
    void LocalHangUp(int call);
    void LocalAnswer(int call);
    int PlaceCall(const QString &handle);
    int CallMe(const QString &from);
    // behaviour: answer, refuse, busy, noanswer, never or offline; delayMs < 0 keeps the default.
    void SetBehaviour(const QString &handle, const QString &behaviour, int delayMs);
    void SetSilentMode(bool on);
    void SetAutoAllow(bool on);
    // Allows or refuses every attach waiting for permission; returns how many there were.
    int Authorize(bool allow);
    void Reset();

    QString Chats();
    QString Messages(const QString &chat);
    QString Calls();
    QString Contacts();
    QString Traffic();
    void ClearTraffic();

signals:
    // Not on the bus: tells the window that a script changed the setting.
    void autoAllowChanged(bool on);

private:
    bool check(const Outcome &outcome);
    void fail(const QString &text);
    QString findChat(const QString &chat) const;
    void emitSignal(const QString &name, const QVariantList &arguments);

    World *m_world;
    ApiServer *m_server;
    TrafficLog *m_traffic;
    QDBusConnection m_connection;
    QList<ApiServer::ClientId> m_pendingAuthorizations;
};
