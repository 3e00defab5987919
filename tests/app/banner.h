#pragma once

// The attach banner as a user reads it in the log, written out here so the tests do not take it
// from the code they check.

#include <QString>
#include <QStringList>

using namespace Qt::StringLiterals;

inline const QString Stars = QString(55, u'*');
inline const QStringList Banner = {
    Stars,
    u"Successfully attached to Skype!"_s,
    u"Available commands via standard Skype chat:"_s,
    u"   /host - starts hosting a conferece call in Skype chat"_s,
    u"   /silent - Silent Mode On"_s,
    u"   /join - joins the conference (for remote users)"_s,
    u"   /remote_reboot - reboot the software  (for remote users)"_s,
    u"   /remote_host - starts hosting a conferece call in Skype chat (for remote users)"_s,
    Stars,
};
