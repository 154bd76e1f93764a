// The serial port on Linux and other POSIX systems, over termios.
//
// The port is opened by its real device path and claimed in the three ways serial
// programs look for (port_unix.h).  Between exchanges a socket notifier watches it: a
// hang-up or an error (an unplugged USB adapter) closes it at once and releases every
// claim, so a dead descriptor is never left for the event loop to report again and again.
#include "link/port.h"
#include "link/port_unix.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace veresk {

namespace {

QString& LockFolderSlot() {
    static QString folder;
    return folder;
}

constexpr int kWriteTimeoutMs = 500;
constexpr int kFreshLockSeconds = 5;

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool HungUp(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

// --- UUCP lock files -------------------------------------------------------------

enum class LockOwner { None, Live, Stale };

// Who holds the lock file: nobody (no file), a live process, or one that is gone.  The
// PID is ten ASCII characters and a newline; some old programs wrote it as a binary
// int.  A file that cannot be read counts as live (it may be anyone's); one that holds
// no PID counts as stale once it is a few seconds old (a program may be writing it).
LockOwner ReadLockOwner(const QByteArray& lockPath, pid_t* ownerOut = nullptr) {
    const int fd = ::open(lockPath.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return errno == ENOENT ? LockOwner::None : LockOwner::Live;
    char text[64] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    struct stat st {};
    const bool fresh = ::fstat(fd, &st) == 0 && std::time(nullptr) - st.st_mtime < kFreshLockSeconds;
    ::close(fd);
    long pid = 0;
    if (n == static_cast<ssize_t>(sizeof(int)) && (text[0] < ' ' || text[0] > '~')) {
        int binary = 0;
        std::memcpy(&binary, text, sizeof binary);
        pid = binary;
    } else if (n > 0) {
        char* end = nullptr;
        pid = std::strtol(text, &end, 10);
        if (end == text) pid = 0;
    }
    if (ownerOut) *ownerOut = static_cast<pid_t>(pid);
    if (pid <= 0 || pid > INT_MAX) return fresh ? LockOwner::Live : LockOwner::Stale;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) return LockOwner::Live;
    return LockOwner::Stale;
}

enum class LockResult { Taken, TakenOver, Busy, NoLockFolder };

// Creates the lock file with our PID.  The content is written to a private file first
// and linked to the lock name, so the lock never exists empty; a lock of a process that
// is gone is taken over.
LockResult TakeLockFile(const QByteArray& lockPath) {
    const QByteArray folder = QFile::encodeName(LockDirectory());
    const QByteArray privateName = folder + "/LTMP." + QByteArray::number(::getpid());
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    bool stale = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        switch (ReadLockOwner(lockPath)) {
        case LockOwner::Live: return LockResult::Busy;
        case LockOwner::Stale:
            ::unlink(lockPath.constData());
            stale = true;
            break;
        case LockOwner::None: break;
        }
        const LockResult taken = stale ? LockResult::TakenOver : LockResult::Taken;
        const int fd = ::open(privateName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) return LockResult::NoLockFolder;
        const bool written = ::write(fd, text, 11) == 11;
        ::close(fd);
        if (!written) {
            ::unlink(privateName.constData());
            return LockResult::NoLockFolder;
        }
        const int linked = ::link(privateName.constData(), lockPath.constData());
        const int linkErrno = errno;
        ::unlink(privateName.constData());
        if (linked == 0) return taken;
        if (linkErrno == EEXIST) continue;  // another program was quicker: look again
        // A folder without hard links: create the name directly.
        const int direct = ::open(lockPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (direct < 0) {
            if (errno == EEXIST) continue;
            return LockResult::NoLockFolder;
        }
        const bool ok = ::write(direct, text, 11) == 11;
        ::close(direct);
        if (ok) return taken;
        ::unlink(lockPath.constData());
        return LockResult::NoLockFolder;
    }
    return LockResult::Busy;
}

// Removes the lock file, but only while it is still ours.
void DropLockFile(const QByteArray& lockPath) {
    pid_t owner = 0;
    if (ReadLockOwner(lockPath, &owner) != LockOwner::None && owner == ::getpid()) ::unlink(lockPath.constData());
}

// --- the port ----------------------------------------------------------------------

class UnixSerialPort final : public SerialPort {
public:
    ~UnixSerialPort() override { Release(); }

    bool Open(const QByteArray& realPath) {
        lockPath_ = QFile::encodeName(LockFilePath(QFile::decodeName(realPath)));
        bool tookOver = false;
        switch (TakeLockFile(lockPath_)) {
        case LockResult::Busy: return false;
        case LockResult::TakenOver: tookOver = true; [[fallthrough]];
        case LockResult::Taken: ownsLock_ = true; break;
        case LockResult::NoLockFolder: break;  // no lock folder we may write: the other claims still hold
        }
        fd_ = ::open(realPath.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return Fail();  // missing, or in exclusive mode (EBUSY)
#ifdef TIOCGEXCL
        // Exclusive mode does not stop a privileged process; we look for it ourselves.
        // The mode outlives its setter while anyone else keeps the terminal open: when the
        // lock file showed the last owner gone, the mode is taken to be that owner's too.
        int exclusive = 0;
        if (::ioctl(fd_, TIOCGEXCL, &exclusive) == 0 && exclusive != 0 && !tookOver) return Fail();
#endif
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) return Fail();
        ::ioctl(fd_, TIOCEXCL);
        exclusiveSet_ = true;
        if (!Configure()) return Fail();
        RequestLowLatency(fd_);
        DropQueued();
        Watch();
        return true;
    }

    void Purge() override {
        if (fd_ >= 0) DropQueued();
    }

    uint32_t Write(const uint8_t* bytes, uint32_t count) override {
        uint32_t done = 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
        while (fd_ >= 0 && done < count) {
            const ssize_t n = ::write(fd_, bytes + done, count - done);
            if (n > 0) {
                done += static_cast<uint32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                Lose();
                break;
            }
            const int left = MsLeft(deadline);
            if (left == 0) break;
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, left) > 0 && HungUp(p.revents)) Lose();
        }
        return done;
    }

    uint32_t Read(uint8_t* into, uint32_t count, int totalTimeoutMs) override {
        uint32_t got = 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(totalTimeoutMs);
        while (fd_ >= 0 && got < count) {
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, MsLeft(deadline));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) break;  // time is up
            if (HungUp(p.revents)) {
                Lose();
                break;
            }
            const ssize_t n = ::read(fd_, into + got, count - got);
            if (n > 0) {
                got += static_cast<uint32_t>(n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                Lose();  // readable but nothing to read: the line is gone
                break;
            }
        }
        return got;
    }

    bool Lost() const override { return lost_; }

private:
    // Drops what is still queued in either direction.  The output is flushed only while
    // its queue holds bytes: a pseudo-terminal hands written bytes on at once (its queue
    // reads empty), yet flushing its output takes back those the other end has not read
    // yet, so a request written just before a reopen or a read would be lost.
    void DropQueued() {
        int queued = 0;
        const bool output = ::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued > 0;
        ::tcflush(fd_, output ? TCIOFLUSH : TCIFLUSH);
    }

    bool Configure() {
        termios t{};
        if (::tcgetattr(fd_, &t) != 0) return false;  // not a terminal
        // Raw 8N1 at 57600: bytes pass untouched; no software or hardware flow control.
        ::cfmakeraw(&t);
        t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        t.c_cflag |= CS8 | CLOCAL | CREAD;
        t.c_iflag &= ~(IXON | IXOFF | IXANY);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        if (::cfsetispeed(&t, B57600) != 0 || ::cfsetospeed(&t, B57600) != 0) return false;
        return ::tcsetattr(fd_, TCSANOW, &t) == 0;
    }

    // Watches the port while no exchange runs (only where an event loop exists).
    void Watch() {
        if (QCoreApplication::instance() == nullptr) return;
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Idle(); });
    }

    // The port became readable between exchanges: a hang-up, an error, or bytes nobody
    // asked for (the next read would purge them anyway).
    void Idle() {
        pollfd p{fd_, POLLIN, 0};
        if (fd_ < 0 || ::poll(&p, 1, 0) < 0) return;
        bool gone = HungUp(p.revents);
        if (!gone && (p.revents & POLLIN)) {
            uint8_t sink[256];
            const ssize_t first = ::read(fd_, sink, sizeof sink);
            gone = first == 0 || (first < 0 && errno != EAGAIN && errno != EINTR);
            while (!gone && ::read(fd_, sink, sizeof sink) > 0) {
            }
        }
        if (!gone) return;
        Lose();
        if (onLost_) QMetaObject::invokeMethod(QCoreApplication::instance(), onLost_, Qt::QueuedConnection);
    }

    void Lose() {
        lost_ = true;
        Release();
    }

    bool Fail() {
        Release();
        return false;
    }

    // Gives up every claim and closes the descriptor.
    void Release() {
        if (notifier_) notifier_->setEnabled(false);  // deleted with the port, never inside its own signal
        if (fd_ >= 0) {
#ifdef TIOCNXCL
            if (exclusiveSet_) ::ioctl(fd_, TIOCNXCL);
#endif
            ::close(fd_);  // also drops the flock
            fd_ = -1;
        }
        exclusiveSet_ = false;
        if (ownsLock_) DropLockFile(lockPath_);
        ownsLock_ = false;
    }

    int fd_ = -1;
    bool exclusiveSet_ = false;
    bool ownsLock_ = false;
    bool lost_ = false;
    QByteArray lockPath_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace

QString LockDirectory() {
    if (!LockFolderSlot().isEmpty()) return LockFolderSlot();
    const QString fromEnvironment = qEnvironmentVariable("VERESK_LOCK_DIR");
    return fromEnvironment.isEmpty() ? QStringLiteral("/var/lock") : fromEnvironment;
}

void SetLockDirectory(const QString& folder) { LockFolderSlot() = folder; }

QString LockFilePath(const QString& realDevicePath) {
    return LockDirectory() + QStringLiteral("/LCK..") + QFileInfo(realDevicePath).fileName();
}

LowLatency RequestLowLatency(int fd) {
#if defined(TIOCGSERIAL) && defined(TIOCSSERIAL) && defined(ASYNC_LOW_LATENCY)
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return LowLatency::Refused;
    if (serial.flags & ASYNC_LOW_LATENCY) return LowLatency::Set;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0) return LowLatency::Refused;
    return LowLatency::Set;
#else
    (void)fd;
    return LowLatency::Refused;
#endif
}

std::unique_ptr<SerialPort> OpenSystemPortAt(const QString& path) {
    if (path.isEmpty()) return nullptr;
    // Claims are made under the device's own name, not the name of a link to it.
    char real[PATH_MAX];
    if (::realpath(QFile::encodeName(path).constData(), real) == nullptr) return nullptr;
    auto port = std::make_unique<UnixSerialPort>();
    if (!port->Open(QByteArray(real))) return nullptr;
    return port;
}

}  // namespace veresk
