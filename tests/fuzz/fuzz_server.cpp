// libFuzzer target for the simulator's side: the input is a script of command texts for the
// protocol server, mixed with the remote side's actions and steps of the clock, so the parser is
// reached in every state a world can be in. Records are separated by U+001E; line feeds stay
// inside a command. A record starting with "@" comes from a second client that has not attached;
// one starting with "!" is an action of the model (see act()). The first byte picks the text
// encoding: even UTF-8, odd raw UTF-16 (so lone surrogates come through too).
//
// Checked: every command gets exactly one reply at once (an attach waiting for the person aside),
// an error reply is "ERROR <code> <text>", and the active-call list stays in creation order.

#include "apiserver.h"
#include "protocol.h"
#include "world.h"

#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void checkReply(const QString &reply)
{
    check(!reply.isEmpty());
    QStringView text = reply;
    if (text.startsWith(u'#'))
        text = Protocol::splitWord(text).rest;
    if (!text.startsWith(u"ERROR"))
        return;
    const Protocol::Split error = Protocol::splitWord(Protocol::splitWord(text).rest);
    qint64 code = 0;
    check(Protocol::parseId(error.head, code) && code > 0 && error.hasRest && !error.rest.isEmpty());
}

qint64 number(QStringView text)
{
    qint64 value = 0;
    return Protocol::parseId(text, value) ? value : -1;
}

void act(World &world, ApiServer &server, ApiServer::ClientId stranger, QStringView line)
{
    const Protocol::Split verb = Protocol::splitWord(line.mid(1));
    const QStringView arg = verb.rest;
    const QString argText = arg.toString();
    if (verb.head == u"t") {
        world.advanceBy(std::min<qint64>(std::max<qint64>(number(arg), 0), 100000));
    } else if (verb.head == u"a") {
        world.remoteAnswer(number(arg));
    } else if (verb.head == u"r") {
        world.remoteRefuse(number(arg));
    } else if (verb.head == u"b") {
        world.remoteBusy(number(arg));
    } else if (verb.head == u"h") {
        world.remoteHangUp(number(arg));
    } else if (verb.head == u"i") {
        world.callLocalUser(argText);
    } else if (verb.head == u"s") {
        const Protocol::Split sender = Protocol::splitWord(arg);
        const Protocol::Split chat = Protocol::splitWord(sender.rest);
        // "!s alice 0 text": chat by position, so the fuzzer need not guess the hashed names.
        const QList<Chat> chats = world.chats();
        const qint64 index = number(chat.head);
        const QString name = index >= 0 && index < chats.size() ? chats.at(index).name : chat.head.toString();
        world.say(sender.head.toString(), name, chat.rest.toString());
    } else if (verb.head == u"x") {
        world.reset();
    } else if (verb.head == u"auto") {
        server.setAutoAllow(!server.autoAllow());
    } else if (verb.head == u"allow" || verb.head == u"deny") {
        server.resolveAuthorization(stranger, verb.head == u"allow");
    } else if (verb.head == u"behave") {
        const Protocol::Split handle = Protocol::splitWord(arg);
        if (const std::optional<Behaviour> behaviour = Behaviour::fromText(handle.rest))
            world.setBehaviour(handle.head.toString(), *behaviour);
    } else if (verb.head == u"json") {
        if (std::optional<WorldSetup> setup = World::fromJson(arg.toUtf8()))
            world.load(std::move(*setup));
    } else if (verb.head == u"silent") {
        world.setSilentMode(arg == u"on");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QString input =
        data[0] % 2 == 0
            ? QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1))
            : QString::fromUtf16(reinterpret_cast<const char16_t *>(data + 1), qsizetype((size - 1) / 2));

    World world;
    ApiServer server(&world);
    const ApiServer::ClientId client = server.addClient();
    const ApiServer::ClientId stranger = server.addClient();
    int replies = 0;
    const auto count = [&replies](const QString &reply) {
        checkReply(reply);
        ++replies;
    };
    server.invoke(client, u"NAME fuzz"_s, count);
    server.invoke(client, u"PROTOCOL 8"_s, count);

    for (QStringView line : QStringView(input).split(u'\x1e')) {
        if (line.startsWith(u'!')) {
            act(world, server, stranger, line);
        } else {
            const bool fromStranger = line.startsWith(u'@');
            const QString command = (fromStranger ? line.mid(1) : line).toString();
            const int before = replies;
            server.invoke(fromStranger ? stranger : client, command, count);
            const bool mayWait = fromStranger && !server.autoAllow();
            check(replies == before + 1 || (mayWait && replies == before));
        }
        qint64 last = 0;
        for (const Call &call : world.activeCalls()) {
            check(call.id > last && !World::isCallEnded(call.status));
            last = call.id;
        }
    }
    world.advanceBy(3600 * 1000);
    return 0;
}
