#include "aboutwindow.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using relo::AboutWindow;

namespace {

const QColor Red(255, 0, 0);
const QColor Black(0, 0, 0);

// Receives what QDesktopServices hands to the desktop.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

// Records palette and font changes of the watched labels, in order.
class ChangeRecorder : public QObject
{
public:
    QStringList changes;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::PaletteChange)
            changes << watched->objectName() + QStringLiteral(" colour");
        else if (event->type() == QEvent::FontChange)
            changes << watched->objectName() + QStringLiteral(" font");
        return false;
    }
};

QLabel *label(QWidget *window, const QString &name)
{
    auto *found = window->findChild<QLabel *>(name);
    if (!found)
        qWarning("no label %s", qPrintable(name));
    return found;
}

QColor foreground(const QLabel *label)
{
    return label->palette().color(QPalette::WindowText);
}

// A point over `name` that no label covers when `name` is the frame.
void moveOver(QWidget *window, const QString &name)
{
    auto *widget = window->findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    const QPoint at =
        name == QLatin1String("Frame1") ? QPoint(widget->width() / 2, 68) : widget->rect().center();
    QTest::mouseMove(widget, at);
}

// Runs `inside` on the modal window as soon as it shows, then closes it.
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

class TestAboutWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void designState_data();
    void designState();
    void hover_data();
    void hover();
    void leaveOrder();
    void click_data();
    void click();
    void reopensInDesignState();
};

void TestAboutWindow::designState_data()
{
    QTest::addColumn<bool>("keepOnTop");
    QTest::newRow("command program") << true;
    QTest::newRow("panel") << false;
}

void TestAboutWindow::designState()
{
    QFETCH(bool, keepOnTop);
    AboutWindow window(keepOnTop);
    QCOMPARE(window.size(), QSize(252, 133));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    const Qt::WindowFlags flags = window.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(bool(flags & Qt::WindowStaysOnTopHint), keepOnTop);

    // The chip icon comes from relo_about's own resources.
    const QPixmap icon = label(&window, QStringLiteral("Image1"))->pixmap();
    QCOMPARE(icon.size(), QSize(32, 32));

    QCOMPARE(label(&window, QStringLiteral("Label3"))->text(),
             QStringLiteral("8 Kanal RELO  Kontrol"));
    const QColor linkStart = window.palette().color(QPalette::ButtonText);
    for (const char *name : {"Label9", "Label10"}) {
        const QLabel *link = label(&window, QLatin1String(name));
        QCOMPARE(foreground(link), linkStart);
        QVERIFY(!link->font().underline());
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    }
}

void TestAboutWindow::hover_data()
{
    QTest::addColumn<QStringList>("moves");
    QTest::addColumn<QColor>("mailColour"); // invalid: the start colour
    QTest::addColumn<bool>("mailUnderlined");
    QTest::addColumn<QColor>("webColour");
    QTest::addColumn<bool>("webUnderlined");

    const QColor start;
    QTest::newRow("mail") << QStringList{"Label9"} << Red << true << start << false;
    QTest::newRow("web") << QStringList{"Label10"} << start << false << Red << true;
    QTest::newRow("both") << QStringList{"Label9", "Label10"} << Red << true << Red << true;
    QTest::newRow("mail, frame") << QStringList{"Label9", "Frame1"} << Black << false << Black
                                 << false;
    QTest::newRow("frame alone") << QStringList{"Frame1"} << Black << false << Black << false;
    QTest::newRow("frame, web") << QStringList{"Label9", "Frame1", "Label10"} << Black << false
                                << Red << true;
    QTest::newRow("mail, author line")
        << QStringList{"Label9", "Label8"} << Red << true << start << false;
    QTest::newRow("web, date line")
        << QStringList{"Label10", "Label11"} << start << false << Red << true;
    QTest::newRow("web, heading") << QStringList{"Label10", "Label3"} << start << false << Red
                                  << true;
}

void TestAboutWindow::hover()
{
    QFETCH(QStringList, moves);
    QFETCH(QColor, mailColour);
    QFETCH(bool, mailUnderlined);
    QFETCH(QColor, webColour);
    QFETCH(bool, webUnderlined);

    AboutWindow window(false);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QColor start = window.palette().color(QPalette::ButtonText);
    for (const QString &name : moves)
        moveOver(&window, name);

    const QLabel *mail = label(&window, QStringLiteral("Label9"));
    const QLabel *web = label(&window, QStringLiteral("Label10"));
    QCOMPARE(foreground(mail), mailColour.isValid() ? mailColour : start);
    QCOMPARE(mail->font().underline(), mailUnderlined);
    QCOMPARE(foreground(web), webColour.isValid() ? webColour : start);
    QCOMPARE(web->font().underline(), webUnderlined);
}

void TestAboutWindow::leaveOrder()
{
    AboutWindow window(false);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    moveOver(&window, QStringLiteral("Label10"));
    moveOver(&window, QStringLiteral("Label9"));

    ChangeRecorder recorder;
    label(&window, QStringLiteral("Label9"))->installEventFilter(&recorder);
    label(&window, QStringLiteral("Label10"))->installEventFilter(&recorder);
    moveOver(&window, QStringLiteral("Frame1"));
    QCOMPARE(recorder.changes,
             (QStringList{"Label9 colour", "Label10 colour", "Label10 font", "Label9 font"}));
}

void TestAboutWindow::click_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QString>("url"); // empty: nothing opens

    QTest::newRow("mail") << "Label9" << Qt::LeftButton
                          << QStringLiteral("mailto:") + AboutWindow::mailAddress();
    QTest::newRow("web") << "Label10" << Qt::LeftButton
                         << QStringLiteral("http://") + AboutWindow::webHost();
    QTest::newRow("right button") << "Label9" << Qt::RightButton << QString();
    QTest::newRow("author line") << "Label8" << Qt::LeftButton << QString();
}

void TestAboutWindow::click()
{
    QFETCH(QString, name);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QString, url);

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    AboutWindow window(false);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(label(&window, name), button);
    QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));

    QCOMPARE(catcher.urls, url.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(url)});
    QVERIFY(window.isVisible());
}

void TestAboutWindow::reopensInDesignState()
{
    QPointer<QWidget> first;
    whenModal([&first](QWidget *modal) {
        first = modal;
        QCOMPARE(modal->objectName(), QStringLiteral("hakkinda"));
        QVERIFY(modal->windowFlags() & Qt::WindowStaysOnTopHint);
        moveOver(modal, QStringLiteral("Label9"));
        QVERIFY(label(modal, QStringLiteral("Label9"))->font().underline());
    });
    AboutWindow::showModal(true);
    QVERIFY(first.isNull()); // destroyed on closing

    QColor mailColour;
    bool underlined = true;
    bool onTop = true;
    whenModal([&](QWidget *modal) {
        mailColour = foreground(label(modal, QStringLiteral("Label9")));
        underlined = label(modal, QStringLiteral("Label9"))->font().underline();
        onTop = modal->windowFlags() & Qt::WindowStaysOnTopHint;
    });
    AboutWindow::showModal(false);
    QCOMPARE(mailColour, QApplication::palette().color(QPalette::ButtonText));
    QVERIFY(!underlined);
    QVERIFY(!onTop);
}

QTEST_MAIN(TestAboutWindow)
#include "tst_aboutwindow.moc"
