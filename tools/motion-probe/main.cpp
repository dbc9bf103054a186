// cantorella-motion-probe WIDTH HEIGHT [MAX_SHIFT] < frames
//
// Reads frames of raw 8-bit grey pixels (WIDTH × HEIGHT bytes each, as `ffmpeg -f rawvideo
// -pix_fmt gray` writes them) from standard input and prints one line per frame after the first:
//
//   INDEX CHANGED SHIFT
//
// CHANGED is 1 when any pixel differs from the previous frame; SHIFT is how many pixels the
// picture moved up (positive) or down (negative) since the previous frame, 0 when it did not move
// or only changed in place. The shift is found on a profile of each row's horizontal edge energy
// (the sum of the differences between neighbouring pixels): text and card edges dominate it, a
// slowly changing background hardly shows. A list scrolled by d pixels shows in row r what the
// previous frame showed in row r + d; the d (within ±MAX_SHIFT, default 200) whose rows match best
// is the shift, provided it matches clearly better than no shift at all.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

std::vector<double> edgeProfile(const std::vector<unsigned char> &frame, int width, int height)
{
    std::vector<double> profile(height);
    for (int y = 0; y < height; ++y) {
        const unsigned char *row = frame.data() + size_t(y) * width;
        long sum = 0;
        for (int x = 1; x < width; ++x)
            sum += std::abs(int(row[x]) - int(row[x - 1]));
        profile[y] = double(sum);
    }
    return profile;
}

// Mean absolute difference between cur[r] and prev[r + d] over the rows both have.
double mismatch(const std::vector<double> &cur, const std::vector<double> &prev, int d)
{
    const int height = int(cur.size());
    const int from = std::max(0, -d);
    const int to = std::min(height, height - d);
    if (to - from < height / 3)
        return std::numeric_limits<double>::infinity();
    double sum = 0;
    for (int r = from; r < to; ++r)
        sum += std::abs(cur[r] - prev[r + d]);
    return sum / (to - from);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT [MAX_SHIFT] < raw-grey-frames\n", argv[0]);
        return 2;
    }
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    const int maxShift = argc > 3 ? std::atoi(argv[3]) : 200;
    if (width < 2 || height < 2 || maxShift < 1) {
        std::fprintf(stderr, "%s: bad size\n", argv[0]);
        return 2;
    }
    const size_t frameBytes = size_t(width) * height;
    std::vector<unsigned char> prev(frameBytes), cur(frameBytes);
    if (std::fread(prev.data(), 1, frameBytes, stdin) != frameBytes)
        return 0;
    std::vector<double> prevProfile = edgeProfile(prev, width, height);
    for (long index = 1; std::fread(cur.data(), 1, frameBytes, stdin) == frameBytes; ++index) {
        const bool changed = cur != prev;
        int shift = 0;
        std::vector<double> profile = changed ? edgeProfile(cur, width, height) : prevProfile;
        if (changed) {
            const double still = mismatch(profile, prevProfile, 0);
            double best = still;
            for (int d = -maxShift; d <= maxShift; ++d) {
                if (d == 0)
                    continue;
                const double m = mismatch(profile, prevProfile, d);
                if (m < best) {
                    best = m;
                    shift = d;
                }
            }
            // A shift must explain the change clearly better than the picture standing still.
            if (shift != 0 && !(best < 0.7 * still))
                shift = 0;
        }
        std::printf("%ld %d %d\n", index, changed ? 1 : 0, shift);
        prev.swap(cur);
        prevProfile.swap(profile);
    }
    return 0;
}
