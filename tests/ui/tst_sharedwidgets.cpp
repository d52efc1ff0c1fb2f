// The widgets the windows share: the clickable label behind the panel's switch
// captions and the About window's links (its keys are the panel's keyboard test's).

#include "ui/sharedwidgets.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>

#include <algorithm>

using relo::ClickableLabel;

class TestSharedWidgets : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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
