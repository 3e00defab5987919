#include "conference.h"

#include <protocol.h>

using namespace Qt::StringLiterals;

void Conference::SkypeCallStatus(const ICall &call, int status)
{
    if (status == Protocol::CallFinished) {
        const QString partner = call.PartnerHandle();
        m_host.Log(partner + u" dropped (from the conference)."_s);
        if (Hosting == 1 && HostChat)
            HostChat->SendMessage(partner + u" dropped from the conference."_s);
        if (InProgressCalls() == 0) {
            m_host.Log(u"All active calls are now finished."_s);
            m_host.Log(u"To start hosting again, type /host in Skype chat."_s);
            endHosting();
        }
    }
    UpdateActiveCalls();
}

void Conference::UpdateActiveCalls()
{
    TSkype *skype = m_host.skype();
    if (!skype)
        return;
    QStringList lines;
    try {
        if (skype->ActiveCalls().Count() == 0) {
            lines.append(u"No active calls."_s);
        } else {
            const int count = skype->ActiveCalls().Count();
            for (int position = 1; position <= count; ++position) {
                const QString partner = skype->ActiveCalls().Item(position).PartnerHandle();
                const int status = skype->ActiveCalls().Item(position).Status();
                lines.append(partner + u' ' + skype->Convert().CallStatusToText(status));
            }
        }
    } catch (...) {
        // The lines read so far stay; the next refresh rebuilds the list.
        m_host.showActiveCalls(lines);
        throw;
    }
    m_host.showActiveCalls(lines);
}

int Conference::InProgressCalls()
{
    TSkype *skype = m_host.skype();
    if (!skype)
        return 0;
    int inProgress = 0;
    const int count = skype->ActiveCalls().Count();
    for (int position = 1; position <= count; ++position) {
        if (skype->ActiveCalls().Item(position).Status() == Protocol::CallInProgress)
            ++inProgress;
    }
    return inProgress;
}
