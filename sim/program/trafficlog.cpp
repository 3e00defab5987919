#include "trafficlog.h"

#include <QJsonObject>

using namespace Qt::StringLiterals;

void TrafficLog::add(Kind kind, const QString &client, const QString &text)
{
    Entry entry{++m_lastSeq, QDateTime::currentDateTimeUtc(), kind, client, text};
    if (entry.text.size() > MaxTextLength) {
        const qsizetype dropped = entry.text.size() - MaxTextLength;
        entry.text.truncate(MaxTextLength);
        entry.text += u"… (%1 more characters)"_s.arg(dropped);
    }
    if (m_entries.size() >= MaxEntries)
        m_entries.remove(0, m_entries.size() - MaxEntries + 1);
    m_entries.append(entry);
    emit added(m_entries.constLast());
}

void TrafficLog::clear()
{
    m_entries.clear();
    emit cleared();
}

QString TrafficLog::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Command:
        return u"command"_s;
    case Kind::Reply:
        return u"reply"_s;
    case Kind::Notification:
        return u"notification"_s;
    case Kind::Event:
        break;
    }
    return u"event"_s;
}

QJsonArray TrafficLog::toJson() const
{
    QJsonArray array;
    for (const Entry &entry : m_entries) {
        array.append(QJsonObject{
            {u"seq"_s, entry.seq},
            {u"time"_s, entry.time.toString(Qt::ISODateWithMs)},
            {u"kind"_s, kindName(entry.kind)},
            {u"client"_s, entry.client},
            {u"text"_s, entry.text},
        });
    }
    return array;
}
