#include "link/realserialport.h"

#include "link/portmap.h"

#include "platform/deviceholders.h"
#include "platform/lockfiles.h"
#include "platform/permissions.h"
#include "platform/serialdevices.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>

namespace relo {

void applyLineSettings(QSerialPort &serial)
{
    serial.setBaudRate(QSerialPort::Baud2400);
    serial.setDataBits(QSerialPort::Data8);
    serial.setParity(QSerialPort::NoParity);
    serial.setStopBits(QSerialPort::OneStop);
    serial.setFlowControl(QSerialPort::NoFlowControl);
}

namespace {

// Bytes kept waiting for the owner to read; the rest of a flood is dropped oldest
// first, as a full input buffer would.
constexpr qint64 InputBufferSize = 1024;

bool deviceExists(const QString &path)
{
    return QFileInfo::exists(path);
}

// Errors after which the open port can no longer be used: the adapter is gone or
// the device refuses input or output. Others (RTS unsupported on a
// pseudo-terminal, a wait that timed out) leave the port working.
bool isFatal(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::WriteError:
    case QSerialPort::ReadError:
        return true;
    default:
        return false;
    }
}

} // namespace

RealSerialPort::RealSerialPort(QObject *parent)
    : SerialPort(parent), m_serial(new QSerialPort(this))
{
    connect(m_serial, &QSerialPort::readyRead, this, &RealSerialPort::onReadyRead);
    connect(m_serial, &QSerialPort::errorOccurred, this, &RealSerialPort::onError);
}

RealSerialPort::~RealSerialPort()
{
    closePort();
}

SerialPort::OpenError RealSerialPort::openPort(int portNumber)
{
    closePort();
    m_portNumber = portNumber;
    m_device = resolve(portNumber);
    const QString path = m_device.path;
    // A missing device is answered without touching Qt's lock directory; this
    // keeps a scan of ten absent ports fast.
    if (path.isEmpty() || !deviceExists(path))
        return OpenError::Missing;
    if (!platform::mayReadWrite(path))
        return OpenError::NoPermission;
    // Checked before opening: an open would reset the line settings under the
    // program that holds the device.
    if (openElsewhere(path))
        return OpenError::Busy;

    m_serial->setPortName(path);
    applyLineSettings(*m_serial);
    if (!m_serial->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_serial->error();
        m_serial->clearError();
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return OpenError::Missing;
        case QSerialPort::PermissionError:
            // Qt reports a device locked by another process (its lock file, or
            // the exclusive-use flag of the tty) and a device this user may not
            // open with the same code. Tell them apart by the file's mode.
            if (!deviceExists(path))
                return OpenError::Missing;
            if (!platform::mayReadWrite(path))
                return OpenError::NoPermission;
            // Qt removes a lock whose program has ended; one still there is
            // one this user may not remove.
            return isStaleLock(lockFilePath(path)) ? OpenError::StaleLock : OpenError::Busy;
        default:
            return OpenError::Other;
        }
    }
    ++m_generation;
    m_broken = false;
    // The driver raises RTS on opening; it stays low until the owner raises it.
    // DTR is left as the driver sets it.
    m_serial->setRequestToSend(false);
    m_serial->clearError();
    return OpenError::None;
}

PortDevice RealSerialPort::resolve(int portNumber)
{
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const bool overridden = env.contains(portEnvironmentVariable(portNumber));
    if (m_resolver && portNumber >= 1 && !overridden)
        return m_resolver(portNumber);
    QStringList systemPorts;
    if (portNumber >= 1 && !overridden) {
        constexpr qint64 SystemPortsMaxAgeMs = 1000;
        if (!m_systemPortsAge.isValid() || m_systemPortsAge.hasExpired(SystemPortsMaxAgeMs)) {
            m_systemPorts = systemSerialPorts();
            m_systemPortsAge.start();
        }
        systemPorts = m_systemPorts;
    }
    const QString path = devicePathForPort(portNumber, env, systemPorts);
    return {path, path};
}

void RealSerialPort::refreshDevices()
{
    m_systemPortsAge.invalidate();
    m_openElsewhereAge.invalidate();
    if (m_refresh)
        m_refresh();
}

bool RealSerialPort::openElsewhere(const QString &path)
{
    if (!platform::isCharDevice(path))
        return false;
    // One look through the processes serves a whole scan; a caller that tries
    // again a moment later (a busy retry) looks afresh.
    constexpr qint64 MaxAgeMs = 50;
    if (!m_openElsewhereAge.isValid() || m_openElsewhereAge.hasExpired(MaxAgeMs)) {
        m_openElsewhere = platform::HeldDevices::now();
        m_openElsewhereAge.start();
    }
    return m_openElsewhere.contains(path);
}

void RealSerialPort::closePort()
{
    if (!m_serial->isOpen())
        return;
    if (!m_broken)
        drain();
    m_broken = false;
    m_serial->close();
    m_serial->clearError();
}

bool RealSerialPort::isOpen() const
{
    return m_serial->isOpen() && !m_broken;
}

void RealSerialPort::setRts(bool on)
{
    if (!isOpen())
        return;
    // A pseudo-terminal has no RTS line: the request fails harmlessly.
    m_serial->setRequestToSend(on);
}

bool RealSerialPort::send(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    if (m_serial->write(bytes) != bytes.size())
        return false;
    // Hand the bytes to the driver now, in one write, when it has room; otherwise
    // the event loop writes them as soon as it has. (Pushing into a full driver
    // buffer makes QSerialPort report a resource error as if the device had gone.)
    if (driverHasRoom())
        m_serial->flush();
    return !m_broken;
}

void RealSerialPort::drain()
{
    if (!isOpen())
        return;
    // QSerialPort keeps unwritten bytes in its own buffer and close() drops them;
    // hand them to the driver as it takes them, then wait until the driver has
    // sent them (one frame spends 75 ms on the wire at 2400 baud).
    while (m_serial->bytesToWrite() > 0 && !m_broken) {
        const qint64 msOnWire = m_serial->bytesToWrite() * 10 * 1000 / 2400;
        if (!m_serial->waitForBytesWritten(int(msOnWire) + 1000))
            break;
    }
    if (!m_broken)
        platform::waitUntilSent(m_serial->handle());
}

bool RealSerialPort::driverHasRoom() const
{
    return platform::hasRoomToWrite(m_serial->handle());
}

void RealSerialPort::setReceiveThreshold(int threshold, int inputLen)
{
    m_threshold = qMax(0, threshold);
    m_inputLen = qMax(0, inputLen);
}

QByteArray RealSerialPort::drainInput()
{
    if (!isOpen())
        return {};
    return m_inputLen > 0 ? m_serial->read(m_inputLen) : m_serial->readAll();
}

void RealSerialPort::onReadyRead()
{
    if (m_threshold <= 0) {
        // Nobody reads this port: throw the bytes away rather than pile them up.
        m_serial->readAll();
        return;
    }
    // One notification per threshold's worth waiting, for as long as the owner
    // keeps reading, so blocks that arrived together are not left behind.
    while (isOpen() && m_serial->bytesAvailable() >= m_threshold) {
        const qint64 before = m_serial->bytesAvailable();
        Q_EMIT received();
        if (!isOpen() || m_serial->bytesAvailable() >= before)
            break;
    }
    if (isOpen() && m_serial->bytesAvailable() > InputBufferSize)
        m_serial->skip(m_serial->bytesAvailable() - InputBufferSize);
}

void RealSerialPort::onError(QSerialPort::SerialPortError error)
{
    if (!m_serial->isOpen() || m_broken || !isFatal(error))
        return;
    // This runs inside QSerialPort (its notifier or a write), so the port is only
    // marked unusable here; it is closed and failed() emitted from the event
    // loop. The owner therefore never sees failed() in the middle of its own
    // send(), and not at all if it closes or reopens the port first.
    m_broken = true;
    const int generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation != m_generation || !m_broken)
                return;
            m_broken = false;
            m_serial->close();
            m_serial->clearError();
            Q_EMIT failed();
        },
        Qt::QueuedConnection);
}

} // namespace relo
