#pragma once

#include <QString>

class QComboBox;

namespace relo {

// The port lists of the windows: one entry "Com - n" per port that opens, read
// back from the entry's text.

// Replaces the entries of `list` with those of `portNumbers`, in order.
void fillPortList(QComboBox *list, const QList<int> &portNumbers);

// The port number of a list entry: the text from its seventh character on, read
// as a whole number rounded down; 0 when nothing numeric is there.
int portFromEntry(const QString &entry);

} // namespace relo
