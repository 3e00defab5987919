#pragma once

// The simulator program for end-to-end tests: SimProcess starts `skypesim --headless` on the
// test's own session bus (tests run under dbus-run-session), waits until it owns the client's API
// name, and stops it again (also when the object goes). It also speaks the simulator's control
// interface, so a test can play the remote side and wait for what the program under test did:
//
//     SimProcess sim;
//     QVERIFY2(sim.start(), qPrintable(sim.errorText()));
//     ... attach a TSkype over a DBusTransport ...
//     const int call = ...;                         // e.g. from sim.calls()
//     QVERIFY(sim.answer(call));                    // the contact answers
//     QVERIFY(sim.waitServed([](const QString &command, const QString &) {
//         return command.startsWith(u"ALTER CALL");
//     }));
//
// Every control call is bounded (a few seconds); a failed one returns false / 0 / an empty
// array and leaves its D-Bus error text in lastError().

#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <utility>

// Re-runs this test executable once under its own dbus-run-session, so every test executable has
// a private session bus: no test meets another test's simulator, nor the desktop's own client.
// Call first thing in main(); without dbus-run-session it warns and carries on.
void runOnPrivateSessionBus(int argc, char *argv[]);

// QTEST_GUILESS_MAIN / QTEST_MAIN on a private session bus.
#define LUMOTALK_PRIVATE_BUS_MAIN(TestObject, Application)                                                   \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        runOnPrivateSessionBus(argc, argv);                                                                  \
        Application app(argc, argv);                                                                         \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }

class SimProcess final : public QObject
{
    Q_OBJECT
public:
    using ServedPredicate = std::function<bool(const QString &command, const QString &reply)>;
    using NotifiedPredicate = std::function<bool(const QString &text)>;

    explicit SimProcess(QObject *parent = nullptr);
    ~SimProcess() override;

    // The skypesim binary of this build.
    static QString programPath();

    // Starts skypesim --headless with extra arguments and waits, at most timeoutMs, until it
    // owns the API name. False (with errorText()) if it exits or does not get there in time.
    bool start(const QStringList &arguments = {}, int timeoutMs = 10000);
    // Ends it with SIGTERM (SIGKILL if that is not enough) and waits until it is gone.
    void stop();
    // The process dies at once (SIGKILL) / stands still (SIGSTOP) / goes on (SIGCONT).
    void kill();
    void pause();
    void unpause();
    bool isRunning() const;
    qint64 pid() const;
    // What went wrong in start(), with what skypesim wrote to stderr.
    QString errorText() const;
    QString lastError() const { return m_lastError; }

    // --- the control interface ---
    int say(const QString &sender, const QString &chat, const QString &text);
    bool answer(int call);
    bool refuse(int call);
    bool busy(int call);
    bool hangUp(int call);
    bool hold(int call);
    bool resumeCall(int call);
    bool localHangUp(int call);
    bool localAnswer(int call);
    int callMe(const QString &from);
    bool setBehaviour(const QString &handle, const QString &behaviour, int delayMs = -1);
    bool setSilentMode(bool on);
    bool setAutoAllow(bool on);
    int authorize(bool allow);
    bool reset();
    QJsonArray chats();
    QJsonArray messages(const QString &chat);
    QJsonArray calls();
    QJsonArray contacts();
    QJsonArray traffic();
    bool clearTraffic();
    // Any control method by name; the reply's arguments, or an empty list on failure.
    QVariantList control(const QString &method, const QVariantList &arguments = {});

    // Every Served(command, reply) and Notified(text) seen since start() or clearSeen().
    QList<std::pair<QString, QString>> served() const { return m_served; }
    QStringList notified() const { return m_notified; }
    void clearSeen();
    // Waits, running the event loop, until a served command (already seen ones count) matches.
    bool waitServed(const ServedPredicate &predicate, int timeoutMs = 5000);
    bool waitNotified(const NotifiedPredicate &predicate, int timeoutMs = 5000);

signals:
    void servedSeen(const QString &command, const QString &reply);
    void notifiedSeen(const QString &text);

private slots:
    void onServed(const QString &command, const QString &reply);
    void onNotified(const QString &text);

private:
    bool callBool(const QString &method, const QVariantList &arguments);
    int callInt(const QString &method, const QVariantList &arguments);
    QJsonArray callJson(const QString &method, const QVariantList &arguments);
    bool waitFor(const std::function<bool()> &done, int timeoutMs);

    mutable QProcess m_process;
    QString m_startError;
    mutable QByteArray m_stderr; // what skypesim wrote to stderr since start()
    QString m_lastError;
    QList<std::pair<QString, QString>> m_served;
    QStringList m_notified;
};
