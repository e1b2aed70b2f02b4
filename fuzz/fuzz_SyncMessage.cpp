#include "api/SyncMessage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Any text either fails as a whole or decodes; a decoded message prints on one
// line whatever its strings hold.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<kernwell::SyncMessage> message = kernwell::SyncMessage::decode(text);
    if (!message) {
        return 0;
    }
    for (const QChar c : message->description()) {
        if (c.unicode() < 0x20) {
            std::fprintf(stderr, "description holds control character %u\n", c.unicode());
            std::abort();
        }
    }
    return 0;
}
