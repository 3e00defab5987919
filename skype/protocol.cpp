#include "protocol.h"

#include <array>

namespace Protocol {
namespace {

using namespace Qt::StringLiterals;

constexpr std::array<const char16_t *, 23> CallWords = {
    u"UNPLACED",
    u"ROUTING",
    u"EARLYMEDIA",
    u"FAILED",
    u"RINGING",
    u"INPROGRESS",
    u"ONHOLD",
    u"FINISHED",
    u"MISSED",
    u"REFUSED",
    u"BUSY",
    u"CANCELLED",
    u"LOCALHOLD",
    u"REMOTEHOLD",
    u"VM_BUFFERING_GREETING",
    u"VM_PLAYING_GREETING",
    u"VM_RECORDING",
    u"VM_UPLOADING",
    u"VM_SENT",
    u"VM_CANCELLED",
    u"VM_FAILED",
    u"TRANSFERRING",
    u"TRANSFERRED",
};

constexpr std::array<const char16_t *, 23> CallTexts = {
    u"Never placed",
    u"Routing",
    u"Playing Early Media",
    u"Sorry, call failed!",
    u"Calling",
    u"Call in Progress",
    u"On Hold",
    u"Finished",
    u"Missed",
    u"Refused",
    u"Busy",
    u"Cancelled",
    u"On Local Hold",
    u"On Remote Hold",
    u"Buffering Greeting",
    u"Playing Greeting",
    u"Recording",
    u"Uploading Voicemail",
    u"Voicemail Has Been Sent",
    u"Voicemail Has Been Cancelled",
    u"Voicemail Failed",
    u"Unknown",
    u"Unknown",
};

constexpr std::array<const char16_t *, 4> MessageWords = {u"SENDING", u"SENT", u"RECEIVED", u"READ"};

template <std::size_t N> int lookup(const std::array<const char16_t *, N> &words, QStringView word)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (word == QStringView(words[i]))
            return int(i);
    }
    return -1;
}

template <std::size_t N> QString wordAt(const std::array<const char16_t *, N> &words, int index)
{
    if (index < 0 || std::size_t(index) >= N)
        return {};
    return QString::fromUtf16(words[std::size_t(index)]);
}

} // namespace

int callStatusFromWord(QStringView word)
{
    return lookup(CallWords, word);
}
QString callStatusWord(int status)
{
    return wordAt(CallWords, status);
}
int messageStatusFromWord(QStringView word)
{
    return lookup(MessageWords, word);
}
QString messageStatusWord(int status)
{
    return wordAt(MessageWords, status);
}

QString callStatusText(int status)
{
    const QString text = wordAt(CallTexts, status);
    return text.isEmpty() ? u"Unknown"_s : text;
}

Split splitWord(QStringView text)
{
    const qsizetype blank = text.indexOf(u' ');
    if (blank < 0)
        return {text, {}, false};
    return {text.left(blank), text.mid(blank + 1), true};
}

bool parseId(QStringView text, qint64 &id)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    qint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c.unicode() - u'0');
    }
    id = value;
    return true;
}

} // namespace Protocol
