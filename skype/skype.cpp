#include "skype.h"

#include "protocol.h"
#include "replies.h"
#include "skypeconnection.h"

#include <QPointer>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// How long the NAME request may go unanswered before the client counts as asking its user.
constexpr int PendingAuthorizationDelayMs = 300;

SkypeConnection &connectionOf(const std::shared_ptr<SkypeConnection> &connection)
{
    if (!connection)
        throw SkypeError(0, u"This object is not connected to a client."_s);
    return *connection;
}

// Handles and targets go into a command between blanks; one with a blank or a comma would
// reach other parties or other objects than the one meant.
bool isPlainName(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (QChar c : name) {
        if (c == u' ' || c == u',' || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

void requirePlainName(const QString &name, const QString &what)
{
    if (!isPlainName(name))
        throw SkypeError(
            0, u"%1 %2 is not valid: it is empty or holds blanks, commas or control characters."_s.arg(
                   what, Replies::excerpt(name)));
}

} // namespace

// ---------------------------------------------------------------------------------------------

IUser::IUser(std::shared_ptr<SkypeConnection> connection, QString handle)
    : m_connection(std::move(connection))
    , m_handle(std::move(handle))
{}

QString IUser::Handle() const
{
    SkypeConnection &c = connectionOf(m_connection);
    if (!m_handle.isEmpty()) {
        c.requireAttached();
        return m_handle;
    }
    const QString command = u"GET CURRENTUSERHANDLE"_s;
    return Replies::value(command, c.query(command), u"CURRENTUSERHANDLE");
}

// ---------------------------------------------------------------------------------------------

IChatMessage::IChatMessage(std::shared_ptr<SkypeConnection> connection, int id)
    : m_connection(std::move(connection))
    , m_id(id)
{}

namespace {
QString messageProperty(const std::shared_ptr<SkypeConnection> &connection, int id, QStringView property)
{
    SkypeConnection &c = connectionOf(connection);
    const QString command = u"GET CHATMESSAGE %1 %2"_s.arg(id).arg(property);
    return Replies::value(command, c.query(command), QStringView(command).mid(4));
}
} // namespace

QString IChatMessage::Body() const
{
    return messageProperty(m_connection, m_id, u"BODY");
}
QString IChatMessage::FromHandle() const
{
    return messageProperty(m_connection, m_id, u"FROM_HANDLE");
}
QString IChatMessage::ChatName() const
{
    return messageProperty(m_connection, m_id, u"CHATNAME");
}

IChat IChatMessage::Chat() const
{
    const QString name = ChatName();
    requirePlainName(name, u"The chat name"_s);
    return IChat(m_connection, name);
}

// ---------------------------------------------------------------------------------------------

IChat::IChat(std::shared_ptr<SkypeConnection> connection, QString name)
    : m_connection(std::move(connection))
    , m_name(std::move(name))
{}

namespace {
QString chatProperty(const std::shared_ptr<SkypeConnection> &connection, const QString &name,
                     QStringView property)
{
    SkypeConnection &c = connectionOf(connection);
    requirePlainName(name, u"The chat name"_s);
    const QString command = u"GET CHAT %1 %2"_s.arg(name, property);
    return Replies::value(command, c.query(command), QStringView(command).mid(4));
}
} // namespace

QString IChat::Name() const
{
    return chatProperty(m_connection, m_name, u"NAME");
}
QString IChat::Topic() const
{
    return chatProperty(m_connection, m_name, u"TOPIC");
}

IChatMessage IChat::SendMessage(const QString &text) const
{
    SkypeConnection &c = connectionOf(m_connection);
    requirePlainName(m_name, u"The chat name"_s);
    const QString command = u"CHATMESSAGE "_s + m_name + u' ' + text;
    return IChatMessage(m_connection, Replies::sentMessageId(command, c.query(command)));
}

// ---------------------------------------------------------------------------------------------

ICall::ICall(std::shared_ptr<SkypeConnection> connection, int id)
    : m_connection(std::move(connection))
    , m_id(id)
{}

QString ICall::PartnerHandle() const
{
    SkypeConnection &c = connectionOf(m_connection);
    const QString command = u"GET CALL %1 PARTNER_HANDLE"_s.arg(m_id);
    return Replies::value(command, c.query(command), QStringView(command).mid(4));
}

int ICall::Status() const
{
    SkypeConnection &c = connectionOf(m_connection);
    const QString command = u"GET CALL %1 STATUS"_s.arg(m_id);
    return Replies::callStatus(command, c.query(command), m_id);
}

namespace {
void alterCall(const std::shared_ptr<SkypeConnection> &connection, const QString &command)
{
    SkypeConnection &c = connectionOf(connection);
    Replies::expectEcho(command, c.query(command));
}
} // namespace

void ICall::Hold() const
{
    alterCall(m_connection, u"ALTER CALL %1 HOLD"_s.arg(m_id));
}
void ICall::Resume() const
{
    alterCall(m_connection, u"ALTER CALL %1 RESUME"_s.arg(m_id));
}
void ICall::Join(int otherCallId) const
{
    alterCall(m_connection, u"ALTER CALL %1 JOIN_CONFERENCE %2"_s.arg(m_id).arg(otherCallId));
}

// ---------------------------------------------------------------------------------------------

ICallCollection::ICallCollection(std::shared_ptr<SkypeConnection> connection)
    : m_connection(std::move(connection))
{}

namespace {
QList<int> activeCalls(const std::shared_ptr<SkypeConnection> &connection)
{
    SkypeConnection &c = connectionOf(connection);
    const QString command = u"SEARCH ACTIVECALLS"_s;
    return Replies::activeCallIds(command, c.query(command));
}
} // namespace

int ICallCollection::Count() const
{
    return int(activeCalls(m_connection).size());
}

ICall ICallCollection::Item(int position) const
{
    const QList<int> ids = activeCalls(m_connection);
    if (position < 1 || position > ids.size()) {
        throw SkypeError(
            0, u"There is no active call at position %1: the client has %2 active calls."_s.arg(position).arg(
                   ids.size()));
    }
    return ICall(m_connection, ids.at(position - 1));
}

QString IConversion::CallStatusToText(int status) const
{
    return Protocol::callStatusText(status);
}

// ---------------------------------------------------------------------------------------------

namespace {

// Everything the client tells TSkype unasked comes through here, from the event loop. A
// handler may destroy the TSkype (a restart), so nothing touches it after an emit.
void reportAttachment(TSkype *skype, SkypeConnection &c, int status)
{
    c.attachmentStatus = status;
    emit skype->OnAttachmentStatus(status);
}

// The client's own "ERROR 68" (or any other error it gives) refuses us; a reply we cannot
// read says nothing either way.
int statusForHandshakeFailure(const SkypeError &error)
{
    return error.code() == 0 ? Protocol::AttachUnknown : Protocol::AttachRefused;
}

// One NAME/PROTOCOL exchange. A later attach, a change of the service or the end of the
// connection moves the generation on, and a superseded exchange then falls silent; the TSkype
// is alive whenever its open connection's generation still matches.
struct Handshake
{
    Handshake(TSkype *s, const std::shared_ptr<SkypeConnection> &c, quint64 g, QString command)
        : skype(s)
        , connection(c)
        , generation(g)
        , protocolCommand(std::move(command))
    {}

    SkypeConnection *current() const
    {
        const std::shared_ptr<SkypeConnection> c = connection.lock();
        if (!c || c->isClosed() || c->handshakeGeneration != generation)
            return nullptr;
        return c.get();
    }

    void finish(int status) const
    {
        const std::shared_ptr<SkypeConnection> c = connection.lock();
        SkypeConnection::Delivery delivery(c);
        c->handshaking = false;
        c->attached = status == Protocol::AttachSuccess;
        reportAttachment(skype, *c, status);
    }

    void protocolReplied(bool ok, const QString &reply) const
    {
        if (!ok) {
            finish(Protocol::AttachNotAvailable);
            return;
        }
        try {
            connection.lock()->protocol = Replies::protocolVersion(protocolCommand, reply);
        } catch (const SkypeError &error) {
            finish(statusForHandshakeFailure(error));
            return;
        }
        finish(Protocol::AttachSuccess);
    }

    TSkype *skype;
    std::weak_ptr<SkypeConnection> connection;
    quint64 generation;
    QString protocolCommand;
    QPointer<QTimer> pendingTimer;
};

} // namespace

TSkype::TSkype(std::unique_ptr<Transport> transport, QObject *parent)
    : QObject(parent)
    , m_connection(std::make_shared<SkypeConnection>(std::move(transport)))
{
    Transport *t = m_connection->transport();

    connect(t, &Transport::notificationReceived, this, [this](const QString &text) {
        const std::shared_ptr<SkypeConnection> connection = m_connection;
        if (!connection->attached)
            return;
        const std::optional<Replies::Notification> n = Replies::parseNotification(text);
        if (!n)
            return;
        SkypeConnection::Delivery delivery(connection);
        if (n->kind == Replies::Notification::CallStatus)
            emit OnCallStatus(ICall(connection, n->id), n->status);
        else
            emit OnMessageStatus(IChatMessage(connection, n->id), n->status);
    });

    connect(t, &Transport::serviceAvailabilityChanged, this, [this](bool available) {
        const std::shared_ptr<SkypeConnection> connection = m_connection;
        SkypeConnection::Delivery delivery(connection);
        // Whatever was attached or half-attached belonged to the service as it was.
        connection->attached = false;
        connection->handshaking = false;
        ++connection->handshakeGeneration;
        reportAttachment(this, *connection,
                         available ? Protocol::AttachAvailable : Protocol::AttachNotAvailable);
    });
}

TSkype::~TSkype()
{
    m_connection->close();
}

void TSkype::Attach(int protocol, bool wait)
{
    const std::shared_ptr<SkypeConnection> connection = m_connection;
    SkypeConnection &c = *connection;
    Transport *t = c.transport();
    if (!t)
        throw SkypeError(0, u"The connection to the client has been closed."_s);
    if (c.handshaking)
        return; // its outcome is on the way

    const auto post = [this](int status) {
        QTimer::singleShot(0, this, [this, status] { reportAttachment(this, *m_connection, status); });
    };
    if (c.attached) {
        post(Protocol::AttachSuccess);
        return;
    }
    if (!t->isServiceAvailable()) {
        post(Protocol::AttachNotAvailable);
        if (wait)
            throw SkypeError(0, u"The client is not running."_s);
        return;
    }

    const QString nameCommand = u"NAME Lumotalk"_s;
    const QString protocolCommand = u"PROTOCOL %1"_s.arg(protocol);

    if (wait) {
        // Bounded by the command time-out: a person who takes longer to allow it gets an error.
        try {
            Replies::expectOk(nameCommand, t->invoke(nameCommand, c.commandTimeout()));
            c.protocol =
                Replies::protocolVersion(protocolCommand, t->invoke(protocolCommand, c.commandTimeout()));
        } catch (const SkypeError &error) {
            post(t->isServiceAvailable() ? statusForHandshakeFailure(error)
                                         : int(Protocol::AttachNotAvailable));
            throw;
        }
        c.attached = true;
        post(Protocol::AttachSuccess);
        return;
    }

    c.handshaking = true;
    c.nameAnswered = false;
    auto handshake = std::make_shared<Handshake>(this, connection, ++c.handshakeGeneration, protocolCommand);

    // No time limit: the client may wait for its user to allow the program.
    t->invokeAsync(nameCommand, -1, [handshake, nameCommand](bool ok, const QString &reply) {
        SkypeConnection *conn = handshake->current();
        if (!conn)
            return;
        conn->nameAnswered = true;
        delete handshake->pendingTimer;
        if (!ok) {
            handshake->finish(Protocol::AttachNotAvailable);
            return;
        }
        try {
            Replies::expectOk(nameCommand, reply);
        } catch (const SkypeError &error) {
            handshake->finish(statusForHandshakeFailure(error));
            return;
        }
        conn->transport()->invokeAsync(handshake->protocolCommand, conn->commandTimeout(),
                                       [handshake](bool ok2, const QString &reply2) {
                                           if (handshake->current())
                                               handshake->protocolReplied(ok2, reply2);
                                       });
    });

    // A child timer rather than a free single shot, so it goes with this TSkype at once.
    auto *pending = new QTimer(this);
    pending->setSingleShot(true);
    handshake->pendingTimer = pending;
    connect(pending, &QTimer::timeout, this, [handshake, pending] {
        pending->deleteLater();
        SkypeConnection *conn = handshake->current();
        if (conn && !conn->nameAnswered)
            reportAttachment(handshake->skype, *conn, Protocol::AttachPendingAuthorization);
    });
    pending->start(PendingAuthorizationDelayMs);
}

int TSkype::AttachmentStatus() const
{
    return m_connection->attachmentStatus;
}

IUser TSkype::CurrentUser() const
{
    m_connection->requireAttached();
    return IUser(m_connection, {});
}

ICallCollection TSkype::ActiveCalls() const
{
    m_connection->requireAttached();
    return ICallCollection(m_connection);
}

ICall TSkype::Call(int id) const
{
    return ICall(m_connection, id);
}
IChatMessage TSkype::Message(int id) const
{
    return IChatMessage(m_connection, id);
}
IChat TSkype::Chat(const QString &name) const
{
    return IChat(m_connection, name);
}

ICall TSkype::PlaceCall(const QString &target, const QString &target2, const QString &target3,
                        const QString &target4)
{
    requirePlainName(target, u"The handle to call"_s);
    QString command = u"CALL "_s + target;
    for (const QString *more : {&target2, &target3, &target4}) {
        if (more->isEmpty())
            continue;
        requirePlainName(*more, u"The handle to call"_s);
        command += u", "_s + *more;
    }
    return ICall(m_connection, Replies::placedCallId(command, m_connection->query(command)));
}

ICommand TSkype::Command(int id, const QString &command, const QString &reply, bool block, int timeout) const
{
    ICommand c;
    c.Id = id;
    c.Command = command;
    c.Reply = reply;
    c.Blocking = block;
    c.Timeout = timeout;
    return c;
}

void TSkype::SendCommand(const ICommand &command)
{
    SkypeConnection &c = *m_connection;
    const QString text = u"#%1 %2"_s.arg(command.Id).arg(command.Command);
    if (!command.Blocking) {
        c.post(text);
        return;
    }
    c.requireAttached();
    Transport *t = c.transport();
    const int timeout = command.Timeout > 0 ? command.Timeout : c.commandTimeout();
    QString reply;
    try {
        reply = t->invoke(text, timeout);
    } catch (const SkypeError &error) {
        // A transport that cannot tell a late reply from a lost one says so with code 0; while
        // the service is still there, the command has gone out and the client carries it out.
        if (error.code() == 0 && t->isServiceAvailable())
            return;
        throw;
    }
    Replies::commandReply(text, reply, command.Id);
}

bool TSkype::SilentMode() const
{
    const QString command = u"GET SILENT_MODE"_s;
    return Replies::silentMode(command, m_connection->query(command));
}

void TSkype::setCommandTimeout(int ms)
{
    m_connection->setCommandTimeout(ms > 0 ? ms : DefaultCommandTimeoutMs);
}
