// The widgets the windows share: the clickable label behind the panel's switch
// captions and the About window's links.

#include "ui/sharedwidgets.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

using relo::ClickableLabel;

class TestSharedWidgets : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keys_data()
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
    void keys()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, clicks);
        ClickableLabel label(QStringLiteral("3 - (0)"));
        QSignalSpy clicked(&label, &ClickableLabel::clicked);
        for (int i = 0; i < 5; ++i) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), {}, i > 0);
            QApplication::sendEvent(&label, &press);
        }
        QCOMPARE(clicked.size(), clicks);
    }

    // Read out as a link named by its text; in a disabled area (the panel's captions
    // and "Hakkında" while idle) drawn in its own colour, as before it took the focus.
    void disabledLink()
    {
        QWidget area;
        auto *label = new ClickableLabel(QStringLiteral("Hakkında"), &area);
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(label);
        QCOMPARE(face->role(), QAccessible::Link);
        QCOMPARE(face->text(QAccessible::Name), QStringLiteral("Hakkında"));
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, Qt::blue);
        label->setPalette(pal);
        area.setEnabled(false);
        const QImage image = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto *pixels = reinterpret_cast<const QRgb *>(image.constBits());
        QVERIFY(std::count(pixels, pixels + image.sizeInBytes() / 4, qRgb(0, 0, 255)) > 0);
    }
};

QTEST_MAIN(TestSharedWidgets)
#include "tst_sharedwidgets.moc"
