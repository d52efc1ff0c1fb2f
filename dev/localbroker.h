#pragma once

#include <QProcess>
#include <QString>

namespace relo {

// A mosquitto broker of one's own, for the tests and the benchmark: listening on
// 127.0.0.1 at a port that was free when first started (kept across restarts),
// anonymous clients allowed, nothing kept on disk, running as the current user
// (also when that is root). Its configuration file goes into `folder`.
class LocalBroker
{
public:
    explicit LocalBroker(const QString &folder) : m_folder(folder) {}
    ~LocalBroker() { stop(); }
    LocalBroker(const LocalBroker &) = delete;
    LocalBroker &operator=(const LocalBroker &) = delete;

    // Starts it and waits until it listens; false, with errorString(), when it
    // does not within `timeoutMs`.
    bool start(int timeoutMs = 10000);
    void stop();
    int port() const { return m_port; }
    QString errorString() const { return m_error; }

private:
    const QString m_folder;
    QProcess m_process;
    int m_port = 0;
    QString m_error;
};

} // namespace relo
