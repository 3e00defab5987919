#pragma once

// Where the client's API lives on the session bus, and the simulator's control interface.

#include <QString>

namespace DBusNames {
using namespace Qt::StringLiterals;

inline const QString ApiService = u"com.Skype.API"_s;
inline const QString ApiPath = u"/com/Skype"_s;
inline const QString ApiInterface = u"com.Skype.API"_s;
inline const QString ApiInvoke = u"Invoke"_s;

inline const QString ClientPath = u"/com/Skype/Client"_s;
inline const QString ClientInterface = u"com.Skype.API.Client"_s;
inline const QString ClientNotify = u"Notify"_s;

inline const QString SimControlService = u"org.lumotalk.SkypeSim"_s;
inline const QString SimControlPath = u"/control"_s;
inline const QString SimControlInterface = u"org.lumotalk.SkypeSim.Control"_s;
} // namespace DBusNames
