#pragma once

#include "tform3.h"

#include <memory>

class QWidget;

// Overlay mode on: a new overlay, with the main window shown and brought above it so it stays
// usable. Off: the overlay is freed with all its comments.
void switchOverlay(bool on, std::unique_ptr<TForm3> &overlay, QWidget *mainWindow, TForm3::SpeedSource speed,
                   TForm3::LogSink log);
