#include "simserialbridge.h"

#include "simtestbed.h"

#include <umockdev.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <sstream>

namespace {

constexpr int64_t kByteUs = 10 * 1000000 / 9600;   // start + 8 data + stop bits at 9600 baud
constexpr int64_t kSettleUs = 20000;   // the host configures the line right after opening it
constexpr size_t kMaxWrites = 100000;

int64_t NowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// umockdev answers a tty's ioctls ENOTTY unless a handler runs them on the real terminal.
gboolean PassThrough(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    auto* unplugged = static_cast<std::atomic<bool>*>(data);
    if (unplugged->load()) {
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    int err = 0;
    GError* error = nullptr;
    const int r = umockdev_ioctl_client_execute(client, &err, &error);
    if (error) {
        g_error_free(error);
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    umockdev_ioctl_client_complete(client, r, err);
    return TRUE;
}

std::string Hex4(uint16_t v)
{
    char b[8];
    std::snprintf(b, sizeof(b), "%04x", v);
    return b;
}

} // namespace

SimSerialBridge::SimSerialBridge(const SensorConfig& config, const SimSerialOptions& options)
    : m_Testbed(SimTestbed::Acquire())
    , m_Model(std::make_unique<SensorModel>(config))
    , m_Options(options)
{
    const int serial = SimTestbed::NextSerial();
    // Qt locks /var/lock/LCK..<name> on the real disk, so names must not clash across processes.
    m_Name = options.portName.empty()
                 ? "ttyUSB" + std::to_string(getpid()) + "x" + std::to_string(serial)
                 : options.portName;
    const int devNum = 2 + serial % 120;
    m_UsbPath = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(devNum);
    const std::string& usbPath = m_UsbPath;
    m_SysPath = usbPath + "/1-" + std::to_string(devNum) + ":1.0/" + m_Name + "/tty/" + m_Name;
    const std::string vid = Hex4(options.vendorId);
    const std::string pid = Hex4(options.productId);
    std::ostringstream s;
    // The bridge chip itself (vendor-specific class; the program never opens it over libusb).
    s << "P: " << usbPath << "\n"
      << "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=001\n"
      << "E: DEVNUM=" << devNum << "\n"
      << "A: busnum=1\\n\nA: devnum=" << devNum << "\\n\nA: speed=12\\n\n"
      << "A: bConfigurationValue=1\\n\n"
      << "A: idVendor=" << vid << "\\n\nA: idProduct=" << pid << "\\n\n"
      << "H: descriptors=12010002FF000008" << vid.substr(2, 2) << vid.substr(0, 2)
      << pid.substr(2, 2) << pid.substr(0, 2) << "000100000001"
      << "0902120001010080320904000000FF000000\n\n"
      // The tty, with what udev would have said about it.
      << "P: " << m_SysPath << "\n"
      << "@NODE@"
      << "E: SUBSYSTEM=tty\n"
      << "E: DEVNAME=/dev/" << m_Name << "\n"
      << "E: ID_VENDOR_ID=" << vid << "\n"
      << "E: ID_MODEL_ID=" << pid << "\n"
      << "E: ID_MODEL=" << options.description << "\n"
      << "E: ID_VENDOR=" << options.manufacturer << "\n"
      << "E: ID_BUS=usb\n";
    m_Entry = s.str();
    Plug();
}

bool SimSerialBridge::Plug()
{
    // The handler goes first: a program that lists the port may open it at once.
    m_Handler = umockdev_ioctl_base_new();
    g_signal_connect(m_Handler, "handle-ioctl", G_CALLBACK(&PassThrough), m_Unplugged.get());
    GError* err = nullptr;
    if (!umockdev_testbed_attach_ioctl(m_Testbed->Get(), SystemLocation().c_str(), m_Handler, &err)) {
        m_Error = err ? err->message : "attach failed";
        if (err)
            g_error_free(err);
        return false;
    }
    // umockdev makes the pseudo-terminal of a node only once per testbed (it never forgets the
    // first), so a bridge plugged in again brings its own and links the node to it.
    const bool again = m_Added;
    int fd = -1;
    std::string entry = m_Entry;
    entry.replace(entry.find("@NODE@"), 6, again ? "" : "N: " + m_Name + "\n");
    if (again) {
        fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        const char* slave = fd >= 0 && grantpt(fd) == 0 && unlockpt(fd) == 0 ? ptsname(fd) : nullptr;
        const std::string node = m_Testbed->RootDir() + SystemLocation();
        unlink(node.c_str());   // the link to the old, dead pseudo-terminal
        if (!slave || symlink(slave, node.c_str()) != 0) {
            m_Error = "no pseudo-terminal for " + SystemLocation();
            if (fd >= 0)
                close(fd);
            return false;
        }
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);   // as umockdev leaves its own
        tcsetattr(fd, TCSANOW, &t);
    }
    if (!m_Testbed->AddFromString(entry, &m_Error)) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    m_Added = true;
    if (!again)
        fd = umockdev_testbed_get_dev_fd(m_Testbed->Get(), SystemLocation().c_str());
    if (fd < 0) {
        m_Error = "no pseudo-terminal for " + SystemLocation();
        return false;
    }
    m_OwnFd = again;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    // A program started by the launcher must not inherit the far end: while it held a copy, the
    // port it opened could never hang up when the bridge is pulled.
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
    if (m_Options.startCooked) {
        termios t{};
        tcgetattr(fd, &t);
        t.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
        t.c_iflag |= ICRNL;
        t.c_oflag |= OPOST | ONLCR;
        cfsetispeed(&t, B38400);
        cfsetospeed(&t, B38400);
        tcsetattr(fd, TCSANOW, &t);
    }
    m_Fd = fd;
    m_Stop = false;
    m_Thread = std::thread(&SimSerialBridge::Run, this);
    return true;
}

bool SimSerialBridge::Replug()
{
    if (!m_Unplugged->load())
        UnplugAndHangUp();
    // The bridge chip left the bus with its tty; both come back.
    m_Testbed->RemoveDevice(m_UsbPath);
    // Ports opened before the unplug keep talking to the old handler, which fails them.
    m_Retired.push_back({m_Handler, m_Unplugged});
    m_Handler = nullptr;
    umockdev_testbed_detach_ioctl(m_Testbed->Get(), SystemLocation().c_str(), nullptr);
    m_Unplugged = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard<std::mutex> g(m_Lock);
        m_Rx.clear();
        m_Connected = false;
        m_NextSendUs = 0;
    }
    m_Model->Replug();
    return Plug();
}

SimSerialBridge::~SimSerialBridge()
{
    m_Stop = true;
    if (m_Thread.joinable())
        m_Thread.join();
    m_Retired.push_back({m_Handler, m_Unplugged});
    for (auto& [handler, unplugged] : m_Retired) {
        if (handler) {
            g_signal_handlers_disconnect_by_data(handler, unplugged.get());
            g_object_unref(handler);
        }
        m_Testbed->KeepAlive(unplugged);
    }
    // The testbed may live on for others: the port must not stay listed.
    if (m_Added && !m_Unplugged->load())
        m_Testbed->RemoveDevice(m_SysPath);
    if (m_OwnFd && m_Fd >= 0)
        m_DeadFds.push_back(m_Fd);
    for (int fd : m_DeadFds)
        close(fd);
}

void SimSerialBridge::Run()
{
    while (!m_Stop) {
        pollfd p{m_Fd, POLLIN, 0};
        int timeoutMs = 5;   // also how soon a stepped model clock is noticed
        {
            std::lock_guard<std::mutex> g(m_Lock);
            if (m_Connected && !m_LineOnModelClock && m_NextSendUs > NowUs())
                timeoutMs = int(std::min<int64_t>(5, (m_NextSendUs - NowUs()) / 1000 + 1));
        }
        poll(&p, 1, timeoutMs);
        if (m_Stop)
            break;
        const int64_t now = NowUs();
        {
            std::lock_guard<std::mutex> g(m_Lock);
            // The far end hangs up while no program has the port open.
            const bool connected = !(p.revents & POLLHUP);
            if (connected && !m_Connected)
                m_ConnectedUs = now;
            if (!connected)
                m_Rx.clear();
            m_Connected = connected;
        }
        if (p.revents & POLLIN)
            Receive();
        Send(now);
    }
}

// The line runs on the model's clock: a test that steps it gets frames as fast as its time moves
// on, and one on real time gets the real pace.
int64_t SimSerialBridge::LineNowUs(int64_t nowUs)
{
    const bool model = !m_Model->Clock().IsRealTime();
    const int64_t lineUs = model ? m_Model->Clock().NowMs() * 1000 : nowUs;
    std::lock_guard<std::mutex> g(m_Lock);
    if (model != m_LineOnModelClock) {
        m_LineOnModelClock = model;
        m_NextSendUs = 0;   // the other clock's times mean nothing here
    }
    return lineUs;
}

void SimSerialBridge::Receive()
{
    uint8_t buf[256];
    const ssize_t n = read(m_Fd, buf, sizeof(buf));
    if (n <= 0)
        return;
    std::vector<SimMessage> frames;
    {
        std::lock_guard<std::mutex> g(m_Lock);
        m_BytesReceived += n;
        m_Rx.insert(m_Rx.end(), buf, buf + n);
        for (;;) {
            const auto head = std::find(m_Rx.begin(), m_Rx.end(), kSimHead);
            m_GarbageReceived += head - m_Rx.begin();
            m_Rx.erase(m_Rx.begin(), head);
            if (m_Rx.size() < size_t(kSimFrameLen))
                break;
            if (m_Rx[kSimFrameLen - 1] != kSimTail) {
                ++m_GarbageReceived;   // a stray 0xAA: look for the next head
                m_Rx.erase(m_Rx.begin());
                continue;
            }
            frames.push_back(SimFromWire(m_Rx.data()));
            m_Rx.erase(m_Rx.begin(), m_Rx.begin() + kSimFrameLen);
        }
    }
    NoteViolations();
    for (const SimMessage& f : frames)
        m_Model->Receive(f, SimLink::Serial);
}

void SimSerialBridge::Send(int64_t nowUs)
{
    const int64_t lineUs = LineNowUs(nowUs);
    std::vector<uint8_t> garbage;
    {
        std::lock_guard<std::mutex> g(m_Lock);
        if (m_Connected && nowUs - m_ConnectedUs < kSettleUs)
            return;
        if (lineUs < m_NextSendUs)
            return;
        // Garbage goes out before the next frame a program receives; the thread may not have
        // noticed yet that the port was opened.
        if (m_Connected)
            garbage.swap(m_Garbage);
    }
    if (!garbage.empty() && ClientConnected()) {
        WriteBytes(garbage, nowUs, lineUs);
        return;
    }
    const std::optional<SimMessage> frame = m_Model->NextFrame();
    if (!frame || !ClientConnected())
        return;   // with nobody listening the frame is lost, as on a real bridge
    if (WriteBytes(std::vector<uint8_t>(frame->begin() + 1, frame->end()), nowUs, lineUs))
        m_Model->Delivered(*frame, SimLink::Serial);
}

bool SimSerialBridge::WriteBytes(std::vector<uint8_t> bytes, int64_t nowUs, int64_t lineUs)
{
    std::vector<uint8_t> out;
    {
        std::lock_guard<std::mutex> g(m_Lock);
        for (uint8_t b : bytes) {
            if (m_LoseAfter > 0) {
                --m_LoseAfter;
            } else if (m_Lose > 0) {
                --m_Lose;
                continue;
            }
            if (m_Corrupt > 0) {
                --m_Corrupt;
                b ^= m_CorruptMask;
            }
            out.push_back(b);
        }
        // The line is busy for the whole frame, lost bytes included.
        m_NextSendUs = std::max(m_NextSendUs, lineUs) + int64_t(bytes.size()) * kByteUs;
        if (m_Writes.size() >= kMaxWrites)
            m_Writes.erase(m_Writes.begin(), m_Writes.begin() + kMaxWrites / 2);
        m_Writes.push_back({nowUs, out});
    }
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = write(m_Fd, out.data() + done, out.size() - done);
        if (n <= 0)
            break;   // the host's buffer is full: the rest is lost, as in a UART overrun
        done += size_t(n);
    }
    return done == bytes.size() && out == bytes;
}

std::vector<std::string> SimSerialBridge::CheckLine() const
{
    std::vector<std::string> v;
    termios t{};
    if (tcgetattr(m_Fd, &t) != 0)
        return v;
    if (cfgetispeed(&t) != B9600 || cfgetospeed(&t) != B9600)
        v.push_back("baud rate is not 9600");
    if ((t.c_cflag & CSIZE) != CS8)
        v.push_back("data bits are not 8");
    if (t.c_cflag & PARENB)
        v.push_back("parity is on");
    if (t.c_cflag & CSTOPB)
        v.push_back("two stop bits");
    if ((t.c_cflag & CRTSCTS) || (t.c_iflag & (IXON | IXOFF)))
        v.push_back("flow control is on");
    if ((t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN)) || (t.c_oflag & OPOST)
        || (t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)))
        v.push_back("line is not raw");
    return v;
}

void SimSerialBridge::NoteViolations()
{
    const std::vector<std::string> now = CheckLine();
    std::lock_guard<std::mutex> g(m_Lock);
    for (const std::string& s : now)
        if (std::find(m_Violations.begin(), m_Violations.end(), s) == m_Violations.end())
            m_Violations.push_back(s);
}

void SimSerialBridge::LoseBytes(int n, int after)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_Lose = std::max(0, n);
    m_LoseAfter = m_Lose > 0 ? std::max(0, after) : 0;
}

void SimSerialBridge::CorruptBytes(int n, uint8_t mask)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_Corrupt = std::max(0, n);
    m_CorruptMask = mask;
}

void SimSerialBridge::InsertGarbage(const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_Garbage.insert(m_Garbage.end(), bytes.begin(), bytes.end());
}

void SimSerialBridge::UnplugAndHangUp()
{
    const int farEnd = m_Fd;
    Unplug();
    if (farEnd < 0)
        return;
    // umockdev keeps the pseudo-terminal's far end open after the tty is removed. An empty pipe
    // takes its place, which closes it, so the program's port hangs up; umockdev's own close
    // later finds a harmless descriptor.
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) == 0) {
        dup3(pipeEnds[0], farEnd, O_CLOEXEC);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
    }
}

void SimSerialBridge::Unplug()
{
    if (m_Fd < 0 || m_Unplugged->exchange(true))
        return;
    m_Model->Unplug();
    m_Stop = true;
    if (m_Thread.joinable())
        m_Thread.join();
    {
        std::lock_guard<std::mutex> g(m_Lock);
        m_Connected = false;
    }
    // Removing the tty closes the pseudo-terminal's far end: the open port hangs up.
    m_Testbed->RemoveDevice(m_SysPath);
    if (m_OwnFd)
        m_DeadFds.push_back(m_Fd);   // left open, as umockdev leaves its own
    m_Fd = -1;
}

bool SimSerialBridge::ClientConnected() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Connected;
}

std::vector<std::string> SimSerialBridge::LineViolations() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Violations;
}

std::vector<SimSerialWrite> SimSerialBridge::Writes() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Writes;
}

int64_t SimSerialBridge::BytesReceived() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return m_BytesReceived;
}

int64_t SimSerialBridge::GarbageReceived() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return m_GarbageReceived;
}
