#pragma once

// The conference driven from the chat: the host state, the chat commands, adding a participant,
// call tracking with the active-call list, and silent mode. One object per program run; the
// main window forwards the client's events and its button clicks here.

#include "conferencehost.h"

#include <skype.h>

#include <QObject>

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

    // Call tracking (calltracking.cpp).
    void SkypeCallStatus(const ICall &call, int status);
    void UpdateActiveCalls();
    int InProgressCalls();

    // Silent mode (silentmode.cpp).
    void SilentClick();
    void AnnounceSilentMode();

private:
    ConferenceHost &m_host;
};
