#pragma once

// Where comments fly: lanes, start positions and motion of every comment on the overlay, without
// any drawing, so the arithmetic can be checked and timed on its own.

#include <QtGlobal>

#include <utility>
#include <vector>

struct Comment
{
    quint64 id = 0;
    int lane = 0;
    int top = 0;
    int left = 0;
    int width = 0;
    int height = 0;
    double step = 0;       // pixels per tick as the speed gives it, kept to 15 significant digits
    int pixelsPerTick = 1; // the step rounded half to even, at least one pixel
};

class CommentField final
{
public:
    static constexpr int MinSpeed = 1;
    static constexpr int MaxSpeed = 500;
    // A comment blocks its lane until its right end is this far inside the right edge.
    static constexpr int LaneGap = 20;

    // The step as stored: at most 15 significant digits, like "%.15g" read back.
    static double keptStep(double step);
    // Nearest whole number, ties to the even one, whatever the floating-point rounding mode.
    static int roundHalfEven(double value);

    // The lowest lane that no comment blocks for an overlay of this width.
    int freeLane(int overlayWidth) const;

    // Places a comment of this size entering at the right edge; speed is confined to 1..500.
    const Comment &add(int width, int height, int overlayWidth, int speed);

    // Moves every comment one tick left and drops those that can no longer be seen or block a lane.
    // moved(comment, oldLeft) runs for each comment still kept, dropped(comment) for each dropped.
    template <typename Moved, typename Dropped> void tick(Moved &&moved, Dropped &&dropped);
    void tick()
    {
        tick([](const Comment &, int) {}, [](const Comment &) {});
    }

    const std::vector<Comment> &comments() const { return m_comments; }
    bool isEmpty() const { return m_comments.empty(); }

private:
    std::vector<Comment> m_comments; // oldest first
    quint64 m_nextId = 1;
    int m_dropLimit = 0;                 // a comment whose right end reaches this is gone for good
    mutable std::vector<bool> m_blocked; // scratch for freeLane, kept to spare an allocation per call
};

template <typename Moved, typename Dropped> void CommentField::tick(Moved &&moved, Dropped &&dropped)
{
    auto kept = m_comments.begin();
    for (auto it = m_comments.begin(); it != m_comments.end(); ++it) {
        const int oldLeft = it->left;
        const qint64 left = qint64(oldLeft) - it->pixelsPerTick;
        if (left + it->width <= m_dropLimit) {
            dropped(std::as_const(*it));
            continue;
        }
        it->left = int(left);
        moved(std::as_const(*it), oldLeft);
        if (kept != it)
            *kept = std::move(*it);
        ++kept;
    }
    m_comments.erase(kept, m_comments.end());
}
