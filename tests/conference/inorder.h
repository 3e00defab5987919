#pragma once

#include <QDebug>
#include <QStringList>

// Holds when every line of expected appears in all, in this order.
inline bool inOrder(const QStringList &all, const QStringList &expected)
{
    qsizetype at = 0;
    for (const QString &line : expected) {
        at = all.indexOf(line, at);
        if (at < 0) {
            qWarning() << "missing in order:" << line << "in" << all;
            return false;
        }
        ++at;
    }
    return true;
}
