// Feeds arbitrary text to the client layer as replies and notifications: the reply readers
// directly, and a whole TSkype over a scripted transport. Nothing may crash or leak; every
// unreadable reply must surface as a SkypeError.

#include "protocol.h"
#include "replies.h"
#include "skype.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Replies come from the fuzzer's pieces in turn; the handshake always succeeds.
class ScriptedTransport final : public Transport
{
public:
    explicit ScriptedTransport(QStringList replies)
        : m_replies(std::move(replies))
    {}

    bool isServiceAvailable() const override { return true; }

    QString invoke(const QString &, int) override
    {
        if (m_replies.isEmpty())
            throw SkypeError(0, u"out of replies"_s);
        return m_replies.takeFirst();
    }

    void invokeAsync(const QString &command, int, ReplyHandler done) override
    {
        const QString reply = command.startsWith(u"NAME "_s) ? u"OK"_s : u"PROTOCOL 8"_s;
        QTimer::singleShot(0, this, [done = std::move(done), reply] { done(true, reply); });
    }

    void notify(const QString &text) { emit notificationReceived(text); }

private:
    QStringList m_replies;
};

void readDirectly(const QString &text)
{
    const QString command = u"GET SOMETHING"_s;
    const auto attempt = [](auto &&read) {
        try {
            read();
        } catch (const SkypeError &error) {
            if (error.text().isEmpty())
                __builtin_trap();
        }
    };
    attempt([&] { Replies::value(command, text, u"CHATMESSAGE 12 BODY"); });
    attempt([&] { Replies::callStatus(command, text, 5); });
    attempt([&] { Replies::activeCallIds(command, text); });
    attempt([&] { Replies::placedCallId(command, text); });
    attempt([&] { Replies::sentMessageId(command, text); });
    attempt([&] { Replies::silentMode(command, text); });
    attempt([&] { Replies::expectEcho(command, text); });
    attempt([&] { Replies::commandReply(command, text, 12346); });
    attempt([&] { Replies::expectOk(command, text); });
    attempt([&] { Replies::protocolVersion(command, text); });
    (void)Replies::parseNotification(text);
    (void)Replies::excerpt(text);
}

// Runs one operation per reply piece, cycling through the object model.
void operate(TSkype &skype, int which)
{
    switch (which % 16) {
    case 0:
        (void)skype.CurrentUser().Handle();
        break;
    case 1:
        (void)skype.ActiveCalls().Count();
        break;
    case 2:
        (void)skype.ActiveCalls().Item(1).Id();
        break;
    case 3:
        (void)skype.Call(5).Status();
        break;
    case 4:
        (void)skype.Call(5).PartnerHandle();
        break;
    case 5:
        skype.Call(5).Hold();
        break;
    case 6:
        skype.Call(5).Join(3);
        break;
    case 7:
        (void)skype.PlaceCall(u"alice"_s).Id();
        break;
    case 8:
        (void)skype.Message(12).Body();
        break;
    case 9:
        (void)skype.Message(12).FromHandle();
        break;
    case 10:
        (void)skype.Message(12).Chat().Topic();
        break;
    case 11:
        (void)skype.Chat(u"#me/$x;1"_s).Name();
        break;
    case 12:
        (void)skype.Chat(u"#me/$x;1"_s).SendMessage(u"hi"_s).Id();
        break;
    case 13:
        (void)skype.SilentMode();
        break;
    case 14:
        skype.SendCommand(skype.Command(12346, u"SET SILENT_MODE ON"_s, {}, true, 1));
        break;
    default:
        skype.Call(5).Resume();
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    // Pieces split at U+0001; a piece starting with "!" is a notification, the rest replies.
    const QStringList pieces = input.split(QChar(1));
    QStringList replies;
    QStringList notifications;
    for (const QString &piece : pieces) {
        readDirectly(piece);
        if (piece.startsWith(u'!'))
            notifications.append(piece.mid(1));
        else
            replies.append(piece);
    }

    auto owned = std::make_unique<ScriptedTransport>(replies);
    ScriptedTransport *transport = owned.get();
    auto skype = std::make_unique<TSkype>(std::move(owned));
    int delivered = 0;
    QObject::connect(skype.get(), &TSkype::OnCallStatus, skype.get(), [&](const ICall &call, int status) {
        delivered += call.Id() >= 0 && status >= -1 ? 1 : 0;
    });
    QObject::connect(skype.get(), &TSkype::OnMessageStatus, skype.get(),
                     [&](const IChatMessage &message, int status) {
                         delivered += message.Id() >= 0 && status >= -1 ? 1 : 0;
                     });
    skype->Attach(8, false);
    while (skype->AttachmentStatus() != Protocol::AttachSuccess)
        QCoreApplication::processEvents();

    for (const QString &text : notifications)
        transport->notify(text);
    for (qsizetype i = 0; i < replies.size(); ++i) {
        try {
            operate(*skype, int(i + qsizetype(size)));
        } catch (const SkypeError &) {
        }
    }
    skype.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
