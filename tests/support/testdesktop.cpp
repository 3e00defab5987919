#include "testdesktop.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>

using namespace Qt::StringLiterals;

TestDesktop::~TestDesktop()
{
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
        (*it)->terminate();
        if (!(*it)->waitForFinished(2000))
            (*it)->kill();
        (*it)->waitForFinished(1000);
    }
}

bool TestDesktop::selectionOwned(const QString &atom)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const QByteArray name = atom.toLatin1();
    xcb_intern_atom_reply_t *atomReply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()), nullptr);
    bool owned = false;
    if (atomReply) {
        xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(
            connection, xcb_get_selection_owner(connection, atomReply->atom), nullptr);
        owned = owner && owner->owner != XCB_NONE;
        std::free(owner);
        std::free(atomReply);
    }
    xcb_disconnect(connection);
    return owned;
}

bool TestDesktop::start(const QString &program, const QStringList &arguments, const QString &readySelection)
{
    auto process = std::make_unique<QProcess>();
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(program, arguments);
    if (!process->waitForStarted(5000))
        return false;
    QProcess *raw = process.get();
    m_processes.push_back(std::move(process));
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (raw->state() != QProcess::Running)
            return false;
        if (selectionOwned(readySelection))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool TestDesktop::startWindowManager()
{
    if (selectionOwned(u"WM_S0"_s))
        return true;
    return start(u"openbox"_s, {u"--sm-disable"_s}, u"WM_S0"_s);
}

bool TestDesktop::startCompositor()
{
    if (selectionOwned(u"_NET_WM_CM_S0"_s))
        return true;
    if (!start(u"picom"_s, {u"--backend"_s, u"xrender"_s, u"--no-fading-openclose"_s}, u"_NET_WM_CM_S0"_s))
        return false;
    m_compositor = m_processes.back().get();
    return true;
}

void TestDesktop::stopCompositor()
{
    if (!m_compositor)
        return;
    m_compositor->terminate();
    m_compositor->waitForFinished(3000);
    m_compositor = nullptr;
    const QDeadlineTimer deadline(3000);
    while (!deadline.hasExpired() && selectionOwned(u"_NET_WM_CM_S0"_s))
        QThread::msleep(50);
}

bool TestDesktop::startTray()
{
    if (selectionOwned(u"_NET_SYSTEM_TRAY_S0"_s))
        return true;
    return start(u"trayer"_s,
                 {u"--edge"_s, u"bottom"_s, u"--align"_s, u"right"_s, u"--widthtype"_s, u"pixel"_s,
                  u"--width"_s, u"120"_s, u"--height"_s, u"24"_s},
                 u"_NET_SYSTEM_TRAY_S0"_s);
}

QString TestDesktop::screenshot(const QString &name, const QString &windowId)
{
    const QString dir = QDir::current().absoluteFilePath(u"artifacts"_s);
    QDir().mkpath(dir);
    const QString path = dir + u'/' + name + u".png"_s;
    QProcess::execute(u"import"_s, {u"-window"_s, windowId.isEmpty() ? u"root"_s : windowId, path});
    return path;
}
