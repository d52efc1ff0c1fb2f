// The RELOKomut window in this process, against the recording fake port: what a
// run of the built program cannot see (port calls and RTS, widgets, layout).

#include "command/komutwindow.h"
#include "core/settingsfile.h"
#include "support/fakeserialport.h"
#include "support/modal.h"
#include "support/programs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using relo::ExitStatus;
using relo::KomutWindow;

namespace {

template <typename T = QWidget> T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

// Keeps the platform's activation from reaching the window, as focus stealing
// prevention does.
class ActivationSwallower : public QObject
{
public:
    int swallowed = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        return event->type() == QEvent::WindowActivate && event->spontaneous() && ++swallowed;
    }
};

} // namespace

class TestKomutWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void run_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("then"); // after the first frame
        QTest::addColumn<QString>("label");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<int>("status");

        const QString off8 = QStringLiteral("Çıkış-8 Kapandı"); // the widest status
        const QStringList frame{"send 18"};
        const QStringList start = QStringList{"open 3", "rts 1"} + frame;
        // The last frame leaves the line whole: drained before RTS drops and the port closes.
        const QStringList release{"drain", "rts 0", "close"};
        const QStringList four = start + frame + frame + frame;
        const auto row = [](const char *name, const char *command, const char *then,
                            const QString &label, const QStringList &calls, int status) {
            QTest::newRow(name) << command << then << label << calls << status;
        };
        row("sent", "08-0", "", off8, four + release, 0);
        row("activated again", "08-0", "deactivate", off8, four + frame + release, 0);
        // The activation that follows showing is part of it: nothing is applied twice.
        row("activated once shown", "08-0", "activate", off8, four + release, 0);
        // A status a little narrower than its frame would touch the border: a smaller font.
        row("narrow frame", "08-0", "narrow", off8, four + release, 0);
        // Closes by itself, or at once on Escape, Enter or a click.
        for (const char *then : {"", "Escape", "Enter", "click"})
            row(qPrintable(QStringLiteral("rejected %1").arg(then).trimmed()), "08-x", then,
                "Hatalı komut", {}, 2);
        row("adapter pulled", "08-0", "unplug", "Port Hatası", start + QStringList{"send failed"},
            1);
        row("window closed", "08-0", "close", off8, start + release, 1);
    }

    void run()
    {
        QFETCH(QString, command);
        QFETCH(QString, then);
        QFETCH(QString, label);
        QFETCH(QStringList, calls);
        QFETCH(int, status);

        QTemporaryDir folder;
        QVERIFY(writeFile(relo::settingsPath(folder.path()), savedSettings(3, 129)));
        FakeSerialPort port;
        port.setPresent({3});
        KomutWindow window(command, folder.path(), &port);
        auto *frame = child(&window, "Frame2");
        const auto *shown = child<QLabel>(&window, "Label1");
        if (then == "narrow") {
            QLabel natural(label);
            natural.setFont(shown->font());
            frame->resize(natural.sizeHint().width() + 4, frame->height());
        }
        // The command is applied when the window shows, activated or not.
        ActivationSwallower swallower;
        window.installEventFilter(&swallower);
        window.show();
        if (status == int(ExitStatus::Rejected)) {
            auto *timer = child<QTimer>(&window, "Timer2");
            QVERIFY(window.isVisible() && timer->isActive());
            if (then.isEmpty())
                timer->start(10); // sooner, as three seconds would be
            else if (then == "click")
                QTest::mouseClick(child(&window, "Label1"), Qt::LeftButton);
            else
                QTest::keyClick(&window, then == "Escape" ? Qt::Key_Escape : Qt::Key_Return);
            QVERIFY(then.isEmpty() || !window.isVisible());
        } else if (!then.isEmpty() && then != "narrow") {
            QTRY_COMPARE(port.writes().size(), 1);
            // Activated again: applied again from the mask loaded at start, whatever
            // the file says now, and the count of four starts again.
            QEvent deactivate(QEvent::WindowDeactivate);
            QEvent activate(QEvent::WindowActivate);
            if (then == "unplug")
                port.unplug();
            else if (then == "close")
                window.close();
            else if (relo::writeSetting(folder.path(), relo::PortDataKey, QStringLiteral("99"))) {
                if (then == "deactivate")
                    QApplication::sendEvent(&window, &deactivate);
                QApplication::sendEvent(&window, &activate);
            }
        }
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
        QVERIFY(status == int(ExitStatus::Rejected) || swallower.swallowed > 0);
        QCOMPARE(port.calls(), calls);
        QVERIFY(!port.rts() && !child<QTimer>(&window, "Timer1")->isActive());
        QCOMPARE(int(window.status()), status);
        // Not applied again: the value written behind its back stays.
        QCOMPARE(relo::readSetting(folder.path(), relo::PortDataKey),
                 QString(status == 2          ? "129"
                         : then == "activate" ? "99"
                                              : "1"));
        // The status label is sized to its text and shows whole inside its frame, clear
        // of its border.
        QCOMPARE(shown->text(), label);
        QVERIFY(frame->rect().adjusted(4, 0, -4, 0).contains(shown->geometry()));
        QCOMPARE(shown->width(), shown->sizeHint().width());
    }

    void setup_data()
    {
        QTest::addColumn<QByteArray>("saved"); // PortNumber; null: no ayar.ini; "gone": no folder
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QByteArray>("after"); // ayar.ini once "Kaydet" is pressed
        // "Kaydet" clicked, or Enter or Return wherever the focus is: on the list or on "Kaydet".
        QTest::addColumn<QString>("press");
        const QByteArray cleared = savedSettings(10, 0);
        QTest::newRow("fresh folder")
            << QByteArray() << QString() << "Com - 10" << cleared << "click";
        // The port in use keeps its outputs (PortData=9); a new one starts with all off.
        QTest::newRow("same port") << QByteArray("5.9") << "Com - 5"
                                   << "Com - 5" << savedSettings(5, 9) << "Enter on the list";
        QTest::newRow("no port named") << QByteArray("0") << QString() << "Com - 1"
                                       << savedSettings(1, 9) << "Return on Kaydet";
        QTest::newRow("not listed")
            << QByteArray("3") << QString() << "Com - 10" << cleared << "Return on the list";
        QTest::newRow("folder gone")
            << QByteArray("gone") << QString() << "Com - 10" << QByteArray() << "click";
    }

    void setup()
    {
        QFETCH(QByteArray, saved);
        QFETCH(QString, selected);
        QFETCH(QString, chosen);
        QFETCH(QByteArray, after);
        QFETCH(QString, press);
        const bool gone = saved == "gone";
        QTemporaryDir temp;
        const QString folder = gone ? temp.filePath("gone") : temp.path();
        const QString path = relo::settingsPath(folder);
        const QByteArray before = saved.isNull() || gone
                                      ? QByteArray()
                                      : "[RELO]\nPortNumber=" + saved + "\nPortData=9\n";
        QVERIFY(before.isNull() || writeFile(path, before));
        FakeSerialPort port;
        port.setPresent({1, 2, 5, 10});
        KomutWindow window(QString(), folder, &port);
        window.show();
        auto *list = child<QComboBox>(&window, "Combo1");
        auto *save = child<QPushButton>(&window, "Command1");
        QCOMPARE(list->currentText(), selected);
        QVERIFY(!save->isEnabled());
        const auto pressSave = [&] {
            if (press == "click")
                return QTest::mouseClick(save, Qt::LeftButton);
            QTest::keyClick(press.endsWith("Kaydet") ? static_cast<QWidget *>(save) : list,
                            press.startsWith("Enter") ? Qt::Key_Enter : Qt::Key_Return);
        };
        pressSave(); // nothing chosen yet: nothing to save
        QCOMPARE(readFile(path), before);

        // Chosen in the open list, as a person does: the entry shown already too.
        const auto choose = [list](const QString &entry) {
            list->showPopup();
            list->view()->setCurrentIndex(list->model()->index(list->findText(entry), 0));
            QTest::keyClick(list->view(), Qt::Key_Return);
        };
        choose(chosen);
        QStringList warning;
        if (gone)
            whenModal([&warning](QWidget *box) { warning = boxContents(box); });
        pressSave();
        QCOMPARE(readFile(path), after);
        QVERIFY2(!gone || (warning.value(0) == "RELOKomut" &&
                           warning.value(1).startsWith("ayar.ini yazılamadı") &&
                           warning.mid(2) == QStringList{"*Tamam"}),
                 qPrintable(warning.join(u'|')));
        QCOMPARE(window.status(), gone ? ExitStatus::NotSaved : ExitStatus::Done);
        QVERIFY(window.isVisible());
        // Saved: disabled until another entry is chosen. Not saved: it may be tried again.
        QCOMPARE(save->isEnabled(), gone);
        choose(chosen);
        QCOMPARE(save->isEnabled(), gone);
        choose("Com - 2");
        QVERIFY(save->isEnabled());

        QString about;
        whenModal([&about](QWidget *modal) {
            if (modal->windowFlags() & Qt::WindowStaysOnTopHint)
                about = modal->objectName();
        });
        QTest::mouseClick(child(&window, "Label2"), Qt::LeftButton);
        QCOMPARE(about, QStringLiteral("hakkinda"));
    }
};

QTEST_MAIN(TestKomutWindow)
#include "tst_komutwindow.moc"
