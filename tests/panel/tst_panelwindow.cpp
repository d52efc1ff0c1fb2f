#include "core/portregistry.h"
#include "dev/pseudoterminal.h"
#include "link/transmitter.h"
#include "panel/panelwidgets.h"
#include "panel/panelwindow.h"
#include "panel/prompt.h"
#include "platform/devicewatcher.h"
#include "support/fakeserialport.h"
#include "support/modal.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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
    // The accessible name of the control with the keyboard focus.
    QString focused() const
    {
        QWidget *focus = QApplication::focusWidget();
        return focus ? QAccessible::queryAccessibleInterface(focus)->text(QAccessible::Name)
                     : QString();
    }
    // Types `keys`, as QKeySequence spells them ("Tab", "3", "Ctrl+3", "Num+3"), at
    // the focused control; "held4": 4 held down, so that it repeats twice; "click3",
    // "dclick3": switch 3 clicked, double-clicked.
    void type(const QString &keys) const
    {
        for (const QString &key : keys.split(u' ')) {
            if (key.contains("click")) {
                const int channel = key.back().digitValue();
                key.startsWith(u'd') ? doubleClick(channel) : toggle(channel);
                continue;
            }
            QWidget *target =
                QApplication::focusWidget() ? QApplication::focusWidget() : window.get();
            const bool held = key.startsWith("held");
            const QKeyCombination typed = QKeySequence(held ? key.mid(4) : key)[0];
            QTest::keyPress(target, typed.key(), typed.keyboardModifiers());
            for (int repeat = 0; held && repeat < 2; ++repeat) {
                QKeyEvent again(QEvent::KeyPress, typed.key(), typed.keyboardModifiers(), {}, true);
                QApplication::sendEvent(target, &again);
            }
            QTest::keyRelease(target, typed.key(), typed.keyboardModifiers());
        }
    }
    // The mask bytes written by the flips; the frames are 18 bytes long.
    QByteArray flips() const
    {
        QByteArray written;
        for (const QByteArray &write : fake->writes())
            written += write.size() == 1 ? write : QByteArray();
        return written;
    }

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
        combo()->view()->setCurrentIndex(combo()->model()->index(combo()->findText(entry), 0));
        QTest::keyClick(combo()->view(), Qt::Key_Return);
    }

    // The mask, and every switch's caption, picture and checked state, as `mask` says.
    void verifyMask(int mask) const
    {
        QCOMPARE(int(window->mask()), mask);
        for (int channel = 1; channel <= 8; ++channel) {
            const bool on = mask & (1 << (channel - 1));
            QCOMPARE(caption(channel)->text(),
                     QString::number(channel) + (on ? " - (1)" : " - (0)"));
            QCOMPARE(picture("Image1", channel), picture(on ? "Image3" : "Image2"));
            QCOMPARE(bool(QAccessible::queryAccessibleInterface(caption(channel))->state().checked),
                     on);
        }
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
        // The link lamp is read out as it shows.
        QCOMPARE(QAccessible::queryAccessibleInterface(child("Shape1"))->text(QAccessible::Name),
                 connected ? "Bağlı" : "Bağlı değil");
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
        QVERIFY(panel.picture("Image2") != panel.picture("Image3")); // the resources are linked in
        // The names that no other check looks up, for the tools that do.
        QCOMPARE(panel.window->objectName(), QStringLiteral("main"));
        for (const char *name : {"Frame1", "Label2"})
            QVERIFY2(panel.child(name), name);
        QCOMPARE(panel.entries(), (QStringList{"Com - 2", "Com - 10"}));
        QCOMPARE(panel.combo()->currentIndex(), -1);
        panel.verifyState(false);
        // Filling the list, or setting it from code, is no choice; picking the shown entry is.
        panel.combo()->setCurrentIndex(0);
        QCOMPARE(panel.prompt->asked, 0);
        panel.choose("Com - 2", false);
        QCOMPARE(panel.prompt->asked, 1);
    }

    // A choice that ends without a connection, or a connection lost; the list is rescanned.
    void noConnection_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QList<int>>("present"); // once the list shows 1 and 3
        QTest::addColumn<int>("busy");
        QTest::addColumn<int>("lost"); // once connected: 0 no, 1 during a frame, 2 on a click
        QTest::addColumn<QStringList>("entries");
        const QStringList all{"Com - 1", "Com - 2", "Com - 3"};
        QTest::newRow("Hayır") << false << QList<int>{1, 2, 3} << 0 << 0 << all;
        QTest::newRow("busy") << true << QList<int>{1, 2, 3} << 3 << 0 << all.mid(0, 2);
        QTest::newRow("unplugged while the list is open")
            << true << QList<int>{1, 2} << 0 << 0 << all.mid(0, 2);
        QTest::newRow("lost during a frame") << true << QList<int>{1, 3} << 0 << 1 << all.mid(0, 1);
        QTest::newRow("lost writing the mask byte")
            << true << QList<int>{1, 3} << 0 << 2 << all.mid(0, 1);
    }

    void noConnection()
    {
        QFETCH(bool, answer);
        QFETCH(QList<int>, present);
        QFETCH(int, busy);
        QFETCH(int, lost);
        QFETCH(QStringList, entries);
        Panel panel({1});
        panel.fake->setPresent({1, 3}); // plugged in later: opening the list shows it
        panel.choose("Com - 3", answer, [&] {
            panel.fake->setPresent(present);
            panel.fake->setBusy(busy);
        });
        if (lost) {
            QVERIFY(panel.window->isConnected());
            panel.fake->setPresent({1});
            panel.fake->unplug();
            if (lost == 2)
                panel.toggle(4);
        }
        QTRY_COMPARE(panel.prompt->errors, answer ? 1 : 0); // "Port Hata..."
        panel.verifyState(false);
        QCOMPARE(panel.entries(), entries);
        const QStringList calls = panel.fake->calls();
        QCOMPARE(calls.contains("send failed"), lost > 0);
        for (const QString &call : calls.mid(calls.indexOf("send failed") + 1))
            QVERIFY2(!call.startsWith("send"), qPrintable(call)); // nothing written after
        QCoreApplication::processEvents();
        QCOMPARE(panel.prompt->errors, answer ? 1 : 0); // one message for one failure
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

        panel.choose("Com - 4", true, [&] { panel.fake->clearLog(); });
        QTRY_VERIFY(!panel.fake->writes().isEmpty());
        QCOMPARE(panel.fake->writes().first(), buildFrame(18)); // channels 2 and 5 still on

        panel.fake->clearLog();
        QVERIFY(panel.window->close()); // releases the port
        QCOMPARE(panel.fake->calls(), (QStringList{"rts 0", "close"}));
        QVERIFY(!panel.transmitter()->isActive());
        // Stopped while "Port Aç" asked: the late answer connects nothing.
        panel.window->shutDown();
        panel.prompt->answers << true;
        Q_EMIT panel.combo()->activated(0);
        QVERIFY(!panel.fake->isOpen());
    }

    // Adapters (pseudo-terminals behind by-id links in a folder of the test's
    // own) coming and going while idle rebuild the list, never while connected;
    // one connected gets the frames and the flips, until it goes away.
    void realDevices()
    {
        QTemporaryDir dir; // this suite's only user of the registry
        qputenv("RELO_SERIAL_DIR", QFile::encodeName(dir.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
        PseudoTerminal a, b;
        QVERIFY(a.open() && b.open());
        Panel panel({}, registeredSerialPort());
        panel.window->watchDevices(dir.path());
        QSignalSpy changes(panel.window->findChild<platform::DeviceWatcher *>(),
                           &platform::DeviceWatcher::changed);
        const QString byId = dir.filePath("by-id/usb-");
        QVERIFY(QDir(dir.path()).mkdir("by-id") && QFile::link(a.slavePath(), byId + 'A'));
        QTRY_COMPARE(panel.entries(), QStringList{"Com - 1"});
        QVERIFY(QFile::link(b.slavePath(), byId + 'B')); // by-id itself is watched now
        QTRY_COMPARE(panel.entries(), (QStringList{"Com - 1", "Com - 2"}));

        panel.choose("Com - 2", true);
        QVERIFY(QFile::remove(byId + 'A') && changes.wait());
        panel.verifyState(true);
        QCOMPARE(panel.entries(), (QStringList{"Com - 1", "Com - 2"}));
        // Kept whole: the macros check their condition once more at the end.
        QByteArray wire;
        QTRY_VERIFY((wire += b.read(0)).contains(buildFrame(0)));
        panel.toggle(3);
        // The click's own byte at once, then the frames carry the new mask.
        QTRY_VERIFY((wire += b.read(0)).contains(buildFrame(0) + '\x04' + buildFrame(4)));

        // The far end goes away while connected, as a pulled USB adapter does.
        b.close();
        QTRY_COMPARE(panel.prompt->errors, 1);
        panel.verifyState(false);
        QCOMPARE(panel.entries(), QStringList());
    }

    // Keys, and clicks on the switches' captions.
    void keyboard_data()
    {
        QTest::addColumn<bool>("connect");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QByteArray>("bytes"); // written, one per flip
        QTest::addColumn<QString>("focus");    // at the end; null: not checked
        const QString eightTabs = "Tab Tab Tab Tab Tab Tab Tab Tab";
        QTest::newRow("Space on 3") << true << "Tab Tab Space" << QByteArray("\x04") << "Çıkış 3";
        QTest::newRow("digits") << true << "1 8 Num+2 1" << QByteArray("\x01\x81\x83\x82")
                                << "Çıkış 1";
        QTest::newRow("held down")
            << true << "held4 heldSpace" << QByteArray("\x08\x09") << "Çıkış 1";
        QTest::newRow("no channel") << true << "0 9 Ctrl+3" << QByteArray() << "Çıkış 1";
        // A switch takes Space, Enter and keypad Enter, with no modifier but the keypad's.
        QTest::newRow("switch keys")
            << true << "Ctrl+Space A Num+Enter Return" << QByteArray("\x01\0", 2) << "Çıkış 1";
        QTest::newRow("clicks") << true << "click3 dclick3 click3" << QByteArray("\x04\0\x04", 3)
                                << QString();
        QTest::newRow("on Bağlantıyı Kes")
            << true << eightTabs + " 5" << QByteArray("\x10") << "Bağlantıyı Kes";
        QTest::newRow("Hakkında") << true << eightTabs + " Tab Return" << QByteArray()
                                  << "Hakkında";
        QTest::newRow("after Bağlantıyı Kes")
            << true << eightTabs + " Space 3" << QByteArray() << "";
        QTest::newRow("disconnected") << false << "3 Tab 5 Return" << QByteArray() << "";
    }

    void keyboard()
    {
        QFETCH(bool, connect);
        QFETCH(QString, keys);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, focus);
        Panel panel({1});
        QVERIFY(QTest::qWaitForWindowActive(panel.window.get()));
        if (connect) {
            panel.choose("Com - 1", true);
            QCOMPARE(panel.focused(), QStringLiteral("Çıkış 1")); // not "Bağlantıyı Kes"
        }
        panel.type(keys);
        QCOMPARE(panel.flips(), bytes);
        if (!focus.isNull()) // where the clicks leave it is up to the desktop
            QCOMPARE(panel.focused(), connect ? focus : QStringLiteral("Seri Port Ayar"));
        QCOMPARE(panel.prompt->abouts, focus == "Hakkında" ? 1 : 0);
        panel.verifyMask(bytes.isEmpty() ? 0 : quint8(bytes.back()));
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
