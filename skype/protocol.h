#pragma once

// The client's desktop API text protocol (version 8): the words, numbers and texts that the
// client layer and the simulator share, so neither side can drift from the other.

#include <QString>
#include <QStringView>

namespace Protocol {

inline constexpr int Version = 8;

// Attachment statuses reported through TSkype::OnAttachmentStatus.
enum AttachmentStatus : int {
    AttachUnknown = -1,
    AttachSuccess = 0,
    AttachPendingAuthorization = 1,
    AttachRefused = 2,
    AttachNotAvailable = 3,
    AttachAvailable = 4,
};

enum CallStatus : int {
    CallUnknown = -1,
    CallUnplaced = 0,
    CallRouting = 1,
    CallEarlyMedia = 2,
    CallFailed = 3,
    CallRinging = 4,
    CallInProgress = 5,
    CallOnHold = 6,
    CallFinished = 7,
    CallMissed = 8,
    CallRefused = 9,
    CallBusy = 10,
    CallCancelled = 11,
    CallLocalHold = 12,
    CallRemoteHold = 13,
    CallVmBufferingGreeting = 14,
    CallVmPlayingGreeting = 15,
    CallVmRecording = 16,
    CallVmUploading = 17,
    CallVmSent = 18,
    CallVmCancelled = 19,
    CallVmFailed = 20,
    CallTransferring = 21,
    CallTransferred = 22,
};

enum MessageStatus : int {
    MessageUnknown = -1,
    MessageSending = 0,
    MessageSent = 1,
    MessageReceived = 2,
    MessageRead = 3,
};

// Word <-> number; an unknown word gives the Unknown value, an unknown number an empty word.
int callStatusFromWord(QStringView word);
QString callStatusWord(int status);
int messageStatusFromWord(QStringView word);
QString messageStatusWord(int status);

// The client's own English text for a call status ("Call in Progress", ...).
QString callStatusText(int status);

// Error codes of the client's "ERROR <code> <text>" replies that both sides name.
namespace Error {
inline constexpr int UnknownCommand = 2;
inline constexpr int InvalidGetWhat = 7;
inline constexpr int InvalidCallId = 11;
inline constexpr int UnknownCall = 12;
inline constexpr int InvalidMessageId = 14;
inline constexpr int UnknownMessage = 15;
inline constexpr int SetCallInvalidId = 19;
inline constexpr int SetCallInvalidValue = 20;
inline constexpr int CannotHold = 22;
inline constexpr int CannotResume = 23;
inline constexpr int CannotHangUpInactive = 24;
inline constexpr int InvalidUserHandle = 34;
inline constexpr int EmptyMessage = 43;
inline constexpr int AccessDenied = 68;
inline constexpr int CannotCreateConference = 72;
inline constexpr int CannotCallSelf = 94;
inline constexpr int InvalidChatName = 105;
inline constexpr int ChatSendFailed = 510;
inline constexpr int ChatSendFailedNotMember = 511;
} // namespace Error

// Splits off the first blank-separated word of text; rest is what follows that one blank,
// kept exactly (leading blanks and line feeds of a value survive).
struct Split
{
    QStringView head;
    QStringView rest;
    bool hasRest = false;
};
Split splitWord(QStringView text);

// Parses a whole non-negative decimal id; false on anything else (sign, blank, overflow).
bool parseId(QStringView text, qint64 &id);

} // namespace Protocol
