// The RELOKomut window in this process, against the recording fake port.

#include "fakeserialport.h"
#include "komutwindow.h"
#include "settingsfile.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using relo::KomutWindow;

namespace {

QByteArray ini(const QByteArray &portNumber, const QByteArray &portData)
{
    return "[RELO]\nPortNumber=" + portNumber + "\nPortData=" + portData + "\n";
}

template <typename T = QWidget> T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

// Keeps activation from reaching the window, as focus stealing prevention does.
class ActivationSwallower : public QObject
{
public:
    int swallowed = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::WindowActivate)
            return false;
        ++swallowed;
        return true;
    }
};

// Hands the next modal window to `inside` as soon as it shows, then closes it.
void whenModal(std::function<void(QWidget *)> inside)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, inside] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            poll->deleteLater();
            inside(modal);
            modal->close();
        }
    });
    poll->start(10);
}

} // namespace

class TestKomutWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void faces_data();
    void faces();
    void run_data();
    void run();
    void appliedWithoutActivation();
    void activationReapplies();
    void busyPort_data();
    void busyPort();
    void maskNotSaved();
    void cutShort_data();
    void cutShort();
    void statusFitsTheFrame_data();
    void statusFitsTheFrame();
    void setup();
    void setupPreselects_data();
    void setupPreselects();
    void setupSaveFails();

private:
    QString folder() const { return m_dir->path(); }
    QByteArray settings() const;
    void writeSettings(const QByteArray &text);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestKomutWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QByteArray TestKomutWindow::settings() const
{
    QFile file(relo::settingsPath(folder()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestKomutWindow::writeSettings(const QByteArray &text)
{
    QFile file(relo::settingsPath(folder()));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
}

void TestKomutWindow::faces_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("setup") << QString();
    QTest::newRow("run") << "03-1";
}

void TestKomutWindow::faces()
{
    QFETCH(QString, command);
    const bool runMode = !command.isEmpty();
    FakeSerialPort port;
    KomutWindow window(command, folder(), &port);
    QCOMPARE(window.windowTitle(), QStringLiteral("RELOKomut    Ver. 1.0.14"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), window.windowTitle());
    QCOMPARE(window.size(), QSize(209, 106));
    QCOMPARE(window.windowIcon().pixmap(32).size(), QSize(32, 32));
    QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(bool(window.windowFlags() & Qt::FramelessWindowHint), runMode);
    QCOMPARE(child(&window, "Frame1")->isVisibleTo(&window), !runMode);
    QCOMPARE(child(&window, "Frame2")->isVisibleTo(&window), runMode);
}

void TestKomutWindow::run_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("before"); // ayar.ini; empty: no file
    QTest::addColumn<QList<int>>("present");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("mask"); // in the frames and saved; -1: ayar.ini unchanged
    QTest::addColumn<int>("exitStatus");

    QStringList sent{"open 3", "rts 1"};
    for (int i = 0; i < 4; ++i)
        sent << QStringLiteral("send 18");
    sent << QStringList{"drain", "rts 0", "close"};
    QStringList onPort1 = sent;
    onPort1[0] = QStringLiteral("open 1");
    const QList<int> port3{3};
    const QString on3 = QStringLiteral("Çıkış-3 Açıldı");

    QTest::newRow("03-1 on 0") << "03-1" << ini("3", "0") << port3 << on3 << sent << 4 << 0;
    QTest::newRow("01-1 on 4") << "01-1" << ini("3", "4") << port3
                               << QStringLiteral("Çıkış-1 Açıldı") << sent << 5 << 0;
    QTest::newRow("03-0 on 5") << "03-0" << ini("3", "5") << port3
                               << QStringLiteral("Çıkış-3 Kapandı") << sent << 1 << 0;
    QTest::newRow("mask not a byte") << "03-1" << ini("3", "300") << port3 << on3 << sent << 4 << 0;
    QTest::newRow("port 3.7") << "03-1" << ini("3.7", "0") << port3 << on3 << sent << 4 << 0;
    QTest::newRow("no file: port 1")
        << "03-1" << QByteArray() << QList<int>{1} << on3 << onPort1 << 4 << 0;
    QTest::newRow("port 0: port 1")
        << "03-1" << ini("0", "0") << QList<int>{1} << on3 << onPort1 << 4 << 0;
    QTest::newRow("missing port") << "03-1" << ini("3", "0") << QList<int>() << "Port Hatası"
                                  << QStringList{"open 3 missing"} << -1 << 1;
    for (const char *rejected : {"3-1", "03-10", "0301", "03-x", "03 -1"})
        QTest::newRow(rejected) << rejected << ini("3", "1") << port3 << "Hatalı komut"
                                << QStringList() << -1 << 2;
}

void TestKomutWindow::run()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, before);
    QFETCH(QList<int>, present);
    QFETCH(QString, status);
    QFETCH(QStringList, calls);
    QFETCH(int, mask);
    QFETCH(int, exitStatus);

    if (!before.isEmpty())
        writeSettings(before);
    FakeSerialPort port;
    port.setPresent(present);
    KomutWindow window(command, folder(), &port);
    window.show();
    QCOMPARE(window.statusText(), status);
    if (exitStatus == KomutWindow::Rejected) {
        // Nothing is sent and the window waits to be closed.
        QVERIFY(!child<QTimer>(&window, "Timer1")->isActive());
        QVERIFY(window.isVisible());
        window.close();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
    QCOMPARE(port.calls(), calls);
    QCOMPARE(int(window.status()), exitStatus);
    QCOMPARE(window.errorText().isEmpty(), exitStatus == 0);
    if (mask < 0) {
        QCOMPARE(settings(), before);
        return;
    }
    for (const QByteArray &frame : port.writes())
        QCOMPARE(frame, relo::buildFrame(relo::Mask(mask)));
    QCOMPARE(relo::readSetting(folder(), relo::PortDataKey), QString::number(mask));
}

void TestKomutWindow::appliedWithoutActivation()
{
    writeSettings(ini("3", "0"));
    FakeSerialPort port;
    port.setPresent({3});
    KomutWindow window(QStringLiteral("03-1"), folder(), &port);
    ActivationSwallower swallower;
    window.installEventFilter(&swallower);
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
    QCOMPARE(port.writes().size(), 4);
    QVERIFY(swallower.swallowed > 0); // the platform did try to activate it
}

void TestKomutWindow::activationReapplies()
{
    writeSettings(ini("3", "1"));
    FakeSerialPort port;
    port.setPresent({3});
    KomutWindow window(QStringLiteral("05-1"), folder(), &port);
    window.show();
    QTRY_COMPARE(port.writes().size(), 1);

    // Applied again from the mask loaded at start, whatever the file says now.
    QVERIFY(relo::writeSetting(folder(), relo::PortDataKey, QStringLiteral("99")));
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&window, &activate);
    QCOMPARE(relo::readSetting(folder(), relo::PortDataKey), QStringLiteral("17"));
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
    QCOMPARE(port.writes().size(), 1 + 4); // the count of four started again
}

void TestKomutWindow::busyPort_data()
{
    QTest::addColumn<bool>("freesUp");
    QTest::newRow("frees up") << true;
    QTest::newRow("stays busy") << false;
}

void TestKomutWindow::busyPort()
{
    QFETCH(bool, freesUp);
    writeSettings(ini("3", "1"));
    FakeSerialPort port;
    port.setPresent({3});
    port.setBusy(3);
    KomutWindow window(QStringLiteral("02-1"), folder(), &port);
    window.show();
    QTRY_VERIFY(port.calls().count(QStringLiteral("open 3 busy")) >= 2);
    if (freesUp) {
        // The holder saves its mask and lets go: this command starts from it.
        QVERIFY(relo::writeSetting(folder(), relo::PortDataKey, QStringLiteral("5")));
        port.setBusy(3, false);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), KomutWindow::BusyRetryMs + 5000);
    QCOMPARE(window.statusText(), freesUp ? QStringLiteral("Çıkış-2 Açıldı") : "Port Hatası");
    QCOMPARE(port.writes().size(), freesUp ? 4 : 0);
    QCOMPARE(settings(), freesUp ? ini("3", "7") : ini("3", "1"));
}

void TestKomutWindow::maskNotSaved()
{
    FakeSerialPort port;
    port.setPresent({1});
    KomutWindow window(QStringLiteral("03-1"), m_dir->filePath("gone"), &port);
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
    QCOMPARE(port.writes().size(), 4);
    QCOMPARE(window.status(), KomutWindow::NotSaved);
    QVERIFY(window.errorText().contains(QStringLiteral("ayar.ini")));
}

void TestKomutWindow::cutShort_data()
{
    QTest::addColumn<bool>("unplug"); // or closed by the user
    QTest::newRow("adapter pulled") << true;
    QTest::newRow("window closed") << false;
}

void TestKomutWindow::cutShort()
{
    QFETCH(bool, unplug);
    writeSettings(ini("3", "0"));
    FakeSerialPort port;
    port.setPresent({3});
    KomutWindow window(QStringLiteral("03-1"), folder(), &port);
    window.show();
    QTRY_COMPARE(port.writes().size(), 1);
    if (unplug)
        port.unplug();
    else
        window.close();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 3000);
    QCOMPARE(port.writes().size(), 1);
    QVERIFY(!port.isOpen() && !port.rts());
    QVERIFY(!child<QTimer>(&window, "Timer1")->isActive());
    QCOMPARE(window.status(), KomutWindow::PortFailed);
}

void TestKomutWindow::statusFitsTheFrame_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("on") << "03-1";
    QTest::newRow("off") << "08-0";
}

void TestKomutWindow::statusFitsTheFrame()
{
    QFETCH(QString, command);
    FakeSerialPort port;
    port.setPresent({1});
    KomutWindow window(command, folder(), &port);
    window.show();
    const auto *status = child<QLabel>(&window, "Label1");
    QVERIFY(status->text().startsWith(QStringLiteral("Çıkış-")));
    QVERIFY(child(&window, "Frame2")->rect().contains(status->geometry()));
    QCOMPARE(status->width(), status->sizeHint().width());
}

void TestKomutWindow::setup()
{
    FakeSerialPort port;
    port.setPresent({2, 10});
    {
        KomutWindow window(QString(), folder(), &port);
        window.show();
        auto *list = child<QComboBox>(&window, "Combo1");
        auto *save = child<QPushButton>(&window, "Command1");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->itemText(1), QStringLiteral("Com - 10"));
        QCOMPARE(list->currentIndex(), -1);
        QVERIFY(!save->isEnabled());

        list->setFocus();
        QTest::keyClick(list, Qt::Key_End); // a choice
        QVERIFY(save->isEnabled());
        QTest::mouseClick(save, Qt::LeftButton);
        QCOMPARE(settings(), ini("10", "0"));
        QVERIFY(window.isVisible());

        QString about;
        whenModal([&about](QWidget *modal) {
            about = modal->objectName();
            QVERIFY(modal->windowFlags() & Qt::WindowStaysOnTopHint);
        });
        QTest::mouseClick(child(&window, "Label2"), Qt::LeftButton);
        QCOMPARE(about, QStringLiteral("hakkinda"));
    }
    KomutWindow again(QString(), folder(), &port);
    QCOMPARE(child<QComboBox>(&again, "Combo1")->currentText(), QStringLiteral("Com - 10"));
    QVERIFY(!child<QPushButton>(&again, "Command1")->isEnabled());
}

void TestKomutWindow::setupPreselects_data()
{
    QTest::addColumn<QByteArray>("saved");
    QTest::addColumn<QString>("selected");
    QTest::newRow("fraction") << QByteArray("5.9") << "Com - 5";
    QTest::newRow("not listed") << QByteArray("3") << QString();
    QTest::newRow("not a number") << QByteArray("Com - 5") << QString();
    QTest::newRow("empty") << QByteArray("") << QString();
}

void TestKomutWindow::setupPreselects()
{
    QFETCH(QByteArray, saved);
    QFETCH(QString, selected);
    writeSettings(ini(saved, "9"));
    FakeSerialPort port;
    port.setPresent({2, 5});
    KomutWindow window(QString(), folder(), &port);
    QCOMPARE(child<QComboBox>(&window, "Combo1")->currentText(), selected);
    QCOMPARE(settings(), ini(saved, "9"));
}

void TestKomutWindow::setupSaveFails()
{
    FakeSerialPort port;
    port.setPresent({4});
    KomutWindow window(QString(), m_dir->filePath("gone"), &port);
    window.show();
    auto *list = child<QComboBox>(&window, "Combo1");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QString warning;
    whenModal([&warning](QWidget *box) {
        warning = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))->text();
    });
    QTest::mouseClick(child(&window, "Command1"), Qt::LeftButton);
    QVERIFY2(warning.contains(QStringLiteral("ayar.ini yazılamadı")), qPrintable(warning));
    QCOMPARE(window.status(), KomutWindow::NotSaved);
}

QTEST_MAIN(TestKomutWindow)
#include "tst_komutwindow.moc"
