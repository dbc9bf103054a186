#include "session/nowplaying/PositionEstimator.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

double secondsBetween(ContinuousInstant from, ContinuousInstant to)
{
    return double((to - from).count()) / 1e9;
}

// The middle of the range, without the highest and the lowest value from three values on.
double trimmedMidrange(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    if (n >= 3)
        return (values[1] + values[n - 2]) / 2;
    return (values.front() + values.back()) / 2;
}

} // namespace

double PositionEstimator::offsetOf(double position, ContinuousInstant at) const
{
    return position - m_line->first.rate * secondsBetween(m_line->first.at, at);
}

bool PositionEstimator::disagrees(const PositionRead &read) const
{
    return std::abs(offsetOf(read.position, read.at) - m_line->offset) > maxDisagreement;
}

bool PositionEstimator::add(const PositionRead &read, bool seeked)
{
    const bool newLine = !m_line || seeked || !read.sameLine(m_line->first) || disagrees(read);
    if (newLine) {
        m_line.emplace();
        m_line->first = read;
    }
    include(read);
    return newLine;
}

bool PositionEstimator::refine(const PositionRead &read)
{
    if (!m_line || !read.sameLine(m_line->first) || disagrees(read))
        return false;
    include(read);
    return true;
}

void PositionEstimator::include(const PositionRead &read)
{
    Line &line = *m_line;
    if (line.first.rate <= 0) {
        // Paused: nothing moves, and the latest answer is the position.
        line.offset = read.position;
        return;
    }
    addBound(line.floors, read.at, read.position);
    if (read.watch) {
        const PositionRead::Watch &watch = *read.watch;
        if (watch.held > 0)
            line.holds = true;
        if (watch.moved) {
            // The answer after the move is a read like any other. For a player that holds its
            // position, the new value also became true after the last answer that still gave
            // the old one was asked: a ceiling (only used once the player is known to hold).
            addBound(line.floors, watch.to, *watch.moved);
            addBound(line.ceilings, watch.from, *watch.moved);
        }
    }
    const ContinuousInstant forgetBefore = read.at - memory;
    for (std::deque<Bound> *bounds : {&line.floors, &line.ceilings}) {
        while (!bounds->empty() && bounds->front().at < forgetBefore)
            bounds->pop_front();
    }
    estimate();
}

void PositionEstimator::addBound(std::deque<Bound> &bounds, ContinuousInstant at, double position)
{
    bounds.push_back({at, offsetOf(position, at)});
    if (bounds.size() > maxBounds)
        bounds.pop_front();
}

void PositionEstimator::estimate()
{
    Line &line = *m_line;
    const auto offsets = [](const std::deque<Bound> &bounds) {
        std::vector<double> values;
        values.reserve(bounds.size());
        for (const Bound &bound : bounds)
            values.push_back(bound.offset);
        return values;
    };
    std::vector<double> floors = offsets(line.floors);
    if (floors.empty())
        return; // every read forgotten; keep the estimate
    if (!line.holds) {
        line.offset = trimmedMidrange(std::move(floors));
        return;
    }
    std::sort(floors.begin(), floors.end(), std::greater<>());
    std::vector<double> ceilings = offsets(line.ceilings);
    std::sort(ceilings.begin(), ceilings.end());
    if (ceilings.empty()) {
        line.offset = floors[0];
        return;
    }
    double highestFloor = floors[0];
    double lowestCeiling = ceilings[0];
    if (highestFloor > lowestCeiling) {
        if (floors.size() > 1 && floors[1] <= lowestCeiling)
            highestFloor = floors[1]; // one floor above every ceiling
        else if (ceilings.size() > 1 && ceilings[1] >= highestFloor)
            lowestCeiling = ceilings[1]; // one ceiling below every floor
        // Otherwise the steps themselves jitter; the middle of the overlap is the best guess.
    }
    line.offset = (highestFloor + lowestCeiling) / 2;
}

std::optional<double> PositionEstimator::positionAt(ContinuousInstant at) const
{
    if (!m_line)
        return std::nullopt;
    return m_line->offset + m_line->first.rate * secondsBetween(m_line->first.at, at);
}
