#include "desktopplatform.h"

#include <QGuiApplication>
#include <QSystemTrayIcon>

using namespace Qt::StringLiterals;

namespace {

// X11 keeps window coordinates in 16 bits, so a far-away position wraps around onto the screen,
// and window managers pull windows that leave every screen back onto one.
class X11Platform final : public DesktopPlatform
{
public:
    bool keepsWindowsOffScreen() const override { return false; }
};

class WaylandPlatform final : public DesktopPlatform
{
public:
    bool canPlaceWindows() const override { return false; }
};

} // namespace

bool DesktopPlatform::trayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

std::unique_ptr<DesktopPlatform> DesktopPlatform::forRunningPlatform()
{
    const QString name = QGuiApplication::platformName();
    if (name == u"xcb")
        return std::make_unique<X11Platform>();
    if (name.startsWith(u"wayland"))
        return std::make_unique<WaylandPlatform>();
    return std::make_unique<DesktopPlatform>();
}

void preferXcbOnWayland()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    qputenv("QT_QPA_PLATFORM", "xcb");
}
