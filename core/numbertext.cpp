#include "core/numbertext.h"

#include <cmath>
#include <limits>

namespace relo {

namespace {

// Blanks are the ASCII space and tab. Digits are ASCII only: full-width and other
// scripts' digits are not numbers here, whatever QChar::isDigit says.
bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isSign(QChar c)
{
    return c == u'+' || c == u'-';
}

qsizetype skipBlanks(QStringView text, qsizetype i)
{
    while (i < text.size() && isBlank(text[i]))
        ++i;
    return i;
}

} // namespace

// Numeric text is: blanks, an optional sign, then ASCII digits with at most one
// decimal point (at least one digit, on either side of the point), then blanks.
// Blanks may lead and trail, but may not stand between the sign and the digits
// or among the digits. So "03", " 3", "3 ", "+3", "-3", "3." and ".5" are numeric;
// "", "  ", ".", "+", "+.", "3a", "ab", "1 2" and full-width digits are not.
bool isNumericText(QStringView text)
{
    qsizetype i = skipBlanks(text, 0);
    if (i < text.size() && isSign(text[i]))
        ++i;
    bool digitSeen = false;
    bool pointSeen = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (isAsciiDigit(c))
            digitSeen = true;
        else if (c == u'.' && !pointSeen)
            pointSeen = true;
        else
            break;
    }
    return digitSeen && skipBlanks(text, i) == text.size();
}

double lenientNumber(QStringView text)
{
    qsizetype i = skipBlanks(text, 0);
    bool negative = false;
    if (i < text.size() && isSign(text[i])) {
        negative = text[i] == u'-';
        ++i;
    }
    // Collect the digits on either side of the point and let Qt's locale-free
    // conversion do the arithmetic, so that long inputs are rounded correctly.
    QByteArray whole;
    QByteArray fraction;
    bool pointSeen = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (isAsciiDigit(c))
            (pointSeen ? fraction : whole).append(char(c.unicode()));
        else if (c == u'.' && !pointSeen)
            pointSeen = true;
        else
            break;
    }
    if (whole.isEmpty() && fraction.isEmpty())
        return 0;
    const QByteArray number = (whole.isEmpty() ? QByteArray("0") : whole) + '.' +
                              (fraction.isEmpty() ? QByteArray("0") : fraction);
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok) // more digits than a double can hold
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    return negative ? -value : value;
}

int roundHalfEven(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double Lowest = std::numeric_limits<int>::min();
    constexpr double Highest = std::numeric_limits<int>::max();
    if (value <= Lowest)
        return std::numeric_limits<int>::min();
    if (value >= Highest)
        return std::numeric_limits<int>::max();
    const double below = std::floor(value);
    const double rest = value - below;
    double rounded = below;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(below, 2.0) != 0.0))
        rounded = below + 1;
    return static_cast<int>(rounded);
}

} // namespace relo
