#include "support/modal.h"
#include "ui/aboutwindow.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QTest>

#include <array>

using relo::AboutWindow;

namespace {

// The links' colour at opening; set apart from black and red so every look differs.
const QColor StartColour(0, 128, 0);

// Receives what QDesktopServices hands to the desktop.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

QLabel *label(QWidget *window, const char *name)
{
    return window->findChild<QLabel *>(QLatin1String(name));
}

// "start", "red", "black" or another colour's name, then " underlined" if so.
QString look(QWidget *window, const char *name)
{
    const QLabel *link = label(window, name);
    const QColor colour = link->palette().color(QPalette::WindowText);
    const QString text = colour == StartColour ? QStringLiteral("start")
                         : colour == Qt::red   ? QStringLiteral("red")
                         : colour == Qt::black ? QStringLiteral("black")
                                               : colour.name();
    return link->font().underline() ? text + QStringLiteral(" underlined") : text;
}

} // namespace

class TestAboutWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void opening_data()
    {
        QTest::addColumn<bool>("keepOnTop");
        QTest::newRow("command program") << true;
        QTest::newRow("panel") << false;
    }

    void opening()
    {
        QFETCH(bool, keepOnTop);
        QPalette palette = QApplication::palette();
        palette.setColor(QPalette::ButtonText, StartColour);
        QApplication::setPalette(palette);
        UrlCatcher catcher;
        for (const char *scheme : {"mailto", "http"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), &catcher, "open");
        // The first opening: the pointer moves over one control after the other (Frame1:
        // a point of the frame that no label covers), then the links are clicked; then
        // Enter on the focused link and Tab, twice, and Escape closes.
        const QList<std::array<const char *, 3>> moves = {
            // over, then the look of the mail link and of the web link
            {"Label9", "red underlined", "start"},
            {"Label10", "red underlined", "red underlined"}, // one never resets the other
            {"Label8", "red underlined", "red underlined"},  // another label is no frame
            {"Frame1", "black", "black"},
            {"Label10", "black", "red underlined"}};
        whenModal([&moves](QWidget *about) {
            QTest::mouseMove(about, QPoint(1, 1)); // Qt drops a move that goes nowhere
            for (const auto &[name, mail, web] : moves) {
                auto *over = about->findChild<QWidget *>(QLatin1String(name));
                QTest::mouseMove(over, over->objectName() == "Frame1"
                                           ? QPoint(over->width() / 2, 68)
                                           : over->rect().center());
                QCOMPARE(look(about, "Label9") + " / " + look(about, "Label10"),
                         QLatin1String(mail) + " / " + QLatin1String(web));
            }
            QTest::mouseClick(label(about, "Label9"), Qt::RightButton); // opens nothing
            QTest::mouseClick(label(about, "Label9"), Qt::LeftButton);
            QTest::mouseClick(label(about, "Label10"), Qt::LeftButton);
            // The rest of a double-click on it: no second opening.
            QTest::mouseDClick(label(about, "Label10"), Qt::LeftButton);
            QTest::mouseRelease(label(about, "Label10"), Qt::LeftButton);
            // Shown is not yet active: on a busy machine the focus may come later.
            QTRY_VERIFY(QApplication::focusWidget());
            QStringList focused;
            for (int i = 0; i < 2; ++i) {
                focused << QApplication::focusWidget()->objectName();
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            }
            QCOMPARE(focused, (QStringList{"Label9", "Label10"}));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            QVERIFY(!about->isVisible());
        });
        AboutWindow::showModal(keepOnTop);
        for (const char *scheme : {"mailto", "http"})
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
        const QUrl mail("mailto:" + AboutWindow::mailAddress()),
            web("http://" + AboutWindow::webHost());
        QCOMPARE(catcher.urls, (QList<QUrl>{mail, web, mail, web}));

        // The second opening is a new window in its design state.
        bool seen = false;
        whenModal([&seen, keepOnTop](QWidget *about) {
            seen = about->objectName() == QLatin1String("hakkinda");
            QCOMPARE(about->windowTitle(), QStringLiteral("Hakkında"));
            QCOMPARE(bool(about->windowFlags() & Qt::WindowStaysOnTopHint), keepOnTop);
            QCOMPARE(look(about, "Label9") + look(about, "Label10"), QStringLiteral("startstart"));
        });
        AboutWindow::showModal(keepOnTop);
        QVERIFY(seen);
    }
};

QTEST_MAIN(TestAboutWindow)
#include "tst_aboutwindow.moc"
