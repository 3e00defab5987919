#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QString>

// The API traffic the simulator has seen, newest last, for the window and the control interface.
// Bounded in entries and in text per entry, so a chatty or hostile client cannot exhaust memory.
class TrafficLog final : public QObject
{
    Q_OBJECT
public:
    enum class Kind { Command, Reply, Notification, Event };
    struct Entry
    {
        qint64 seq = 0;
        QDateTime time;
        Kind kind = Kind::Event;
        QString client; // the client's bus name; empty for a notification to every client
        QString text;
    };

    static constexpr qsizetype MaxEntries = 2000;
    static constexpr qsizetype MaxTextLength = 4096;

    using QObject::QObject;

    void add(Kind kind, const QString &client, const QString &text);
    void clear();
    const QList<Entry> &entries() const { return m_entries; }
    QJsonArray toJson() const;

    static QString kindName(Kind kind);

signals:
    void added(const TrafficLog::Entry &entry);
    void cleared();

private:
    QList<Entry> m_entries;
    qint64 m_lastSeq = 0;
};
