#include "link/link.h"

#include <chrono>
#include <thread>

#include "link/codecs.h"

namespace veresk {

LinkState Link;

void ResetLinkState() {
    Link.PortHandle.reset();
    Link.DevicePort = 0;
    Link.PortOpened = false;
    Link.IoBuffer.fill(0);
    Link.RequestHeader.fill(0);
    Link.Crc.Reset();
    Link.BytesTransferred = 0;
    Link.LinkErrorCount = 0;
    Link.ReadTotalTimeoutConstant = 1;
    Link.PortField = nullptr;
    Link.PortFieldText.clear();
}

namespace {

// The short pause the device needs between the lead-in byte and the header.
void LeadInPause() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

// A port that reported a hang-up or an error is closed at once: the handle becomes
// none and the next exchange opens afresh.
void DropLostPort() {
    if (Link.PortHandle && Link.PortHandle->Lost()) Link.PortHandle.reset();
}

SerialPort* OpenNumber(int n, int readConstant) {
    // The old handle is closed first, also when the new open then fails.
    Link.PortHandle.reset();
    if (n < 1 || n > 255) return nullptr;
    Link.PortHandle = CurrentPortOpener()(n);
    Link.ReadTotalTimeoutConstant = readConstant;
    if (Link.PortHandle) Link.PortHandle->OnLost(&DropLostPort);
    return Link.PortHandle.get();
}

void SendLeadInAndHeader() {
    SerialPort* port = Link.PortHandle.get();
    const uint8_t lead = LeadInByte;
    Link.BytesTransferred = port->Write(&lead, 1);
    LeadInPause();
    Link.BytesTransferred = port->Write(Link.RequestHeader.data(), 7);
}

}  // namespace

int PortFieldNumber() {
    const QString text = (Link.PortField ? Link.PortField() : Link.PortFieldText).trimmed();
    bool ok = false;
    const int n = text.toInt(&ok, 10);
    return (ok && n >= 1 && n <= 255) ? n : 0;
}

SerialPort* OpenDevicePort() {
    const int n = Link.DevicePort != 0 ? Link.DevicePort : PortFieldNumber();
    return OpenNumber(n, 1);
}

SerialPort* OpenPortNumber(uint8_t n) {
    SerialPort* port = OpenNumber(n, 2);
    Link.PortOpened = port != nullptr;
    return port;
}

void CloseDevicePort() { Link.PortHandle.reset(); }

void BuildRequestHeader(std::array<uint8_t, 7>& header, uint8_t command, uint16_t length, uint16_t address) {
    header[0] = command;
    PutBE16(header.data() + 1, length);
    PutBE16(header.data() + 3, address);
    const CrcRegister crc = CrcBlock(header.data(), 5);
    header[5] = crc.first;
    header[6] = crc.second;
}

uint32_t ReadTransaction(uint8_t command, uint16_t length, uint16_t address) {
    Link.Crc.Reset();
    BuildRequestHeader(Link.RequestHeader, command, length, address);
    const uint32_t expected = static_cast<uint32_t>(length) + 2;
    SerialPort* port = Link.PortHandle.get();
    if (port == nullptr) {
        Link.BytesTransferred = 0;
    } else {
        port->Purge();
        SendLeadInAndHeader();
        const uint32_t room = std::min<uint32_t>(expected, kIoBufferSize);
        Link.BytesTransferred =
            port->Read(Link.IoBuffer.data(), room, static_cast<int>(expected) + Link.ReadTotalTimeoutConstant);
    }
    // The residual is always taken over length + 2 bytes, whether or not they all came.
    Link.Crc = CrcBlock(Link.IoBuffer.data(), std::min<uint32_t>(expected, kIoBufferSize));
    DropLostPort();
    return Link.BytesTransferred;
}

uint32_t WriteTransaction(uint8_t command, uint16_t length, uint16_t address) {
    Link.Crc.Reset();
    BuildRequestHeader(Link.RequestHeader, command, length, address);
    const uint32_t payload = std::min<uint32_t>(length, kIoBufferSize - 2);
    SerialPort* port = Link.PortHandle.get();
    if (port != nullptr) SendLeadInAndHeader();
    Link.Crc = CrcBlock(Link.IoBuffer.data(), payload);
    Link.IoBuffer[payload] = Link.Crc.first;
    Link.IoBuffer[payload + 1] = Link.Crc.second;
    if (port == nullptr) {  // nothing reaches the device
        Link.BytesTransferred = 0;
        return 0;
    }
    if (payload != 0) Link.BytesTransferred = port->Write(Link.IoBuffer.data(), payload + 2);
    DropLostPort();
    return Link.BytesTransferred;
}

AnswerVerdict JudgeAnswer(uint16_t length) {
    if (Link.BytesTransferred != static_cast<uint32_t>(length) + 2) return AnswerVerdict::WrongLength;
    if (!Link.Crc.Zero()) return AnswerVerdict::CrcFailure;
    return AnswerVerdict::Good;
}

}  // namespace veresk
