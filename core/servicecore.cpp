#include "core/servicecore.h"

#include "core/consoleline.h"
#include "core/settingsfile.h"
#include "platform/sockets.h"
#include "core/statewatcher.h"
#include "platform/stopsignals.h"

#include <QTimer>

#include <cstdio>

namespace relo {

bool ServiceCore::prepareProcess()
{
    platform::survivePeerClose();
    if (platform::StopSignals::install())
        return true;
    log(QStringLiteral("Sinyaller yakalanamadı"));
    return false;
}

ServiceCore::ServiceCore(const QString &settingsFolder, SerialPort *port, QObject *parent)
    : QObject(parent), m_settingsFolder(settingsFolder),
      m_queue(new CommandQueue(port, settingsFolder, this)),
      m_watcher(new StateWatcher(settingsFolder, this)), m_stopLimit(new QTimer(this))
{
    m_queue->setFirstFrameAtOnce(true); // a switch must feel instant
    connect(m_queue, &CommandQueue::batchStarted, this, &ServiceCore::onBatchStarted);
    connect(m_queue, &CommandQueue::finished, this, &ServiceCore::onFinished);
    connect(m_watcher, &StateWatcher::maskChanged, this, &ServiceCore::onFileChanged);
    connect(m_watcher, &StateWatcher::polling, this,
            [] { log(QStringLiteral("ayar.ini izlenemiyor; saniyede bir okunacak")); });
    m_stopLimit->setSingleShot(true);
    connect(m_stopLimit, &QTimer::timeout, this, &ServiceCore::finishStop);
}

Mask ServiceCore::start()
{
    m_mask = m_watcher->start();
    auto *stopSignals = new platform::StopSignals(this);
    connect(stopSignals, &platform::StopSignals::stopRequested, this, &ServiceCore::stop);
    return m_mask;
}

QString ServiceCore::settingsFile() const
{
    return settingsPath(m_settingsFolder);
}

void ServiceCore::log(const QString &line)
{
    printLine(stderr, line);
}

int ServiceCore::submit(const QString &what, const MaskChange &change)
{
    log(QStringLiteral("Komut: %1").arg(what));
    const int id = m_queue->submit(change);
    m_underWay.insert(id, change);
    return id;
}

void ServiceCore::onBatchStarted(Mask newMask)
{
    log(QStringLiteral("Gönderiliyor: %1").arg(openChannelsText(newMask)));
    adopt(newMask, 0);
}

// A new PortData in ayar.ini: another program (RELOKomut, the port setup)
// switched the outputs.
void ServiceCore::onFileChanged(Mask saved)
{
    if (saved == m_mask)
        return;
    log(QStringLiteral("ayar.ini değişti: %1").arg(openChannelsText(saved)));
    adopt(saved, 0);
}

void ServiceCore::adopt(Mask mask, Mask again)
{
    const Mask changed = mask ^ m_mask;
    m_mask = mask;
    if (changed || again)
        Q_EMIT stateChanged(m_mask, changed, again);
}

void ServiceCore::onFinished(int id, CommandQueue::Outcome outcome, const QString &error)
{
    const auto own = m_underWay.find(id);
    if (own == m_underWay.end())
        return;
    const MaskChange change = own.value();
    m_underWay.erase(own);
    if (outcome == CommandQueue::Outcome::Sent) {
        // Perhaps sent by another process, whose save the watch has not seen yet.
        m_watcher->check();
    } else {
        // Not saved, the frames still went out: the state shown at the start of
        // the batch is the one on the wire and stays. Only a change that never
        // left goes back.
        if (outcome == CommandQueue::Outcome::PortFailed)
            m_failedChannels |= change.channels;
        m_failure = error;
        // Every change of a batch finishes at once: one line for all of them.
        if (!m_failureQueued) {
            m_failureQueued = true;
            QTimer::singleShot(0, this, &ServiceCore::reportFailures);
        }
    }
    Q_EMIT finished(id, outcome, error);
    finishStopWhenDone();
}

void ServiceCore::reportFailures()
{
    m_failureQueued = false;
    const Mask failed = m_failedChannels;
    m_failedChannels = 0;
    log(failed ? m_failure + m_failureNote : m_failure);
    if (failed)
        adopt(m_queue->savedMask(), failed);
    finishStopWhenDone();
}

void ServiceCore::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    Q_EMIT stopping();
    m_stopLimit->start(StopWaitMs);
    if (!m_underWay.isEmpty() || m_failureQueued)
        log(QStringLiteral("Durduruluyor: gönderilmekte olan değişiklikler bekleniyor"));
    finishStopWhenDone();
}

void ServiceCore::finishStopWhenDone()
{
    if (m_stopLimit->isActive() && m_underWay.isEmpty() && !m_failureQueued)
        finishStop();
}

// Once, when stopping: the changes under way are done, or StopWaitMs passed.
void ServiceCore::finishStop()
{
    m_stopLimit->stop();
    m_queue->cancel();
    Q_EMIT ending();
    m_underWay.clear();
    log(QStringLiteral("Durduruldu"));
    Q_EMIT stopped();
}

std::optional<MaskChange> switchChange(int channel, const QByteArray &payload)
{
    const Mask bit = channelBit(channel);
    if (payload == "ON" || payload == "1")
        return MaskChange{bit, bit};
    if (payload == "OFF" || payload == "0")
        return MaskChange{bit, 0};
    return std::nullopt;
}

std::optional<MaskChange> wholeMaskChange(const QByteArray &payload)
{
    if (payload.isEmpty() || payload.size() > 3)
        return std::nullopt;
    for (const char c : payload) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    const int mask = payload.toInt();
    if (mask > 255)
        return std::nullopt;
    return MaskChange{0xFF, Mask(mask)};
}

std::optional<int> channelNumber(QStringView text)
{
    if (text.size() != 1 || text.at(0) < u'1' || text.at(0) > u'8')
        return std::nullopt;
    return text.at(0).digitValue();
}

} // namespace relo
