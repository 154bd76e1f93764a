#include "link/discovery.h"

#include <ctime>

#include "link/link.h"

namespace veresk {

DiscoveryState Discovery;

void ResetDiscoveryState() { Discovery = DiscoveryState{}; }

void ScanPorts(PortList& list) {
    list.Clear();
    const std::time_t start = std::time(nullptr);
    for (int n = 1; n <= kHighestPort; ++n) {
        if (std::time(nullptr) - start > kSearchTimeLimitSeconds) break;
        OpenPortNumber(static_cast<uint8_t>(n));
        if (Link.PortOpened) list.Append(QString::number(n));
        if (list.Count() > 0) list.Select(0);
        list.Progress(n);
    }
}

void SearchDevice(PortList& list) {
    const std::time_t start = std::time(nullptr);
    for (int count = 0;;) {
        if (std::time(nullptr) - start > kSearchTimeLimitSeconds || count >= list.Count()) {
            Link.DevicePort = 0;
            return;
        }
        list.Select(count);
        bool ok = false;
        const int n = list.Item(count).trimmed().toInt(&ok);
        ++count;
        if (!ok || n < 1 || n > kHighestPort) continue;
        OpenPortNumber(static_cast<uint8_t>(n));
        if (!Link.PortOpened) continue;
        ReadTransaction(ProbeCommand, ProbeLength, ProbeAddress);
        if (JudgeAnswer(ProbeLength) == AnswerVerdict::Good) {
            Link.DevicePort = static_cast<uint8_t>(n);
            list.Select(count - 1);
            return;
        }
    }
}

}  // namespace veresk
