#include "conference.h"

#include <protocol.h>

using namespace Qt::StringLiterals;

namespace {

const QString Refusal = u"It is not possible to use it."_s;

// The local user's handle first, then the pieces; the long form lists the remote commands too.
QString hostAnnouncement(const QString &localHandle, bool withRemoteCommands)
{
    QString text =
        localHandle + u" is now hosting a conference call."_s + u" Type /join to join the conference."_s;
    if (withRemoteCommands)
        text += u"\n"_s + u"Type /remote_reboot  Reboot the software."_s + u"\n"_s + u"Type /remote_host"_s;
    return text;
}

} // namespace

TSkype &Conference::connectedSkype() const
{
    TSkype *skype = m_host.skype();
    if (!skype)
        throw SkypeError(0, u"There is no connection to Skype."_s);
    return *skype;
}

void Conference::replyInHostChat(const QString &text)
{
    if (HostChat)
        HostChat->SendMessage(text);
    else
        m_host.Log(u"No hosted chat to answer in; not sent: "_s + text);
}

void Conference::SkypeMessageStatus(const IChatMessage &message, int status)
{
    if (status != Protocol::MessageSent && status != Protocol::MessageReceived)
        return;
    const bool sent = status == Protocol::MessageSent;

    // 1. Silent: typed by the local user in any chat while hosting.
    if (Hosting == 1 && sent && message.Body() == u"/silent")
        AnnounceSilentMode();

    // 2. Remote host. Every value is read before the host state changes, so a failing read
    // cannot leave Hosting set without a chat.
    if (Hosting == 0 && !sent && message.Body() == u"/remote_host") {
        const IChat chat = message.Chat();
        if (m_host.remoteJoinAllowed()) {
            const QString localHandle = connectedSkype().CurrentUser().Handle();
            HostChat = chat;
            Hosting = 1;
            HostChat->SendMessage(hostAnnouncement(localHandle, true));
        } else {
            HostChat = chat;
            HostChat->SendMessage(Refusal);
        }
    }

    // 3. Remote reboot, whatever the host state, from any chat.
    if (!sent && message.Body() == u"/remote_reboot") {
        HostChat = message.Chat();
        if (m_host.remoteRebootAllowed()) {
            HostChat->SendMessage(u"reboot"_s);
            m_host.armRestartTimer();
        } else {
            HostChat->SendMessage(Refusal);
        }
    }

    // 4. Host.
    if (sent && message.Body() == u"/host") {
        if (Hosting != 0) {
            m_host.Log(u"There is already a conference call host,"_s);
            m_host.Log(u"so we cannot host a new one."_s);
            return;
        }
        const IChat chat = message.Chat();
        m_host.Log(u"We are now hosting a conference call in "_s + chat.Topic());
        const QString localHandle = connectedSkype().CurrentUser().Handle();
        HostChat = chat;
        Hosting = 1;
        HostChat->SendMessage(hostAnnouncement(localHandle, false));
    }

    // 5. Join. An add runs the event loop, so afterwards the message may belong to a connection
    // that has gone; the overlay then gets the body already read here.
    std::optional<QString> joinBody;
    if (Hosting == 1 && !sent && HostChat && message.ChatName() == HostChat->Name()) {
        const QString from = message.FromHandle();
        if (from != connectedSkype().CurrentUser().Handle() && message.Body() == u"/join") {
            m_host.Log(u"Remote join request detected."_s);
            if (!CanCall(from)) {
                m_host.Log(u"There already is a call up with "_s + from);
                m_host.Log(u"Ignoring /join"_s);
                return;
            }
            m_host.Log(u"Adding "_s + from + u" to the conference.."_s);
            joinBody = u"/join"_s;
            AddParticipant(from);
            if (m_host.closing())
                return;
        }
    }

    // 6. Overlay.
    if (m_host.overlayMode())
        m_host.addComment(joinBody ? *joinBody : message.Body());
}
