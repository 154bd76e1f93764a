#pragma once
// Which quantity the two compact windows show.
namespace veresk {

struct CompactState {
    int CompactSelection = 0;  // 0 dose rate, 1 dose
};
extern CompactState Compact;
inline void ResetCompactState() { Compact = CompactState{}; }

}  // namespace veresk
