// The widgets the windows share: the clickable label behind the panel's switch
// captions and the About window's links.

#include "ui/sharedwidgets.h"

#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>

class TestSharedWidgets : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keys_data();
    void keys();
    void disabledLabelKeepsItsColour();
};

void TestSharedWidgets::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("clicks"); // of a press and four auto-repeats
    QTest::newRow("Space") << int(Qt::Key_Space) << 0 << 1;
    QTest::newRow("Enter") << int(Qt::Key_Return) << 0 << 1;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << 1;
    QTest::newRow("Ctrl+Space") << int(Qt::Key_Space) << int(Qt::ControlModifier) << 0;
    QTest::newRow("a letter") << int(Qt::Key_A) << 0 << 0;
}

// A key held down is one click, however long it repeats.
void TestSharedWidgets::keys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, clicks);
    relo::ClickableLabel label(QStringLiteral("3 - (0)"));
    QSignalSpy clicked(&label, &relo::ClickableLabel::clicked);
    for (int i = 0; i < 5; ++i) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), QString(), i > 0);
        QApplication::sendEvent(&label, &press);
    }
    QCOMPARE(clicked.size(), clicks);
}

// A clickable label in a disabled area (the panel's captions and "Hakkında" while
// idle) is drawn in its own colour, as before it could take the focus.
void TestSharedWidgets::disabledLabelKeepsItsColour()
{
    QWidget area;
    auto *label = new relo::ClickableLabel(QStringLiteral("Hakkında"), &area);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Qt::blue);
    label->setPalette(pal);
    area.setEnabled(false);
    const QImage image = label->grab().toImage();
    bool blue = false;
    for (int y = 0; y < image.height() && !blue; ++y)
        for (int x = 0; x < image.width() && !blue; ++x)
            blue = image.pixelColor(x, y) == QColor(Qt::blue);
    QVERIFY(blue);
}

QTEST_MAIN(TestSharedWidgets)
#include "tst_sharedwidgets.moc"
