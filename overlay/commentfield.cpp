#include "commentfield.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

double CommentField::keptStep(double step)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", step);
    return std::strtod(text, nullptr);
}

int CommentField::roundHalfEven(double value)
{
    const double floor = std::floor(value);
    const double fraction = value - floor;
    double result = floor;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0))
        result = floor + 1;
    return int(
        std::clamp(result, double(std::numeric_limits<int>::min()), double(std::numeric_limits<int>::max())));
}

int CommentField::freeLane(int overlayWidth) const
{
    // The lowest lane that no comment blocks. A single pass in list order can step past a comment
    // that blocks the lane it ends on; where it ends on a free lane, that lane is this one too.
    // Only lanes up to the number of comments can be blocked, so the marks stay that small.
    std::vector<bool> &blocked = m_blocked;
    blocked.assign(m_comments.size() + 1, false);
    for (const Comment &comment : m_comments) {
        if (comment.lane >= 0 && size_t(comment.lane) < blocked.size() &&
            qint64(comment.left) + comment.width + LaneGap > overlayWidth)
            blocked[size_t(comment.lane)] = true;
    }
    return int(std::find(blocked.begin(), blocked.end(), false) - blocked.begin());
}

const Comment &CommentField::add(int width, int height, int overlayWidth, int speed)
{
    Comment comment;
    comment.id = m_nextId++;
    comment.width = width;
    comment.height = height;
    comment.lane = freeLane(overlayWidth);
    comment.top = int(std::clamp(qint64(height) * comment.lane, qint64(std::numeric_limits<int>::min()),
                                 qint64(std::numeric_limits<int>::max())));
    comment.left = overlayWidth;
    speed = std::clamp(speed, MinSpeed, MaxSpeed);
    comment.step = keptStep((double(overlayWidth) + double(width)) / double(speed));
    // The step never changes, so rounding it once gives what rounding it at every tick would.
    comment.pixelsPerTick = std::max(1, roundHalfEven(comment.step));
    // Off screen (right end at or left of the left edge) and, even on a very narrow overlay, no longer
    // blocking its lane: dropping it then changes nothing anyone could see or any lane choice.
    m_dropLimit = std::min(0, overlayWidth - LaneGap);
    m_comments.push_back(comment);
    return m_comments.back();
}
