#include "connect/access/SqlText.h"

#include <cstring>

namespace veltrane {
namespace {

// Doubles every `c` in out[from, end). The runs between them move once each, from the back,
// found and copied by the C library's vectorised memchr, memrchr and memmove: a long value with a
// quote near its start costs little more than copying it once.
void DoubleEach(std::string& out, std::size_t from, char c) {
    const std::size_t oldSize = out.size();
    const auto next = [&out, oldSize, c](std::size_t at) {
        const void* hit = std::memchr(out.data() + at, c, oldSize - at);
        return hit == nullptr
                   ? oldSize
                   : static_cast<std::size_t>(static_cast<const char*>(hit) - out.data());
    };
    const std::size_t first = next(from);
    std::size_t count = 0;
    for (std::size_t at = first; at < oldSize; at = next(at + 1))
        ++count;
    if (count == 0)
        return;
    out.resize(oldSize + count);
    char* data = out.data();
    std::size_t read = oldSize;
    std::size_t write = out.size();
    for (; count > 0; --count) {
        const auto at = static_cast<std::size_t>(
            static_cast<const char*>(memrchr(data + first, c, read - first)) - data);
        const std::size_t run = read - at - 1;
        write -= run;
        std::memmove(data + write, data + at + 1, run);
        data[--write] = c;
        data[--write] = c;
        read = at;
    }
}

// The closing delimiter is the only character that can end a delimited name early.
void AppendDelimited(std::string& out, std::string_view name, char open, char close) {
    out.push_back(open);
    const std::size_t from = out.size();
    out.append(name);
    DoubleEach(out, from, close);
    out.push_back(close);
}

} // namespace

void AppendMySQLIdentifier(std::string& out, std::string_view name) {
    AppendDelimited(out, name, '`', '`');
}

std::string QuoteMySQLIdentifier(std::string_view name) {
    std::string out;
    AppendMySQLIdentifier(out, name);
    return out;
}

void AppendSybaseIdentifier(std::string& out, std::string_view name) {
    AppendDelimited(out, name, '[', ']');
}

std::string QuoteSybaseIdentifier(std::string_view name) {
    std::string out;
    AppendSybaseIdentifier(out, name);
    return out;
}

std::string QuoteSybaseTableName(std::string_view owner, std::string_view table) {
    std::string out;
    if (!owner.empty()) {
        AppendSybaseIdentifier(out, owner);
        out.push_back('.');
    }
    AppendSybaseIdentifier(out, table);
    return out;
}

void AppendTargetIdentifier(std::string& out, ServerKind target, std::string_view name) {
    if (target == ServerKind::SybaseASE) {
        AppendSybaseIdentifier(out, name);
    } else {
        AppendMySQLIdentifier(out, name);
    }
}

std::string QuoteTargetIdentifier(ServerKind target, std::string_view name) {
    std::string out;
    AppendTargetIdentifier(out, target, name);
    return out;
}

void DoubleSingleQuotes(std::string& out, std::size_t from) {
    DoubleEach(out, from, '\'');
}

bool SplitSybaseLineContinuations(std::string& out, std::size_t from) {
    const auto isBreak = [](char c) { return c == '\n' || c == '\r'; };
    std::size_t count = 0;
    for (std::size_t i = out.find('\\', from); i != std::string::npos && i + 1 < out.size();
         i = out.find('\\', i + 1)) {
        if (isBreak(out[i + 1]))
            ++count;
    }
    if (count == 0)
        return false;
    static constexpr std::string_view kJoin = "' + '";
    std::string body;
    body.reserve(out.size() - from + count * kJoin.size());
    for (std::size_t i = from; i < out.size(); ++i) {
        body.push_back(out[i]);
        if (out[i] == '\\' && i + 1 < out.size() && isBreak(out[i + 1]))
            body.append(kJoin);
    }
    out.resize(from);
    out.append(body);
    return true;
}

void AppendTextLiteral(std::string& out, std::string_view text) {
    out.push_back('\'');
    const std::size_t from = out.size();
    out.append(text);
    DoubleSingleQuotes(out, from);
    out.push_back('\'');
}

} // namespace veltrane
