#include "apiserver.h"

#include "protocol.h"
#include "world.h"

#include <QHash>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace {

QString accessDenied()
{
    return u"ERROR %1 Access denied"_s.arg(Protocol::Error::AccessDenied);
}

bool is(QStringView word, QStringView keyword)
{
    return word.compare(keyword, Qt::CaseInsensitive) == 0;
}

} // namespace

struct ApiServer::Private
{
    struct Waiting
    {
        QString command; // as the client sent it, "#id" included
        QString prefix;
        Reply reply;
    };
    struct Client
    {
        enum State { Fresh, Pending, Attached };
        State state = Fresh;
        QString programName;
        QList<Waiting> waiting; // NAME requests awaiting the person's decision
    };

    QPointer<World> world;
    QHash<ClientId, Client> clients;
    QList<ClientId> order; // attach order, so every client hears notifications in the same order
    ClientId lastId = 0;
    bool autoAllow = true;
    int depth = 0;
    QStringList held; // notifications raised while a command is served, sent after its reply

    void deliver(ApiServer *q, const QString &text);
};

ApiServer::ApiServer(World *world, QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    d->world = world;
    if (!world)
        return;
    connect(world, &World::notification, this, [this](const QString &text) {
        if (d->depth > 0)
            d->held.append(text);
        else
            d->deliver(this, text);
    });
}

void ApiServer::Private::deliver(ApiServer *q, const QString &text)
{
    emit q->notified(text);
    const QList<ClientId> everyone = order;
    for (ClientId client : everyone) {
        // A listener may drop a client while the text goes round.
        const auto it = clients.constFind(client);
        if (it != clients.cend() && it->state == Client::Attached)
            emit q->notify(client, text);
    }
}

ApiServer::~ApiServer() = default;

ApiServer::ClientId ApiServer::addClient()
{
    const ClientId client = ++d->lastId;
    d->clients.insert(client, {});
    d->order.append(client);
    return client;
}

void ApiServer::removeClient(ClientId client)
{
    d->clients.remove(client);
    d->order.removeOne(client);
}

bool ApiServer::autoAllow() const
{
    return d->autoAllow;
}

void ApiServer::setAutoAllow(bool on)
{
    d->autoAllow = on;
}

void ApiServer::invoke(ClientId client, const QString &command, const Reply &reply)
{
    // "#<id> <command>": the id goes back in front of the reply, whatever the reply is.
    QString prefix;
    QStringView text = command;
    if (command.startsWith(u'#')) {
        const Protocol::Split split = Protocol::splitWord(command);
        prefix = split.head.toString() + u' ';
        text = split.rest;
    }

    ++d->depth;
    QString answer;
    bool deferred = false;
    const auto it = d->clients.find(client);
    const Protocol::Split verb = Protocol::splitWord(text);
    if (it == d->clients.end() || !d->world) {
        answer = accessDenied();
    } else if (is(verb.head, u"NAME")) {
        if (!verb.hasRest || verb.rest.isEmpty()) {
            answer = accessDenied();
        } else if (it->state == Private::Client::Attached || d->autoAllow) {
            it->state = Private::Client::Attached;
            it->programName = verb.rest.toString();
            answer = u"OK"_s;
        } else {
            const bool first = it->state != Private::Client::Pending;
            it->state = Private::Client::Pending;
            it->programName = verb.rest.toString();
            it->waiting.append({command, prefix, reply});
            deferred = true;
            if (first)
                emit authorizationRequested(client, it->programName);
        }
    } else if (it->state != Private::Client::Attached) {
        answer = accessDenied();
    } else if (is(verb.head, u"PROTOCOL")) {
        qint64 version = 0;
        if (!Protocol::parseId(verb.rest, version))
            answer = u"ERROR %1 Invalid protocol version"_s.arg(Protocol::Error::UnknownCommand);
        else
            answer = u"PROTOCOL %1"_s.arg(std::clamp<qint64>(version, 1, Protocol::Version));
    } else {
        answer = d->world->execute(text.toString());
    }

    if (!deferred) {
        const QString full = prefix + answer;
        reply(full);
        emit served(client, command, full);
    }
    if (--d->depth == 0) {
        while (!d->held.isEmpty())
            d->deliver(this, d->held.takeFirst());
    }
}

void ApiServer::resolveAuthorization(ClientId client, bool allow)
{
    const auto it = d->clients.find(client);
    if (it == d->clients.end() || it->state != Private::Client::Pending)
        return;
    it->state = allow ? Private::Client::Attached : Private::Client::Fresh;
    const QList<Private::Waiting> waiting = std::exchange(it->waiting, {});
    for (const Private::Waiting &request : waiting) {
        const QString full = request.prefix + (allow ? u"OK"_s : accessDenied());
        request.reply(full);
        emit served(client, request.command, full);
    }
}
