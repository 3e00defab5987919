#include "x11overlayplatform.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

// A compositing manager owns the selection _NET_WM_CM_S<screen> while it runs.
bool compositorRunning(xcb_connection_t *connection, int screen)
{
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()), nullptr);
    if (!atom)
        return false;
    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    std::free(atom);
    return owned;
}

} // namespace

std::unique_ptr<OverlayPlatform> X11OverlayPlatform::create()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return nullptr;
    int screen = 0;
    const QByteArray display = qgetenv("DISPLAY");
    if (const qsizetype dot = display.lastIndexOf('.'); dot > display.lastIndexOf(':'))
        screen = display.mid(dot + 1).toInt();
    return std::unique_ptr<OverlayPlatform>(
        new X11OverlayPlatform(compositorRunning(x11->connection(), screen)));
}

QString X11OverlayPlatform::modeDescription() const
{
    return m_compositor ? u"Overlay: compositor running, transparent background."_s
                        : u"Overlay: no compositor, window shaped to the comments."_s;
}
