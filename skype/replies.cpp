#include "replies.h"

#include "protocol.h"

#include <limits>

using namespace Qt::StringLiterals;

namespace Replies {
namespace {

[[noreturn]] void unreadable(const QString &command, const QString &reply)
{
    if (reply.isEmpty())
        throw SkypeError(0, u"The client gave an empty reply to %1."_s.arg(excerpt(command)));
    throw SkypeError(0,
                     u"The client's reply to %1 cannot be read: %2."_s.arg(excerpt(command), excerpt(reply)));
}

// A status word is one upper-case word; anything else is not a status at all.
bool isStatusWord(QStringView word)
{
    if (word.isEmpty())
        return false;
    for (QChar c : word) {
        const bool ok = (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
        if (!ok)
            return false;
    }
    return true;
}

// "<object> <id> STATUS <word>" -> id and word; false for any other shape.
bool parseObjectStatus(QStringView text, QStringView object, int &id, QStringView &word)
{
    const Protocol::Split first = Protocol::splitWord(text);
    if (first.head != object || !first.hasRest)
        return false;
    const Protocol::Split second = Protocol::splitWord(first.rest);
    if (!second.hasRest || !parseHandleId(second.head, id))
        return false;
    const Protocol::Split third = Protocol::splitWord(second.rest);
    if (third.head != u"STATUS" || !third.hasRest || !isStatusWord(third.rest))
        return false;
    word = third.rest;
    return true;
}

int placedId(const QString &command, const QString &reply, QStringView object)
{
    throwIfError(command, reply);
    int id = 0;
    QStringView word;
    if (!parseObjectStatus(reply, object, id, word))
        unreadable(command, reply);
    return id;
}

} // namespace

// Replies can be a megabyte of anything; an error text shows a short, one-line excerpt.
QString excerpt(QStringView text)
{
    constexpr qsizetype Limit = 120;
    QString out;
    QStringView shown = text.left(Limit);
    if (!shown.isEmpty() && shown.back().isHighSurrogate())
        shown.chop(1);
    out.reserve(shown.size() + 8);
    for (QChar c : shown) {
        if (c == u'\n')
            out += u"\\n"_s;
        else if (c == u'\r')
            out += u"\\r"_s;
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += u'?';
        else
            out += c;
    }
    if (text.size() > Limit)
        out += u"…"_s;
    return u"\""_s + out + u"\""_s;
}

bool parseHandleId(QStringView text, int &id)
{
    qint64 value = 0;
    if (!Protocol::parseId(text, value) || value > std::numeric_limits<int>::max())
        return false;
    id = int(value);
    return true;
}

void throwIfError(const QString &command, const QString &reply)
{
    const Protocol::Split first = Protocol::splitWord(reply);
    if (first.head != u"ERROR")
        return;
    const Protocol::Split second = Protocol::splitWord(first.rest);
    qint64 code = 0;
    if (!first.hasRest || !Protocol::parseId(second.head, code) || code > std::numeric_limits<int>::max())
        unreadable(command, reply);
    QString text = second.rest.toString();
    if (text.isEmpty())
        text = u"The client refused %1 with error %2."_s.arg(excerpt(command)).arg(code);
    throw SkypeError(int(code), text);
}

QString value(const QString &command, const QString &reply, QStringView prefix)
{
    throwIfError(command, reply);
    if (!reply.startsWith(prefix))
        unreadable(command, reply);
    if (reply.size() == prefix.size())
        return {};
    if (reply.at(prefix.size()) != u' ')
        unreadable(command, reply);
    return reply.mid(prefix.size() + 1);
}

int callStatus(const QString &command, const QString &reply, int callId)
{
    const QString word = value(command, reply, u"CALL %1 STATUS"_s.arg(callId));
    if (!isStatusWord(word))
        unreadable(command, reply);
    return Protocol::callStatusFromWord(word);
}

QList<int> activeCallIds(const QString &command, const QString &reply)
{
    throwIfError(command, reply);
    const Protocol::Split first = Protocol::splitWord(reply);
    if (first.head != u"CALLS" && first.head != u"ACTIVECALLS")
        unreadable(command, reply);
    QList<int> ids;
    if (first.rest.trimmed().isEmpty())
        return ids;
    for (QStringView item : first.rest.split(u',')) {
        int id = 0;
        if (!parseHandleId(item.trimmed(), id))
            unreadable(command, reply);
        ids.append(id);
    }
    return ids;
}

int placedCallId(const QString &command, const QString &reply)
{
    return placedId(command, reply, u"CALL");
}

int sentMessageId(const QString &command, const QString &reply)
{
    return placedId(command, reply, u"CHATMESSAGE");
}

bool silentMode(const QString &command, const QString &reply)
{
    const QString word = value(command, reply, u"SILENT_MODE");
    if (word == u"ON")
        return true;
    if (word == u"OFF")
        return false;
    unreadable(command, reply);
}

void expectEcho(const QString &command, const QString &reply)
{
    throwIfError(command, reply);
    if (reply != command)
        unreadable(command, reply);
}

QString commandReply(const QString &command, const QString &reply, int commandId)
{
    const QString prefix = u"#%1"_s.arg(commandId);
    const QString rest = value(command, reply, prefix);
    throwIfError(command, rest);
    return rest;
}

void expectOk(const QString &command, const QString &reply)
{
    throwIfError(command, reply);
    if (reply != u"OK")
        unreadable(command, reply);
}

int protocolVersion(const QString &command, const QString &reply)
{
    const QString number = value(command, reply, u"PROTOCOL");
    int version = 0;
    if (!parseHandleId(number, version) || version < 1)
        unreadable(command, reply);
    return version;
}

std::optional<Notification> parseNotification(QStringView text)
{
    Notification n;
    QStringView word;
    if (parseObjectStatus(text, u"CALL", n.id, word)) {
        n.kind = Notification::CallStatus;
        n.status = Protocol::callStatusFromWord(word);
        return n;
    }
    if (parseObjectStatus(text, u"CHATMESSAGE", n.id, word)) {
        n.kind = Notification::MessageStatus;
        n.status = Protocol::messageStatusFromWord(word);
        return n;
    }
    return std::nullopt;
}

} // namespace Replies
