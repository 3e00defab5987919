// The worlds a simulator starts with: the demo world, worlds read from JSON, and the names the
// client gives its chats.
//
// World file (JSON, every key optional except account.handle; unknown keys are refused so that a
// typo does not pass silently):
// {
//   "account":  { "handle": "me.lumo", "fullName": "Me" },
//   "contacts": [ { "handle": "alice", "fullName": "Alice", "behaviour": "answer 2000" } ],
//   "chats":    [ { "name": "#me.lumo/$0123456789abcdef", "topic": "Demo", "members": ["alice"],
//                   "messages": [ { "from": "alice", "body": "Hello" } ] } ],
//   "dialogs": true, "ringTimeMs": 30000, "routingMs": 500, "sendMs": 100, "silentMode": false
// }
// Behaviours: "answer [ms]", "refuse [ms]", "busy", "noanswer", "never", "offline".

#include "world.h"

#include "protocol.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {

constexpr int DefaultAnswerMs = 2000;
constexpr int DefaultRefuseMs = 1500;
constexpr int MaxDelayMs = 24 * 3600 * 1000;

QString hex16(const QString &seed)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(seed.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
}

} // namespace

// --- behaviours ---

std::optional<Behaviour> Behaviour::fromText(QStringView text)
{
    const Protocol::Split split = Protocol::splitWord(text);
    const QStringView word = split.head;
    qint64 delay = -1;
    if (split.hasRest && (!Protocol::parseId(split.rest, delay) || delay > MaxDelayMs))
        return std::nullopt;
    const auto withDelay = [&](Kind which, int fallback) -> std::optional<Behaviour> {
        return Behaviour{which, delay < 0 ? fallback : int(delay)};
    };
    const auto plain = [&](Kind which) -> std::optional<Behaviour> {
        if (split.hasRest)
            return std::nullopt;
        return Behaviour{which, 0};
    };
    if (word == u"answer")
        return withDelay(Answer, DefaultAnswerMs);
    if (word == u"refuse")
        return withDelay(Refuse, DefaultRefuseMs);
    if (word == u"busy")
        return plain(Busy);
    if (word == u"noanswer")
        return plain(NoAnswer);
    if (word == u"never")
        return plain(NeverAnswer);
    if (word == u"offline")
        return plain(Offline);
    return std::nullopt;
}

QString Behaviour::toText() const
{
    switch (kind) {
    case Answer:
        return u"answer %1"_s.arg(delayMs);
    case Refuse:
        return u"refuse %1"_s.arg(delayMs);
    case Busy:
        return u"busy"_s;
    case NoAnswer:
        return u"noanswer"_s;
    case NeverAnswer:
        return u"never"_s;
    case Offline:
        return u"offline"_s;
    }
    return {};
}

// --- chat names ---

QString World::dialogChatName(const QString &localHandle, const QString &contactHandle)
{
    return u"#%1/$%2;%3"_s.arg(localHandle, contactHandle, hex16(localHandle + u'/' + contactHandle));
}

QString World::groupChatName(const QString &localHandle, const QString &seed)
{
    return u"#%1/$%2"_s.arg(localHandle, hex16(localHandle + u'#' + seed));
}

QString World::autoChatName(const QString &localHandle, const Chat &chat, qsizetype index)
{
    if (chat.dialog) {
        for (const QString &member : chat.members) {
            if (member != localHandle)
                return dialogChatName(localHandle, member);
        }
    }
    return groupChatName(localHandle, u"%1:%2"_s.arg(index).arg(chat.topic));
}

// --- the demo world ---

WorldSetup World::defaultSetup()
{
    WorldSetup setup;
    setup.account = {u"me.lumo"_s, u"Lumo Demo"_s};
    setup.contacts = {
        {u"alice"_s, u"Alice Archer"_s, {Behaviour::Answer, 2000}},
        {u"bob"_s, u"Bob Baker"_s, {Behaviour::Refuse, DefaultRefuseMs}},
        {u"carol"_s, u"Carol Carter"_s, {Behaviour::NoAnswer, 0}},
        {u"dave"_s, u"Dave Dalton"_s, {Behaviour::Busy, 0}},
        {u"erin"_s, u"Erin Ellis"_s, {Behaviour::Offline, 0}},
    };
    Chat group;
    group.topic = u"Lumotalk demo conference"_s;
    group.members = {setup.account.handle};
    for (const Contact &contact : std::as_const(setup.contacts))
        group.members.append(contact.handle);
    group.name = autoChatName(setup.account.handle, group, 0);
    setup.chats = {group};
    Message hello;
    hello.chatName = group.name;
    hello.sender = u"alice"_s;
    hello.body = u"Hi all! Type /host here to start a conference, then /join to be added."_s;
    setup.messages = {hello};
    return setup;
}

// --- world files ---

namespace {

class JsonReader
{
public:
    QString error;

    bool fail(const QString &path, const QString &what)
    {
        if (error.isEmpty())
            error = path.isEmpty() ? what : u"%1: %2"_s.arg(path, what);
        return false;
    }

    bool onlyKeys(const QJsonObject &object, const QString &path, std::initializer_list<QStringView> keys)
    {
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (std::find(keys.begin(), keys.end(), QStringView(it.key())) == keys.end())
                return fail(path, u"unknown key \"%1\""_s.arg(it.key()));
        }
        return true;
    }

    bool string(const QJsonObject &object, const QString &path, const QString &key, QString &out,
                bool required)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined())
            return required ? fail(path, u"\"%1\" is missing"_s.arg(key)) : true;
        if (!value.isString())
            return fail(path, u"\"%1\" must be a string"_s.arg(key));
        out = value.toString();
        return true;
    }

    bool handle(const QJsonObject &object, const QString &path, const QString &key, QString &out)
    {
        if (!string(object, path, key, out, true))
            return false;
        if (!World::isValidHandle(out))
            return fail(path, u"\"%1\" is not a valid handle: \"%2\""_s.arg(key, out));
        return true;
    }

    bool number(const QJsonObject &object, const QString &key, int &out)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined())
            return true;
        const double number = value.toDouble(-1);
        if (!value.isDouble() || number < 0 || number > MaxDelayMs || number != double(qint64(number)))
            return fail({},
                        u"\"%1\" must be a whole number of milliseconds, 0 to %2"_s.arg(key).arg(MaxDelayMs));
        out = int(number);
        return true;
    }

    bool boolean(const QJsonObject &object, const QString &key, bool &out)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined())
            return true;
        if (!value.isBool())
            return fail({}, u"\"%1\" must be true or false"_s.arg(key));
        out = value.toBool();
        return true;
    }

    bool array(const QJsonObject &object, const QString &path, const QString &key, QJsonArray &out)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined())
            return true;
        if (!value.isArray())
            return fail(path, u"\"%1\" must be an array"_s.arg(key));
        out = value.toArray();
        return true;
    }

    bool object(const QJsonValue &value, const QString &path, QJsonObject &out)
    {
        if (!value.isObject())
            return fail(path, u"must be an object"_s);
        out = value.toObject();
        return true;
    }
};

} // namespace

std::optional<WorldSetup> World::fromJson(const QByteArray &json, QString *error)
{
    const auto failed = [error](const QString &text) -> std::optional<WorldSetup> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return failed(
            u"not valid JSON at offset %1: %2"_s.arg(parseError.offset).arg(parseError.errorString()));
    if (!document.isObject())
        return failed(u"the world must be a JSON object"_s);

    JsonReader in;
    const QJsonObject root = document.object();
    WorldSetup setup;
    setup.contacts.clear();
    setup.chats.clear();
    setup.messages.clear();

    QJsonObject account;
    QJsonArray contacts;
    QJsonArray chats;
    const bool ok =
        in.onlyKeys(root, {},
                    {u"account", u"contacts", u"chats", u"dialogs", u"ringTimeMs", u"routingMs", u"sendMs",
                     u"silentMode"}) &&
        (root.contains(u"account"_s) || in.fail({}, u"\"account\" is missing"_s)) &&
        in.object(root.value(u"account"_s), u"account"_s, account) &&
        in.onlyKeys(account, u"account"_s, {u"handle", u"fullName"}) &&
        in.handle(account, u"account"_s, u"handle"_s, setup.account.handle) &&
        in.string(account, u"account"_s, u"fullName"_s, setup.account.fullName, false) &&
        in.array(root, {}, u"contacts"_s, contacts) && in.array(root, {}, u"chats"_s, chats) &&
        in.boolean(root, u"dialogs"_s, setup.dialogs) && in.number(root, u"ringTimeMs"_s, setup.ringTimeMs) &&
        in.number(root, u"routingMs"_s, setup.routingMs) && in.number(root, u"sendMs"_s, setup.sendMs) &&
        in.boolean(root, u"silentMode"_s, setup.silentMode);
    if (!ok)
        return failed(in.error);
    const QString &me = setup.account.handle;

    QSet<QString> handles{me};
    for (qsizetype i = 0; i < contacts.size(); ++i) {
        const QString path = u"contacts[%1]"_s.arg(i);
        QJsonObject object;
        Contact contact;
        QString behaviour = u"answer"_s;
        if (!in.object(contacts.at(i), path, object) ||
            !in.onlyKeys(object, path, {u"handle", u"fullName", u"behaviour"}) ||
            !in.handle(object, path, u"handle"_s, contact.handle) ||
            !in.string(object, path, u"fullName"_s, contact.fullName, false) ||
            !in.string(object, path, u"behaviour"_s, behaviour, false))
            return failed(in.error);
        if (handles.contains(contact.handle))
            return failed(u"%1: handle \"%2\" is already taken"_s.arg(path, contact.handle));
        const std::optional<Behaviour> parsed = Behaviour::fromText(behaviour);
        if (!parsed) {
            return failed(u"%1: unknown behaviour \"%2\" (answer [ms], refuse [ms], busy, noanswer, never, "
                          "offline)"_s.arg(path, behaviour));
        }
        contact.behaviour = *parsed;
        handles.insert(contact.handle);
        setup.contacts.append(contact);
    }

    QSet<QString> chatNames;
    for (qsizetype i = 0; i < chats.size(); ++i) {
        const QString path = u"chats[%1]"_s.arg(i);
        QJsonObject object;
        QJsonArray members;
        QJsonArray messages;
        Chat chat;
        if (!in.object(chats.at(i), path, object) ||
            !in.onlyKeys(object, path, {u"name", u"topic", u"members", u"messages"}) ||
            !in.string(object, path, u"name"_s, chat.name, false) ||
            !in.string(object, path, u"topic"_s, chat.topic, false) ||
            !in.array(object, path, u"members"_s, members) ||
            !in.array(object, path, u"messages"_s, messages))
            return failed(in.error);
        chat.members.append(me);
        for (qsizetype m = 0; m < members.size(); ++m) {
            const QString member = members.at(m).toString();
            if (!members.at(m).isString() || !handles.contains(member))
                return failed(u"%1.members[%2]: not a contact of this world"_s.arg(path).arg(m));
            if (!chat.members.contains(member))
                chat.members.append(member);
        }
        if (chat.name.isEmpty())
            chat.name = autoChatName(me, chat, i);
        if (!chat.name.startsWith(u'#') || chat.name.contains(u' ') || chat.name.contains(u'\n'))
            return failed(u"%1: a chat name starts with # and holds no blanks"_s.arg(path));
        if (chatNames.contains(chat.name))
            return failed(u"%1: chat name \"%2\" is already taken"_s.arg(path, chat.name));
        chatNames.insert(chat.name);
        for (qsizetype m = 0; m < messages.size(); ++m) {
            const QString messagePath = u"%1.messages[%2]"_s.arg(path).arg(m);
            QJsonObject messageObject;
            Message message;
            message.chatName = chat.name;
            if (!in.object(messages.at(m), messagePath, messageObject) ||
                !in.onlyKeys(messageObject, messagePath, {u"from", u"body"}) ||
                !in.string(messageObject, messagePath, u"from"_s, message.sender, true) ||
                !in.string(messageObject, messagePath, u"body"_s, message.body, true))
                return failed(in.error);
            if (!chat.members.contains(message.sender))
                return failed(u"%1: \"%2\" is not a member of the chat"_s.arg(messagePath, message.sender));
            if (message.body.isEmpty())
                return failed(u"%1: the body is empty"_s.arg(messagePath));
            setup.messages.append(message);
        }
        setup.chats.append(chat);
    }
    return setup;
}
