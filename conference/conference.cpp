#include "conference.h"

Conference::Conference(ConferenceHost &host, QObject *parent)
    : QObject(parent)
    , m_host(host)
{}

void Conference::endHosting()
{
    HostChat.reset();
    Hosting = 0;
}
