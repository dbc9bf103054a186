#pragma once

#include "platform/Clock.h"

#include <QString>

#include <chrono>
#include <deque>
#include <optional>

// What one read of a player said about its playback position, on the continuous clock.
struct PositionRead
{
    // Who was read and what it played; a change in any of these begins a new line.
    QString player;
    QString title;
    QString artist;
    QString album;
    double duration = 0;
    double rate = 0; // 0 unless playing

    double position = 0;  // seconds
    ContinuousInstant at; // when `position` held

    // A read that went on asking until the position moved (nowplaying-reader --watch).
    struct Watch
    {
        int held = 0;                // further answers that repeated `position` exactly
        ContinuousInstant from;      // the last of those (or the first read) was asked then
        std::optional<double> moved; // the next, different position; absent: none came
        ContinuousInstant to;        // its answer arrived then
    };
    std::optional<Watch> watch;

    bool sameLine(const PositionRead &other) const
    {
        return player == other.player && title == other.title && artist == other.artist && album == other.album
            && duration == other.duration && rate == other.rate;
    }
};

// Where a player's position really is, from its recent reads. Players do not report the position
// at the instant they are asked: some hold it still and move it in steps (every ~50 ms to ~1 s),
// some add jitter. Between two discontinuities (track, player, playback status or rate changed, a
// seek, or a read more than a second off the line) the true position is a line of known slope
// (the rate); the reads of that stretch place it:
// - a player seen to hold its position (two answers alike at different instants) only ever lags:
//   each read is a floor under the line, and a watched step (the last answer with the old value,
//   the first with the new) is also a ceiling: the line passed the new value between the two. The
//   estimate is the middle of the highest floor and the lowest ceiling, or the highest floor when
//   there is no ceiling yet. One floor above every ceiling, or one ceiling below every floor, is
//   taken for an outlier and left out.
// - any other player scatters around the line: the estimate is the middle of the reads' range
//   with the highest and the lowest left out (from three reads on), so one outlier moves nothing.
// While paused the position is the latest read's.
class PositionEstimator
{
public:
    // A read that disagrees with the line by more than this begins a new one.
    static constexpr double maxDisagreement = 1.0; // seconds
    // Reads older than this (behind the newest) no longer count: a player's clock drifts from
    // ours by up to ~100 ppm, a few milliseconds a minute.
    static constexpr std::chrono::seconds memory{60};
    static constexpr std::size_t maxBounds = 64; // of each kind

    // A read taken to follow the player (start, poll, signal). `seeked`: the player announced a
    // seek after the previous read was asked for. Returns true when the read began a new line.
    bool add(const PositionRead &read, bool seeked);
    // A read taken only to place the current line better: it never begins a line. Returns false
    // (and changes nothing) when it does not belong to the current line.
    bool refine(const PositionRead &read);
    void reset() { m_line.reset(); }

    // The estimated position at `at`; absent before the first read and after reset().
    std::optional<double> positionAt(ContinuousInstant at) const;
    // True once the current line's player was seen to hold its position.
    bool holdsPosition() const { return m_line && m_line->holds; }

private:
    // An offset (position − rate × seconds since the line's first read) a read puts the line at
    // or above (a floor; for a player that does not hold, around), or below (a ceiling).
    struct Bound
    {
        ContinuousInstant at;
        double offset;
    };
    struct Line
    {
        PositionRead first;
        bool holds = false;
        std::deque<Bound> floors;
        std::deque<Bound> ceilings;
        double offset = 0; // the estimate
    };

    double offsetOf(double position, ContinuousInstant at) const;
    bool disagrees(const PositionRead &read) const;
    void include(const PositionRead &read);
    void addBound(std::deque<Bound> &bounds, ContinuousInstant at, double position);
    void estimate();

    std::optional<Line> m_line;
};
