// relo-sim: a virtual radio receiver. Without arguments it creates a
// pseudo-terminal pair and listens on its far end, so RELO and RELOKomut can be
// pointed at the near end through RELO_COM1; with --port it listens on an
// existing device. Every complete frame and every byte outside a frame is printed
// on its own line, flushed at once, so the output can be followed through a pipe.
#include "core/consoleline.h"
#include "link/framedecoder.h"
#include "platform/permissions.h"
#include "dev/pseudoterminal.h"
#include "link/realserialport.h"
#include "sim_version.h"
#include "platform/stopsignals.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QStringList>
#include <QTime>

#include <cstdio>

namespace {

using relo::printLine;

const char *const Usage = "Kullanım: relo-sim [--port AYGIT | --help | --version]\n"
                          "\n"
                          "Sanal radyo alıcısı: seri hattan gelen kontrol çerçevelerini çözer ve\n"
                          "her birini bir satırda gösterir (saat, sıra, maske, açık çıkışlar).\n"
                          "\n"
                          "Seçenekler:\n"
                          "  --port AYGIT  sözde uç birim açmak yerine var olan AYGIT'ı dinler\n"
                          "                (ör. boş modem kablosunun öbür ucu: /dev/ttyUSB1)\n"
                          "  -h, --help    bu yardımı gösterir\n"
                          "  --version     sürümü gösterir\n"
                          "\n"
                          "Seçeneksiz çalıştırıldığında bir sözde uç birim açar ve ilk satırda\n"
                          "yolunu yazar; RELO ve RELOKomut'u oraya yöneltmek için:\n"
                          "  export RELO_COM1=<yol>\n"
                          "Ctrl+C ile çıkılır.";

// Qt's errorString() is English: the reasons relo-sim can meet, in Turkish.
QString serialError(QSerialPort::SerialPortError error, const QString &path)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("aygıt bulunamadı");
    case QSerialPort::PermissionError:
        // Qt reports a device in use and one this user may not read alike.
        if (relo::platform::mayRead(path))
            return QStringLiteral("başka bir program kullanıyor");
        return QStringLiteral("okuma izni yok (aygıtın grubuna, Debian'da dialout, üye olup "
                              "yeniden oturum açın)");
    case QSerialPort::UnsupportedOperationError:
        return QStringLiteral("seri port değil ya da bu hat ayarlarını desteklemiyor");
    case QSerialPort::ResourceError:
        return QStringLiteral("aygıt kayboldu (çıkarıldı mı?)");
    case QSerialPort::ReadError:
        return QStringLiteral("okuma hatası");
    default:
        return QStringLiteral("bilinmeyen hata (%1)").arg(int(error));
    }
}

// Turns decoded events into lines.
class Printer
{
public:
    void print(const QList<relo::FrameDecoder::Event> &events)
    {
        for (const relo::FrameDecoder::Event &event : events) {
            const QString time = QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
            if (event.kind == relo::FrameDecoder::Event::Frame) {
                ++m_frames;
                QStringList on;
                for (int channel = 1; channel <= relo::ChannelCount; ++channel) {
                    if (event.mask & relo::channelBit(channel))
                        on << QString::number(channel);
                }
                const QString outputs = on.isEmpty()
                                            ? QStringLiteral("hepsi kapalı")
                                            : QStringLiteral("açık: ") + on.join(QLatin1Char(' '));
                printLine(stdout, QStringLiteral("%1  çerçeve %2  maske=%3  %4")
                                      .arg(time)
                                      .arg(m_frames)
                                      .arg(int(event.mask))
                                      .arg(outputs));
            } else {
                printLine(stdout,
                          QStringLiteral("%1  çerçeve dışı: %2")
                              .arg(time, QString::fromLatin1(event.bytes.toHex(' ').toUpper())));
            }
        }
    }

private:
    int m_frames = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    // SIGINT, SIGTERM and SIGHUP end the event loop; caught before anything
    // else, so that one arriving during start-up is not lost.
    if (!relo::platform::StopSignals::install()) {
        printLine(stderr, QStringLiteral("relo-sim: sinyal işleyicisi kurulamadı"));
        return 1;
    }
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("relo-sim"));
    relo::platform::StopSignals stopSignals;
    QObject::connect(&stopSignals, &relo::platform::StopSignals::stopRequested, &app,
                     &QCoreApplication::quit);

    QString portPath;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            printLine(stdout, QString::fromUtf8(Usage));
            return 0;
        }
        if (arg == QLatin1String("--version")) {
            printLine(stdout, QStringLiteral("relo-sim ") + QLatin1String(relo::SimVersion::Text));
            return 0;
        }
        if (arg == QLatin1String("--port") || arg.startsWith(QLatin1String("--port="))) {
            portPath = arg == QLatin1String("--port")
                           ? (i + 1 < args.size() ? args.at(++i) : QString())
                           : arg.mid(7);
            if (portPath.isEmpty()) {
                printLine(stderr, QStringLiteral("relo-sim: --port bir aygıt yolu ister"));
                return 2;
            }
        } else {
            printLine(stderr, QStringLiteral("relo-sim: bilinmeyen seçenek: %1").arg(arg));
            printLine(stderr, QStringLiteral("Yardım için: relo-sim --help"));
            return 2;
        }
    }

    relo::FrameDecoder decoder;
    Printer printer;
    relo::PseudoTerminal pty;
    QSerialPort serial;

    if (portPath.isEmpty()) {
        if (!pty.open()) {
            printLine(
                stderr,
                QStringLiteral("relo-sim: sözde uç birim açılamadı: %1").arg(pty.errorString()));
            return 1;
        }
        printLine(stdout, QStringLiteral("Port: %1").arg(pty.slavePath()));
        printLine(
            stdout,
            QStringLiteral("RELOKomut ve RELO için: export RELO_COM1=%1").arg(pty.slavePath()));
        auto *notifier = new QSocketNotifier(pty.masterFd(), QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app,
                         [&] { printer.print(decoder.feed(pty.read(0))); });
    } else {
        // QSerialPort takes Qt's lock file, so while relo-sim listens the programs
        // see the device as busy, as they would with any other program on it.
        serial.setPortName(portPath);
        relo::applyLineSettings(serial);
        if (!serial.open(QIODevice::ReadOnly)) {
            printLine(stderr, QStringLiteral("relo-sim: %1 açılamadı: %2")
                                  .arg(portPath, serialError(serial.error(), portPath)));
            return 1;
        }
        printLine(stdout, QStringLiteral("Port: %1").arg(portPath));
        printLine(stdout,
                  QStringLiteral("Dinleniyor: 2400 baud, 8 veri biti, eşliksiz, 1 dur biti"));
        QObject::connect(&serial, &QSerialPort::readyRead, &app,
                         [&] { printer.print(decoder.feed(serial.readAll())); });
        QObject::connect(
            &serial, &QSerialPort::errorOccurred, &app, [&](QSerialPort::SerialPortError error) {
                if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
                    return;
                printLine(stderr, QStringLiteral("relo-sim: %1 okunamıyor: %2")
                                      .arg(portPath, serialError(error, portPath)));
                app.exit(1);
            });
    }

    return app.exec();
}
