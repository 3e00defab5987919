#include "conference.h"

using namespace Qt::StringLiterals;

namespace {

// The main window drops stay-on-top only while the command runs (the client may show a
// window of its own), and gets it back however the command ends.
class StayOnTopDropped final
{
public:
    explicit StayOnTopDropped(ConferenceHost &host)
        : m_host(host)
    {
        m_host.setStayOnTop(false);
    }
    ~StayOnTopDropped() { m_host.setStayOnTop(true); }
    StayOnTopDropped(const StayOnTopDropped &) = delete;
    StayOnTopDropped &operator=(const StayOnTopDropped &) = delete;

private:
    ConferenceHost &m_host;
};

} // namespace

void Conference::SilentClick()
{
    m_host.Log(u"Silent Mode ON"_s);
    m_host.Log(u"Error:Wait Time Out"_s);
    m_host.Log(u"Please, Click"_s);
    const StayOnTopDropped dropped(m_host);
    TSkype &skype = connectedSkype();
    const ICommand command = skype.Command(12346, u"SET SILENT_MODE ON"_s, QString(), true, 1);
    skype.SendCommand(command);
}

void Conference::AnnounceSilentMode()
{
    replyInHostChat(u"Silent Mode ON"_s);
    replyInHostChat(u"Error:Wait Time Out"_s);
    if (!connectedSkype().SilentMode())
        SilentClick();
}
