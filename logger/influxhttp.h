#pragma once
// One write request to InfluxDB (libcurl): POST of line protocol to the 1.x write API, with a
// token (Authorization: Token) or HTTP basic authentication. The handle and its connection are
// kept from one request to the next. Used by the InfluxDB sink's own thread only.
#include "influxoptions.h"

#include <QByteArray>
#include <QString>
#include <functional>

struct curl_slist;

// What a write came to, and what the sink makes of it.
struct InfluxReply {
    enum Kind {
        Accepted,    // 2xx (204): the lines are in the database
        Unreachable, // no answer, or a 5xx: try again later with the same lines
        Refused,     // a refusal that is not about the lines (authorisation, no such database,
                     // too many requests): the same lines go again once it is fixed
        TooLarge,    // 413: the same lines again, in smaller batches
        Rejected,    // the lines themselves (400: a field of another type, beyond the retention
                     // policy...): InfluxDB stored what it could, the rest would be refused forever
    };
    Kind kind = Unreachable;
    int status = 0; // HTTP status, 0 without one
    QString text;   // libcurl's error or the server's error text, one short line
};

// How a status and the server's answer are taken (a pure function of them).
InfluxReply Influx_Classify(int status, const QByteArray& body);

class InfluxHttp {
public:
    // abort: asked while a request runs (several times a second); true ends it at once.
    InfluxHttp(const InfluxOptions& options, std::function<bool()> abort);
    ~InfluxHttp();
    InfluxHttp(const InfluxHttp&) = delete;
    InfluxHttp& operator=(const InfluxHttp&) = delete;

    InfluxReply Post(const QByteArray& lines);
    // Reads the token or password file again (after a refusal: it may have been replaced).
    void ReloadSecret();

private:
    void SetCredentials();
    static size_t OnData(char* data, size_t size, size_t count, void* self);
    static int OnProgress(void* self, long long, long long, long long, long long);

    InfluxOptions m_Options;
    std::function<bool()> m_Abort;
    void* m_Curl = nullptr; // CURL*
    curl_slist* m_Headers = nullptr;
    QByteArray m_Body; // the answer, its first few KB
    QByteArray m_Url, m_User, m_Password;
    char m_Error[256] = {};
};
