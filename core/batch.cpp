#include "core/batch.h"

namespace relo {

QList<Ticket> nextBatch(const QList<Ticket> &waiting)
{
    QList<Ticket> batch;
    Mask taken = 0;
    for (const Ticket &ticket : waiting) {
        if (!(ticket.change.channels & taken))
            batch << ticket;
        taken |= ticket.change.channels;
    }
    return batch;
}

Mask appliedTo(Mask mask, const QList<Ticket> &batch)
{
    for (const Ticket &ticket : batch)
        mask = ticket.change.appliedTo(mask);
    return mask;
}

} // namespace relo
