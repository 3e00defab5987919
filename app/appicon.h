#pragma once

#include <QIcon>

// The program's icon, for the tray and the windows; drawn, so no image file has to be found.
QIcon lumotalkIcon();
