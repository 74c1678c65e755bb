// The TDS test server's tokenizer and parser on any text: a statement list or EngineError (the
// syntax error the client sees), never anything else.
#include "engine/Parser.h"
#include "engine/Types.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks the quoted_identifier setting; the rest is the batch.
    const bool quotedIdentifier = (data[0] & 1) != 0;
    const std::string_view sql(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        (void)asetest::Tokenize(sql, quotedIdentifier);
    } catch (const asetest::EngineError&) {
    }
    try {
        (void)asetest::ParseBatch(sql, quotedIdentifier);
    } catch (const asetest::EngineError&) {
    }
    return 0;
}
