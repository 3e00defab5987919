#include "callwait.h"
#include "conference.h"

#include <protocol.h>

using namespace Qt::StringLiterals;

namespace {

bool isFailure(int status)
{
    switch (status) {
    case Protocol::CallFailed:
    case Protocol::CallMissed:
    case Protocol::CallRefused:
    case Protocol::CallBusy:
    case Protocol::CallCancelled:
        return true;
    default:
        return false;
    }
}

// Ended without being answered, though not with one of the failure statuses: nobody will
// answer it any more, so waiting on would only leave the conference held.
bool isOtherEnd(int status)
{
    return status == Protocol::CallFinished || status == Protocol::CallTransferred ||
           (status >= Protocol::CallVmBufferingGreeting && status <= Protocol::CallVmFailed);
}

// Tells our own hang-up apart from the silent-mode command (12346) in the client's replies.
constexpr int HangUpCommandId = 12347;

QString seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 3);
}

} // namespace

bool Conference::CanCall(const QString &handle)
{
    const ICallCollection calls = connectedSkype().ActiveCalls();
    const int count = calls.Count();
    for (int position = 1; position <= count; ++position) {
        const ICall call = calls.Item(position);
        if (call.PartnerHandle() == handle && call.Status() == Protocol::CallInProgress)
            return false;
    }
    return true;
}

void Conference::AddParticipant(const QString &handle)
{
    if (m_adding) {
        // Adding now would hold the half-built conference again and place a call nobody joins.
        if (m_pendingAdds.contains(handle)) {
            m_host.Log(handle + u" is already waiting to be added."_s);
        } else {
            m_pendingAdds.append(handle);
            m_host.Log(u"Another participant is being added; "_s + handle + u" will be added next."_s);
        }
        return;
    }

    m_adding = true;
    struct Reset
    {
        Conference &conference;
        ~Reset()
        {
            conference.m_adding = false;
            // An add that threw leaves the queue behind: say who was not added.
            for (const QString &dropped : std::as_const(conference.m_pendingAdds))
                conference.m_host.Log(u"Not adding "_s + dropped + u": the add before it did not finish."_s);
            conference.m_pendingAdds.clear();
        }
    } reset{*this};

    if (runAdd(handle) == AddEnd::Stopped)
        return;
    while (!m_pendingAdds.isEmpty()) {
        const QString next = m_pendingAdds.takeFirst();
        if (Hosting != 1) {
            m_host.Log(u"Not hosting any more, so "_s + next + u" is not added."_s);
            continue;
        }
        if (!CanCall(next)) {
            m_host.Log(u"There already is a call up with "_s + next);
            m_host.Log(u"Ignoring /join"_s);
            continue;
        }
        m_host.Log(u"Adding "_s + next + u" to the conference.."_s);
        if (runAdd(next) == AddEnd::Stopped)
            return;
    }
}

Conference::AddEnd Conference::runAdd(const QString &handle)
{
    const ConnectionWatch watch(m_host);
    TSkype &skype = connectedSkype();

    // Handles a wait that ended for a reason other than the calls: true when the add must stop.
    const auto stopped = [&](Wake wake) {
        if (wake == Wake::Closing) {
            m_pendingAdds.clear();
            return true;
        }
        if (wake == Wake::Gone) {
            m_host.Log(u"The connection to Skype was restarted, so adding "_s + handle + u" stopped."_s);
            return true;
        }
        return false;
    };

    if (InProgressCalls() == 0) {
        m_host.Log(u"At this point, no conference call is up."_s);
        m_host.Log(u"Placing normal call to "_s + handle);
        skype.PlaceCall(handle);
        return AddEnd::Done;
    }

    m_host.Log(u"Initiating OnHold sequence"_s);
    replyInHostChat(u"Adding "_s + handle + u" - putting the conference on hold."_s);
    {
        const ICallCollection calls = skype.ActiveCalls();
        const int count = calls.Count();
        for (int position = 1; position <= count; ++position) {
            const ICall call = calls.Item(position);
            if (call.Status() == Protocol::CallInProgress)
                call.Hold();
        }
    }

    m_host.Log(u"Initiating OnHold check sequence"_s);
    const QDeadlineTimer holdDeadline(waitBounds.holdCheckMs);
    for (;;) {
        const ICallCollection calls = skype.ActiveCalls();
        const int count = calls.Count();
        bool inProgress = false;
        for (int position = 1; position <= count && !inProgress; ++position)
            inProgress = calls.Item(position).Status() == Protocol::CallInProgress;
        if (!inProgress)
            break;
        if (holdDeadline.hasExpired()) {
            m_host.Log(u"Some calls were still in progress after "_s + seconds(waitBounds.holdCheckMs) +
                       u" seconds; placing the new call anyway."_s);
            break;
        }
        if (stopped(waitForCall(m_host, watch, holdDeadline, waitBounds.tickMs)))
            return AddEnd::Stopped;
    }
    m_host.Log(u"OnHold check sequence finished"_s);

    m_host.Log(u"Placing new call to "_s + handle);
    const ICall newCall = skype.PlaceCall(handle);

    m_host.Log(u"Waiting for the new call to become InProgress"_s);
    const QDeadlineTimer answerDeadline(waitBounds.answerMs);
    int status = Protocol::CallUnknown;
    bool timedOut = false;
    for (;;) {
        // One reading decides, so the add always ends on the success or the failure path.
        status = newCall.Status();
        if (status == Protocol::CallInProgress || isFailure(status))
            break;
        if (isOtherEnd(status)) {
            m_host.Log(u"The new call ended before it could be joined ("_s +
                       IConversion().CallStatusToText(status) + u")."_s);
            break;
        }
        if (answerDeadline.hasExpired()) {
            m_host.Log(u"The new call was not answered within "_s + seconds(waitBounds.answerMs) +
                       u" seconds."_s);
            timedOut = true;
            break;
        }
        const QDeadlineTimer refresh(waitBounds.statusRefreshMs);
        if (stopped(waitForCall(m_host, watch, std::min(refresh, answerDeadline), waitBounds.tickMs)))
            return AddEnd::Stopped;
    }

    const ICallCollection calls = skype.ActiveCalls();
    if (status == Protocol::CallInProgress) {
        m_host.Log(u"New call to "_s + newCall.PartnerHandle() + u" has entered InProgress state."_s);
        m_host.Log(u"Joining this new call up with existing conference call."_s);
        replyInHostChat(handle + u" added to the conference."_s);
        const int count = calls.Count();
        for (int position = 1; position <= count; ++position) {
            const ICall call = calls.Item(position);
            if (call.Status() == Protocol::CallLocalHold) {
                newCall.Join(call.Id());
                break;
            }
        }
        return AddEnd::Done;
    }

    m_host.Log(u"Adding "_s + newCall.PartnerHandle() + u" failed."_s);
    replyInHostChat(u"Call to "_s + handle + u" failed. Resuming conference."_s);
    const int count = calls.Count();
    for (int position = 1; position <= count; ++position) {
        const ICall call = calls.Item(position);
        if (call.Status() == Protocol::CallLocalHold) {
            call.Resume();
            break;
        }
    }
    if (timedOut && !isFailure(newCall.Status()) && !isOtherEnd(newCall.Status())) {
        // Still ringing: were it answered now, it would be a call beside the conference.
        skype.SendCommand(skype.Command(HangUpCommandId, u"ALTER CALL %1 HANGUP"_s.arg(newCall.Id()), {},
                                        true, TSkype::DefaultCommandTimeoutMs));
    }
    return AddEnd::Done;
}
