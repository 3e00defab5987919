#include "simprocess.h"

#include "dbusnames.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QJsonDocument>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int ControlTimeoutMs = 5000;

bool ownsApiName(qint64 pid)
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    if (!bus)
        return false;
    const QDBusReply<uint> owner = bus->servicePid(DBusNames::ApiService);
    return owner.isValid() && qint64(owner.value()) == pid;
}

} // namespace

void runOnPrivateSessionBus(int argc, char *argv[])
{
    static const char marker[] = "LUMOTALK_PRIVATE_SESSION_BUS";
    if (qEnvironmentVariableIsSet(marker))
        return;
    qputenv(marker, "1");
    char self[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::vector<char *> arguments;
    arguments.push_back(const_cast<char *>("dbus-run-session"));
    arguments.push_back(const_cast<char *>("--"));
    arguments.push_back(length > 0 ? self : argv[0]);
    for (int i = 1; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    ::execvp("dbus-run-session", arguments.data());
    std::fprintf(stderr, "warning: cannot run dbus-run-session (%s); the tests use the current session bus\n",
                 std::strerror(errno));
}

SimProcess::SimProcess(QObject *parent)
    : QObject(parent)
{
    // Any sender: the simulator may be restarted under a new unique name within one test.
    connect(&m_process, &QProcess::readyReadStandardError, this,
            [this] { m_stderr += m_process.readAllStandardError(); });
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(QString(), DBusNames::SimControlPath, DBusNames::SimControlInterface, u"Served"_s, this,
                SLOT(onServed(QString, QString)));
    bus.connect(QString(), DBusNames::SimControlPath, DBusNames::SimControlInterface, u"Notified"_s, this,
                SLOT(onNotified(QString)));
}

SimProcess::~SimProcess()
{
    stop();
}

QString SimProcess::programPath()
{
    return QStringLiteral(SKYPESIM_PATH);
}

bool SimProcess::start(const QStringList &arguments, int timeoutMs)
{
    stop();
    m_startError.clear();
    m_stderr.clear();
    clearSeen();
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(programPath(), QStringList{u"--headless"_s} + arguments);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_startError = u"skypesim did not start: %1"_s.arg(m_process.errorString());
        return false;
    }

    QDBusServiceWatcher watcher(DBusNames::ApiService, QDBusConnection::sessionBus(),
                                QDBusServiceWatcher::WatchForRegistration);
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &loop, &QEventLoop::quit);
    connect(&m_process, &QProcess::finished, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    while (deadline.isActive() && m_process.state() == QProcess::Running &&
           !ownsApiName(m_process.processId()))
        loop.exec();

    if (m_process.state() != QProcess::Running) {
        m_startError = u"skypesim exited with code %1"_s.arg(m_process.exitCode());
        return false;
    }
    if (!ownsApiName(m_process.processId())) {
        m_startError = u"skypesim did not take %1 within %2 ms"_s.arg(DBusNames::ApiService).arg(timeoutMs);
        return false;
    }
    return true;
}

void SimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    unpause();
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

void SimProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(3000);
}

void SimProcess::pause()
{
    if (m_process.state() == QProcess::Running)
        ::kill(pid_t(m_process.processId()), SIGSTOP);
}

void SimProcess::unpause()
{
    if (m_process.state() == QProcess::Running)
        ::kill(pid_t(m_process.processId()), SIGCONT);
}

bool SimProcess::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

qint64 SimProcess::pid() const
{
    return m_process.processId();
}

QString SimProcess::errorText() const
{
    m_stderr += m_process.readAllStandardError();
    const QString stderrText = QString::fromLocal8Bit(m_stderr).trimmed();
    if (stderrText.isEmpty())
        return m_startError;
    return u"%1; stderr: %2"_s.arg(m_startError, stderrText);
}

QVariantList SimProcess::control(const QString &method, const QVariantList &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        DBusNames::SimControlService, DBusNames::SimControlPath, DBusNames::SimControlInterface, method);
    call.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, ControlTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        m_lastError = u"%1: %2"_s.arg(reply.errorName(), reply.errorMessage());
        return {};
    }
    m_lastError.clear();
    return reply.arguments();
}

bool SimProcess::callBool(const QString &method, const QVariantList &arguments)
{
    control(method, arguments);
    return m_lastError.isEmpty();
}

int SimProcess::callInt(const QString &method, const QVariantList &arguments)
{
    const QVariantList reply = control(method, arguments);
    return reply.isEmpty() ? 0 : reply.constFirst().toInt();
}

QJsonArray SimProcess::callJson(const QString &method, const QVariantList &arguments)
{
    const QVariantList reply = control(method, arguments);
    if (reply.isEmpty())
        return {};
    return QJsonDocument::fromJson(reply.constFirst().toString().toUtf8()).array();
}

int SimProcess::say(const QString &sender, const QString &chat, const QString &text)
{
    return callInt(u"Say"_s, {sender, chat, text});
}

bool SimProcess::answer(int call)
{
    return callBool(u"Answer"_s, {call});
}

bool SimProcess::refuse(int call)
{
    return callBool(u"Refuse"_s, {call});
}

bool SimProcess::busy(int call)
{
    return callBool(u"Busy"_s, {call});
}

bool SimProcess::hangUp(int call)
{
    return callBool(u"HangUp"_s, {call});
}

bool SimProcess::hold(int call)
{
    return callBool(u"Hold"_s, {call});
}

bool SimProcess::resumeCall(int call)
{
    return callBool(u"Resume"_s, {call});
}

bool SimProcess::localHangUp(int call)
{
    return callBool(u"LocalHangUp"_s, {call});
}

bool SimProcess::localAnswer(int call)
{
    return callBool(u"LocalAnswer"_s, {call});
}

int SimProcess::callMe(const QString &from)
{
    return callInt(u"CallMe"_s, {from});
}

bool SimProcess::setBehaviour(const QString &handle, const QString &behaviour, int delayMs)
{
    return callBool(u"SetBehaviour"_s, {handle, behaviour, delayMs});
}

bool SimProcess::setSilentMode(bool on)
{
    return callBool(u"SetSilentMode"_s, {on});
}

bool SimProcess::setAutoAllow(bool on)
{
    return callBool(u"SetAutoAllow"_s, {on});
}

int SimProcess::authorize(bool allow)
{
    return callInt(u"Authorize"_s, {allow});
}

bool SimProcess::reset()
{
    return callBool(u"Reset"_s, {});
}

QJsonArray SimProcess::chats()
{
    return callJson(u"Chats"_s, {});
}

QJsonArray SimProcess::messages(const QString &chat)
{
    return callJson(u"Messages"_s, {chat});
}

QJsonArray SimProcess::calls()
{
    return callJson(u"Calls"_s, {});
}

QJsonArray SimProcess::contacts()
{
    return callJson(u"Contacts"_s, {});
}

QJsonArray SimProcess::traffic()
{
    return callJson(u"Traffic"_s, {});
}

bool SimProcess::clearTraffic()
{
    return callBool(u"ClearTraffic"_s, {});
}

void SimProcess::clearSeen()
{
    m_served.clear();
    m_notified.clear();
}

void SimProcess::onServed(const QString &command, const QString &reply)
{
    m_served.append({command, reply});
    emit servedSeen(command, reply);
}

void SimProcess::onNotified(const QString &text)
{
    m_notified.append(text);
    emit notifiedSeen(text);
}

bool SimProcess::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto check = [&] {
        if (done())
            loop.quit();
    };
    connect(this, &SimProcess::servedSeen, &loop, check);
    connect(this, &SimProcess::notifiedSeen, &loop, check);
    deadline.start(timeoutMs);
    loop.exec();
    return done();
}

bool SimProcess::waitServed(const ServedPredicate &predicate, int timeoutMs)
{
    return waitFor(
        [&] {
            for (const auto &[command, reply] : std::as_const(m_served)) {
                if (predicate(command, reply))
                    return true;
            }
            return false;
        },
        timeoutMs);
}

bool SimProcess::waitNotified(const NotifiedPredicate &predicate, int timeoutMs)
{
    return waitFor(
        [&] {
            for (const QString &text : std::as_const(m_notified)) {
                if (predicate(text))
                    return true;
            }
            return false;
        },
        timeoutMs);
}
