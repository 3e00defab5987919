#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class QMessageBox;

// Tells the user about an error that ended a handler. The program goes on afterwards.
class ErrorReporter
{
public:
    virtual ~ErrorReporter() = default;
    // code: the client's error code, none for an error that carries no code.
    virtual void report(std::optional<int> code, const QString &text) = 0;

    // The text every box shows, so tests and boxes agree.
    static QString format(std::optional<int> code, const QString &text);
};

// A box captioned with the program's title. It does not block: a modal box would run a nested
// event loop inside whichever handler failed. The same error shown twice at once gets one box.
class MessageBoxErrorReporter final : public QObject, public ErrorReporter
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~MessageBoxErrorReporter() override;
    void report(std::optional<int> code, const QString &text) override;

private:
    QList<QPointer<QMessageBox>> m_boxes;
};
