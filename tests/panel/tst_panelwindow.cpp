#include "devicewatcher.h"
#include "fakeserialport.h"
#include "modal.h"
#include "panelwidgets.h"
#include "panelwindow.h"
#include "portregistry.h"
#include "prompt.h"
#include "pseudoterminal.h"
#include "realserialport.h"
#include "stopsignals.h"
#include "transmitter.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <functional>
#include <memory>

using namespace relo;

namespace {

// Answers "Port Aç" from a queue (none left: "Hayır") and counts the other boxes.
struct FakePrompt : Prompt
{
    bool askConnect(QWidget *) override
    {
        ++asked;
        return !answers.isEmpty() && answers.takeFirst();
    }
    void portError(QWidget *) override { ++errors; }
    void showAbout() override { ++abouts; }
    QList<bool> answers;
    int asked = 0, errors = 0, abouts = 0;
};

// The shown window over a fake port on which `present` exist, or over `realPort`.
struct Panel
{
    explicit Panel(const QList<int> &present, SerialPort *realPort = nullptr)
        : fake(realPort ? nullptr : new FakeSerialPort)
    {
        if (fake)
            fake->setPresent(present);
        window = std::make_unique<PanelWindow>(realPort ? realPort : fake,
                                               std::unique_ptr<Prompt>(prompt = new FakePrompt));
        window->show();
    }

    // The child called `name`; of a control array the member with that index.
    template <typename T = QWidget> T *child(const char *name, int index = -1) const
    {
        for (T *found : window->findChildren<T *>(QLatin1String(name)))
            if (index < 0 || found->property("index").toInt() == index)
                return found;
        return nullptr;
    }
    QComboBox *combo() const { return child<QComboBox>("Combo1"); }
    QLabel *caption(int channel) const { return child<QLabel>("Label1", channel - 1); }
    QImage picture(const char *name, int channel = 0) const
    {
        return child<QLabel>(name, channel - 1)->pixmap().toImage();
    }
    void click(const char *name) const { QTest::mouseClick(child(name), Qt::LeftButton); }
    void toggle(int channel) const { QTest::mouseClick(caption(channel), Qt::LeftButton); }
    // Through the window, as the desktop delivers it: press, release, double-click, release.
    void doubleClick(int channel) const
    {
        const QWidget *target = caption(channel);
        QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, {},
                           target->mapTo(window.get(), target->rect().center()));
    }
    FrameTransmitter *transmitter() const { return window->findChild<FrameTransmitter *>(); }

    QStringList entries() const
    {
        QStringList list;
        for (int i = 0; i < combo()->count(); ++i)
            list << combo()->itemText(i);
        return list;
    }

    // Opens the drop-down list, runs `whileOpen`, then picks `entry` as a user
    // does, answering "Port Aç".
    void choose(const QString &entry, bool answer, const std::function<void()> &whileOpen = {})
    {
        prompt->answers << answer;
        combo()->showPopup();
        if (whileOpen)
            whileOpen();
        const int row = combo()->findText(entry);
        QVERIFY2(row >= 0, qPrintable(entry));
        combo()->view()->setCurrentIndex(combo()->view()->model()->index(row, 0));
        QTest::keyClick(combo()->view(), Qt::Key_Return);
    }

    // Every column of the states table.
    void verifyState(bool connected) const
    {
        QCOMPARE(window->findChild<SerialPort *>()->isOpen(), connected);
        QCOMPARE(combo()->isEnabled(), !connected);
        QCOMPARE(child("Command1")->isEnabled(), connected);
        QCOMPARE(child("Frame2")->isEnabled(), connected);
        QCOMPARE(child<Lamp>("Shape1")->fillColor(),
                 connected ? QColor(Qt::blue) : window->palette().color(QPalette::Base));
        QCOMPARE(transmitter()->isActive(), connected);
    }

    FakeSerialPort *const fake;
    FakePrompt *prompt = nullptr;
    std::unique_ptr<PanelWindow> window;
};

} // namespace

class TestPanelWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startup()
    {
        Panel panel({11, 10, 2});
        QCOMPARE(panel.window->windowTitle(), QStringLiteral("RELO    Ver. 1.0.2"));
        // No display name, which Qt would append to every title ("Port Aç — ...").
        QCOMPARE(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
        QVERIFY(!panel.window->windowIcon().isNull()); // the resources are linked in
        QVERIFY(panel.picture("Image2") != panel.picture("Image3"));

        QCOMPARE(panel.entries(), (QStringList{"Com - 2", "Com - 10"}));
        QCOMPARE(panel.combo()->currentIndex(), -1);
        QCOMPARE(panel.prompt->asked, 0); // filling the list is no choice
        panel.verifyState(false);

        // Clicks while Idle reach neither the switches nor "Hakkında".
        for (int channel = 1; channel <= 8; ++channel)
            panel.toggle(channel);
        panel.click("Label2");
        QCOMPARE(panel.caption(8)->text(), QStringLiteral("8 - (0)"));
        QCOMPARE(int(panel.window->mask()), 0);
        QCOMPARE(panel.prompt->abouts, 0);
        QVERIFY(panel.fake->writes().isEmpty());
        panel.choose("Com - 2", true); // once connected the same click does reach it
        panel.click("Label2");
        QCOMPARE(panel.prompt->abouts, 1);
    }

    void choiceWithoutConnection_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QList<int>>("present"); // once the list shows 1 and 3
        QTest::addColumn<int>("busy");
        QTest::addColumn<QStringList>("entries"); // rescanned
        const QStringList all{"Com - 1", "Com - 2", "Com - 3"};
        QTest::newRow("Hayır") << false << QList<int>{1, 2, 3} << 0 << all;
        QTest::newRow("busy") << true << QList<int>{1, 2, 3} << 3 << all.mid(0, 2);
        QTest::newRow("unplugged while the list is open")
            << true << QList<int>{1, 2} << 0 << all.mid(0, 2);
    }

    void choiceWithoutConnection()
    {
        QFETCH(bool, answer);
        QFETCH(QList<int>, present);
        QFETCH(int, busy);
        QFETCH(QStringList, entries);
        Panel panel({1});
        panel.fake->setPresent({1, 3}); // plugged in later: opening the list shows it
        panel.choose("Com - 3", answer, [&] {
            panel.fake->setPresent(present);
            panel.fake->setBusy(busy);
        });
        QCOMPARE(panel.prompt->errors, answer ? 1 : 0); // "Port Hata..."
        panel.verifyState(false);
        QCOMPARE(panel.entries(), entries);
        QVERIFY(panel.fake->writes().isEmpty());

        // Setting the list from code is no choice; picking the shown entry again is.
        panel.combo()->setCurrentIndex(0);
        QCOMPARE(panel.prompt->asked, 1);
        panel.choose("Com - 1", false);
        QCOMPARE(panel.prompt->asked, 2);
    }

    void connectDisconnectReconnectClose()
    {
        Panel panel({1, 4});
        panel.choose("Com - 4", true, [&] { panel.fake->clearLog(); });
        panel.verifyState(true);
        QCOMPARE(panel.fake->calls(), (QStringList{"threshold 18 18", "open 4", "rts 1"}));
        panel.toggle(2);
        panel.toggle(5);
        // The lamp blinks with RTS: blue while it is high.
        QTRY_COMPARE(panel.child<Lamp>("Shape2")->fillColor(), QColor(Qt::blue));

        panel.click("Command1");
        panel.verifyState(false);
        QCOMPARE(panel.entries(), (QStringList{"Com - 1", "Com - 4"})); // released, then rescanned
        QCOMPARE(panel.child<Lamp>("Shape2")->fillColor(),
                 panel.window->palette().color(QPalette::Base));
        QCOMPARE(panel.caption(5)->text(), QStringLiteral("5 - (1)"));
        QCOMPARE(panel.picture("Image1", 5), panel.picture("Image3"));

        panel.choose("Com - 4", true, [&] { panel.fake->clearLog(); });
        QTRY_VERIFY(!panel.fake->writes().isEmpty());
        QCOMPARE(panel.fake->writes().first(), buildFrame(18)); // channels 2 and 5 still on

        panel.fake->clearLog();
        QVERIFY(panel.window->close()); // releases the port
        QCOMPARE(panel.fake->calls(), (QStringList{"rts 0", "close"}));
        QVERIFY(!panel.transmitter()->isActive());
    }

    void realPseudoTerminal()
    {
        PseudoTerminal line;
        QVERIFY2(line.open(), qPrintable(line.errorString()));
        auto *port = new RealSerialPort; // port 1 is the line, no other number has a device
        port->setResolver([&line](int n) {
            return PortDevice{n == 1 ? line.slavePath() : "", {}};
        });
        Panel panel({}, port);
        QCOMPARE(panel.entries(), QStringList{"Com - 1"});
        panel.choose("Com - 1", true);
        panel.verifyState(true);

        // Kept whole: the macros check their condition once more at the end.
        QByteArray wire;
        QTRY_VERIFY((wire += line.read(0)).contains(buildFrame(0)));
        panel.toggle(3);
        // The click's own byte at once, then the frames carry the new mask.
        QTRY_VERIFY((wire += line.read(0)).contains(buildFrame(0) + '\x04' + buildFrame(4)));
        QCOMPARE(panel.prompt->errors, 0);

        // The far end goes away while connected, as a pulled USB adapter does.
        line.close();
        QTRY_COMPARE(panel.prompt->errors, 1);
        panel.verifyState(false);
        QCOMPARE(panel.entries(), QStringList());
        panel.toggle(5); // the switches are out of reach again
        QCOMPARE(panel.prompt->errors, 1);
    }

    // Adapters (pseudo-terminals behind by-id links in a folder of the test's
    // own) coming and going while idle rebuild the list, never while connected.
    void listFollowsDevices()
    {
        QTemporaryDir dir; // this suite's only user of the registry
        qputenv("RELO_SERIAL_DIR", QFile::encodeName(dir.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
        PseudoTerminal a, b;
        QVERIFY(a.open() && b.open());
        Panel panel({}, registeredSerialPort());
        panel.window->watchDevices(dir.path());
        QSignalSpy changes(panel.window->findChild<DeviceWatcher *>(), &DeviceWatcher::changed);
        const QString byId = dir.filePath("by-id/usb-");
        QVERIFY(QDir(dir.path()).mkdir("by-id") && QFile::link(a.slavePath(), byId + 'A'));
        QTRY_COMPARE(panel.entries(), QStringList{"Com - 1"});
        QVERIFY(QFile::link(b.slavePath(), byId + 'B')); // by-id itself is watched now
        QTRY_COMPARE(panel.entries(), (QStringList{"Com - 1", "Com - 2"}));
        QCOMPARE(panel.prompt->asked, 0);

        panel.choose("Com - 2", true);
        QVERIFY(QFile::remove(byId + 'A') && changes.wait());
        panel.verifyState(true);
        QCOMPARE(panel.entries(), (QStringList{"Com - 1", "Com - 2"}));
        panel.click("Command1");
        QVERIFY(QFile::remove(byId + 'B'));
        QTRY_COMPARE(panel.entries(), QStringList());
    }

    // A request to stop lets go of the port and its lock file for good.
    void stopRequest()
    {
        PseudoTerminal line;
        QVERIFY2(line.open(), qPrintable(line.errorString()));
        auto *port = new RealSerialPort;
        port->setResolver([&line](int n) {
            return PortDevice{n == 1 ? line.slavePath() : "", {}};
        });
        Panel panel({}, port);
        QVERIFY(StopSignals::install());
        StopSignals stopSignals;
        connect(&stopSignals, &StopSignals::stopRequested, panel.window.get(),
                &PanelWindow::shutDown);
        panel.choose("Com - 1", true);
        const QString lock = lockFilePath(line.slavePath());
        QVERIFY(QFile::exists(lock));
        ::raise(SIGTERM);
        QTRY_VERIFY(!panel.window->isVisible());
        QVERIFY(!port->isOpen() && !panel.transmitter()->isActive() && !QFile::exists(lock));
        // "Port Aç" answered after the request (its box was open) connects nothing.
        panel.prompt->answers << true;
        Q_EMIT panel.combo()->activated(0);
        QVERIFY(!port->isOpen());
    }

    void switches_data()
    {
        QTest::addColumn<QString>("caption");   // of channel 3 before the clicks
        QTest::addColumn<QList<int>>("clicks"); // negative: double-clicked
        QTest::addColumn<QByteArray>("bytes");  // written, one per click
        QTest::newRow("3 twice") << "3 - (0)" << QList<int>{3, 3} << QByteArray("\x04\0", 2);
        QTest::newRow("1, 2, 8") << "3 - (0)" << QList<int>{1, 2, 8} << QByteArray("\x01\x03\x83");
        QTest::newRow("3 double-clicked, 3")
            << "3 - (0)" << QList<int>{-3, 3} << QByteArray("\x04\0", 2);
        QTest::newRow("unknown digit") << "3 - (x)" << QList<int>{3} << QByteArray("\x04");
        QTest::newRow("empty caption") << "" << QList<int>{3} << QByteArray("\x04");
        QTest::newRow("sixth is 1") << "abcde1" << QList<int>{3} << QByteArray(1, '\0');
    }

    void switches()
    {
        QFETCH(QString, caption);
        QFETCH(QList<int>, clicks);
        QFETCH(QByteArray, bytes);
        Panel panel({1});
        panel.choose("Com - 1", true);
        panel.caption(3)->setText(caption);
        for (int channel : clicks)
            channel > 0 ? panel.toggle(channel) : panel.doubleClick(-channel);
        QByteArray written; // the frames are 18 bytes long
        for (const QByteArray &write : panel.fake->writes())
            written += write.size() == 1 ? write : QByteArray();
        QCOMPARE(written, bytes);
        const int mask = static_cast<quint8>(bytes.back());
        QCOMPARE(int(panel.window->mask()), mask);
        for (int channel = 1; channel <= 8; ++channel) {
            const bool on = mask & (1 << (channel - 1));
            QCOMPARE(panel.caption(channel)->text(),
                     QString::number(channel) + (on ? " - (1)" : " - (0)"));
            QCOMPARE(panel.picture("Image1", channel), panel.picture(on ? "Image3" : "Image2"));
        }
    }

    void portLost_data()
    {
        QTest::addColumn<bool>("onClick");
        QTest::newRow("during a frame") << false;
        QTest::newRow("writing the mask byte") << true;
    }

    void portLost()
    {
        QFETCH(bool, onClick);
        Panel panel({1, 2});
        panel.choose("Com - 2", true);
        panel.fake->setPresent({1});
        panel.fake->unplug();
        if (onClick)
            panel.toggle(4);
        QTRY_COMPARE(panel.prompt->errors, 1);
        panel.verifyState(false);
        QCOMPARE(panel.entries(), QStringList{"Com - 1"});
        const QStringList calls = panel.fake->calls();
        QVERIFY(calls.contains("send failed"));
        for (const QString &call : calls.mid(calls.indexOf("send failed") + 1))
            QVERIFY2(!call.startsWith("send"), qPrintable(call)); // nothing written after
        QCoreApplication::processEvents();
        QCOMPARE(panel.prompt->errors, 1); // one message for one failure
    }

    void messageBoxes()
    {
        // The real boxes, answered from the event loop; each text shows as two clean lines.
        QStringList seen;
        Qt::Key key = Qt::Key_Return;
        const auto answer = [&](QWidget *box) {
            seen << boxContents(box);
            QTest::keyClick(box, key);
        };
        QWidget owner;
        MessageBoxPrompt prompt;
        whenModal(answer);
        QVERIFY(prompt.askConnect(&owner));
        whenModal(answer);
        prompt.portError(&owner);
        QCOMPARE(seen,
                 (QStringList{"?Port Aç", "Seçilen Port Üzerinden\nBağlanmak İstiyormusunuz",
                              "*Evet", "Hayır", "?Port Hata...",
                              "Seçilen Port Meşgul veya \n Bağlantı Kurulmuyor...", "*Tamam"}));
        key = Qt::Key_Escape;
        whenModal(answer);
        QVERIFY(!prompt.askConnect(&owner));
    }
};

QTEST_MAIN(TestPanelWindow)
#include "tst_panelwindow.moc"
