#pragma once

// Serves the client's API text protocol from the simulated world to any number of clients
// (the D-Bus service and the in-process loopback both sit on this).

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class World;

class ApiServer final : public QObject
{
    Q_OBJECT
public:
    using ClientId = quint64;
    using Reply = std::function<void(const QString &reply)>;

    explicit ApiServer(World *world, QObject *parent = nullptr);
    ~ApiServer() override;

    ClientId addClient();
    void removeClient(ClientId client);

    // Answers one command. reply is called at once, except for an attach request that waits
    // for the person to allow it (autoAllow off), which is answered from resolveAuthorization.
    void invoke(ClientId client, const QString &command, const Reply &reply);

    bool autoAllow() const;
    void setAutoAllow(bool on);
    void resolveAuthorization(ClientId client, bool allow);

signals:
    // A notification for one attached client; emitted for every attached client in turn.
    void notify(ApiServer::ClientId client, const QString &text);
    void authorizationRequested(ApiServer::ClientId client, const QString &programName);
    // Every command served with its reply, and every notification sent, for the traffic pane.
    void served(ApiServer::ClientId client, const QString &command, const QString &reply);
    void notified(const QString &text);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
