#include "platform/SerialDevice.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/Event.h"
#include "platform/GpsMultiplexer.h"
#include "platform/LastError.h"
#include "platform/Registry.h"

namespace kestrix::platform {

namespace {

struct BaudEntry {
    uint32_t rate;
    speed_t code;
};

constexpr BaudEntry kBaudRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool BaudCode(uint32_t rate, speed_t& code) {
    for (const auto& e : kBaudRates) {
        if (e.rate == rate) {
            code = e.code;
            return true;
        }
    }
    return false;
}

uint32_t BaudRate(speed_t code) {
    for (const auto& e : kBaudRates) {
        if (e.code == code) return e.rate;
    }
    return 0;
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "COMn:" / "GPDn:" with a decimal n; returns n or -1.
int PortNumber(const std::string& name, const char* prefix) {
    const std::string lower = Lower(name);
    const size_t plen = std::strlen(prefix);
    if (lower.size() < plen + 2 || lower.compare(0, plen, prefix) != 0 || lower.back() != ':') return -1;
    const std::string digits = lower.substr(plen, lower.size() - plen - 1);
    if (digits.empty() || digits.size() > 4) return -1;
    int n = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// Unix98 pseudo-terminal slaves: the kernel ignores their hardware settings.
bool IsPseudoTerminal(int fd) {
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned maj = major(st.st_rdev);
    return maj >= 136 && maj <= 143;
}

}  // namespace

bool IsStandardBaudRate(uint32_t rate) {
    speed_t code;
    return BaudCode(rate, code);
}

bool IsGpsdPortName(const std::string& name) { return PortNumber(name, "gpd") >= 0; }

std::vector<std::pair<std::string, std::string>> DefaultPortMap(const std::string& devDir) {
    static const char* const kGroups[] = {"ttyACM", "ttyUSB", "ttyS"};
    std::vector<std::pair<std::string, std::string>> map;
    std::vector<std::vector<std::pair<long, std::string>>> groups(3);
    if (DIR* dir = opendir(devDir.c_str())) {
        while (dirent* e = readdir(dir)) {
            const std::string n = e->d_name;
            for (size_t g = 0; g < 3; ++g) {
                const std::string prefix = kGroups[g];
                if (n.size() <= prefix.size() || n.compare(0, prefix.size(), prefix) != 0) continue;
                const std::string digits = n.substr(prefix.size());
                if (digits.size() > 6 ||
                    !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
                    continue;
                groups[g].emplace_back(std::stol(digits), n);
            }
        }
        closedir(dir);
    }
    int com = 1;
    for (auto& g : groups) {
        std::sort(g.begin(), g.end());
        for (auto& [num, n] : g) {
            map.emplace_back("COM" + std::to_string(com++) + ":", devDir + "/" + n);
        }
    }
    return map;
}

bool ResolveComPort(const std::string& name, std::string& path) {
    const int n = PortNumber(name, "com");
    if (n < 0) {
        SetLastError(ENOENT);
        return false;
    }
    int error = 0;
    if (auto key = RegKey::Open(kPortMapKey, false, &error)) {
        // The registry map, when present, is the whole map: a person chose it.
        bool found = false;
        for (const auto& [valueName, value] : key->Values()) {
            if (value.type == RegType::Sz && PortNumber(valueName, "com") == n && !value.text.empty()) {
                path = value.text;
                found = true;
                break;
            }
        }
        key.reset();  // closing the key sets LastError
        SetLastError(found ? 0 : ENOENT);
        return found;
    }
    const std::string wanted = "COM" + std::to_string(n) + ":";
    for (const auto& [com, dev] : DefaultPortMap()) {
        if (com == wanted) {
            path = dev;
            return true;
        }
    }
    SetLastError(ENOENT);
    return false;
}

SerialDevice::~SerialDevice() { Close(); }

bool SerialDevice::Open(const std::string& name, Event* stop) {
    Close();
    hungUp_ = false;
    if (IsGpsdPortName(name)) return OpenGpsd(stop);
    std::string path;
    if (!name.empty() && name[0] == '/') {
        path = name;
    } else if (!ResolveComPort(name, path)) {
        return false;
    }
    return OpenTty(path);
}

bool SerialDevice::OpenTty(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(errno);
        return false;
    }
    // Exclusive use: later opens of the device by others fail with EBUSY.
    if (isatty(fd)) ioctl(fd, TIOCEXCL);
    fd_ = fd;
    kind_ = SerialKind::Tty;
    pseudoTerminal_ = IsPseudoTerminal(fd);
    path_ = path;
    SetLastError(0);
    return true;
}

bool SerialDevice::OpenGpsd(Event* stop) {
    const int fd = ConnectToGpsd(kReadTotalTimeoutMs, stop);
    if (fd < 0) return false;
    static const char kWatch[] = "?WATCH={\"enable\":true,\"nmea\":true}\n";
    size_t sent = 0;
    while (sent < sizeof(kWatch) - 1) {
        const ssize_t w = ::send(fd, kWatch + sent, sizeof(kWatch) - 1 - sent, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            const int err = errno;
            ::close(fd);
            SetLastError(err);
            return false;
        }
        sent += static_cast<size_t>(w);
    }
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    fd_ = fd;
    kind_ = SerialKind::Gpsd;
    pseudoTerminal_ = false;
    path_.clear();
    SetLastError(0);
    return true;
}

bool SerialDevice::Configure(const LineSettings& line) {
    if (fd_ < 0) {
        SetLastError(EBADF);
        return false;
    }
    speed_t speed;
    const bool valid = BaudCode(line.baudRate, speed) && line.dataBits >= 5 && line.dataBits <= 8 &&
                       line.parity >= 0 && line.parity <= 4 && (line.stopBits == 0 || line.stopBits == 2);
    if (!valid) {
        SetLastError(EINVAL);
        return false;
    }
    if (kind_ == SerialKind::Gpsd) return true;

    termios t{};
    if (tcgetattr(fd_, &t) != 0) {
        SetLastError(errno);
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[line.dataBits - 5] | CLOCAL | CREAD;
    switch (line.parity) {
        case 1: t.c_cflag |= PARENB | PARODD; break;
        case 2: t.c_cflag |= PARENB; break;
        case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;  // mark: the parity bit is always 1
        case 4: t.c_cflag |= PARENB | CMSPAR; break;           // space: always 0
        default: break;
    }
    if (line.parity != 0) t.c_iflag |= INPCK;
    if (line.stopBits == 2) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
        SetLastError(errno);
        return false;
    }
    // tcsetattr succeeds when any part was taken: read back what the driver kept.
    termios got{};
    if (tcgetattr(fd_, &got) != 0) {
        SetLastError(errno);
        return false;
    }
    bool kept = cfgetispeed(&got) == speed && (got.c_cflag & CSTOPB) == (t.c_cflag & CSTOPB);
    if (!pseudoTerminal_) {
        const tcflag_t mask = CSIZE | PARENB | PARODD | CMSPAR;
        kept = kept && (got.c_cflag & mask) == (t.c_cflag & mask);
    }
    if (!kept) {
        SetLastError(EINVAL);
        return false;
    }
    if (line.dtr) {
        int bits = TIOCM_DTR;
        ioctl(fd_, TIOCMBIS, &bits);  // a pseudo-terminal has no modem lines
    }
    SetLastError(0);
    return true;
}

bool SerialDevice::QueryLine(LineSettings& out) const {
    if (fd_ < 0 || kind_ != SerialKind::Tty) {
        SetLastError(EBADF);
        return false;
    }
    termios t{};
    if (tcgetattr(fd_, &t) != 0) {
        SetLastError(errno);
        return false;
    }
    out.baudRate = BaudRate(cfgetispeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5: out.dataBits = 5; break;
        case CS6: out.dataBits = 6; break;
        case CS7: out.dataBits = 7; break;
        default: out.dataBits = 8; break;
    }
    if (!(t.c_cflag & PARENB)) {
        out.parity = 0;
    } else if (t.c_cflag & CMSPAR) {
        out.parity = (t.c_cflag & PARODD) ? 3 : 4;
    } else {
        out.parity = (t.c_cflag & PARODD) ? 1 : 2;
    }
    out.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    int bits = 0;
    out.dtr = ioctl(fd_, TIOCMGET, &bits) == 0 && (bits & TIOCM_DTR);
    return true;
}

long SerialDevice::Read(uint8_t* buffer, size_t n, Event* stop) {
    if (fd_ < 0) {
        SetLastError(EBADF);
        return -1;
    }
    if (n == 0 || buffer == nullptr) return 0;
    const int64_t start = NowMs();
    size_t got = 0;
    int64_t lastByte = 0;
    for (;;) {
        const int64_t now = NowMs();
        int64_t wait = start + kReadTotalTimeoutMs - now;
        if (got > 0) wait = std::min<int64_t>(wait, lastByte + kReadIntervalTimeoutMs - now);
        if (wait <= 0) break;
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stop ? stop->Fd() : -1, POLLIN, 0}};
        const int r = ::poll(fds, stop ? 2 : 1, static_cast<int>(wait));
        if (r < 0) {
            if (errno == EINTR) continue;
            SetLastError(errno);
            return got > 0 ? static_cast<long>(got) : -1;
        }
        if (r == 0) break;
        if (stop && (fds[1].revents & POLLIN) && stop->IsSet()) break;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t k = ::read(fd_, buffer + got, n - got);
            if (k > 0) {
                got += static_cast<size_t>(k);
                lastByte = NowMs();
                if (got == n) break;
                continue;
            }
            if (k < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            // End of stream (gpsd closed) or a dead device (EIO after a hang-up).
            hungUp_ = true;
            SetLastError(k == 0 ? EPIPE : errno);
            return got > 0 ? static_cast<long>(got) : -1;
        }
        if (fds[0].revents & POLLNVAL) {
            SetLastError(EBADF);
            return got > 0 ? static_cast<long>(got) : -1;
        }
    }
    SetLastError(0);
    return static_cast<long>(got);
}

void SerialDevice::Close() {
    if (fd_ < 0) return;
    if (kind_ == SerialKind::Tty) {
        tcflush(fd_, TCIOFLUSH);
        ioctl(fd_, TIOCNXCL);  // the tty outlives this descriptor when others hold it
    }
    ::close(fd_);
    fd_ = -1;
    kind_ = SerialKind::Closed;
    pseudoTerminal_ = false;
    path_.clear();
}

}  // namespace kestrix::platform
