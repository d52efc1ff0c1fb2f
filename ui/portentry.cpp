#include "ui/portentry.h"

#include "core/numbertext.h"
#include "core/porterror.h"

#include <QComboBox>

#include <cmath>
#include <limits>

namespace relo {

void fillPortList(QComboBox *list, const QList<int> &portNumbers)
{
    list->clear();
    for (const int n : portNumbers)
        list->addItem(portName(n));
}

int portFromEntry(const QString &entry)
{
    // Blanks, an optional sign, then ASCII digits with at most one decimal point,
    // as a stored number is read; no digit at all reads as 0, and so does a value
    // no int can hold.
    const double value = std::floor(lenientNumber(QStringView(entry).mid(6)));
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return 0;
    return int(value);
}

} // namespace relo
