#include "overlayplatform.h"

#include "x11overlayplatform.h"

#include <QGuiApplication>

using namespace Qt::StringLiterals;

QString OverlayPlatform::modeDescription() const
{
    return u"Overlay: transparent background (%1)."_s.arg(QGuiApplication::platformName());
}

std::unique_ptr<OverlayPlatform> OverlayPlatform::create()
{
    if (auto x11 = X11OverlayPlatform::create())
        return x11;
    return std::make_unique<OverlayPlatform>();
}
