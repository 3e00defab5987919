#pragma once

// The conference driven from the chat: the host state, the chat commands, adding a participant,
// call tracking with the active-call list, and silent mode. One object per program run; the
// main window forwards the client's events and its button clicks here.

#include "conferencehost.h"

#include <skype.h>

#include <QObject>
#include <QStringList>

#include <optional>

class Conference final : public QObject
{
    Q_OBJECT
public:
    explicit Conference(ConferenceHost &host, QObject *parent = nullptr);

    // Host state. Hosting is 0 or 1; HostChat is the hosted chat and the chat of the latest reply.
    quint8 Hosting = 0;
    std::optional<IChat> HostChat;
    void endHosting(); // no chat, not hosting (start, restart, last call finished)

    // Chat commands (dispatch.cpp).
    void SkypeMessageStatus(const IChatMessage &message, int status);

    // Adding a participant (participantadder.cpp).
    bool CanCall(const QString &handle);
    void AddParticipant(const QString &handle);

    // Bounds of the waits inside an add; tests shorten them.
    struct WaitBounds
    {
        int answerMs = 60000;      // the new call must be answered within this
        int holdCheckMs = 10000;   // calls still in progress after this no longer hold the add up
        int tickMs = 20;           // how often a wait looks at closing and the connection
        int statusRefreshMs = 500; // the new call's status is read at least this often
    };
    WaitBounds waitBounds;

    // Call tracking (calltracking.cpp).
    void SkypeCallStatus(const ICall &call, int status);
    void UpdateActiveCalls();
    int InProgressCalls();

    // Silent mode (silentmode.cpp).
    void SilentClick();
    void AnnounceSilentMode();

private:
    ConferenceHost &m_host;

    // The connection now in use; throws SkypeError when there is none.
    TSkype &connectedSkype() const;
    // Sends text to HostChat, or logs it when there is no chat to send it to.
    void replyInHostChat(const QString &text);

    // One add at a time: a "/join" accepted during an add is queued and added right after it.
    enum class AddEnd { Done, Stopped };
    AddEnd runAdd(const QString &handle);
    bool m_adding = false;
    QStringList m_pendingAdds;
};
