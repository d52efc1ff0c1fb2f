#include "fakeserialport.h"
#include "framedecoder.h"
#include "panelwidgets.h"
#include "panelwindow.h"
#include "prompt.h"
#include "pseudoterminal.h"
#include "realserialport.h"
#include "transmitter.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace relo;

namespace {

// Answers "Port Aç" from a queue (no answer left: "Hayır") and counts the rest.
class FakePrompt : public Prompt
{
public:
    bool askConnect(QWidget *) override
    {
        ++asked;
        return !answers.isEmpty() && answers.takeFirst();
    }
    void portError(QWidget *) override { ++errors; }
    void showAbout() override { ++abouts; }

    QList<bool> answers;
    int asked = 0;
    int errors = 0;
    int abouts = 0;
};

struct Panel
{
    Panel(const QList<int> &present, const QList<int> &busy = {}, SerialPort *realPort = nullptr)
        : fake(realPort ? nullptr : new FakeSerialPort)
    {
        if (fake) {
            fake->setPresent(present);
            for (int port : busy)
                fake->setBusy(port);
        }
        auto stand_in = std::make_unique<FakePrompt>();
        prompt = stand_in.get();
        window = std::make_unique<PanelWindow>(realPort ? realPort : fake, std::move(stand_in));
        window->show();
    }

    template <typename T> T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    template <typename T> T *member(const char *name, int index) const
    {
        for (T *candidate : window->findChildren<T *>(QLatin1String(name)))
            if (index < 0 || candidate->property("index").toInt() == index)
                return candidate;
        return nullptr;
    }
    QComboBox *combo() const { return child<QComboBox>("Combo1"); }
    QLabel *caption(int channel) const { return member<QLabel>("Label1", channel - 1); }
    QLabel *tile(int channel) const { return member<QLabel>("Image1", channel - 1); }
    FrameTransmitter *transmitter() const { return window->findChild<FrameTransmitter *>(); }

    QStringList entries() const
    {
        QStringList list;
        for (int i = 0; i < combo()->count(); ++i)
            list << combo()->itemText(i);
        return list;
    }

    // Picks `entry` in the open drop-down list, as a user does, answering "Port Aç".
    void choose(const QString &entry, bool answer)
    {
        prompt->answers << answer;
        const int row = combo()->findText(entry);
        QVERIFY2(row >= 0, qPrintable(entry));
        combo()->showPopup();
        QAbstractItemView *const view = combo()->view();
        view->setCurrentIndex(view->model()->index(row, 0));
        QTest::keyClick(view, Qt::Key_Return);
    }

    void toggle(int channel) { QTest::mouseClick(caption(channel), Qt::LeftButton); }

    QByteArrayList maskBytes() const
    {
        QByteArrayList bytes;
        for (const QByteArray &write : fake->writes())
            if (write.size() == 1)
                bytes << write;
        return bytes;
    }

    // Every column of the states table.
    void verifyState(bool connected) const
    {
        QCOMPARE(window->findChild<SerialPort *>()->isOpen(), connected);
        QCOMPARE(combo()->isEnabled(), !connected);
        QCOMPARE(child<QPushButton>("Command1")->isEnabled(), connected);
        QCOMPARE(child<QGroupBox>("Frame2")->isEnabled(), connected);
        QCOMPARE(child<Lamp>("Shape1")->fillColor(),
                 connected ? QColor(Qt::blue) : window->palette().color(QPalette::Base));
        QCOMPARE(transmitter()->isActive(), connected);
    }

    FakeSerialPort *const fake;
    FakePrompt *prompt = nullptr;
    std::unique_ptr<PanelWindow> window;
};

QByteArray maskByte(int mask)
{
    return QByteArray(1, static_cast<char>(mask));
}

} // namespace

// Port 1 is `path`; no real device may answer for the others. The mapping is
// undone when the returned guard goes.
auto mapOnlyPortOne(const QString &path)
{
    qputenv("RELO_COM1", path.toLocal8Bit());
    for (int n = 2; n <= 10; ++n)
        qputenv(qPrintable(QStringLiteral("RELO_COM%1").arg(n)), "/nonexistent/relo-test");
    return qScopeGuard([] {
        for (int n = 1; n <= 10; ++n)
            qunsetenv(qPrintable(QStringLiteral("RELO_COM%1").arg(n)));
    });
}

class TestPanelWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startupList_data();
    void startupList();
    void looks();
    void layout_data();
    void layout();
    void refusedChoice();
    void connectAndDisconnect();
    void framesAlternateRts();
    void receivedBlocksDrained();
    void realBytesOnPseudoTerminal();
    void failedOpen_data();
    void failedOpen();
    void toggleTwice();
    void masks_data();
    void masks();
    void captionDecides_data();
    void captionDecides();
    void reconnectKeepsMask();
    void idleClicksDoNothing();
    void portLost_data();
    void portLost();
    void realPortVanishes();
    void closeReleasesPort();
    void messageBoxes_data();
    void messageBoxes();
};

void TestPanelWindow::startupList_data()
{
    QTest::addColumn<QList<int>>("present");
    QTest::addColumn<QList<int>>("busy");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("none") << QList<int>{} << QList<int>{} << QStringList{};
    QTest::newRow("2 and 5") << QList<int>{5, 2} << QList<int>{}
                             << QStringList{"Com - 2", "Com - 5"};
    QTest::newRow("busy left out")
        << QList<int>{1, 3, 4} << QList<int>{3} << QStringList{"Com - 1", "Com - 4"};
    QTest::newRow("10, never 11") << QList<int>{10, 11} << QList<int>{} << QStringList{"Com - 10"};
}

void TestPanelWindow::startupList()
{
    QFETCH(QList<int>, present);
    QFETCH(QList<int>, busy);
    QFETCH(QStringList, entries);
    Panel panel(present, busy);
    QCOMPARE(panel.entries(), entries);
    QCOMPARE(panel.combo()->currentIndex(), -1);
    QCOMPARE(panel.prompt->asked, 0); // filling the list is no choice
    panel.verifyState(false);
}

void TestPanelWindow::looks()
{
    Panel panel({1});
    QCOMPARE(panel.window->objectName(), QStringLiteral("main"));
    QCOMPARE(panel.window->windowTitle(), QStringLiteral("RELO    Ver. 1.0.2"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("RELO    Ver. 1.0.2"));
    QVERIFY(!panel.window->windowIcon().isNull()); // the chip resource is linked in
    QVERIFY(!(panel.window->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(panel.window->minimumSize(), panel.window->maximumSize());

    const QImage off = panel.child<QLabel>("Image2")->pixmap().toImage();
    const QImage on = panel.child<QLabel>("Image3")->pixmap().toImage();
    QCOMPARE(off.size(), QSize(50, 22));
    QCOMPARE(on.size(), QSize(50, 22));
    QVERIFY(off != on);
    QVERIFY(!panel.child<QLabel>("Image2")->isVisible());
    QVERIFY(!panel.child<QLabel>("Image3")->isVisible());
    for (int channel = 1; channel <= 8; ++channel) {
        QCOMPARE(panel.caption(channel)->text(), QString::number(channel) + " - (0)");
        QCOMPARE(panel.tile(channel)->pixmap().toImage(), off);
    }
}

void TestPanelWindow::layout_data()
{
    // Pixels of the twips layout (15 twips to a pixel), relative to the container.
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("window") << "main" << -1 << QRect(0, 0, 393, 114);
    QTest::newRow("Frame1") << "Frame1" << -1 << QRect(8, 8, 105, 97);
    QTest::newRow("Shape1") << "Shape1" << -1 << QRect(8, 24, 17, 17);
    QTest::newRow("Combo1") << "Combo1" << -1 << QRect(32, 24, 65, 21);
    QTest::newRow("Command1") << "Command1" << -1 << QRect(8, 56, 89, 25);
    QTest::newRow("Frame2") << "Frame2" << -1 << QRect(120, 8, 265, 97);
    QTest::newRow("channel 1 tile") << "Image1" << 0 << QRect(24, 23, 50, 22);
    QTest::newRow("channel 1 caption") << "Label1" << 0 << QRect(24, 26, 49, 17);
    QTest::newRow("channel 4 tile") << "Image1" << 3 << QRect(80, 53, 50, 22);
    QTest::newRow("channel 8 caption") << "Label1" << 7 << QRect(192, 56, 49, 17);
    QTest::newRow("Shape2") << "Shape2" << -1 << QRect(240, 80, 17, 9);
    QTest::newRow("Image2") << "Image2" << -1 << QRect(96, 88, 50, 22);
}

void TestPanelWindow::layout()
{
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(QRect, geometry);
    Panel panel({1});
    QWidget *const widget = name == "main"
                                ? panel.window.get()
                                : panel.member<QWidget>(name.toLatin1().constData(), index);
    QVERIFY(widget);
    QCOMPARE(name == "main" ? QRect(QPoint(), widget->size()) : widget->geometry(), geometry);
}

void TestPanelWindow::refusedChoice()
{
    Panel panel({1, 3});
    panel.fake->setPresent({1, 2, 3}); // plugged in after the start-up scan
    panel.choose("Com - 3", false);
    QCOMPARE(panel.prompt->asked, 1);
    panel.verifyState(false);
    QCOMPARE(panel.entries(), (QStringList{"Com - 1", "Com - 2", "Com - 3"}));
    QVERIFY(panel.fake->writes().isEmpty());

    // Setting the list from code is no choice; picking the shown entry again is.
    panel.combo()->setCurrentIndex(2);
    QCOMPARE(panel.prompt->asked, 1);
    panel.choose("Com - 3", false);
    QCOMPARE(panel.prompt->asked, 2);
}

void TestPanelWindow::connectAndDisconnect()
{
    Panel panel({1, 4});
    panel.fake->clearLog();
    panel.choose("Com - 4", true);
    panel.verifyState(true);
    QCOMPARE(panel.fake->portNumber(), 4);
    QCOMPARE(panel.fake->calls(), (QStringList{"threshold 18 18", "open 4", "rts 1"}));
    QVERIFY(panel.fake->rts());

    QTest::mouseClick(panel.child<QPushButton>("Command1"), Qt::LeftButton);
    panel.verifyState(false);
    QCOMPARE(panel.entries(), (QStringList{"Com - 1", "Com - 4"})); // released before the rescan
    QCOMPARE(panel.child<Lamp>("Shape2")->fillColor(),
             panel.window->palette().color(QPalette::Base));
}

void TestPanelWindow::framesAlternateRts()
{
    Panel panel({1});
    panel.choose("Com - 1", true);
    QList<bool> rts;
    QList<bool> blue;
    connect(panel.transmitter(), &FrameTransmitter::frameSent, panel.window.get(), [&] {
        rts << panel.fake->rts();
        blue << (panel.child<Lamp>("Shape2")->fillColor() == QColor(Qt::blue));
    });
    QTRY_VERIFY_WITH_TIMEOUT(rts.size() >= 3, 5000);
    for (int i = 1; i < rts.size(); ++i)
        QCOMPARE(rts.at(i), !rts.at(i - 1));
    QCOMPARE(blue, rts); // the lamp is blue exactly while RTS is high
    for (const QByteArray &frame : panel.fake->writes())
        QCOMPARE(frame, buildFrame(0));
}

void TestPanelWindow::receivedBlocksDrained()
{
    Panel panel({1});
    panel.choose("Com - 1", true);
    panel.fake->clearLog();
    panel.fake->receive(QByteArray(17, 'x'));
    QVERIFY(!panel.fake->calls().contains("drainInput 18"));
    panel.fake->receive("x");
    QCOMPARE(panel.fake->calls().count("drainInput 18"), 1);
}

void TestPanelWindow::realBytesOnPseudoTerminal()
{
    PseudoTerminal line;
    QVERIFY2(line.open(), qPrintable(line.errorString()));
    const auto restore = mapOnlyPortOne(line.slavePath());

    Panel panel({}, {}, new RealSerialPort);
    QCOMPARE(panel.entries(), QStringList{"Com - 1"});
    panel.choose("Com - 1", true);
    panel.verifyState(true);

    FrameDecoder decoder;
    QList<FrameDecoder::Event> events;
    auto eventSeen = [&](FrameDecoder::Event::Kind kind, int mask) {
        events << decoder.feed(line.read(0));
        for (const FrameDecoder::Event &event : events)
            if (event.kind == kind &&
                (kind == FrameDecoder::Event::Frame ? event.mask == mask
                                                    : event.bytes == maskByte(mask)))
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(eventSeen(FrameDecoder::Event::Frame, 0), 5000);
    panel.toggle(3);
    QTRY_VERIFY_WITH_TIMEOUT(eventSeen(FrameDecoder::Event::Stray, 4), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(eventSeen(FrameDecoder::Event::Frame, 4), 5000);
    QCOMPARE(panel.prompt->errors, 0);
}

void TestPanelWindow::failedOpen_data()
{
    QTest::addColumn<bool>("busy");
    QTest::newRow("taken by another program") << true;
    QTest::newRow("unplugged since the scan") << false;
}

void TestPanelWindow::failedOpen()
{
    QFETCH(bool, busy);
    Panel panel({2, 4});
    if (busy)
        panel.fake->setBusy(4);
    else
        panel.fake->setPresent({2});
    panel.choose("Com - 4", true);
    QCOMPARE(panel.prompt->errors, 1);
    panel.verifyState(false);
    QCOMPARE(panel.entries(), QStringList{"Com - 2"});
    QVERIFY(panel.fake->writes().isEmpty());
}

void TestPanelWindow::toggleTwice()
{
    Panel panel({1});
    panel.choose("Com - 1", true);
    const QImage off = panel.child<QLabel>("Image2")->pixmap().toImage();
    const QImage on = panel.child<QLabel>("Image3")->pixmap().toImage();

    panel.toggle(3);
    QCOMPARE(panel.caption(3)->text(), QStringLiteral("3 - (1)"));
    QCOMPARE(panel.tile(3)->pixmap().toImage(), on);
    QCOMPARE(int(panel.window->mask()), 4);
    QCOMPARE(panel.maskBytes(), QByteArrayList{maskByte(4)});

    panel.toggle(3);
    QCOMPARE(panel.caption(3)->text(), QStringLiteral("3 - (0)"));
    QCOMPARE(panel.tile(3)->pixmap().toImage(), off);
    QCOMPARE(int(panel.window->mask()), 0);
    QCOMPARE(panel.maskBytes(), (QByteArrayList{maskByte(4), maskByte(0)}));
}

void TestPanelWindow::masks_data()
{
    QTest::addColumn<QList<int>>("channels");
    QTest::addColumn<int>("mask");
    QTest::newRow("1, 2, 8") << QList<int>{1, 2, 8} << 131;
    QTest::newRow("8") << QList<int>{8} << 128;
    QTest::newRow("all") << QList<int>{8, 7, 6, 5, 4, 3, 2, 1} << 255;
    QTest::newRow("5 on and off, 6") << QList<int>{5, 6, 5} << 32;
}

void TestPanelWindow::masks()
{
    QFETCH(QList<int>, channels);
    QFETCH(int, mask);
    Panel panel({1});
    panel.choose("Com - 1", true);
    for (int channel : channels)
        panel.toggle(channel);
    QCOMPARE(int(panel.window->mask()), mask);
    QCOMPARE(panel.maskBytes().size(), channels.size()); // one byte per click
    QCOMPARE(panel.maskBytes().last(), maskByte(mask));
    for (int channel = 1; channel <= 8; ++channel)
        QCOMPARE(panel.caption(channel)->text().endsWith(" - (1)"),
                 bool(mask & (1 << (channel - 1))));
}

void TestPanelWindow::captionDecides_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("turnsOn");
    QTest::newRow("off") << "3 - (0)" << true;
    QTest::newRow("unknown digit") << "3 - (x)" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("five characters") << "3 - (" << true;
    QTest::newRow("sixth is 1") << "abcde1" << false;
}

void TestPanelWindow::captionDecides()
{
    QFETCH(QString, caption);
    QFETCH(bool, turnsOn);
    Panel panel({1});
    panel.choose("Com - 1", true);
    panel.caption(3)->setText(caption);
    panel.toggle(3);
    QCOMPARE(panel.caption(3)->text(), turnsOn ? QStringLiteral("3 - (1)") : "3 - (0)");
    QCOMPARE(int(panel.window->mask()), turnsOn ? 4 : 0);
}

void TestPanelWindow::reconnectKeepsMask()
{
    Panel panel({1});
    panel.choose("Com - 1", true);
    panel.toggle(2);
    panel.toggle(5);
    QTest::mouseClick(panel.child<QPushButton>("Command1"), Qt::LeftButton);
    panel.verifyState(false);
    QCOMPARE(panel.caption(2)->text(), QStringLiteral("2 - (1)"));
    QCOMPARE(panel.caption(5)->text(), QStringLiteral("5 - (1)"));
    QCOMPARE(panel.tile(5)->pixmap().toImage(), panel.child<QLabel>("Image3")->pixmap().toImage());

    panel.fake->clearLog();
    panel.choose("Com - 1", true);
    QTRY_VERIFY_WITH_TIMEOUT(!panel.fake->writes().isEmpty(), 5000);
    QCOMPARE(panel.fake->writes().first(), buildFrame(18));
}

void TestPanelWindow::idleClicksDoNothing()
{
    Panel panel({1});
    for (int channel = 1; channel <= 8; ++channel)
        panel.toggle(channel);
    QTest::mouseClick(panel.child<QLabel>("Label2"), Qt::LeftButton);
    QCOMPARE(panel.caption(1)->text(), QStringLiteral("1 - (0)"));
    QCOMPARE(int(panel.window->mask()), 0);
    QCOMPARE(panel.prompt->abouts, 0);
    QVERIFY(panel.fake->writes().isEmpty());

    // The same clicks do reach their labels once connected.
    panel.choose("Com - 1", true);
    QTest::mouseClick(panel.child<QLabel>("Label2"), Qt::LeftButton);
    QCOMPARE(panel.prompt->abouts, 1);
}

void TestPanelWindow::portLost_data()
{
    QTest::addColumn<bool>("onClick");
    QTest::newRow("during a frame") << false;
    QTest::newRow("writing the mask byte") << true;
}

void TestPanelWindow::portLost()
{
    QFETCH(bool, onClick);
    Panel panel({1, 2});
    panel.choose("Com - 2", true);
    panel.fake->setPresent({1});
    panel.fake->unplug();
    if (onClick)
        panel.toggle(4);
    QTRY_COMPARE_WITH_TIMEOUT(panel.prompt->errors, 1, 5000);
    panel.verifyState(false);
    QCOMPARE(panel.entries(), QStringList{"Com - 1"});
    const QStringList calls = panel.fake->calls();
    QVERIFY(calls.contains("send failed"));
    for (const QString &call : calls.mid(calls.indexOf("send failed") + 1))
        QVERIFY2(!call.startsWith("send"), qPrintable(call)); // nothing written after
    QCoreApplication::processEvents();
    QCOMPARE(panel.prompt->errors, 1); // one message for one failure
}

void TestPanelWindow::realPortVanishes()
{
    // The far end of the line goes away while connected, as a pulled USB adapter does.
    PseudoTerminal line;
    QVERIFY2(line.open(), qPrintable(line.errorString()));
    const auto restore = mapOnlyPortOne(line.slavePath());
    Panel panel({}, {}, new RealSerialPort);
    panel.choose("Com - 1", true);
    panel.verifyState(true);
    QByteArray wire;
    QTRY_VERIFY_WITH_TIMEOUT(!(wire += line.read(0)).isEmpty(), 5000); // frames are flowing

    line.close();
    QTRY_COMPARE_WITH_TIMEOUT(panel.prompt->errors, 1, 5000);
    panel.verifyState(false);
    QCOMPARE(panel.entries(), QStringList());
    panel.toggle(5); // the switches are out of reach again
    QCOMPARE(panel.prompt->errors, 1);
}

void TestPanelWindow::closeReleasesPort()
{
    Panel panel({1});
    panel.choose("Com - 1", true);
    panel.fake->clearLog();
    QVERIFY(panel.window->close());
    QCOMPARE(panel.fake->calls(), (QStringList{"rts 0", "close"}));
    QVERIFY(!panel.transmitter()->isActive());
}

void TestPanelWindow::messageBoxes_data()
{
    QTest::addColumn<bool>("question");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<bool>("answer");
    const QString ask = "Seçilen Port Üzerinden\nBağlanmak İstiyormusunuz";
    const QStringList yesNo{"Evet", "Hayır"};
    QTest::newRow("Enter answers yes")
        << true << int(Qt::Key_Return) << "Port Aç" << ask << yesNo << true;
    QTest::newRow("Escape answers no")
        << true << int(Qt::Key_Escape) << "Port Aç" << ask << yesNo << false;
    QTest::newRow("port error") << false << int(Qt::Key_Return) << "Port Hata..."
                                << "Seçilen Port Meşgul veya \n Bağlantı Kurulmuyor..."
                                << QStringList{"Tamam"} << true;
}

void TestPanelWindow::messageBoxes()
{
    QFETCH(bool, question);
    QFETCH(int, key);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QStringList, buttons);
    QFETCH(bool, answer);

    QString seenTitle, seenText, defaultButton;
    QStringList seenButtons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    std::function<void()> answerBox = [&] {
        auto *const box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, answerBox);
            return;
        }
        seenTitle = box->windowTitle();
        seenText = box->text();
        icon = box->icon();
        for (QAbstractButton *button : box->buttons())
            seenButtons << button->text();
        defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        QTest::keyClick(box, Qt::Key(key));
    };
    QTimer::singleShot(0, answerBox);

    QWidget owner;
    MessageBoxPrompt prompt;
    bool result = true;
    if (question)
        result = prompt.askConnect(&owner);
    else
        prompt.portError(&owner);

    QCOMPARE(seenTitle, title);
    QCOMPARE(seenText, text);
    QCOMPARE(icon, QMessageBox::Question);
    seenButtons.sort();
    buttons.sort();
    QCOMPARE(seenButtons, buttons);
    QCOMPARE(defaultButton, buttons.contains("Evet") ? QStringLiteral("Evet") : "Tamam");
    QCOMPARE(result, answer);
}

QTEST_MAIN(TestPanelWindow)
#include "tst_panelwindow.moc"
