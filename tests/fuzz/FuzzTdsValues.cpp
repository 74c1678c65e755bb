// Decodes any bytes as a value of any TDS 5.0 column type, the way the Sybase ASE backend does
// with what FreeTDS hands out: a value, or DatabaseError for one that is too short, never a read
// past the buffer or any other failure. A decimal comes out in plain notation.
#include "FuzzInput.h"
#include "connect/access/DatabaseError.h"
#include "connect/freetds/TdsValues.h"

#include <memory>

namespace {

bool IsPlainDecimal(const std::string& text) {
    std::size_t i = text.empty() || text[0] != '-' ? 0 : 1;
    const std::size_t digitsFrom = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    if (i == digitsFrom)
        return false;
    if (i == text.size())
        return true;
    if (text[i] != '.' || ++i == text.size())
        return false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    return i == text.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace veltrane;
    veltrane::fuzz::FuzzInput in(data, size);
    tds::ColumnType column;
    column.wireType = in.Byte();
    column.userType = in.Byte();
    column.size = static_cast<int>(in.Number(4));
    const bool isNull = in.Byte() == 0xFF;
    const std::string bytes = in.Rest();
    // An exact-size copy, so that reading one byte too far is caught.
    const auto buffer = std::make_unique<unsigned char[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), buffer.get());

    (void)tds::AdoTypeOf(column);
    try {
        const DbValue value = tds::DecodeValue(column, isNull ? nullptr : buffer.get(),
                                               static_cast<std::int64_t>(bytes.size()));
        const std::string text = value.ToText();
        if (value.GetKind() == DbValue::Kind::Decimal && !IsPlainDecimal(text))
            fuzz::Fail("a decimal not in plain notation", text);
    } catch (const DatabaseError&) {
    }
    return 0;
}
