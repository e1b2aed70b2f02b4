#include "api/QueryResult.h"
#include "diagnostics/Error.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Any body either decodes or throws the decoding error with a description;
// nothing else may escape.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const kernwell::QueryResult result = kernwell::QueryResult::decode(body);
        qsizetype fonts = 0;
        for (const auto& node : result.data.styles.nodes) {
            fonts += node.fonts.nodes.size();
        }
        if (result.flattened().size() != fonts) {
            std::fprintf(stderr, "flattening lost fonts\n");
            std::abort();
        }
    } catch (const kernwell::Error& error) {
        if (error.domain() != QLatin1String(kernwell::QueryResult::errorDomain) || error.description().isEmpty()) {
            std::fprintf(stderr, "unexpected error: %s\n", error.what());
            std::abort();
        }
    }
    return 0;
}
