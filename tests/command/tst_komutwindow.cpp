// The RELOKomut window in this process, against the recording fake port.

#include "fakeserialport.h"
#include "frame.h"
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

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ini(const QByteArray &portNumber, const QByteArray &portData)
{
    QByteArray text = "[RELO]\n";
    if (!portNumber.isNull())
        text += "PortNumber=" + portNumber + "\n";
    if (!portData.isNull())
        text += "PortData=" + portData + "\n";
    return text;
}

template <typename T> T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

QString label1(QWidget *window)
{
    return child<QLabel>(window, "Label1")->text();
}

QStringList sends(int count)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << QStringLiteral("send 18");
    return lines;
}

// Keeps activation from reaching the window, as a desktop that prevents focus
// stealing does.
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

// Closes the next modal window as soon as it shows, after handing it to `inside`.
void whenModal(std::function<void(QWidget *)> inside)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, inside] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        poll->stop();
        poll->deleteLater();
        inside(modal);
        modal->close();
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
    void layout_data();
    void layout();

    void run_data();
    void run();
    void appliedWithoutActivation();
    void activationReapplies();
    void busyPortFreesUp();
    void busyPortStaysBusy();
    void maskNotSaved();
    void portBreaksWhileSending();
    void closedBeforeTheLastFrame();
    void statusFitsTheFrame_data();
    void statusFitsTheFrame();

    void setupFreshFolder();
    void setupPreselects_data();
    void setupPreselects();
    void setupSaveFails();
    void aboutFromSetup();

private:
    QString iniPath() const { return relo::settingsPath(m_dir->path()); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestKomutWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestKomutWindow::faces_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("runMode");
    QTest::newRow("setup") << QString() << false;
    QTest::newRow("run") << "03-1" << true;
    QTest::newRow("run, rejected") << "3-1" << true;
}

void TestKomutWindow::faces()
{
    QFETCH(QString, command);
    QFETCH(bool, runMode);

    FakeSerialPort port;
    KomutWindow window(command, m_dir->path(), &port);
    QCOMPARE(window.objectName(), QStringLiteral("main"));
    QCOMPARE(window.isRunMode(), runMode);
    QCOMPARE(window.windowTitle(), QStringLiteral("RELOKomut    Ver. 1.0.14"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), window.windowTitle());
    QCOMPARE(window.size(), QSize(209, 106));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QCOMPARE(window.windowIcon().pixmap(32).size(), QSize(32, 32));
    QCOMPARE(window.palette().color(QPalette::Window), QColor(0xD6, 0xDF, 0xF7));
    QCOMPARE(window.font().family(), QStringLiteral("Verdana"));

    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(flags & Qt::WindowStaysOnTopHint);
    QCOMPARE(bool(flags & Qt::FramelessWindowHint), runMode);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(child<QGroupBox>(&window, "Frame1")->isVisibleTo(&window), !runMode);
    QCOMPARE(child<QGroupBox>(&window, "Frame2")->isVisibleTo(&window), runMode);
}

void TestKomutWindow::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry"); // Label2: only the position counts

    QTest::newRow("Frame1") << "Frame1"
                            << "main" << QRect(16, 16, 177, 81);
    QTest::newRow("Combo1") << "Combo1"
                            << "Frame1" << QRect(16, 24, 65, 21);
    QTest::newRow("Command1") << "Command1"
                              << "Frame1" << QRect(88, 24, 73, 23);
    QTest::newRow("Label2") << "Label2"
                            << "Frame1" << QRect(56, 56, 0, 0);
    QTest::newRow("Frame2") << "Frame2"
                            << "main" << QRect(8, 8, 193, 89);
}

void TestKomutWindow::layout()
{
    QFETCH(QString, name);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);

    FakeSerialPort port;
    KomutWindow window(QString(), m_dir->path(), &port);
    const auto *control = window.findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget()->objectName(), parentName);
    if (geometry.isEmpty())
        QCOMPARE(control->pos(), geometry.topLeft());
    else
        QCOMPARE(control->geometry(), geometry);

    QCOMPARE(child<QGroupBox>(&window, "Frame1")->title(), QStringLiteral("Seri Port Ayar"));
    QCOMPARE(child<QComboBox>(&window, "Combo1")->toolTip(), QStringLiteral("Port Seçin"));
    QVERIFY(!child<QComboBox>(&window, "Combo1")->isEditable());
    const auto *save = child<QPushButton>(&window, "Command1");
    QCOMPARE(save->text(), QStringLiteral("Kaydet"));
    QCOMPARE(save->cursor().shape(), Qt::PointingHandCursor);
    const auto *about = child<QLabel>(&window, "Label2");
    QCOMPARE(about->text(), QStringLiteral("Hakkında"));
    QCOMPARE(about->palette().color(QPalette::WindowText),
             QApplication::palette().color(QPalette::Highlight));
    QCOMPARE(about->font().pointSizeF(), 8.25);
    QCOMPARE(about->cursor().shape(), Qt::PointingHandCursor);
    const auto *status = child<QLabel>(&window, "Label1");
    QCOMPARE(status->font().pointSizeF(), 15.75);
    QVERIFY(status->font().bold());
}

void TestKomutWindow::run_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("settings"); // ayar.ini before; empty: no file
    QTest::addColumn<QList<int>>("present");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("mask"); // last byte of the frames and PortData; -1: unchanged
    QTest::addColumn<int>("exitStatus");

    const QStringList sent =
        QStringList{"open 3", "rts 1"} + sends(4) + QStringList{"drain", "rts 0", "close"};
    QTest::newRow("03-1 on 0") << "03-1" << ini("3", "0") << QList<int>{3}
                               << QStringLiteral("Çıkış-3 Açıldı") << sent << 4 << 0;
    QTest::newRow("01-1 on 4") << "01-1" << ini("3", "4") << QList<int>{3}
                               << QStringLiteral("Çıkış-1 Açıldı") << sent << 5 << 0;
    QTest::newRow("03-0 on 5") << "03-0" << ini("3", "5") << QList<int>{3}
                               << QStringLiteral("Çıkış-3 Kapandı") << sent << 1 << 0;
    QTest::newRow("unreadable mask") << "03-1" << ini("3", "x") << QList<int>{3}
                                     << QStringLiteral("Çıkış-3 Açıldı") << sent << 4 << 0;
    QTest::newRow("mask above a byte") << "03-1" << ini("3", "300") << QList<int>{3}
                                       << QStringLiteral("Çıkış-3 Açıldı") << sent << 4 << 0;
    QTest::newRow("port 3.7") << "03-1" << ini("3.7", "0") << QList<int>{3}
                              << QStringLiteral("Çıkış-3 Açıldı") << sent << 4 << 0;

    QStringList onPort1 = sent;
    onPort1[0] = QStringLiteral("open 1");
    QTest::newRow("no file: port 1") << "03-1" << QByteArray() << QList<int>{1}
                                     << QStringLiteral("Çıkış-3 Açıldı") << onPort1 << 4 << 0;
    QTest::newRow("port 0: port 1") << "03-1" << ini("0", "0") << QList<int>{1}
                                    << QStringLiteral("Çıkış-3 Açıldı") << onPort1 << 4 << 0;
    QTest::newRow("port -2: port 1") << "03-1" << ini("-2", "0") << QList<int>{1}
                                     << QStringLiteral("Çıkış-3 Açıldı") << onPort1 << 4 << 0;
    QTest::newRow("port too big: port 1") << "03-1" << ini("70000", "0") << QList<int>{1}
                                          << QStringLiteral("Çıkış-3 Açıldı") << onPort1 << 4 << 0;

    QTest::newRow("missing port") << "03-1" << ini("3", "0") << QList<int>{}
                                  << QStringLiteral("Port Hatası") << QStringList{"open 3 missing"}
                                  << -1 << 1;
    for (const char *rejected : {"3-1", "03-10", "0301", "ab-1", "03-x", "03 -1", " 3-1x"})
        QTest::newRow(rejected) << rejected << ini("3", "1") << QList<int>{3}
                                << QStringLiteral("Hatalı komut") << QStringList() << -1 << 2;
}

void TestKomutWindow::run()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, settings);
    QFETCH(QList<int>, present);
    QFETCH(QString, status);
    QFETCH(QStringList, calls);
    QFETCH(int, mask);
    QFETCH(int, exitStatus);

    if (!settings.isEmpty())
        QVERIFY(writeFile(iniPath(), settings));
    FakeSerialPort port;
    port.setPresent(present);
    KomutWindow window(command, m_dir->path(), &port);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(label1(&window), status);

    if (exitStatus == KomutWindow::Rejected) {
        // The window stays until someone closes it; the port was never taken.
        QVERIFY(!child<QTimer>(&window, "Timer1")->isActive());
        QVERIFY(window.isVisible());
        window.close();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
    QCOMPARE(port.calls(), calls);
    QVERIFY(!port.isOpen());
    QVERIFY(!port.rts());
    QCOMPARE(int(window.status()), exitStatus);
    QCOMPARE(window.errorText().isEmpty(), exitStatus == KomutWindow::Done);
    if (mask < 0) {
        QCOMPARE(readFile(iniPath()), settings);
        return;
    }
    for (const QByteArray &frame : port.writes())
        QCOMPARE(frame, relo::buildFrame(relo::Mask(mask)));
    QCOMPARE(relo::readSetting(m_dir->path(), relo::PortDataKey), QString::number(mask));
}

void TestKomutWindow::appliedWithoutActivation()
{
    // Started by a background program, the window is often never activated.
    QVERIFY(writeFile(iniPath(), ini("3", "0")));
    FakeSerialPort port;
    port.setPresent({3});
    KomutWindow window(QStringLiteral("03-1"), m_dir->path(), &port);
    ActivationSwallower swallower;
    window.installEventFilter(&swallower);
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
    QCOMPARE(port.writes().size(), 4);
    QCOMPARE(window.status(), KomutWindow::Done);
    QVERIFY(swallower.swallowed > 0); // the platform did try to activate it
}

void TestKomutWindow::activationReapplies()
{
    QVERIFY(writeFile(iniPath(), ini("3", "1")));
    FakeSerialPort port;
    port.setPresent({3});
    KomutWindow window(QStringLiteral("05-1"), m_dir->path(), &port);
    window.show();
    QTRY_COMPARE(port.writes().size(), 1);

    // Someone else touches the file between two activations: the next one
    // writes the new mask again, from the mask loaded at start.
    QVERIFY(relo::writeSetting(m_dir->path(), relo::PortDataKey, QStringLiteral("99")));
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&window, &activate);
    QCOMPARE(relo::readSetting(m_dir->path(), relo::PortDataKey), QStringLiteral("17"));

    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
    QCOMPARE(port.writes().size(), 1 + 4); // the count of four started again
    QCOMPARE(port.writes().last(), relo::buildFrame(17));
    QCOMPARE(window.status(), KomutWindow::Done);
}

void TestKomutWindow::busyPortFreesUp()
{
    QVERIFY(writeFile(iniPath(), ini("3", "1")));
    FakeSerialPort port;
    port.setPresent({3});
    port.setBusy(3);
    KomutWindow window(QStringLiteral("02-1"), m_dir->path(), &port);
    window.show();
    QTRY_VERIFY(port.calls().count(QStringLiteral("open 3 busy")) >= 2);
    QCOMPARE(label1(&window), QString());

    // The program that held the port saves its mask and lets go: this one must
    // start from that mask.
    QVERIFY(relo::writeSetting(m_dir->path(), relo::PortDataKey, QStringLiteral("5")));
    port.setBusy(3, false);
    QTRY_COMPARE(label1(&window), QStringLiteral("Çıkış-2 Açıldı"));
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
    QCOMPARE(port.writes().size(), 4);
    QCOMPARE(port.writes().last(), relo::buildFrame(7));
    QCOMPARE(relo::readSetting(m_dir->path(), relo::PortDataKey), QStringLiteral("7"));
    QCOMPARE(window.status(), KomutWindow::Done);
}

void TestKomutWindow::busyPortStaysBusy()
{
    QVERIFY(writeFile(iniPath(), ini("3", "1")));
    FakeSerialPort port;
    port.setPresent({3});
    port.setBusy(3);
    KomutWindow window(QStringLiteral("02-1"), m_dir->path(), &port);
    window.show();
    QTRY_COMPARE_WITH_TIMEOUT(label1(&window), QStringLiteral("Port Hatası"),
                              KomutWindow::BusyRetryMs + 3000);
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 3000);
    QVERIFY(port.writes().isEmpty());
    QVERIFY(!port.calls().contains(QStringLiteral("open 3")));
    QCOMPARE(readFile(iniPath()), ini("3", "1"));
    QCOMPARE(window.status(), KomutWindow::PortFailed);
    QVERIFY(window.errorText().contains(QStringLiteral("Com - 3")));
}

void TestKomutWindow::maskNotSaved()
{
    // A folder that does not exist: nothing to read, nothing can be written.
    const QString folder = m_dir->filePath(QStringLiteral("gone"));
    FakeSerialPort port;
    port.setPresent({1});
    KomutWindow window(QStringLiteral("03-1"), folder, &port);
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
    QCOMPARE(port.writes().size(), 4);
    QCOMPARE(window.status(), KomutWindow::NotSaved);
    QCOMPARE(window.statusText(), QStringLiteral("Çıkış-3 Açıldı"));
    QVERIFY(window.errorText().contains(QStringLiteral("ayar.ini")));
}

void TestKomutWindow::portBreaksWhileSending()
{
    QVERIFY(writeFile(iniPath(), ini("3", "0")));
    FakeSerialPort port;
    port.setPresent({3});
    KomutWindow window(QStringLiteral("03-1"), m_dir->path(), &port);
    window.show();
    QTRY_COMPARE(port.writes().size(), 1);
    port.unplug();
    QTRY_COMPARE(label1(&window), QStringLiteral("Port Hatası"));
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 3000);
    QCOMPARE(port.writes().size(), 1);
    QCOMPARE(window.status(), KomutWindow::PortFailed);
}

void TestKomutWindow::closedBeforeTheLastFrame()
{
    QVERIFY(writeFile(iniPath(), ini("3", "0")));
    FakeSerialPort port;
    port.setPresent({3});
    KomutWindow window(QStringLiteral("03-1"), m_dir->path(), &port);
    window.show();
    QTRY_COMPARE(port.writes().size(), 2);
    window.close();
    QCOMPARE(port.calls().mid(port.calls().size() - 3), (QStringList{"drain", "rts 0", "close"}));
    QCOMPARE(window.status(), KomutWindow::PortFailed);
    QVERIFY(!child<QTimer>(&window, "Timer1")->isActive());
}

void TestKomutWindow::statusFitsTheFrame_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("on") << "03-1";
    QTest::newRow("off") << "08-0";
    QTest::newRow("rejected") << "x";
}

void TestKomutWindow::statusFitsTheFrame()
{
    QFETCH(QString, command);
    FakeSerialPort port;
    port.setPresent({1});
    KomutWindow window(command, m_dir->path(), &port);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto *status = child<QLabel>(&window, "Label1");
    const QRect inside = child<QGroupBox>(&window, "Frame2")->rect();
    QVERIFY(!status->text().isEmpty());
    QVERIFY2(inside.contains(status->geometry()),
             qPrintable(QStringLiteral("%1 in %2 wide").arg(status->width()).arg(inside.width())));
    QCOMPARE(status->width(), status->sizeHint().width());
    QCOMPARE(status->y(), 32);
    window.close();
}

void TestKomutWindow::setupFreshFolder()
{
    FakeSerialPort port;
    port.setPresent({2, 10});
    {
        KomutWindow window(QString(), m_dir->path(), &port);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *list = child<QComboBox>(&window, "Combo1");
        auto *save = child<QPushButton>(&window, "Command1");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->itemText(0), QStringLiteral("Com - 2"));
        QCOMPARE(list->itemText(1), QStringLiteral("Com - 10"));
        QCOMPARE(list->currentIndex(), -1);
        QVERIFY(!save->isEnabled());
        QVERIFY(!port.isOpen());

        list->setFocus();
        QTest::keyClick(list, Qt::Key_End); // a choice: activated()
        QCOMPARE(list->currentText(), QStringLiteral("Com - 10"));
        QVERIFY(save->isEnabled());
        QVERIFY(!QFile::exists(iniPath()));
        QTest::mouseClick(save, Qt::LeftButton);
        QCOMPARE(relo::readSetting(m_dir->path(), relo::PortNumberKey), QStringLiteral("10"));
        QCOMPARE(relo::readSetting(m_dir->path(), relo::PortDataKey), QStringLiteral("0"));
        QVERIFY(window.isVisible()); // the user closes it
        window.close();
        QCOMPARE(window.status(), KomutWindow::Done);
    }
    // The next start preselects the saved port and waits for a new choice.
    KomutWindow again(QString(), m_dir->path(), &port);
    QCOMPARE(child<QComboBox>(&again, "Combo1")->currentText(), QStringLiteral("Com - 10"));
    QVERIFY(!child<QPushButton>(&again, "Command1")->isEnabled());
}

void TestKomutWindow::setupPreselects_data()
{
    QTest::addColumn<QByteArray>("saved");
    QTest::addColumn<QString>("selected"); // empty: nothing
    QTest::newRow("listed") << QByteArray("5") << "Com - 5";
    QTest::newRow("fraction") << QByteArray("2.9") << "Com - 2";
    QTest::newRow("blanks") << QByteArray(" 5 ") << "Com - 5";
    QTest::newRow("not listed") << QByteArray("3") << QString();
    QTest::newRow("not a number") << QByteArray("Com - 5") << QString();
    QTest::newRow("empty") << QByteArray("") << QString();
    QTest::newRow("negative") << QByteArray("-5") << QString();
}

void TestKomutWindow::setupPreselects()
{
    QFETCH(QByteArray, saved);
    QFETCH(QString, selected);
    QVERIFY(writeFile(iniPath(), ini(saved, "9")));
    FakeSerialPort port;
    port.setPresent({2, 5});
    KomutWindow window(QString(), m_dir->path(), &port);
    const auto *list = child<QComboBox>(&window, "Combo1");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->currentText(), selected);
    QVERIFY(!child<QPushButton>(&window, "Command1")->isEnabled());
    QCOMPARE(readFile(iniPath()), ini(saved, "9")); // nothing written by looking
}

void TestKomutWindow::setupSaveFails()
{
    const QString folder = m_dir->filePath(QStringLiteral("gone"));
    FakeSerialPort port;
    port.setPresent({4});
    KomutWindow window(QString(), folder, &port);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *list = child<QComboBox>(&window, "Combo1");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QString warning;
    whenModal([&warning](QWidget *box) {
        warning = box->findChild<QLabel *>("qt_msgbox_label")->text();
    });
    QTest::mouseClick(child<QPushButton>(&window, "Command1"), Qt::LeftButton);
    QVERIFY2(warning.contains(QStringLiteral("ayar.ini yazılamadı")), qPrintable(warning));
    QCOMPARE(window.status(), KomutWindow::NotSaved);
    window.close();
}

void TestKomutWindow::aboutFromSetup()
{
    FakeSerialPort port;
    KomutWindow window(QString(), m_dir->path(), &port);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QString name;
    bool onTop = false;
    QWidget *owner = &window;
    whenModal([&](QWidget *modal) {
        name = modal->objectName();
        onTop = modal->windowFlags() & Qt::WindowStaysOnTopHint;
        owner = modal->parentWidget();
    });
    QTest::mouseClick(child<QLabel>(&window, "Label2"), Qt::LeftButton);
    QCOMPARE(name, QStringLiteral("hakkinda"));
    QVERIFY(onTop);
    QCOMPARE(owner, nullptr);
    QVERIFY(window.isVisible());
}

QTEST_MAIN(TestKomutWindow)
#include "tst_komutwindow.moc"
