#pragma once

// Reading the client's replies and notifications. Free functions with no event loop and no
// connection, so every reply shape is checked in one place (and can be fed arbitrary text).
// Each reader takes the command that was sent, for the error text, and throws SkypeError:
// the client's own code for "ERROR <code> <text>", code 0 for a reply it cannot read.

#include "skypeerror.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace Replies {

// Throws the client's error if reply is "ERROR <code> <text>"; otherwise does nothing.
void throwIfError(const QString &command, const QString &reply);

// The value after "<prefix> " (kept exactly: leading blanks, line feeds, anything), or empty
// when the reply is the prefix alone. Throws for an error reply or any other shape.
QString value(const QString &command, const QString &reply, QStringView prefix);

// "CALL <callId> STATUS <word>" -> the status number (-1 for a word this side does not know).
int callStatus(const QString &command, const QString &reply, int callId);

// "CALLS <id>, <id>" (or "ACTIVECALLS ..."); empty list for "CALLS" and "CALLS ".
QList<int> activeCallIds(const QString &command, const QString &reply);

// "CALL <id> STATUS <word>" for a call just placed -> its id.
int placedCallId(const QString &command, const QString &reply);

// "CHATMESSAGE <id> STATUS <word>" for a message just sent -> its id.
int sentMessageId(const QString &command, const QString &reply);

// "SILENT_MODE ON" / "SILENT_MODE OFF".
bool silentMode(const QString &command, const QString &reply);

// Commands that the client answers by repeating them (ALTER CALL ...).
void expectEcho(const QString &command, const QString &reply);

// The reply to "#<id> <text>": what follows "#<id> ", after checking it for an error.
QString commandReply(const QString &command, const QString &reply, int commandId);

// Handshake: "OK" to the NAME request, "PROTOCOL <n>" to the protocol request.
void expectOk(const QString &command, const QString &reply);
int protocolVersion(const QString &command, const QString &reply);

// A short one-line quotation of a command or reply, for error texts.
QString excerpt(QStringView text);

// A whole decimal id that fits a handle's int; false for anything else.
bool parseHandleId(QStringView text, int &id);

struct Notification
{
    enum Kind { CallStatus, MessageStatus };
    Kind kind = CallStatus;
    int id = 0;
    int status = -1;
};

// "CALL <id> STATUS <word>" or "CHATMESSAGE <id> STATUS <word>"; nothing for any other text.
std::optional<Notification> parseNotification(QStringView text);

} // namespace Replies
