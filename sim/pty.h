#pragma once
// A pseudo-terminal pair for the simulator: the master end is the device's side of the
// cable, the slave end is the port the host opens.
#include <cstddef>
#include <cstdint>
#include <string>

namespace veresk::sim {

class Pty {
public:
    Pty() = default;
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Opens a new pair: the master non-blocking, the slave in raw mode at 57600 baud.
    // The pair keeps a descriptor of its own on the slave for its whole life, so the
    // master never sees a hang-up while the host closes and reopens the port, and since
    // the slave is raw nothing the host writes is ever echoed back to it.
    bool Open();
    void Close();
    bool IsOpen() const { return master_ >= 0; }
    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// Writes all n bytes to a non-blocking descriptor, waiting for room when the other side
// is slow, for at most timeoutMs in all.  Returns the number of bytes written.
size_t WriteAll(int fd, const uint8_t* bytes, size_t n, int timeoutMs);

}  // namespace veresk::sim
