#pragma once

#include "link/frame.h"

#include <QList>
#include <QString>

namespace relo {

// One change of the channel mask: the channels whose bits are set in `channels`
// take the states of the same bits of `states`. A command such as 03-1 changes
// one channel; a whole mask changes all eight.
struct MaskChange
{
    Mask channels = 0;
    Mask states = 0;

    Mask appliedTo(Mask mask) const { return Mask((mask & ~channels) | (states & channels)); }
};

// A change waiting in the queue, under the name that orders it.
struct Ticket
{
    QString name;
    MaskChange change;
};

// The changes that go out together next: every change waiting now, in order,
// but none that shares a channel with an earlier waiting change (that one waits
// for the next batch, so each state of an on-off pulse reaches the wire).
QList<Ticket> nextBatch(const QList<Ticket> &waiting);

// `mask` with every change of `batch` applied in order.
Mask appliedTo(Mask mask, const QList<Ticket> &batch);

} // namespace relo
