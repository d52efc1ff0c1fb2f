// libFuzzer target: any command text against any loaded mask. applyCommand must
// never crash, and an accepted command must change at most its own channel's bit.
#include "core/commandgrammar.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const relo::Mask loaded = data[0];
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1),
                                           static_cast<qsizetype>(size - 1));
    const relo::CommandResult result = relo::applyCommand(text, loaded);
    if (!result.accepted)
        return 0;
    if (text.size() != 4 || result.channel < 1 || result.channel > 8 || result.state < 0 ||
        result.state > 1)
        std::abort();
    const relo::Mask bit = relo::channelBit(result.channel);
    if (result.newMask != ((loaded & ~bit) | (result.state == 1 ? bit : 0)))
        std::abort();
    return 0;
}
