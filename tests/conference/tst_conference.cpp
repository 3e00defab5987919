// The chat commands, adding a participant and silent mode, driven through a client connection
// to the simulated world: the remote side acts through the world, and the outcome is checked in
// the log, in the chats and in the commands the client sent.

#include "fakehost.h"
#include "inorder.h"

#include <protocol.h>

#include <QSet>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString Me = u"me.lumo"_s;
const QString TeamTopic = u"Team call"_s;
const QString OtherTopic = u"Other chat"_s;
const QString Announcement =
    u"me.lumo is now hosting a conference call. Type /join to join the conference."_s;
const QString Refusal = u"It is not possible to use it."_s;

WorldSetup testWorld()
{
    WorldSetup setup;
    setup.account = {Me, u"Me"_s};
    const auto contact = [](const QString &handle, Behaviour::Kind kind, int delayMs = 1000) {
        return Contact{handle, handle, Behaviour{kind, delayMs}};
    };
    setup.contacts = {contact(u"alice"_s, Behaviour::Answer),      contact(u"bob"_s, Behaviour::Answer),
                      contact(u"carol"_s, Behaviour::Refuse, 500), contact(u"dave"_s, Behaviour::Busy),
                      contact(u"erin"_s, Behaviour::NeverAnswer),  contact(u"frank"_s, Behaviour::Offline),
                      contact(u"gina"_s, Behaviour::Answer),       contact(u"zed"_s, Behaviour::Answer)};
    const QStringList members = {Me,        u"alice"_s, u"bob"_s,   u"carol"_s,
                                 u"dave"_s, u"erin"_s,  u"frank"_s, u"gina"_s};
    for (const QString &topic : {TeamTopic, OtherTopic, QString(), u"会議☆ 𝄞"_s})
        setup.chats.append(Chat{QString(), topic, members, false});
    setup.dialogs = false;
    return setup;
}

} // namespace

class TestConference final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeHost> h;
    QSet<qint64> m_typed; // messages the test wrote as the local user
    QHash<QString, qsizetype> m_mark;

    QString chatWithTopic(const QString &topic) const
    {
        for (const Chat &chat : h->world.chats()) {
            if (chat.topic == topic)
                return chat.name;
        }
        return {};
    }
    QString team() const { return chatWithTopic(TeamTopic); }
    QString other() const { return chatWithTopic(OtherTopic); }

    // Writes text in a chat and waits until the program has handled it.
    [[nodiscard]] bool say(const QString &sender, const QString &chat, const QString &text)
    {
        const Outcome said = h->world.say(sender, chat, text);
        if (!said.ok())
            return false;
        const bool local = sender == Me;
        if (local)
            m_typed.insert(said.value);
        const int status = local ? Protocol::MessageSent : Protocol::MessageReceived;
        return QTest::qWaitFor([&] { return h->wasHandled(said.value, status); }, 10000);
    }

    // Everything the program wrote in a chat since the last mark.
    QStringList replies(const QString &chat) const
    {
        QStringList bodies;
        const QList<Message> messages = h->world.messages(chat);
        for (qsizetype i = m_mark.value(chat, 0); i < messages.size(); ++i) {
            if (messages.at(i).sender == Me && !m_typed.contains(messages.at(i).id))
                bodies.append(messages.at(i).body);
        }
        return bodies;
    }

    // Forgets the log, the chats and the wire so far.
    void mark()
    {
        for (const Chat &chat : h->world.chats())
            m_mark.insert(chat.name, h->world.messages(chat.name).size());
        h->log.clear();
        h->served.clear();
        h->comments.clear();
    }

    // The overlay's texts apart from the program's own replies, which fly over it like any message.
    QStringList comments() const
    {
        QSet<QString> replies;
        for (const Message &message : h->world.messages()) {
            if (message.sender == Me && !m_typed.contains(message.id))
                replies.insert(message.body);
        }
        QStringList texts;
        for (const QString &text : std::as_const(h->comments)) {
            if (!replies.contains(text))
                texts.append(text);
        }
        return texts;
    }

    QStringList commands() const
    {
        QStringList sent;
        for (const Served &s : std::as_const(h->served))
            sent.append(s.command);
        return sent;
    }

    // A call from a contact that the local user has answered.
    qint64 callInProgress(const QString &handle)
    {
        const qint64 id = h->world.callLocalUser(handle).value;
        h->world.answerCall(id);
        QTest::qWait(1);
        return id;
    }

    Call callTo(const QString &handle) const
    {
        const QList<Call> calls = h->world.calls();
        for (auto it = calls.crbegin(); it != calls.crend(); ++it) {
            if (it->partner == handle)
                return *it;
        }
        return {};
    }

    // Runs action once the client has sent command.
    void onCommand(const QString &command, std::function<void()> action)
    {
        auto done = std::make_shared<bool>(false);
        FakeHost *host = h.get();
        connect(&h->server, &ApiServer::served, host,
                [command, action, done, host](ApiServer::ClientId, const QString &served, const QString &) {
                    if (!*done && served == command) {
                        *done = true;
                        QTimer::singleShot(0, host, action);
                    }
                });
    }

    [[nodiscard]] bool startHosting()
    {
        if (!say(Me, team(), u"/host"_s))
            return false;
        mark();
        return h->conference.Hosting == 1;
    }

    QStringList addPrelude(const QString &handle) const
    {
        return {u"Remote join request detected."_s,
                u"Adding "_s + handle + u" to the conference.."_s,
                u"Initiating OnHold sequence"_s,
                u"Initiating OnHold check sequence"_s,
                u"OnHold check sequence finished"_s,
                u"Placing new call to "_s + handle,
                u"Waiting for the new call to become InProgress"_s};
    }

private slots:
    void init()
    {
        h = std::make_unique<FakeHost>(testWorld());
        h->connectClient();
        QTRY_COMPARE(h->attachStatus, int(Protocol::AttachSuccess));
        h->pacer.start();
        m_typed.clear();
        m_mark.clear();
        mark();
    }

    void cleanup()
    {
        QVERIFY2(h->errors.isEmpty(), qPrintable(h->errors.join(u'\n')));
        h.reset();
    }

    void hostCommand_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::newRow("plain topic") << TeamTopic;
        QTest::newRow("no topic") << QString();
        QTest::newRow("any Unicode") << u"会議☆ 𝄞"_s;
    }
    void hostCommand()
    {
        QFETCH(QString, topic);
        const QString chat = chatWithTopic(topic);
        h->overlay = true;
        QVERIFY(say(Me, chat, u"/host"_s));
        QCOMPARE(h->log, QStringList{u"We are now hosting a conference call in "_s + topic});
        QCOMPARE(replies(chat), QStringList{Announcement});
        QCOMPARE(int(h->conference.Hosting), 1);
        QCOMPARE(h->conference.HostChat->Name(), chat);
        QCOMPARE(comments(), QStringList{u"/host"_s});

        mark();
        QVERIFY(say(Me, chat, u"/host"_s));
        QCOMPARE(h->log, (QStringList{u"There is already a conference call host,"_s,
                                      u"so we cannot host a new one."_s}));
        QVERIFY(replies(chat).isEmpty());
        QVERIFY(comments().isEmpty());
        QCOMPARE(h->conference.HostChat->Name(), chat);
    }

    void remoteHost_data()
    {
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<bool>("hostingBefore");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<bool>("hostingAfter");
        QTest::addColumn<QStringList>("expectedReplies");
        const QString full =
            Announcement + u"\nType /remote_reboot  Reboot the software.\nType /remote_host"_s;
        QTest::newRow("allowed") << true << false << u"alice"_s << true << QStringList{full};
        QTest::newRow("not allowed") << false << false << u"alice"_s << false << QStringList{Refusal};
        QTest::newRow("while hosting") << true << true << u"alice"_s << true << QStringList();
        QTest::newRow("sent locally") << true << false << Me << false << QStringList();
    }
    void remoteHost()
    {
        QFETCH(bool, allowed);
        QFETCH(bool, hostingBefore);
        QFETCH(QString, sender);
        QFETCH(bool, hostingAfter);
        QFETCH(QStringList, expectedReplies);
        h->remoteJoin = allowed;
        if (hostingBefore)
            QVERIFY(startHosting());
        QVERIFY(say(sender, other(), u"/remote_host"_s));
        QVERIFY(h->log.isEmpty());
        QCOMPARE(replies(other()), expectedReplies);
        QVERIFY(replies(team()).isEmpty());
        QCOMPARE(int(h->conference.Hosting), hostingAfter ? 1 : 0);
        if (hostingBefore)
            QCOMPARE(h->conference.HostChat->Name(), team());
        else if (!expectedReplies.isEmpty())
            QCOMPARE(h->conference.HostChat->Name(), other());
        else
            QVERIFY(!h->conference.HostChat);
    }

    void remoteReboot_data()
    {
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<bool>("hosting");
        QTest::addColumn<QStringList>("expectedReplies");
        QTest::addColumn<int>("arms");
        QTest::newRow("allowed") << true << false << QStringList{u"reboot"_s} << 1;
        QTest::newRow("allowed while hosting") << true << true << QStringList{u"reboot"_s} << 1;
        QTest::newRow("not allowed") << false << false << QStringList{Refusal} << 0;
    }
    void remoteReboot()
    {
        QFETCH(bool, allowed);
        QFETCH(bool, hosting);
        QFETCH(QStringList, expectedReplies);
        QFETCH(int, arms);
        h->remoteReboot = allowed;
        if (hosting)
            QVERIFY(startHosting());
        QVERIFY(say(u"carol"_s, team(), u"/remote_reboot"_s));
        QCOMPARE(replies(team()), expectedReplies);
        QCOMPARE(h->restartArms, arms);
        QVERIFY(h->log.isEmpty());
        QCOMPARE(int(h->conference.Hosting), hosting ? 1 : 0);
        QCOMPARE(h->conference.HostChat->Name(), team());
    }

    void remoteRebootTwice()
    {
        h->remoteReboot = true;
        QVERIFY(say(u"carol"_s, team(), u"/remote_reboot"_s));
        QVERIFY(say(u"alice"_s, team(), u"/remote_reboot"_s));
        QCOMPARE(replies(team()), (QStringList{u"reboot"_s, u"reboot"_s}));
        // The host's one-shot timer turns both into one restart.
        QCOMPARE(h->restartArms, 2);
    }

    // A refused "/remote_reboot" from another chat moves the chat the host answers in.
    void remoteRebootMovesHostChat()
    {
        QVERIFY(startHosting());
        QVERIFY(say(u"bob"_s, other(), u"/remote_reboot"_s));
        QCOMPARE(replies(other()), QStringList{Refusal});
        QCOMPARE(int(h->conference.Hosting), 1);
        QCOMPARE(h->conference.HostChat->Name(), other());

        mark();
        QVERIFY(say(u"alice"_s, team(), u"/join"_s));
        QVERIFY(h->log.isEmpty());
        QVERIFY(say(u"alice"_s, other(), u"/join"_s));
        QCOMPARE(h->log.value(0), u"Remote join request detected."_s);

        mark();
        QVERIFY(say(Me, team(), u"/silent"_s));
        QCOMPARE(replies(other()), (QStringList{u"Silent Mode ON"_s, u"Error:Wait Time Out"_s}));
        QVERIFY(replies(team()).isEmpty());
    }

    void nearMisses_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("hosting");
        const QString alice = u"alice"_s;
        const auto row = [](const char *name, const QString &sender, const QString &body, bool hosting) {
            QTest::newRow(name) << sender << body << hosting;
        };
        row("/Host", Me, u"/Host"_s, false);
        row("blank before /host", Me, u" /host"_s, false);
        row("blank after /host", Me, u"/host "_s, false);
        row("line feed after /host", Me, u"/host\n"_s, false);
        row("/host with words", Me, u"/host now"_s, false);
        row("/host received", alice, u"/host"_s, false);
        row("fullwidth solidus /host", Me, u"／host"_s, false);
        row("Cyrillic t in /host", Me, u"/hosт"_s, false);
        row("/remote_host blank after", alice, u"/remote_host "_s, false);
        row("/REMOTE_HOST", alice, u"/REMOTE_HOST"_s, false);
        row("/remote_host with words", alice, u"/remote_host me"_s, false);
        row("/remote_reboot with words", alice, u"/remote_reboot please"_s, false);
        row("blank before /remote_reboot", alice, u" /remote_reboot"_s, false);
        row("/Remote_reboot", alice, u"/Remote_reboot"_s, false);
        row("/remote_reboot sent locally", Me, u"/remote_reboot"_s, false);
        row("/JOIN", alice, u"/JOIN"_s, true);
        row("blank before /join", alice, u" /join"_s, true);
        row("blank after /join", alice, u"/join "_s, true);
        row("/join with words", alice, u"/join me"_s, true);
        row("/Silent", Me, u"/Silent"_s, true);
        row("blank after /silent", Me, u"/silent "_s, true);
        row("/silent received", alice, u"/silent"_s, true);
        row("/silent while not hosting", Me, u"/silent"_s, false);
    }
    void nearMisses()
    {
        QFETCH(QString, sender);
        QFETCH(QString, body);
        QFETCH(bool, hosting);
        h->remoteJoin = true;
        h->remoteReboot = true;
        if (hosting)
            QVERIFY(startHosting());
        QVERIFY(say(sender, team(), body));
        QVERIFY(h->log.isEmpty());
        QVERIFY(replies(team()).isEmpty());
        QCOMPARE(h->restartArms, 0);
        QCOMPARE(int(h->conference.Hosting), hosting ? 1 : 0);
        QVERIFY(!commands().contains(u"SET SILENT_MODE ON"_s));
        QVERIFY(h->stayOnTop.isEmpty());
    }

    void otherStatuses_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("hosting");
        QTest::addColumn<int>("status");
        const QString alice = u"alice"_s;
        QTest::newRow("/host sending") << Me << u"/host"_s << false << 0;
        QTest::newRow("/host read") << Me << u"/host"_s << false << 3;
        QTest::newRow("/silent read") << Me << u"/silent"_s << true << 3;
        QTest::newRow("/remote_host read") << alice << u"/remote_host"_s << false << 3;
        QTest::newRow("/remote_reboot unknown") << alice << u"/remote_reboot"_s << false << -1;
        QTest::newRow("/join sending") << alice << u"/join"_s << true << 0;
        QTest::newRow("/join 4") << alice << u"/join"_s << true << 4;
        QTest::newRow("text read") << alice << u"hello"_s << false << 3;
    }
    void otherStatuses()
    {
        QFETCH(QString, sender);
        QFETCH(QString, body);
        QFETCH(bool, hosting);
        QFETCH(int, status);
        h->remoteJoin = true;
        h->remoteReboot = true;
        h->overlay = true;
        if (hosting)
            QVERIFY(startHosting());
        h->dispatch = false;
        QVERIFY(say(sender, team(), body));
        QVERIFY(!h->seen.isEmpty());
        h->conference.SkypeMessageStatus(h->seen.last().first, status);
        QVERIFY(h->log.isEmpty());
        QVERIFY(comments().isEmpty());
        QVERIFY(replies(team()).isEmpty());
        QCOMPARE(h->restartArms, 0);
        QCOMPARE(int(h->conference.Hosting), hosting ? 1 : 0);
    }

    void joinAnswered()
    {
        QVERIFY(startHosting());
        const qint64 bob = callInProgress(u"bob"_s);
        const qint64 zed = callInProgress(u"zed"_s); // not in the chat at all
        mark();
        QVERIFY(say(u"alice"_s, team(), u"/join"_s));

        QStringList expected = addPrelude(u"alice"_s);
        expected << u"New call to alice has entered InProgress state."_s
                 << u"Joining this new call up with existing conference call."_s;
        QCOMPARE(h->log, expected);
        QCOMPARE(replies(team()), (QStringList{u"Adding alice - putting the conference on hold."_s,
                                               u"alice added to the conference."_s}));
        const Call alice = callTo(u"alice"_s);
        QVERIFY(inOrder(commands(),
                        {u"ALTER CALL %1 HOLD"_s.arg(bob), u"ALTER CALL %1 HOLD"_s.arg(zed), u"CALL alice"_s,
                         u"ALTER CALL %1 JOIN_CONFERENCE %2"_s.arg(alice.id).arg(bob)}));
        QCOMPARE(alice.status, int(Protocol::CallInProgress));
        QCOMPARE(h->world.call(bob)->status, int(Protocol::CallInProgress));
        QCOMPARE(alice.confId, h->world.call(bob)->confId);
        QCOMPARE(h->world.call(zed)->status, int(Protocol::CallLocalHold));
        QCOMPARE(int(h->conference.Hosting), 1);
    }

    void joinFails_data()
    {
        QTest::addColumn<QString>("handle");
        QTest::addColumn<int>("endStatus");
        QTest::addColumn<QString>("extraLine");
        QTest::newRow("refused") << u"carol"_s << int(Protocol::CallRefused) << QString();
        QTest::newRow("busy") << u"dave"_s << int(Protocol::CallBusy) << QString();
        QTest::newRow("offline") << u"frank"_s << int(Protocol::CallFailed) << QString();
        QTest::newRow("never answers") << u"erin"_s << int(Protocol::CallCancelled)
                                       << u"The new call was not answered within 0.3 seconds."_s;
    }
    void joinFails()
    {
        QFETCH(QString, handle);
        QFETCH(int, endStatus);
        QFETCH(QString, extraLine);
        h->conference.waitBounds.answerMs = 300;
        QVERIFY(startHosting());
        const qint64 bob = callInProgress(u"bob"_s);
        const qint64 zed = callInProgress(u"zed"_s);
        mark();
        QVERIFY(say(handle, team(), u"/join"_s));

        QStringList expected = addPrelude(handle);
        if (!extraLine.isEmpty())
            expected << extraLine;
        expected << u"Adding "_s + handle + u" failed."_s;
        QCOMPARE(h->log, expected);
        QCOMPARE(replies(team()),
                 (QStringList{u"Adding "_s + handle + u" - putting the conference on hold."_s,
                              u"Call to "_s + handle + u" failed. Resuming conference."_s}));
        // Exactly one call comes back: the first one held.
        QCOMPARE(h->world.call(bob)->status, int(Protocol::CallInProgress));
        QCOMPARE(h->world.call(zed)->status, int(Protocol::CallLocalHold));
        QTRY_COMPARE(callTo(handle).status, endStatus);
        QCOMPARE(int(h->conference.Hosting), 1);
    }

    // Answered and hung up before the program looked again: it ends in neither group.
    void joinEndsOtherwise()
    {
        QVERIFY(startHosting());
        const qint64 bob = callInProgress(u"bob"_s);
        mark();
        onCommand(u"CALL erin"_s, [this] {
            const qint64 id = callTo(u"erin"_s).id;
            h->world.remoteAnswer(id);
            h->world.remoteHangUp(id);
        });
        QVERIFY(say(u"erin"_s, team(), u"/join"_s));

        QStringList expected = addPrelude(u"erin"_s);
        expected << u"The new call ended before it could be joined (Finished)."_s << u"Adding erin failed."_s;
        QVERIFY(inOrder(h->log, expected));
        QCOMPARE(h->world.call(bob)->status, int(Protocol::CallInProgress));
        QVERIFY(!h->log.contains(u"Joining this new call up with existing conference call."_s));
    }

    void joinFromCallInProgress()
    {
        h->overlay = true;
        QVERIFY(startHosting());
        callInProgress(u"bob"_s);
        mark();
        QVERIFY(say(u"bob"_s, team(), u"/join"_s));
        QCOMPARE(h->log, (QStringList{u"Remote join request detected."_s,
                                      u"There already is a call up with bob"_s, u"Ignoring /join"_s}));
        QVERIFY(replies(team()).isEmpty());
        QVERIFY(!commands().contains(u"CALL bob"_s));
        QVERIFY(comments().isEmpty());
    }

    void joinWithoutConference()
    {
        QVERIFY(startHosting());
        QVERIFY(say(u"alice"_s, team(), u"/join"_s));
        QCOMPARE(
            h->log,
            (QStringList{u"Remote join request detected."_s, u"Adding alice to the conference.."_s,
                         u"At this point, no conference call is up."_s, u"Placing normal call to alice"_s}));
        QVERIFY(commands().contains(u"CALL alice"_s));
        QVERIFY(replies(team()).isEmpty());
    }

    void joinIgnored_data()
    {
        QTest::addColumn<bool>("hosting");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<bool>("inOtherChat");
        QTest::addColumn<bool>("asReceived");
        QTest::newRow("not hosting") << false << u"alice"_s << false << false;
        QTest::newRow("other chat") << true << u"alice"_s << true << false;
        QTest::newRow("sent locally") << true << Me << false << false;
        QTest::newRow("received under own handle") << true << Me << false << true;
    }
    void joinIgnored()
    {
        QFETCH(bool, hosting);
        QFETCH(QString, sender);
        QFETCH(bool, inOtherChat);
        QFETCH(bool, asReceived);
        if (hosting)
            QVERIFY(startHosting());
        h->dispatch = !asReceived;
        QVERIFY(say(sender, inOtherChat ? other() : team(), u"/join"_s));
        if (asReceived)
            h->conference.SkypeMessageStatus(h->seen.last().first, Protocol::MessageReceived);
        QVERIFY(h->log.isEmpty());
        QVERIFY(!commands().contains(u"CALL "_s + sender));
    }

    // A "/join" during an add waits for it, then is added to the conference in the same way.
    void secondJoinDuringAdd()
    {
        QVERIFY(startHosting());
        const qint64 bob = callInProgress(u"bob"_s);
        mark();
        onCommand(u"CALL alice"_s, [this] { h->world.say(u"gina"_s, team(), u"/join"_s); });
        QVERIFY(say(u"alice"_s, team(), u"/join"_s));

        QStringList expected = addPrelude(u"alice"_s);
        expected << u"Remote join request detected."_s << u"Adding gina to the conference.."_s
                 << u"Another participant is being added; gina will be added next."_s
                 << u"New call to alice has entered InProgress state."_s
                 << u"Joining this new call up with existing conference call."_s;
        expected << addPrelude(u"gina"_s).mid(1);
        expected << u"New call to gina has entered InProgress state."_s
                 << u"Joining this new call up with existing conference call."_s;
        QCOMPARE(h->log, expected);
        QCOMPARE(replies(team()), (QStringList{u"Adding alice - putting the conference on hold."_s,
                                               u"alice added to the conference."_s,
                                               u"Adding gina - putting the conference on hold."_s,
                                               u"gina added to the conference."_s}));
        const qint64 conf = h->world.call(bob)->confId;
        QVERIFY(conf != 0);
        for (const QString &handle : {u"alice"_s, u"gina"_s}) {
            QCOMPARE(callTo(handle).confId, conf);
            QCOMPARE(callTo(handle).status, int(Protocol::CallInProgress));
        }
        QCOMPARE(h->world.call(bob)->status, int(Protocol::CallInProgress));
    }

    // The held conference loses its last call: hosting ends, and the add says in the log what it
    // can no longer say in the chat.
    void lastCallFinishesDuringAdd()
    {
        QVERIFY(startHosting());
        const qint64 bob = callInProgress(u"bob"_s);
        mark();
        onCommand(u"CALL alice"_s, [this, bob] { h->world.remoteHangUp(bob); });
        QVERIFY(say(u"alice"_s, team(), u"/join"_s));

        QStringList expected = addPrelude(u"alice"_s);
        expected << u"bob dropped (from the conference)."_s << u"All active calls are now finished."_s
                 << u"New call to alice has entered InProgress state."_s
                 << u"Joining this new call up with existing conference call."_s
                 << u"No hosted chat to answer in; not sent: alice added to the conference."_s;
        QVERIFY(inOrder(h->log, expected));
        QCOMPARE(replies(team()), (QStringList{u"Adding alice - putting the conference on hold."_s,
                                               u"bob dropped from the conference."_s}));
        QCOMPARE(int(h->conference.Hosting), 0);
        QVERIFY(!h->conference.HostChat);
        QVERIFY(!commands().join(u'\n').contains(u"JOIN_CONFERENCE"_s));
        QCOMPARE(callTo(u"alice"_s).status, int(Protocol::CallInProgress));
    }

    void restartDuringAdd()
    {
        h->overlay = true;
        QVERIFY(startHosting());
        callInProgress(u"bob"_s);
        mark();
        const ApiServer::ClientId oldClient = h->transportOf->clientId();
        qsizetype servedAtRestart = -1;
        onCommand(u"CALL alice"_s, [&] {
            servedAtRestart = h->served.size();
            h->restart();
        });
        QVERIFY(say(u"alice"_s, team(), u"/join"_s));

        QVERIFY(servedAtRestart >= 0);
        QCOMPARE(h->log.last(), u"The connection to Skype was restarted, so adding alice stopped."_s);
        for (qsizetype i = servedAtRestart; i < h->served.size(); ++i)
            QVERIFY2(h->served.at(i).client != oldClient, qPrintable(h->served.at(i).command));
        QCOMPARE(comments(), QStringList{u"/join"_s});
        QCOMPARE(int(h->conference.Hosting), 0);
        QTRY_COMPARE(h->attachStatus, int(Protocol::AttachSuccess));
    }

    void closingDuringAdd_data()
    {
        QTest::addColumn<bool>("applicationExit");
        QTest::newRow("window closing") << false;
        QTest::newRow("application exit") << true;
    }
    void closingDuringAdd()
    {
        QFETCH(bool, applicationExit);
        QVERIFY(startHosting());
        callInProgress(u"bob"_s);
        mark();
        bool returned = false;
        onCommand(u"CALL erin"_s, [&] {
            if (applicationExit)
                QCoreApplication::exit(0);
            else
                h->closingNow = true;
        });
        h->dispatch = false;
        const Outcome said = h->world.say(u"erin"_s, team(), u"/join"_s);
        QVERIFY(
            QTest::qWaitFor([&] { return h->seen.size() > 0 && h->seen.last().first.Id() == said.value; }));
        // The answer wait is a minute long: only the close can end it this soon.
        QDeadlineTimer soon(5000);
        h->conference.SkypeMessageStatus(h->seen.last().first, Protocol::MessageReceived);
        returned = !soon.hasExpired();
        QVERIFY(returned);
        QCOMPARE(h->log.last(), u"Waiting for the new call to become InProgress"_s);
        // Nothing more of the add reached the client: no hang-up, no resume, no chat reply.
        const QStringList after = commands().mid(commands().indexOf(u"CALL erin"_s) + 1);
        for (const QString &command : after)
            QVERIFY2(command.startsWith(u"GET "_s) || command.startsWith(u"SEARCH "_s), qPrintable(command));
        if (applicationExit) {
            // Let a later loop run again: an application that is not running has nothing to leave.
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
            QCoreApplication::exec();
        }
    }

    void silentCommand_data()
    {
        QTest::addColumn<bool>("alreadySilent");
        QTest::addColumn<bool>("typedElsewhere");
        QTest::newRow("not silent") << false << false;
        QTest::newRow("not silent, typed in another chat") << false << true;
        QTest::newRow("already silent") << true << false;
    }
    void silentCommand()
    {
        QFETCH(bool, alreadySilent);
        QFETCH(bool, typedElsewhere);
        h->world.setSilentMode(alreadySilent);
        QVERIFY(startHosting());
        QVERIFY(say(Me, typedElsewhere ? other() : team(), u"/silent"_s));
        QCOMPARE(replies(team()), (QStringList{u"Silent Mode ON"_s, u"Error:Wait Time Out"_s}));
        QVERIFY(replies(other()).isEmpty());
        if (alreadySilent) {
            QVERIFY(h->log.isEmpty());
            QVERIFY(!commands().contains(u"#12346 SET SILENT_MODE ON"_s));
            QVERIFY(h->stayOnTop.isEmpty());
        } else {
            QCOMPARE(h->log,
                     (QStringList{u"Silent Mode ON"_s, u"Error:Wait Time Out"_s, u"Please, Click"_s}));
            QVERIFY(commands().contains(u"#12346 SET SILENT_MODE ON"_s));
            QCOMPARE(h->stayOnTop, (QList<bool>{false, true}));
        }
        QVERIFY(h->world.silentMode());
    }

    void silentClick_data()
    {
        QTest::addColumn<bool>("alreadySilent");
        QTest::newRow("not silent") << false;
        QTest::newRow("already silent") << true;
    }
    void silentClick()
    {
        QFETCH(bool, alreadySilent);
        h->world.setSilentMode(alreadySilent);
        h->conference.SilentClick();
        QCOMPARE(h->log, (QStringList{u"Silent Mode ON"_s, u"Error:Wait Time Out"_s, u"Please, Click"_s}));
        QCOMPARE(commands(), QStringList{u"#12346 SET SILENT_MODE ON"_s});
        QCOMPARE(h->stayOnTop, (QList<bool>{false, true}));
        QVERIFY(h->world.silentMode());
    }

    void silentClickFails()
    {
        h->transportOf->setServiceAvailable(false);
        QVERIFY_THROWS_EXCEPTION(SkypeError, h->conference.SilentClick());
        QCOMPARE(h->log, (QStringList{u"Silent Mode ON"_s, u"Error:Wait Time Out"_s, u"Please, Click"_s}));
        QCOMPARE(h->stayOnTop, (QList<bool>{false, true}));
    }

    // Every message flies over the overlay, commands included, except a refused "/host" or "/join".
    void overlayFeed()
    {
        h->overlay = true;
        h->remoteReboot = true;
        QVERIFY(say(Me, team(), u"/host"_s));
        QVERIFY(say(u"alice"_s, team(), u"こんにちは ☆ 𝄞\n<b>&amp;</b>"_s));
        QVERIFY(say(Me, team(), u"/host"_s));
        callInProgress(u"bob"_s);
        QVERIFY(say(u"bob"_s, team(), u"/join"_s));
        QVERIFY(say(u"alice"_s, team(), u"/join"_s));
        QVERIFY(say(u"carol"_s, other(), u"/remote_reboot"_s));
        QCOMPARE(comments(), (QStringList{u"/host"_s, u"こんにちは ☆ 𝄞\n<b>&amp;</b>"_s, u"/join"_s,
                                          u"/remote_reboot"_s}));
        QVERIFY(h->log.contains(u"Joining this new call up with existing conference call."_s));
        QVERIFY(h->comments.contains(Announcement));
    }
};

QTEST_GUILESS_MAIN(TestConference)
#include "tst_conference.moc"
