#pragma once

// A main window stand-in for the conference logic: one client connection over the loopback to a
// simulated world whose clock the test drives, and a record of everything the logic asked of
// the window (log lines, the call list, overlay comments, restart timer, stay-on-top).

#include "conference.h"
#include "conferencehost.h"

#include <apiserver.h>
#include <loopbacktransport.h>
#include <skype.h>
#include <world.h>

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

struct Served
{
    ApiServer::ClientId client;
    QString command;
    QString reply;
};

class FakeHost final : public QObject, public ConferenceHost
{
    Q_OBJECT
public:
    explicit FakeHost(WorldSetup setup)
        : world(std::move(setup))
        , server(&world)
        , conference(*this)
    {
        connect(&server, &ApiServer::served, this,
                [this](ApiServer::ClientId client, const QString &command, const QString &reply) {
                    served.append({client, command, reply});
                });
        // The world's clock runs ten times faster than the wall clock while the test waits.
        pacer.setInterval(5);
        connect(&pacer, &QTimer::timeout, this, [this] { world.advanceBy(50); });
    }

    ~FakeHost() override
    {
        for (const QPointer<TSkype> &old : std::as_const(m_retired))
            delete old.data();
        delete m_skype.data();
    }

    // A new client connection; the old one, if any, is deleted later, as a restart from inside
    // one of its own events must.
    void connectClient()
    {
        if (m_skype) {
            m_skype->deleteLater();
            m_retired.append(m_skype);
        }
        auto transport = std::make_unique<LoopbackTransport>(&server);
        transportOf = transport.get();
        m_skype = new TSkype(std::move(transport));
        ++m_generation;
        connect(m_skype, &TSkype::OnAttachmentStatus, this, [this](int status) { attachStatus = status; });
        connect(m_skype, &TSkype::OnMessageStatus, this, [this](const IChatMessage &message, int status) {
            seen.append({message, status});
            if (dispatch)
                guarded([&] { conference.SkypeMessageStatus(message, status); });
            handled.append({message.Id(), status});
        });
        connect(m_skype, &TSkype::OnCallStatus, this, [this](const ICall &call, int status) {
            guarded([&] { conference.SkypeCallStatus(call, status); });
        });
        attachStatus = -1;
        m_skype->Attach(8, false);
    }

    // What the main window's restart does to the conference side.
    void restart()
    {
        conference.endHosting();
        connectClient();
    }

    void guarded(const std::function<void()> &handler)
    {
        try {
            handler();
        } catch (const SkypeError &error) {
            errors.append(error.text());
        }
    }

    bool wasHandled(qint64 messageId, int status) const
    {
        for (const auto &[id, s] : handled) {
            if (id == messageId && s == status)
                return true;
        }
        return false;
    }

    // ConferenceHost
    TSkype *skype() const override { return m_skype; }
    quint64 connectionGeneration() const override { return m_generation; }
    bool closing() const override { return closingNow; }
    void Log(const QString &text) override { log.append(text); }
    void showActiveCalls(const QStringList &lines) override { callList = lines; }
    bool remoteJoinAllowed() const override { return remoteJoin; }
    bool remoteRebootAllowed() const override { return remoteReboot; }
    bool overlayMode() const override { return overlay; }
    void addComment(const QString &text) override { comments.append(text); }
    void armRestartTimer() override { ++restartArms; }
    void setStayOnTop(bool on) override { stayOnTop.append(on); }

    World world;
    ApiServer server;
    Conference conference;
    QTimer pacer;
    LoopbackTransport *transportOf = nullptr;

    bool dispatch = true;
    bool closingNow = false;
    bool remoteJoin = false;
    bool remoteReboot = false;
    bool overlay = false;

    int attachStatus = -1;
    QList<Served> served;
    QList<std::pair<IChatMessage, int>> seen;
    QList<std::pair<int, int>> handled;
    QStringList errors;
    QStringList log;
    QStringList callList;
    QStringList comments;
    int restartArms = 0;
    QList<bool> stayOnTop;

private:
    QPointer<TSkype> m_skype;
    QList<QPointer<TSkype>> m_retired;
    quint64 m_generation = 0;
};
