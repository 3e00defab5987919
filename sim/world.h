#pragma once

// The simulated chat-and-call client: the local account, contacts, chats, messages, calls and
// silent mode, with the client's protocol commands (execute) and the remote side's and the local
// user's actions as plain methods. GUI-free; all changes are announced by signals, and every
// change a client must hear of is emitted as a protocol notification text.
//
// Time: the model keeps its own millisecond clock. By default it is a manual clock that stands
// still at 0 and moves only through advanceTo()/advanceBy() (tests step it). A program calls
// setRealTime(true) once, right after construction: the world then follows a steady clock and
// wakes itself with one single-shot timer at nextDueMs(), never polling.

#include <QDateTime>
#include <QList>
#include <QMultiMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

// What a contact does when the local user calls them.
struct Behaviour
{
    enum Kind {
        Answer,      // rings, then answers after delayMs
        Refuse,      // rings, then refuses after delayMs
        Busy,        // busy at once, without ringing
        NoAnswer,    // rings until the world's ring time runs out: MISSED
        NeverAnswer, // rings for ever, until someone acts
        Offline,     // cannot be reached: FAILED
    };
    Kind kind = Answer;
    int delayMs = 2000;

    // Text form used by the JSON world and the control interface: "answer 2000", "answer"
    // (2000 ms), "refuse 1500", "refuse" (1500 ms), "busy", "noanswer", "never", "offline".
    static std::optional<Behaviour> fromText(QStringView text);
    QString toText() const;
    bool operator==(const Behaviour &) const = default;
};

struct Account
{
    QString handle;
    QString fullName;
};

struct Contact
{
    QString handle;
    QString fullName;
    Behaviour behaviour;
};

struct Chat
{
    QString name; // "#me/$bob;0123456789abcdef" (dialog) or "#me/$0123456789abcdef" (group)
    QString topic;
    QStringList members; // handles, the local account's among them
    bool dialog = false;
};

struct Message
{
    qint64 id = 0;
    QString body; // every character kept: leading blanks, line feeds, any Unicode
    QString sender;
    QString chatName;
    int status = 0;     // Protocol::MessageStatus
    qint64 timeMs = 0;  // world clock when it was written
    QDateTime wallTime; // UTC, for display
};

struct Call
{
    enum Direction { Outgoing, Incoming };
    qint64 id = 0;
    QString partner;
    Direction direction = Outgoing;
    int status = 0;    // Protocol::CallStatus
    qint64 confId = 0; // 0: in no conference
    qint64 startedMs = 0;
};

// Everything a world is made of; what reset() returns to.
struct WorldSetup
{
    Account account;
    QList<Contact> contacts;
    QList<Chat> chats; // names filled in by the World when left empty
    // Messages already in the chats when the world starts; chatName, sender, body are used.
    QList<Message> messages;
    bool dialogs = true;    // a dialog chat with every contact, after the listed chats
    int ringTimeMs = 30000; // ringing without answer ends as MISSED after this; 0: rings for ever
    int routingMs = 500;    // ROUTING before RINGING (or FAILED / BUSY)
    int sendMs = 100;       // a local message's SENDING before SENT
    bool silentMode = false;
};

// The result of an action: code 0 is success, otherwise a Protocol::Error code with the client's
// text. value is the call, message or conference id the action produced, if any.
struct Outcome
{
    int code = 0;
    QString text;
    qint64 value = 0;

    bool ok() const { return code == 0; }
    QString errorReply() const; // "ERROR <code> <text>"
    static Outcome success(qint64 value = 0) { return {0, {}, value}; }
    static Outcome failure(int code, QString text) { return {code, std::move(text), 0}; }
};

class World final : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<qint64()>;

    // Bodies above this many UTF-16 units are refused (ERROR 510), so no client can exhaust memory.
    static constexpr qsizetype MaxBodyLength = 16 * 1024 * 1024;

    explicit World(QObject *parent = nullptr); // the default demo world
    explicit World(WorldSetup setup, QObject *parent = nullptr);
    ~World() override;

    // The demo world: local account "me.lumo"; alice answers after 2 s, bob refuses, carol never
    // answers (MISSED after the ring time), dave is busy, erin is offline; a group chat holding
    // them all and a dialog chat with each.
    static WorldSetup defaultSetup();
    // Parses a world file (format in docs/simulator-world.md); nullopt with a readable *error.
    static std::optional<WorldSetup> fromJson(const QByteArray &json, QString *error = nullptr);
    // The chat names a world with this account gets: stable, so tests and scripts can name them.
    static QString dialogChatName(const QString &localHandle, const QString &contactHandle);
    static QString groupChatName(const QString &localHandle, const QString &seed);
    static bool isCallEnded(int status); // FINISHED, REFUSED, BUSY, MISSED, FAILED, CANCELLED
    static bool isValidHandle(QStringView handle);

    // Replaces the loaded world and resets to it.
    void load(WorldSetup setup);
    // Back to the loaded world: active calls end (FINISHED, notified), messages go, ids go on.
    void reset();
    const WorldSetup &setup() const { return m_setup; }

    // --- read access ---
    const Account &account() const { return m_setup.account; }
    QList<Contact> contacts() const { return m_contacts; }
    std::optional<Contact> contact(const QString &handle) const;
    QList<Chat> chats() const { return m_chats; }
    std::optional<Chat> chat(const QString &name) const;
    QList<Message> messages() const { return m_messages; } // in the order written
    QList<Message> messages(const QString &chatName) const;
    std::optional<Message> message(qint64 id) const;
    QList<Call> calls() const { return m_calls; } // in the order made
    QList<Call> activeCalls() const;              // not ended, in the order made
    std::optional<Call> call(qint64 id) const;
    bool silentMode() const { return m_silentMode; }

    // --- the protocol: one command of an attached client (no "#id" prefix, no NAME/PROTOCOL) ---
    // Returns the reply text, "ERROR <code> <text>" included. Never throws.
    QString execute(const QString &command);

    // --- the local user's actions ---
    Outcome placeCall(const QStringList &handles); // value: the first call's id
    Outcome holdCall(qint64 id);
    Outcome resumeCall(qint64 id);
    Outcome answerCall(qint64 id); // an incoming call that rings
    Outcome hangUpCall(qint64 id);
    Outcome joinCall(qint64 id, qint64 heldId); // value: the conference id
    void setSilentMode(bool on);                // notified on every call, even if unchanged

    // --- either side writes in a chat: the local account's message goes SENDING then SENT,
    // a contact's arrives RECEIVED. value: the message id ---
    Outcome say(const QString &sender, const QString &chatName, const QString &text);

    // --- the remote side's actions ---
    Outcome remoteAnswer(qint64 id);
    Outcome remoteRefuse(qint64 id);
    Outcome remoteBusy(qint64 id);
    Outcome remoteHangUp(qint64 id);
    Outcome callLocalUser(const QString &fromHandle); // rings until answered, refused or the ring time
    bool setBehaviour(const QString &handle, const Behaviour &behaviour); // false: no such contact

    // --- time ---
    qint64 now() const;
    void setClock(Clock clock); // before anything is scheduled; empty: back to the manual clock
    void advanceTo(qint64 ms);  // manual clock: moves time on, running what falls due on the way
    void advanceBy(qint64 ms);
    void runDue();             // runs everything due by now()
    qint64 nextDueMs() const;  // -1: nothing scheduled
    void setRealTime(bool on); // steady clock, self-driven by a single-shot timer

signals:
    // A protocol notification for every attached client ("CALL 5 STATUS RINGING", ...).
    void notification(const QString &text);
    void messageAdded(qint64 id);
    void messageChanged(qint64 id);
    void callAdded(qint64 id);
    void callChanged(qint64 id);
    void chatsChanged();
    void contactsChanged();
    void silentModeChanged(bool on);
    void worldReset();
    void scheduleChanged(); // nextDueMs() changed

private:
    struct Event
    {
        qint64 objectId = 0;
        std::function<void()> action;
    };

    void schedule(qint64 dueMs, qint64 objectId, std::function<void()> action);
    void cancel(qint64 objectId);
    Outcome endRingingAsCallee(qint64 id, int status);
    Outcome endCall(qint64 id, int ringingIncoming, int ringingOutgoing);
    void announceSchedule();
    void armTimer();
    void runOne();

    Call *findCall(qint64 id);
    Message *findMessage(qint64 id);
    const Chat *findChat(const QString &name) const;
    const Contact *findContact(const QString &handle) const;
    void setCallStatus(Call &call, int status);
    void setMessageStatus(qint64 id, int status);
    void ringOutgoing(qint64 id);
    qint64 nextId() { return ++m_lastId; }
    void populate();
    static QString autoChatName(const QString &localHandle, const Chat &chat, qsizetype index);

    WorldSetup m_setup;
    QList<Contact> m_contacts;
    QList<Chat> m_chats;
    QList<Message> m_messages;
    QHash<qint64, qsizetype> m_messageIndex;
    QList<Call> m_calls;
    bool m_silentMode = false;
    qint64 m_lastId = 0;

    Clock m_clock;
    qint64 m_manualNow = 0;
    QMultiMap<qint64, Event> m_events;
    qint64 m_announcedDue = -1;
    QTimer *m_timer = nullptr;
};
