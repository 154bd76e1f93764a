#pragma once
// Finding the device: the port scan lists every port that opens, the search sends each
// listed port one probe (0x10, 20 bytes at 128) until one answers correctly.
#include <QString>
#include <cstdint>

namespace veresk {

inline constexpr uint8_t ProbeCommand = 0x10;
inline constexpr uint16_t ProbeLength = 20;
inline constexpr uint16_t ProbeAddress = 128;
inline constexpr int kHighestPort = 255;
inline constexpr long kSearchTimeLimitSeconds = 5000;

struct DiscoveryState {
    bool AutoDetect = false;    // the connection dialog was closed by "Автоопределение"
    bool ViewSwitched = false;  // a view or transparency change happened: showing the main window does not search
};
extern DiscoveryState Discovery;
void ResetDiscoveryState();

// The port list as the scan and the search see it (the connection dialog's combo box).
class PortList {
public:
    virtual ~PortList() = default;
    virtual void Clear() = 0;
    virtual void Append(const QString& item) = 0;
    virtual int Count() const = 0;
    virtual QString Item(int index) const = 0;
    virtual void Select(int index) = 0;
    virtual void Progress(int n) = 0;  // the scan reached port n
};

// Opens ports 1..255 once each, in rising order, and lists those that open (as bare
// numbers).  The last port that opened stays open.
void ScanPorts(PortList& list);
// Probes the listed ports in order; DevicePort becomes the first that answers, or 0.
void SearchDevice(PortList& list);

}  // namespace veresk
