#include "monitor/clock.h"

#include <utility>

namespace veresk {

namespace {
PcClockSource& Source() {
    static PcClockSource source;
    return source;
}
}  // namespace

std::time_t PcNow() {
    const PcClockSource& s = Source();
    return s ? s() : std::time(nullptr);
}

void SetPcClockSource(PcClockSource source) { Source() = std::move(source); }

}  // namespace veresk
