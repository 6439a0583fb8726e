#pragma once
// Serves the logger's current readings to Prometheus: GET /metrics on the --prometheus address
// answers with prometheusmetrics.h's text. Anything else is 404, another method 405.
//
// Threading: the sink's calls come from the logger's main thread, the HTTP requests are answered
// on libmicrohttpd's own polling thread. The main thread rebuilds the whole text at every change
// (one reading a second: cheap) and swaps it in under a mutex; a request only copies it, so a
// scrape never waits for the main thread and never sees half a change.
#include "prometheusmetrics.h"
#include "prometheusoptions.h"
#include "readingsink.h"

#include <QByteArray>
#include <mutex>

struct MHD_Daemon;

class PrometheusSink : public ReadingSink {
public:
    // say: "serving Prometheus metrics on http://127.0.0.1:9101/metrics", once Open() succeeded.
    PrometheusSink(const PrometheusOptions& options, Say say);
    ~PrometheusSink() override; // Stop()
    PrometheusSink(const PrometheusSink&) = delete;
    PrometheusSink& operator=(const PrometheusSink&) = delete;

    // Binds and listens. false with *error when it cannot: "cannot serve Prometheus metrics on
    // 127.0.0.1:9101: Address already in use".
    bool Open(QString* error) override;
    void SensorFound(const SensorInfo& sensor) override;
    void Reading(const LoggerReading& r) override;
    void SensorLost() override;
    void FramesRefused(int count) override;
    // Closes the port; a scrape in progress is cut off. Prometheus then marks the target down.
    void Stop() override;

    // The text a scrape gets now (any thread).
    QByteArray Text() const;

private:
    void Publish();

    const PrometheusOptions m_Options;
    const Say m_Say;
    PrometheusState m_State; // main thread only
    MHD_Daemon* m_Daemon = nullptr;

    mutable std::mutex m_Mutex; // m_Text
    QByteArray m_Text;
};
