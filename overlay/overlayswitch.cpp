#include "overlayswitch.h"

#include <QWidget>

void switchOverlay(bool on, std::unique_ptr<TForm3> &overlay, QWidget *mainWindow, TForm3::SpeedSource speed,
                   TForm3::LogSink log)
{
    overlay.reset();
    if (!on)
        return;
    overlay = std::make_unique<TForm3>(std::move(speed), std::move(log));
    overlay->show();
    if (mainWindow) {
        mainWindow->show();
        mainWindow->raise();
        mainWindow->activateWindow();
    }
}
