#include "monitor/viewstate.h"

namespace veresk {

CompactState Compact;

}  // namespace veresk
