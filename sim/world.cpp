#include "world.h"

#include "protocol.h"

#include <QElapsedTimer>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

QString callNotification(const Call &call)
{
    return u"CALL %1 STATUS %2"_s.arg(call.id).arg(Protocol::callStatusWord(call.status));
}

Outcome unknownCall()
{
    return Outcome::failure(Protocol::Error::UnknownCall, u"Unknown call"_s);
}

bool isAnswered(int status)
{
    return status == Protocol::CallInProgress || status == Protocol::CallLocalHold ||
           status == Protocol::CallRemoteHold;
}

bool isRingingPhase(int status)
{
    return status == Protocol::CallRouting || status == Protocol::CallRinging;
}

} // namespace

QString Outcome::errorReply() const
{
    return u"ERROR %1 %2"_s.arg(code).arg(text);
}

World::World(QObject *parent)
    : World(defaultSetup(), parent)
{}

World::World(WorldSetup setup, QObject *parent)
    : QObject(parent)
    , m_setup(std::move(setup))
{
    populate();
}

World::~World() = default;

bool World::isCallEnded(int status)
{
    switch (status) {
    case Protocol::CallFinished:
    case Protocol::CallRefused:
    case Protocol::CallBusy:
    case Protocol::CallMissed:
    case Protocol::CallFailed:
    case Protocol::CallCancelled:
        return true;
    default:
        return false;
    }
}

bool World::isValidHandle(QStringView handle)
{
    if (handle.isEmpty() || handle.size() > 64)
        return false;
    return std::all_of(handle.begin(), handle.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
               u == u'.' || u == u'_' || u == u'-' || u == u':' || u == u'+';
    });
}

// --- the world's life ---

void World::load(WorldSetup setup)
{
    m_setup = std::move(setup);
    reset();
}

void World::reset()
{
    // Clients keep ICall handles: they must hear that those calls are over, not see them vanish.
    // By id: a listener may act on the world while it hears of each end.
    for (const Call &call : activeCalls()) {
        if (Call *active = findCall(call.id); active && !isCallEnded(active->status))
            setCallStatus(*active, Protocol::CallFinished);
    }
    m_events.clear();
    populate();
    emit worldReset();
    emit chatsChanged();
    emit contactsChanged();
    emit silentModeChanged(m_silentMode);
    announceSchedule();
}

void World::populate()
{
    m_contacts = m_setup.contacts;
    m_chats.clear();
    m_messages.clear();
    m_messageIndex.clear();
    m_calls.clear();
    m_silentMode = m_setup.silentMode;
    const QString &me = m_setup.account.handle;

    for (qsizetype i = 0; i < m_setup.chats.size(); ++i) {
        Chat chat = m_setup.chats.at(i);
        if (!chat.members.contains(me))
            chat.members.prepend(me);
        if (chat.name.isEmpty())
            chat.name = autoChatName(me, chat, i);
        m_chats.append(chat);
    }
    if (m_setup.dialogs) {
        for (const Contact &contact : std::as_const(m_contacts)) {
            const QString name = dialogChatName(me, contact.handle);
            if (!findChat(name))
                m_chats.append(Chat{name, {}, {me, contact.handle}, true});
        }
    }
    for (const Message &preset : std::as_const(m_setup.messages)) {
        if (!findChat(preset.chatName))
            continue;
        Message message = preset;
        message.id = nextId();
        message.status = message.sender == me ? Protocol::MessageSent : Protocol::MessageReceived;
        message.timeMs = now();
        message.wallTime = QDateTime::currentDateTimeUtc();
        m_messageIndex.insert(message.id, m_messages.size());
        m_messages.append(message);
    }
}

// --- read access ---

std::optional<Contact> World::contact(const QString &handle) const
{
    const Contact *found = findContact(handle);
    return found ? std::optional(*found) : std::nullopt;
}

std::optional<Chat> World::chat(const QString &name) const
{
    const Chat *found = findChat(name);
    return found ? std::optional(*found) : std::nullopt;
}

QList<Message> World::messages(const QString &chatName) const
{
    QList<Message> result;
    for (const Message &message : m_messages) {
        if (message.chatName == chatName)
            result.append(message);
    }
    return result;
}

std::optional<Message> World::message(qint64 id) const
{
    const auto it = m_messageIndex.constFind(id);
    return it == m_messageIndex.cend() ? std::nullopt : std::optional(m_messages.at(*it));
}

QList<Call> World::activeCalls() const
{
    QList<Call> result;
    for (const Call &call : m_calls) {
        if (!isCallEnded(call.status))
            result.append(call);
    }
    return result;
}

std::optional<Call> World::call(qint64 id) const
{
    for (const Call &call : m_calls) {
        if (call.id == id)
            return call;
    }
    return std::nullopt;
}

Call *World::findCall(qint64 id)
{
    for (Call &call : m_calls) {
        if (call.id == id)
            return &call;
    }
    return nullptr;
}

Message *World::findMessage(qint64 id)
{
    const auto it = m_messageIndex.constFind(id);
    return it == m_messageIndex.cend() ? nullptr : &m_messages[*it];
}

const Chat *World::findChat(const QString &name) const
{
    for (const Chat &chat : m_chats) {
        if (chat.name == name)
            return &chat;
    }
    return nullptr;
}

const Contact *World::findContact(const QString &handle) const
{
    for (const Contact &contact : m_contacts) {
        if (contact.handle == handle)
            return &contact;
    }
    return nullptr;
}

// --- calls ---

void World::setCallStatus(Call &call, int status)
{
    if (call.status == status)
        return;
    call.status = status;
    const qint64 id = call.id;
    const QString text = callNotification(call);
    if (isCallEnded(status))
        cancel(id);
    emit callChanged(id);
    emit notification(text);
}

Outcome World::placeCall(const QStringList &handles)
{
    if (handles.isEmpty())
        return Outcome::failure(Protocol::Error::InvalidUserHandle, u"Invalid user handle"_s);
    for (const QString &handle : handles) {
        if (!isValidHandle(handle))
            return Outcome::failure(Protocol::Error::InvalidUserHandle, u"Invalid user handle"_s);
        if (handle == m_setup.account.handle)
            return Outcome::failure(Protocol::Error::CannotCallSelf, u"Cannot call yourself"_s);
    }
    QList<qint64> ids;
    for (qsizetype i = 0; i < handles.size(); ++i)
        ids.append(nextId());
    // Several targets make one conference, as the client does for a multi-party call.
    const qint64 confId = ids.size() > 1 ? ids.first() : 0;
    for (qsizetype i = 0; i < handles.size(); ++i) {
        Call call;
        call.id = ids.at(i);
        call.partner = handles.at(i);
        call.direction = Call::Outgoing;
        call.status = Protocol::CallRouting;
        call.confId = confId;
        call.startedMs = now();
        m_calls.append(call);
        emit callAdded(call.id);
        emit notification(callNotification(call));
        const qint64 id = call.id;
        schedule(now() + m_setup.routingMs, id, [this, id] { ringOutgoing(id); });
    }
    return Outcome::success(ids.first());
}

void World::ringOutgoing(qint64 id)
{
    Call *call = findCall(id);
    if (!call || call->status != Protocol::CallRouting)
        return;
    const Contact *contact = findContact(call->partner);
    if (!contact || contact->behaviour.kind == Behaviour::Offline) {
        setCallStatus(*call, Protocol::CallFailed);
        return;
    }
    const Behaviour behaviour = contact->behaviour;
    if (behaviour.kind == Behaviour::Busy) {
        setCallStatus(*call, Protocol::CallBusy);
        return;
    }
    setCallStatus(*call, Protocol::CallRinging);
    const qint64 delay = std::max(0, behaviour.delayMs);
    switch (behaviour.kind) {
    case Behaviour::Answer:
        schedule(now() + delay, id, [this, id] { remoteAnswer(id); });
        break;
    case Behaviour::Refuse:
        schedule(now() + delay, id, [this, id] { remoteRefuse(id); });
        break;
    case Behaviour::NoAnswer:
        if (m_setup.ringTimeMs > 0) {
            schedule(now() + m_setup.ringTimeMs, id, [this, id] {
                if (Call *ringing = findCall(id); ringing && ringing->status == Protocol::CallRinging)
                    setCallStatus(*ringing, Protocol::CallMissed);
            });
        }
        break;
    default:
        break;
    }
}

Outcome World::holdCall(qint64 id)
{
    Call *call = findCall(id);
    if (!call)
        return unknownCall();
    if (call->status == Protocol::CallLocalHold)
        return Outcome::success();
    if (call->status != Protocol::CallInProgress && call->status != Protocol::CallRemoteHold)
        return Outcome::failure(Protocol::Error::CannotHold, u"Cannot hold this call at the moment"_s);
    setCallStatus(*call, Protocol::CallLocalHold);
    return Outcome::success();
}

Outcome World::resumeCall(qint64 id)
{
    Call *call = findCall(id);
    if (!call)
        return unknownCall();
    if (call->status == Protocol::CallInProgress)
        return Outcome::success();
    if (call->status != Protocol::CallLocalHold)
        return Outcome::failure(Protocol::Error::CannotResume, u"Cannot resume this call at the moment"_s);
    setCallStatus(*call, Protocol::CallInProgress);
    return Outcome::success();
}

Outcome World::answerCall(qint64 id)
{
    Call *call = findCall(id);
    if (!call)
        return unknownCall();
    if (call->direction == Call::Incoming && call->status == Protocol::CallInProgress)
        return Outcome::success();
    if (call->direction != Call::Incoming || call->status != Protocol::CallRinging)
        return Outcome::failure(Protocol::Error::CannotHangUpInactive, u"Cannot answer this call"_s);
    cancel(id);
    setCallStatus(*call, Protocol::CallInProgress);
    return Outcome::success();
}

Outcome World::hangUpCall(qint64 id)
{
    return endCall(id, Protocol::CallRefused, Protocol::CallCancelled);
}

// A call ended while it still rings did not fail: it was refused, cancelled or missed,
// depending on who gave up on whom.
Outcome World::endCall(qint64 id, int ringingIncoming, int ringingOutgoing)
{
    Call *call = findCall(id);
    if (!call)
        return unknownCall();
    if (isCallEnded(call->status))
        return Outcome::failure(Protocol::Error::CannotHangUpInactive, u"Cannot hangup inactive call"_s);
    if (isRingingPhase(call->status))
        setCallStatus(*call, call->direction == Call::Incoming ? ringingIncoming : ringingOutgoing);
    else
        setCallStatus(*call, Protocol::CallFinished);
    return Outcome::success();
}

Outcome World::joinCall(qint64 id, qint64 heldId)
{
    Call *call = findCall(id);
    if (!call)
        return unknownCall();
    Call *held = findCall(heldId);
    if (!held || heldId == id || !isAnswered(call->status) || !isAnswered(held->status))
        return Outcome::failure(Protocol::Error::CannotCreateConference, u"Cannot create conference"_s);
    const qint64 confId = held->confId ? held->confId : held->id;
    const qint64 oldConf = call->confId;
    QList<qint64> members;
    for (const Call &other : std::as_const(m_calls)) {
        const bool sameConference = other.confId == confId || (oldConf && other.confId == oldConf);
        if (other.id == id || other.id == heldId || (sameConference && !isCallEnded(other.status)))
            members.append(other.id);
    }
    // Listeners may act on the world while they hear of each change, so go by id.
    for (qint64 member : std::as_const(members)) {
        if (Call *c = findCall(member); c && c->confId != confId) {
            c->confId = confId;
            emit callChanged(member);
        }
    }
    // The conference goes on as a whole: whatever of it was held locally is resumed.
    for (qint64 member : std::as_const(members)) {
        if (Call *c = findCall(member); c && c->status == Protocol::CallLocalHold)
            setCallStatus(*c, Protocol::CallInProgress);
    }
    return Outcome::success(confId);
}

Outcome World::remoteAnswer(qint64 id)
{
    return endRingingAsCallee(id, Protocol::CallInProgress);
}
Outcome World::remoteRefuse(qint64 id)
{
    return endRingingAsCallee(id, Protocol::CallRefused);
}
Outcome World::remoteBusy(qint64 id)
{
    return endRingingAsCallee(id, Protocol::CallBusy);
}

Outcome World::endRingingAsCallee(qint64 id, int status)
{
    Call *call = findCall(id);
    if (!call)
        return unknownCall();
    if (call->direction != Call::Outgoing || !isRingingPhase(call->status))
        return Outcome::failure(Protocol::Error::CannotHangUpInactive, u"The call is not ringing"_s);
    // The contact decided by hand, so its own scheduled decision must not fire later.
    cancel(id);
    setCallStatus(*call, status);
    return Outcome::success();
}

Outcome World::remoteHangUp(qint64 id)
{
    return endCall(id, Protocol::CallMissed, Protocol::CallRefused);
}

Outcome World::callLocalUser(const QString &fromHandle)
{
    if (!isValidHandle(fromHandle))
        return Outcome::failure(Protocol::Error::InvalidUserHandle, u"Invalid user handle"_s);
    if (fromHandle == m_setup.account.handle)
        return Outcome::failure(Protocol::Error::CannotCallSelf, u"Cannot call yourself"_s);
    Call call;
    call.id = nextId();
    call.partner = fromHandle;
    call.direction = Call::Incoming;
    call.status = Protocol::CallRinging;
    call.startedMs = now();
    m_calls.append(call);
    emit callAdded(call.id);
    emit notification(callNotification(call));
    const qint64 id = call.id;
    if (m_setup.ringTimeMs > 0) {
        schedule(now() + m_setup.ringTimeMs, id, [this, id] {
            if (Call *ringing = findCall(id); ringing && ringing->status == Protocol::CallRinging)
                setCallStatus(*ringing, Protocol::CallMissed);
        });
    }
    return Outcome::success(id);
}

bool World::setBehaviour(const QString &handle, const Behaviour &behaviour)
{
    for (Contact &contact : m_contacts) {
        if (contact.handle == handle) {
            contact.behaviour = behaviour;
            emit contactsChanged();
            return true;
        }
    }
    return false;
}

// --- chats and silent mode ---

Outcome World::say(const QString &sender, const QString &chatName, const QString &text)
{
    const Chat *chat = findChat(chatName);
    if (!chat)
        return Outcome::failure(Protocol::Error::InvalidChatName, u"Invalid chat name"_s);
    if (text.isEmpty())
        return Outcome::failure(Protocol::Error::EmptyMessage, u"Cannot send empty message"_s);
    if (text.size() > MaxBodyLength)
        return Outcome::failure(Protocol::Error::ChatSendFailed, u"Message too long"_s);
    if (!chat->members.contains(sender))
        return Outcome::failure(Protocol::Error::ChatSendFailedNotMember,
                                u"Sender is not a member of the chat"_s);

    const bool local = sender == m_setup.account.handle;
    Message message;
    message.id = nextId();
    message.body = text;
    message.sender = sender;
    message.chatName = chatName;
    message.status = local ? Protocol::MessageSending : Protocol::MessageReceived;
    message.timeMs = now();
    message.wallTime = QDateTime::currentDateTimeUtc();
    const qint64 id = message.id;
    m_messageIndex.insert(id, m_messages.size());
    m_messages.append(std::move(message));
    emit messageAdded(id);
    emit notification(u"CHATMESSAGE %1 STATUS %2"_s.arg(id).arg(
        Protocol::messageStatusWord(local ? Protocol::MessageSending : Protocol::MessageReceived)));
    if (local)
        schedule(now() + m_setup.sendMs, id, [this, id] { setMessageStatus(id, Protocol::MessageSent); });
    return Outcome::success(id);
}

void World::setMessageStatus(qint64 id, int status)
{
    Message *message = findMessage(id);
    if (!message || message->status == status)
        return;
    message->status = status;
    emit messageChanged(id);
    emit notification(u"CHATMESSAGE %1 STATUS %2"_s.arg(id).arg(Protocol::messageStatusWord(status)));
}

void World::setSilentMode(bool on)
{
    const bool changed = m_silentMode != on;
    m_silentMode = on;
    if (changed)
        emit silentModeChanged(on);
    emit notification(on ? u"SILENT_MODE ON"_s : u"SILENT_MODE OFF"_s);
}

// --- time ---

qint64 World::now() const
{
    return m_clock ? m_clock() : m_manualNow;
}

void World::setClock(Clock clock)
{
    m_clock = std::move(clock);
    armTimer();
}

void World::advanceTo(qint64 ms)
{
    if (m_clock) {
        runDue();
        return;
    }
    // Each event runs at its own due time, so what it schedules in turn is timed from there.
    while (!m_events.isEmpty() && m_events.firstKey() <= ms) {
        m_manualNow = std::max(m_manualNow, m_events.firstKey());
        runOne();
    }
    m_manualNow = std::max(m_manualNow, ms);
    announceSchedule();
}

void World::advanceBy(qint64 ms)
{
    advanceTo(now() + std::max<qint64>(0, ms));
}

void World::runDue()
{
    while (!m_events.isEmpty() && m_events.firstKey() <= now())
        runOne();
    announceSchedule();
    armTimer();
}

void World::runOne()
{
    const auto first = m_events.begin();
    const std::function<void()> action = std::move(first->action);
    m_events.erase(first);
    action();
}

qint64 World::nextDueMs() const
{
    return m_events.isEmpty() ? -1 : m_events.firstKey();
}

void World::setRealTime(bool on)
{
    if (!on) {
        // Stay at the time reached, as a manual clock.
        m_manualNow = now();
        m_clock = {};
        delete m_timer;
        m_timer = nullptr;
        return;
    }
    if (m_timer)
        return;
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    const qint64 origin = now();
    m_clock = [elapsed, origin] { return origin + elapsed->elapsed(); };
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &World::runDue);
    armTimer();
}

void World::schedule(qint64 dueMs, qint64 objectId, std::function<void()> action)
{
    m_events.insert(dueMs, Event{objectId, std::move(action)});
    announceSchedule();
}

void World::cancel(qint64 objectId)
{
    for (auto it = m_events.begin(); it != m_events.end();) {
        if (it->objectId == objectId)
            it = m_events.erase(it);
        else
            ++it;
    }
    announceSchedule();
}

void World::announceSchedule()
{
    const qint64 due = nextDueMs();
    if (due == m_announcedDue)
        return;
    m_announcedDue = due;
    armTimer();
    emit scheduleChanged();
}

void World::armTimer()
{
    if (!m_timer)
        return;
    const qint64 due = nextDueMs();
    if (due < 0) {
        m_timer->stop();
        return;
    }
    m_timer->start(int(std::clamp<qint64>(due - now(), 0, 24 * 3600 * 1000)));
}
