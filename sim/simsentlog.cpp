#include "simsentlog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
constexpr uint8_t kFormaldehydeStatus = 17;
constexpr uint8_t kTvocStatus = 33;
}

std::string SimSentLogLine(const SimDelivery& d)
{
    const SimMessage& f = d.frame;
    if (!SimFrameValid(f) || f[2] != kSimMeasurement)
        return {};
    const bool gas = f[3] == kFormaldehydeStatus || f[3] == kTvocStatus;
    char line[96];
    // Integers only: printf's integer conversions do not depend on the locale.
    std::snprintf(line, sizeof(line), "%lld %lld %s %u %u", static_cast<long long>(d.wallMs),
                  static_cast<long long>(d.modelMs), gas ? "gas" : "pm", unsigned(SimWord(f, 8)),
                  gas ? unsigned(f[3]) : unsigned(SimWord(f, 12)));
    return line;
}

SimSentLog::~SimSentLog()
{
    if (m_Fd >= 0)
        close(m_Fd);
}

bool SimSentLog::Open(const std::string& path, std::string* error)
{
    std::lock_guard<std::mutex> g(m_Lock);
    // Not inherited by the child: the log is the launcher's alone.
    m_Fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_Fd < 0 && error)
        *error = "cannot open " + path + ": " + std::strerror(errno);
    return m_Fd >= 0;
}

void SimSentLog::Note(const SimDelivery& delivery)
{
    std::string line = SimSentLogLine(delivery);
    if (line.empty())
        return;
    line += '\n';
    std::lock_guard<std::mutex> g(m_Lock);
    // One write per line, no buffer of ours: what was written survives a kill of the launcher.
    if (m_Fd >= 0 && write(m_Fd, line.data(), line.size()) < 0) {
        // a full disk loses the line; the device goes on
    }
}
