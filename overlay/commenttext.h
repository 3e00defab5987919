#pragma once

// A comment's text laid out as plain text: every character is shown as written (no markup, no
// mnemonic ampersands), one line per line break.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

class CommentText final
{
public:
    // Bounds on one comment's picture, so a huge message cannot exhaust memory; longer lines are cut,
    // further lines are left out.
    static constexpr int MaxWidth = 4096;
    static constexpr int MaxLines = 16;

    CommentText(const QString &text, const QFont &font);

    // Width of the widest line (of one blank when the text is empty), height of all lines.
    QSize size() const { return m_size; }

    // The comment as premultiplied ARGB, glyphs in the colour over the background.
    QImage render(const QColor &colour, const QColor &background, qreal devicePixelRatio) const;

    static QStringList splitLines(const QString &text);

private:
    QStringList m_lines;
    QFont m_font;
    QSize m_size;
};
