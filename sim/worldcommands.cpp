// The client's text commands for an attached program, read strictly: words are separated by one
// blank, values (message bodies, topics) are the exact rest of the text.

#include "world.h"

#include "protocol.h"

using namespace Qt::StringLiterals;

namespace {

using Protocol::splitWord;

QString error(int code, const QString &text)
{
    return u"ERROR %1 %2"_s.arg(code).arg(text);
}

QString unknownCommand()
{
    return error(Protocol::Error::UnknownCommand, u"Unknown command"_s);
}
QString invalidGet()
{
    return error(Protocol::Error::InvalidGetWhat, u"GET: invalid WHAT"_s);
}

bool is(QStringView word, QStringView keyword)
{
    return word.compare(keyword, Qt::CaseInsensitive) == 0;
}

QString onOff(bool on)
{
    return on ? u"ON"_s : u"OFF"_s;
}

// "a, b" or "a,b" -> {a, b}; an empty target stays in as an empty string, to be refused.
QStringList callTargets(QStringView text)
{
    QStringList targets;
    for (QStringView part : text.split(u',')) {
        if (part.startsWith(u' '))
            part = part.mid(1);
        targets.append(part.toString());
    }
    return targets;
}

} // namespace

QString World::execute(const QString &command)
{
    const Protocol::Split verb = splitWord(command);

    if (is(verb.head, u"PING") && !verb.hasRest)
        return u"PONG"_s;

    if (is(verb.head, u"GET") && verb.hasRest) {
        const Protocol::Split what = splitWord(verb.rest);
        if (is(what.head, u"CURRENTUSERHANDLE") && !what.hasRest)
            return u"CURRENTUSERHANDLE "_s + m_setup.account.handle;
        if (is(what.head, u"SILENT_MODE") && !what.hasRest)
            return u"SILENT_MODE "_s + onOff(m_silentMode);

        if (is(what.head, u"CALL") && what.hasRest) {
            const Protocol::Split target = splitWord(what.rest);
            qint64 id = 0;
            if (!Protocol::parseId(target.head, id))
                return error(Protocol::Error::InvalidCallId, u"Invalid call id"_s);
            const std::optional<Call> found = call(id);
            if (!found)
                return error(Protocol::Error::UnknownCall, u"Unknown call"_s);
            const QString prefix = u"CALL %1 "_s.arg(id);
            const QStringView property = target.rest;
            if (!target.hasRest)
                return invalidGet();
            if (is(property, u"STATUS"))
                return prefix + u"STATUS "_s + Protocol::callStatusWord(found->status);
            if (is(property, u"PARTNER_HANDLE"))
                return prefix + u"PARTNER_HANDLE "_s + found->partner;
            if (is(property, u"PARTNER_DISPNAME")) {
                const std::optional<Contact> partner = contact(found->partner);
                return prefix + u"PARTNER_DISPNAME "_s + (partner ? partner->fullName : QString());
            }
            if (is(property, u"CONF_ID"))
                return prefix + u"CONF_ID %1"_s.arg(found->confId);
            if (is(property, u"TYPE"))
                return prefix +
                       (found->direction == Call::Incoming ? u"TYPE INCOMING_P2P"_s : u"TYPE OUTGOING_P2P"_s);
            return invalidGet();
        }

        if (is(what.head, u"CHATMESSAGE") && what.hasRest) {
            const Protocol::Split target = splitWord(what.rest);
            qint64 id = 0;
            if (!Protocol::parseId(target.head, id))
                return error(Protocol::Error::InvalidMessageId, u"Invalid message id"_s);
            const std::optional<Message> found = message(id);
            if (!found)
                return error(Protocol::Error::UnknownMessage, u"Unknown message"_s);
            const QString prefix = u"CHATMESSAGE %1 "_s.arg(id);
            const QStringView property = target.rest;
            if (!target.hasRest)
                return invalidGet();
            if (is(property, u"BODY"))
                return prefix + u"BODY "_s + found->body;
            if (is(property, u"FROM_HANDLE"))
                return prefix + u"FROM_HANDLE "_s + found->sender;
            if (is(property, u"CHATNAME"))
                return prefix + u"CHATNAME "_s + found->chatName;
            if (is(property, u"STATUS"))
                return prefix + u"STATUS "_s + Protocol::messageStatusWord(found->status);
            if (is(property, u"TIMESTAMP"))
                return prefix + u"TIMESTAMP %1"_s.arg(found->wallTime.toSecsSinceEpoch());
            return invalidGet();
        }

        if (is(what.head, u"CHAT") && what.hasRest) {
            const Protocol::Split target = splitWord(what.rest);
            const std::optional<Chat> found = chat(target.head.toString());
            if (!found)
                return error(Protocol::Error::InvalidChatName, u"Invalid chat name"_s);
            const QString prefix = u"CHAT "_s + found->name + u' ';
            const QStringView property = target.rest;
            if (!target.hasRest)
                return invalidGet();
            if (is(property, u"NAME"))
                return prefix + u"NAME "_s + found->name;
            if (is(property, u"TOPIC"))
                return prefix + u"TOPIC "_s + found->topic;
            if (is(property, u"MEMBERS"))
                return prefix + u"MEMBERS "_s + found->members.join(u' ');
            return invalidGet();
        }
        return invalidGet();
    }

    if (is(verb.head, u"SEARCH") && verb.hasRest) {
        if (is(verb.rest, u"ACTIVECALLS")) {
            QStringList ids;
            for (const Call &active : activeCalls())
                ids.append(QString::number(active.id));
            return u"CALLS "_s + ids.join(u", "_s);
        }
        if (is(verb.rest, u"CALLS")) {
            QStringList ids;
            for (const Call &any : std::as_const(m_calls))
                ids.append(QString::number(any.id));
            return u"CALLS "_s + ids.join(u", "_s);
        }
        if (is(verb.rest, u"CHATS")) {
            QStringList names;
            for (const Chat &any : std::as_const(m_chats))
                names.append(any.name);
            return u"CHATS "_s + names.join(u", "_s);
        }
        return unknownCommand();
    }

    if (is(verb.head, u"ALTER") && verb.hasRest) {
        const Protocol::Split what = splitWord(verb.rest);
        if (!is(what.head, u"CALL") || !what.hasRest)
            return unknownCommand();
        const Protocol::Split target = splitWord(what.rest);
        qint64 id = 0;
        if (!Protocol::parseId(target.head, id))
            return error(Protocol::Error::InvalidCallId, u"Invalid call id"_s);
        if (!call(id))
            return error(Protocol::Error::UnknownCall, u"Unknown call"_s);
        const QStringView action = target.rest;
        Outcome outcome;
        if (!target.hasRest)
            return unknownCommand();
        if (is(action, u"HOLD")) {
            outcome = holdCall(id);
        } else if (is(action, u"RESUME")) {
            outcome = resumeCall(id);
        } else if (is(action, u"ANSWER")) {
            outcome = answerCall(id);
        } else if (is(action, u"HANGUP") || is(action, u"END HANGUP")) {
            outcome = hangUpCall(id);
        } else {
            const Protocol::Split join = splitWord(action);
            if (!is(join.head, u"JOIN_CONFERENCE") || !join.hasRest)
                return unknownCommand();
            qint64 other = 0;
            if (!Protocol::parseId(join.rest, other))
                return error(Protocol::Error::CannotCreateConference, u"Cannot create conference"_s);
            outcome = joinCall(id, other);
        }
        return outcome.ok() ? command : outcome.errorReply();
    }

    if (is(verb.head, u"SET") && verb.hasRest) {
        const Protocol::Split what = splitWord(verb.rest);
        if (is(what.head, u"SILENT_MODE") && what.hasRest) {
            if (!is(what.rest, u"ON") && !is(what.rest, u"OFF"))
                return error(Protocol::Error::UnknownCommand, u"Invalid SILENT_MODE value"_s);
            setSilentMode(is(what.rest, u"ON"));
            return u"SILENT_MODE "_s + onOff(m_silentMode);
        }
        if (is(what.head, u"CALL") && what.hasRest) {
            const Protocol::Split target = splitWord(what.rest);
            qint64 id = 0;
            if (!Protocol::parseId(target.head, id) || !call(id))
                return error(Protocol::Error::SetCallInvalidId, u"Invalid call id"_s);
            const Protocol::Split property = splitWord(target.rest);
            const auto invalidValue = [] {
                return error(Protocol::Error::SetCallInvalidValue, u"Unknown call property or value"_s);
            };
            if (!property.hasRest)
                return invalidValue();
            if (is(property.head, u"STATUS")) {
                Outcome outcome;
                if (is(property.rest, u"ONHOLD"))
                    outcome = holdCall(id);
                else if (is(property.rest, u"INPROGRESS"))
                    outcome =
                        call(id)->direction == Call::Incoming && call(id)->status == Protocol::CallRinging
                            ? answerCall(id)
                            : resumeCall(id);
                else if (is(property.rest, u"FINISHED"))
                    outcome = hangUpCall(id);
                else
                    return invalidValue();
                if (!outcome.ok())
                    return outcome.errorReply();
                return u"CALL %1 STATUS %2"_s.arg(id).arg(Protocol::callStatusWord(call(id)->status));
            }
            if (is(property.head, u"JOIN_CONFERENCE")) {
                qint64 other = 0;
                if (!Protocol::parseId(property.rest, other))
                    return error(Protocol::Error::CannotCreateConference, u"Cannot create conference"_s);
                const Outcome outcome = joinCall(id, other);
                return outcome.ok() ? u"CALL %1 CONF_ID %2"_s.arg(id).arg(outcome.value)
                                    : outcome.errorReply();
            }
            return invalidValue();
        }
        return unknownCommand();
    }

    if (is(verb.head, u"CALL")) {
        const Outcome outcome = placeCall(verb.hasRest ? callTargets(verb.rest) : QStringList());
        if (!outcome.ok())
            return outcome.errorReply();
        return u"CALL %1 STATUS %2"_s.arg(outcome.value)
            .arg(Protocol::callStatusWord(call(outcome.value)->status));
    }

    if (is(verb.head, u"CHATMESSAGE") && verb.hasRest) {
        const Protocol::Split target = splitWord(verb.rest);
        const Outcome outcome = say(m_setup.account.handle, target.head.toString(), target.rest.toString());
        if (!outcome.ok())
            return outcome.errorReply();
        return u"CHATMESSAGE %1 STATUS %2"_s.arg(outcome.value)
            .arg(Protocol::messageStatusWord(Protocol::MessageSending));
    }

    return unknownCommand();
}
