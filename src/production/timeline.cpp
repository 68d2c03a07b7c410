#include "production/timeline.h"

#include "production/production.h"

const Timeline& builtInTimeline() {
    static const Timeline timeline{std::vector<float>(beatTimes, beatTimes + kBeatCount)};
    return timeline;
}
