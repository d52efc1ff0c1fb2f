#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace relo::platform {

// The serial ports the system knows now, as device paths (/dev/ttyUSB0), in no
// particular order: every tty with a device and driver behind it, the
// Bluetooth, null-modem and gadget ttys that have none, and of the legacy UARTs
// that the system lists whether or not one is fitted only those it found.
QStringList serialDevices();

// The serial devices named by the links in the by-id and by-path subfolders of
// `folder` (as /dev/serial holds them): each device's path and the first link
// to it, by-id before by-path, each subfolder in name order. Links to anything
// but a character device are left out.
QHash<QString, QString> serialDeviceLinks(const QString &folder);

// Whether `path` (links followed) names a character device, as every serial
// port's device does.
bool isCharDevice(const QString &path);

// For a serial device open as `handle` (QSerialPort::handle()): waits until the
// driver has put on the line every byte written to it; a signal caught meanwhile
// does not end the wait early.
void waitUntilSent(qintptr handle);

// Whether the driver of the serial device open as `handle` takes more bytes now,
// without waiting.
bool hasRoomToWrite(qintptr handle);

} // namespace relo::platform
