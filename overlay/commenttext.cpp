#include "commenttext.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRegularExpression>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// One unwrapped line of plain text; QTextLayout, unlike the label and string-drawing helpers, gives
// no character a special meaning.
struct LineLayout
{
    LineLayout(const QString &text, const QFont &font)
        : layout(text, font)
    {
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        layout.setTextOption(option);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        if (line.isValid())
            line.setLineWidth(1e9);
        layout.endLayout();
    }
    qreal width() const { return layout.lineCount() ? layout.lineAt(0).naturalTextWidth() : 0; }
    QTextLayout layout;
};

} // namespace

QStringList CommentText::splitLines(const QString &text)
{
    static const QRegularExpression breaks(u"\r\n|[\n\r\u2028\u2029]"_s);
    return text.split(breaks);
}

CommentText::CommentText(const QString &text, const QFont &font)
    : m_font(font)
{
    m_lines = splitLines(text.isEmpty() ? u" "_s : text);
    if (m_lines.size() > MaxLines)
        m_lines.resize(MaxLines);
    qreal widest = 0;
    for (const QString &line : std::as_const(m_lines))
        widest = std::max(widest, LineLayout(line, font).width());
    const QFontMetrics metrics(font);
    const int height = metrics.height() + int(m_lines.size() - 1) * metrics.lineSpacing();
    m_size = QSize(std::clamp(qRound(widest), 1, MaxWidth), height);
}

QImage CommentText::render(const QColor &colour, const QColor &background, qreal devicePixelRatio) const
{
    QImage image(m_size * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(background);
    QPainter painter(&image);
    painter.setPen(colour);
    const QFontMetrics metrics(m_font);
    qreal y = 0;
    for (const QString &line : m_lines) {
        LineLayout(line, m_font).layout.draw(&painter, QPointF(0, y));
        y += metrics.lineSpacing();
    }
    return image;
}
