#pragma once

#include <QString>

#include <exception>

// An error of the client API: the client's own "ERROR <code> <text>", or code 0 with a text of
// ours for a transport failure, a reply that never came or a reply that cannot be read.
class SkypeError final : public std::exception
{
public:
    SkypeError(int code, QString text)
        : m_code(code)
        , m_text(std::move(text))
        , m_what(m_text.toUtf8())
    {}

    int code() const noexcept { return m_code; }
    const QString &text() const noexcept { return m_text; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    int m_code;
    QString m_text;
    QByteArray m_what;
};
