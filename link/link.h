#pragma once
// The serial link: the one port handle, the one transfer buffer, the request header
// with its CRC, and the two exchanges the dosimeter understands.
//
//   read:  00, pause, header (7 bytes)            -> device answers data + CRC
//   write: 00, pause, header, payload + CRC        -> nothing comes back
//
// The port is opened afresh before every exchange (each open closes the old handle
// first) and left open afterwards.
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "link/crc.h"
#include "link/port.h"

namespace veresk {

inline constexpr int kIoBufferSize = 4196;
inline constexpr uint8_t LeadInByte = 0x00;

struct LinkState {
    std::unique_ptr<SerialPort> PortHandle;  // none when null
    uint8_t DevicePort = 0;                  // COM number the device answered on; 0 = unknown
    bool PortOpened = false;                 // outcome of the last OpenPortNumber
    std::array<uint8_t, kIoBufferSize> IoBuffer{};
    std::array<uint8_t, 7> RequestHeader{};
    CrcRegister Crc;                         // after a read: the CrcResidual
    uint32_t BytesTransferred = 0;
    int32_t LinkErrorCount = 0;
    int ReadTotalTimeoutConstant = 1;        // ms, set by the open that made PortHandle
    // The connection dialog's port field; used by OpenDevicePort while DevicePort is 0.
    // The dialog installs PortField; without one, PortFieldText is the field.
    std::function<QString()> PortField;
    QString PortFieldText;
};

extern LinkState Link;

// Back to the start-of-program state (closes any open port).  For tests.
void ResetLinkState();

// Opens "COM" + DevicePort, or the number in the port field while DevicePort is 0
// (no number there: fails without opening anything).  Read time-out: length + 2 + 1 ms.
// Returns the new handle's address, or nullptr; the handle itself stays in Link.PortHandle.
SerialPort* OpenDevicePort();
// Opens "COM" + n for the scan and the search (read time-out: length + 2 + 2 ms) and
// sets PortOpened.
SerialPort* OpenPortNumber(uint8_t n);

// Closes the handle, if any.
void CloseDevicePort();

// Sends the request and reads up to length + 2 bytes into IoBuffer; leaves
// BytesTransferred and the CRC residual for the caller to judge.
uint32_t ReadTransaction(uint8_t command, uint16_t length, uint16_t address);
// Sends the request and, for length > 0, IoBuffer[0 .. length-1] followed by their CRC.
uint32_t WriteTransaction(uint8_t command, uint16_t length, uint16_t address);

// The answer to a read of `length` data bytes is good when exactly length + 2 bytes
// arrived and both residual bytes are 0.  Length is judged first.
enum class AnswerVerdict { Good, WrongLength, CrcFailure };
AnswerVerdict JudgeAnswer(uint16_t length);
inline bool CrcResidualZero() { return Link.Crc.Zero(); }

// Fills `header` with command, length and address (big-endian) and their CRC.
void BuildRequestHeader(std::array<uint8_t, 7>& header, uint8_t command, uint16_t length, uint16_t address);

// The number the port field holds, or 0 when it holds none (1..255 only).
int PortFieldNumber();

}  // namespace veresk
