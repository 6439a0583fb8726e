#include "influxhttp.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <curl/curl.h>

namespace {
constexpr int kMaxBody = 4096;  // an error answer is one short JSON object
constexpr int kMaxText = 160;
constexpr long kConnectTimeoutMs = 10000;
constexpr long kTimeoutMs = 30000; // a batch of 5000 lines takes InfluxDB some milliseconds

// The server's error, as short as a log line should be: {"error":"..."} of 1.x, {"message":...}
// of 2.x, or the text as it came.
QString ErrorText(const QByteArray& body)
{
    const QJsonObject o = QJsonDocument::fromJson(body).object();
    QString text = o.value(QStringLiteral("error")).toString();
    if (text.isEmpty())
        text = o.value(QStringLiteral("message")).toString();
    if (text.isEmpty())
        text = QString::fromUtf8(body);
    text = text.simplified();
    return text.size() > kMaxText ? text.left(kMaxText) + QStringLiteral("...") : text;
}
} // namespace

InfluxReply Influx_Classify(int status, const QByteArray& body)
{
    InfluxReply r;
    r.status = status;
    r.text = ErrorText(body);
    if (status >= 200 && status < 300)
        r.kind = InfluxReply::Accepted;
    else if (status == 413)
        r.kind = InfluxReply::TooLarge;
    // Not about the lines: wrong or expired credentials, a database not made yet, a proxy's page
    // for a wrong path, too many requests. Dropping the lines would lose them for good.
    else if (status == 401 || status == 403 || status == 404 || status == 405 || status == 407 || status == 408 || status == 429)
        r.kind = InfluxReply::Refused;
    else if (status >= 400 && status < 500)
        r.kind = InfluxReply::Rejected;
    else
        r.kind = InfluxReply::Unreachable;
    if (r.text.isEmpty())
        r.text = QStringLiteral("HTTP %1").arg(status);
    else if (r.kind == InfluxReply::Unreachable || r.kind == InfluxReply::Refused)
        r.text = QStringLiteral("HTTP %1: %2").arg(status).arg(r.text);
    return r;
}

InfluxHttp::InfluxHttp(const InfluxOptions& options, std::function<bool()> abort)
    : m_Options(options), m_Abort(std::move(abort)), m_Curl(curl_easy_init()), m_Url(options.url.toUtf8())
{
    if (!m_Curl)
        return;
    CURL* c = m_Curl;
    m_Headers = curl_slist_append(m_Headers, "Content-Type: text/plain; charset=utf-8");
    m_Headers = curl_slist_append(m_Headers, "Expect:"); // no wait for "100 Continue" before the lines
    SetCredentials();
    curl_easy_setopt(c, CURLOPT_URL, m_Url.constData());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L); // no SIGALRM for time-outs: this is one thread of many
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(c, CURLOPT_PROTOCOLS, long(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    curl_easy_setopt(c, CURLOPT_USERAGENT, "vostral-logger/" VOSTRAL_VERSION);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, kTimeoutMs);
    curl_easy_setopt(c, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, m_Error);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &InfluxHttp::OnData);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &InfluxHttp::OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, this);
}

InfluxHttp::~InfluxHttp()
{
    if (m_Curl)
        curl_easy_cleanup(m_Curl);
    curl_slist_free_all(m_Headers);
}

void InfluxHttp::SetCredentials()
{
    // A token goes as a header of its own: it is the last one in the list, replaced when read again.
    if (!m_Options.token.isEmpty()) {
        curl_slist* kept = nullptr;
        for (curl_slist* h = m_Headers; h; h = h->next)
            if (qstrncmp(h->data, "Authorization:", 14) != 0)
                kept = curl_slist_append(kept, h->data);
        curl_slist_free_all(m_Headers);
        m_Headers = curl_slist_append(kept, ("Authorization: Token " + m_Options.token.toUtf8()).constData());
    }
    curl_easy_setopt(m_Curl, CURLOPT_HTTPHEADER, m_Headers);
    if (!m_Options.user.isEmpty()) {
        m_User = m_Options.user.toUtf8();
        m_Password = m_Options.password.toUtf8();
        curl_easy_setopt(m_Curl, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        curl_easy_setopt(m_Curl, CURLOPT_USERNAME, m_User.constData());
        curl_easy_setopt(m_Curl, CURLOPT_PASSWORD, m_Password.constData());
    }
}

void InfluxHttp::ReloadSecret()
{
    QString error;
    if (!m_Options.tokenFile.isEmpty())
        Influx_ReadSecretFile(QStringLiteral("influx-token-file"), m_Options.tokenFile, &m_Options.token, &error);
    if (!m_Options.passwordFile.isEmpty())
        Influx_ReadSecretFile(QStringLiteral("influx-password-file"), m_Options.passwordFile, &m_Options.password, &error);
    if (m_Curl)
        SetCredentials(); // an unreadable file keeps what was read before
}

size_t InfluxHttp::OnData(char* data, size_t size, size_t count, void* self)
{
    QByteArray& body = static_cast<InfluxHttp*>(self)->m_Body;
    const size_t n = size * count;
    if (body.size() < kMaxBody)
        body.append(data, int(std::min<size_t>(n, size_t(kMaxBody - body.size()))));
    return n;
}

int InfluxHttp::OnProgress(void* self, long long, long long, long long, long long)
{
    const auto* http = static_cast<InfluxHttp*>(self);
    return http->m_Abort && http->m_Abort() ? 1 : 0;
}

InfluxReply InfluxHttp::Post(const QByteArray& lines)
{
    InfluxReply r;
    if (!m_Curl) {
        r.text = QStringLiteral("cannot set up libcurl");
        return r;
    }
    m_Body.clear();
    m_Error[0] = 0;
    curl_easy_setopt(m_Curl, CURLOPT_POSTFIELDS, lines.constData());
    curl_easy_setopt(m_Curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(lines.size()));
    const CURLcode rc = curl_easy_perform(m_Curl);
    if (rc != CURLE_OK) {
        r.text = QString::fromUtf8(m_Error[0] ? m_Error : curl_easy_strerror(rc)).simplified();
        return r;
    }
    long status = 0;
    curl_easy_getinfo(m_Curl, CURLINFO_RESPONSE_CODE, &status);
    return Influx_Classify(int(status), m_Body);
}
