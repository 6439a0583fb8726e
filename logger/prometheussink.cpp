#include "prometheussink.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const char kMetricsType[] = "text/plain; version=0.0.4; charset=utf-8";
const char kPlainType[] = "text/plain; charset=utf-8";
// Prometheus and a curl now and then: a handful of connections is plenty, and a client that
// stalls is dropped before it ties one up for long.
const unsigned kConnectionLimit = 16;
const unsigned kConnectionTimeoutSec = 10;

MHD_Result Send(MHD_Connection* connection, unsigned status, const QByteArray& body, const char* type, const char* allow = nullptr)
{
    MHD_Response* response = MHD_create_response_from_buffer(size_t(body.size()), const_cast<char*>(body.constData()),
                                                             MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO; // out of memory: libmicrohttpd closes the connection
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (allow)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

// On libmicrohttpd's thread, called more than once per request. Anything but a scrape is
// answered at the first call, which also closes the connection (whatever the client sends after
// its headers is never read). A scrape is answered once the request is in (a request body, which
// it should not have, is dropped), which keeps the connection open for the next one.
// libmicrohttpd leaves out the body of the answer to HEAD.
MHD_Result Answer(void* self, MHD_Connection* connection, const char* url, const char* method, const char*, const char*,
                  size_t* uploadSize, void** requestContext)
{
    static char started;
    if (strcmp(url, "/metrics") != 0)
        return Send(connection, MHD_HTTP_NOT_FOUND, "not found: the metrics are at /metrics\n", kPlainType);
    if (strcmp(method, MHD_HTTP_METHOD_GET) != 0 && strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return Send(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "/metrics takes GET only\n", kPlainType, "GET, HEAD");
    if (!*requestContext || *uploadSize != 0) {
        *requestContext = &started;
        *uploadSize = 0;
        return MHD_YES;
    }
    return Send(connection, MHD_HTTP_OK, static_cast<const PrometheusSink*>(self)->Text(), kMetricsType);
}

// In English whatever the locale (strerror follows LC_MESSAGES): the message is the same in
// every journal, and the README quotes it.
QString ErrorText(int error)
{
    const char* text = strerrordesc_np(error);
    return text ? QString::fromLatin1(text) : QStringLiteral("error %1").arg(error);
}
} // namespace

PrometheusSink::PrometheusSink(const PrometheusOptions& options, Say say) : m_Options(options), m_Say(std::move(say))
{
    Publish();
}

PrometheusSink::~PrometheusSink()
{
    Stop();
}

bool PrometheusSink::Open(QString* error)
{
    const QString where = Prometheus_Endpoint(m_Options);
    // The socket is the sink's own, handed to libmicrohttpd listening: a port in use is then
    // said with its reason, where MHD_start_daemon would only fail.
    sockaddr_storage address{};
    socklen_t length = 0;
    const QByteArray host = m_Options.address.toLatin1();
    if (m_Options.ipv6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&address);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(uint16_t(m_Options.port));
        inet_pton(AF_INET6, host.constData(), &a->sin6_addr);
        length = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&address);
        a->sin_family = AF_INET;
        a->sin_port = htons(uint16_t(m_Options.port));
        inet_pton(AF_INET, host.constData(), &a->sin_addr);
        length = sizeof *a;
    }
    const auto fail = [&](const QString& why) {
        *error = QStringLiteral("cannot serve Prometheus metrics on %1: %2").arg(where, why);
        return false;
    };
    const int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return fail(ErrorText(errno));
    // A restarted logger binds at once, even with connections of the last one in TIME_WAIT;
    // Linux still refuses a port that another socket listens on.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || listen(fd, int(kConnectionLimit)) != 0) {
        const int e = errno;
        close(fd);
        return fail(ErrorText(e));
    }
    m_Daemon = MHD_start_daemon(MHD_USE_AUTO_INTERNAL_THREAD | MHD_USE_ITC | (m_Options.ipv6 ? MHD_USE_IPv6 : 0), 0, nullptr,
                                nullptr, &Answer, this, MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT,
                                kConnectionLimit, MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSec, MHD_OPTION_END);
    if (!m_Daemon) {
        close(fd);
        return fail(QStringLiteral("the HTTP server did not start"));
    }
    m_Say(QStringLiteral("serving Prometheus metrics on http://%1/metrics").arg(where));
    return true;
}

void PrometheusSink::SensorFound(const SensorInfo& sensor)
{
    Prometheus_Found(&m_State, sensor);
    Publish();
}

void PrometheusSink::Reading(const LoggerReading& r)
{
    Prometheus_Reading(&m_State, r);
    Publish();
}

void PrometheusSink::SensorLost()
{
    Prometheus_Lost(&m_State);
    Publish();
}

void PrometheusSink::FramesRefused(int count)
{
    if (count <= 0)
        return;
    m_State.framesRefused += count;
    Publish();
}

void PrometheusSink::Stop()
{
    // Wakes the polling thread (MHD_USE_ITC), closes every connection and the listening socket,
    // and joins the thread: nothing waits on a client.
    if (m_Daemon)
        MHD_stop_daemon(m_Daemon);
    m_Daemon = nullptr;
}

QByteArray PrometheusSink::Text() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Text; // shared, not copied: the main thread swaps in a new one
}

void PrometheusSink::Publish()
{
    QByteArray text = Prometheus_Text(m_State);
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Text.swap(text);
}
