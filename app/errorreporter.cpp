#include "errorreporter.h"

#include <QMessageBox>

using namespace Qt::StringLiterals;

QString ErrorReporter::format(std::optional<int> code, const QString &text)
{
    if (!code)
        return text;
    return u"%1\n\nError code: %2"_s.arg(text).arg(*code);
}

MessageBoxErrorReporter::~MessageBoxErrorReporter()
{
    for (const QPointer<QMessageBox> &box : std::as_const(m_boxes))
        delete box.data();
}

void MessageBoxErrorReporter::report(std::optional<int> code, const QString &text)
{
    const QString message = format(code, text);
    m_boxes.removeAll(nullptr);
    for (const QPointer<QMessageBox> &box : std::as_const(m_boxes)) {
        if (box->text() == message) {
            box->raise();
            return;
        }
    }
    // No parent: the main window may be off-screen, and a box must be seen wherever it is.
    auto *box = new QMessageBox(QMessageBox::Critical, u"Lumotalk"_s, message, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_QuitOnClose, false);
    box->setModal(false);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    box->setObjectName(u"ErrorBox"_s);
    m_boxes.append(box);
    box->show();
}
