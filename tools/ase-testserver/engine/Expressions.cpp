// Expressions and conditions over one row.
#include "Executor.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <limits>

namespace asetest {

// LIKE with %, _ and [set] / [^set], case-sensitive as the binary sort order.
bool LikeMatch(std::string_view s, std::string_view p) {
    std::size_t si = 0;
    std::size_t pi = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starS = 0;
    auto matchOne = [&](std::size_t& pj, char c) -> bool {
        const char pc = p[pj];
        if (pc == '_') {
            ++pj;
            return true;
        }
        if (pc == '[') {
            const std::size_t close = p.find(']', pj + 1);
            if (close != std::string_view::npos) {
                std::string_view set = p.substr(pj + 1, close - pj - 1);
                bool negate = !set.empty() && set[0] == '^';
                if (negate) {
                    set.remove_prefix(1);
                }
                bool found = false;
                for (std::size_t k = 0; k < set.size(); ++k) {
                    if (k + 2 < set.size() && set[k + 1] == '-') {
                        if (c >= set[k] && c <= set[k + 2]) {
                            found = true;
                        }
                        k += 2;
                    } else if (set[k] == c) {
                        found = true;
                    }
                }
                pj = close + 1;
                return found != negate;
            }
        }
        ++pj;
        return pc == c;
    };
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == '%') {
            starP = pi++;
            starS = si;
            continue;
        }
        std::size_t pj = pi;
        if (pi < p.size() && matchOne(pj, s[si])) {
            pi = pj;
            ++si;
            continue;
        }
        if (starP != std::string_view::npos) {
            pi = starP + 1;
            si = ++starS;
            continue;
        }
        return false;
    }
    while (pi < p.size() && p[pi] == '%') {
        ++pi;
    }
    return pi == p.size();
}

bool ContainsCount(const Expr& e) {
    if (e.kind == ExprKind::CountStar) {
        return true;
    }
    for (const auto& a : e.args) {
        if (a && ContainsCount(*a)) {
            return true;
        }
    }
    return false;
}

namespace {

Tri Not(Tri t) {
    return t == Tri::Unknown ? Tri::Unknown : (t == Tri::True ? Tri::False : Tri::True);
}

int IntegerRank(AseType t) {
    switch (t) {
    case AseType::Bit:
    case AseType::TinyInt:
        return 1;
    case AseType::SmallInt:
        return 2;
    case AseType::USmallInt:
        return 3;
    case AseType::Int:
        return 4;
    case AseType::UInt:
        return 5;
    case AseType::BigInt:
        return 6;
    default:
        return 7;
    }
}

int IntegerDigits(AseType t) {
    switch (t) {
    case AseType::Bit:
        return 1;
    case AseType::TinyInt:
        return 3;
    case AseType::SmallInt:
    case AseType::USmallInt:
        return 5;
    case AseType::Int:
    case AseType::UInt:
        return 10;
    case AseType::BigInt:
        return 19;
    default:
        return 20;
    }
}

[[noreturn]] void ArithmeticOverflow() {
    throw EngineError(3606, 16, "Arithmetic overflow occurred.");
}

[[noreturn]] void DivideByZero() {
    throw EngineError(3607, 16, "Divide by zero occurred.");
}

std::string VersionText() {
    return "Adaptive Server Enterprise/16.0 SP03 PL06/EBF 0000 SMP/P/x86_64/ase-testserver";
}

} // namespace

// Expressions ---------------------------------------------------------------------------------

Datum SessionImpl::EvalColumn(const Expr& e, const RowContext& ctx) {
    const std::string& name = e.parts.back();
    if (ctx.constantsOnly) {
        throw EngineError(128, 15,
                          "The name '" + name +
                              "' is illegal in this context. Only constants, constant "
                              "expressions, or variables allowed here. Column names are "
                              "illegal.");
    }
    if (!ctx.set || !ctx.row || ctx.set->columns.empty()) {
        throw EngineError(207, 16, "Invalid column name '" + name + "'.");
    }
    if (e.parts.size() >= 2) {
        const std::string& qualifier = e.parts[e.parts.size() - 2];
        if (qualifier != ctx.set->tableName && qualifier != ctx.set->alias) {
            throw EngineError(107, 16,
                              "The column prefix '" + qualifier +
                                  "' does not match with a table name or alias name used in the "
                                  "query.");
        }
    }
    for (std::size_t i = 0; i < ctx.set->columns.size(); ++i) {
        if (ctx.set->columns[i].name == name) {
            return Datum{ctx.set->columns[i].type, (*ctx.row)[i]};
        }
    }
    throw EngineError(207, 16, "Invalid column name '" + name + "'.");
}

Datum SessionImpl::EvalGlobal(const Expr& e) {
    const std::string& n = e.name;
    if (n == "spid") {
        return IntDatum(spid_);
    }
    if (n == "version") {
        return StringDatum(VersionText());
    }
    if (n == "textsize") {
        return IntDatum(textSize_);
    }
    if (n == "servername") {
        return StringDatum(engine_.ServerName());
    }
    if (n == "rowcount") {
        return IntDatum(lastRowCount_);
    }
    if (n == "error") {
        return IntDatum(lastError_);
    }
    if (n == "trancount") {
        return IntDatum(tranCount_);
    }
    if (n == "ncharsize") {
        return IntDatum(3);
    }
    if (n == "unicharsize") {
        return IntDatum(2);
    }
    if (n == "maxcharlen") {
        return IntDatum(4);
    }
    throw EngineError(137, 15, "Must declare variable '" + e.text + "'.");
}

Datum SessionImpl::EvalArithmetic(const std::string& op, const Datum& a, const Datum& b) {
    const AseType ta = a.type.type;
    const AseType tb = b.type.type;
    const bool nullable = a.type.nullable || b.type.nullable;
    const bool anyNull = a.value.isNull || b.value.isNull;
    Datum r;
    r.type.nullable = nullable;
    r.value.isNull = anyNull;

    if (IsStringType(ta) && IsStringType(tb) && op == "+") {
        // Text cannot be concatenated, and a literal over 16384 bytes is text.
        for (const Datum* operand : {&a, &b}) {
            if (IsLargeType(operand->type.type) || operand->type.length > kMaxExpressionBytes) {
                throw EngineError(
                    403, 16,
                    "Invalid operator for datatype op: + type: " +
                        TypeName(IsUniType(operand->type.type) ? AseType::UniText : AseType::Text) +
                        ".");
            }
        }
        const bool uni = IsUniType(ta) || IsUniType(tb);
        r.type.type = uni ? AseType::UniVarChar : AseType::VarChar;
        r.type.length = std::min(kMaxExpressionBytes, a.type.length + b.type.length);
        if (!sqlNull_) {
            // ASE concatenates NULL as an empty string unless `set sqlnull on`.
            r.type.nullable = a.type.nullable && b.type.nullable;
            r.value.isNull = a.value.isNull && b.value.isNull;
        }
        if (!r.value.isNull) {
            // Cut without an error, as ASE does with every longer string result (unicode
            // types count two bytes a UTF-16 unit).
            const std::string joined = a.value.bytes + b.value.bytes;
            r.value.bytes = uni ? CutUtf16Units(joined, kMaxExpressionBytes / 2)
                                : CutUtf8Bytes(joined, kMaxExpressionBytes);
        }
        return r;
    }
    if (IsBinaryType(ta) && IsBinaryType(tb) && op == "+") {
        r.type.type = AseType::VarBinary;
        r.type.length = std::min(kMaxExpressionBytes, a.type.length + b.type.length);
        if (!anyNull) {
            r.value.bytes = (a.value.bytes + b.value.bytes).substr(0, kMaxExpressionBytes);
        }
        return r;
    }
    if (!IsNumberType(ta) || !IsNumberType(tb)) {
        if (IsStringType(ta) && IsNumberType(tb)) {
            ConvertDatum(a, ColumnType{tb}, false);
        }
        if (IsNumberType(ta) && IsStringType(tb)) {
            ConvertDatum(b, ColumnType{ta}, false);
        }
        throw EngineError(403, 16,
                          "Invalid operator for datatype op: " + op +
                              " type: " + TypeName(IsNumberType(ta) ? tb : ta) + ".");
    }
    if (IsApproxType(ta) || IsApproxType(tb)) {
        r.type.type = (ta == AseType::Real && tb == AseType::Real) ? AseType::Real : AseType::Float;
        if (anyNull) {
            return r;
        }
        const double x = ConvertDatum(a, ColumnType{AseType::Float}, false).value.real;
        const double y = ConvertDatum(b, ColumnType{AseType::Float}, false).value.real;
        double v = 0;
        if (op == "+") {
            v = x + y;
        } else if (op == "-") {
            v = x - y;
        } else if (op == "*") {
            v = x * y;
        } else if (op == "/") {
            if (y == 0) {
                DivideByZero();
            }
            v = x / y;
        } else {
            throw EngineError(403, 16, "Invalid operator for datatype op: % type: FLOAT.");
        }
        r.value.real = r.type.type == AseType::Real ? static_cast<float>(v) : v;
        return r;
    }
    // Exact arithmetic over scaled 128-bit integers.
    auto exact = [](const Datum& d, int& scale, int& precision) -> Int128 {
        const AseType t = d.type.type;
        if (IsDecimalType(t)) {
            scale = d.type.scale;
            precision = d.type.precision;
            return d.value.unscaled;
        }
        if (IsMoneyType(t)) {
            scale = 4;
            precision = 19;
            return d.value.integer;
        }
        scale = 0;
        precision = IntegerDigits(t);
        return IsUnsignedType(t) ? static_cast<Int128>(d.value.unsignedInteger)
                                 : static_cast<Int128>(d.value.integer);
    };
    int s1 = 0;
    int p1 = 0;
    int s2 = 0;
    int p2 = 0;
    const Int128 x = anyNull ? 0 : exact(a, s1, p1);
    const Int128 y = anyNull ? 0 : exact(b, s2, p2);
    if (anyNull) {
        exact(a, s1, p1);
        exact(b, s2, p2);
    }
    const bool money = IsMoneyType(ta) || IsMoneyType(tb);
    const bool decimal = IsDecimalType(ta) || IsDecimalType(tb);
    int scale = 0;
    if (money) {
        r.type.type = (ta == AseType::SmallMoney && tb == AseType::SmallMoney) ? AseType::SmallMoney
                                                                               : AseType::Money;
        scale = 4;
    } else if (decimal) {
        r.type.type = AseType::Numeric;
        if (op == "+" || op == "-") {
            scale = std::max(s1, s2);
            r.type.precision = std::min(38, std::max(p1 - s1, p2 - s2) + scale + 1);
        } else if (op == "*") {
            scale = std::min(38, s1 + s2);
            r.type.precision = std::min(38, p1 + p2 + 1);
        } else {
            scale = std::min(38 - std::min(38, p1 - s1 + s2), std::max(6, s1 + p2 + 1));
            scale = std::max(0, scale);
            r.type.precision = 38;
        }
        r.type.scale = scale;
    } else {
        r.type.type = IntegerRank(ta) >= IntegerRank(tb) ? ta : tb;
        if (r.type.type == AseType::Bit) {
            r.type.type = AseType::TinyInt;
        }
    }
    if (anyNull) {
        return r;
    }
    auto rescale = [](Int128 v, int from, int to) {
        if (to >= from) {
            const Int128 f = Pow10(to - from);
            const Int128 limit = std::numeric_limits<Int128>::max() / f;
            if (v > limit || v < -limit) {
                ArithmeticOverflow();
            }
            return v * f;
        }
        const Int128 f = Pow10(from - to);
        Int128 q = v / f;
        const Int128 rem = v % f;
        if ((rem < 0 ? -rem : rem) * 2 >= f) {
            q += v < 0 ? -1 : 1;
        }
        return q;
    };
    auto checkedMul = [](Int128 u, Int128 v) {
        const Int128 au = u < 0 ? -u : u;
        const Int128 av = v < 0 ? -v : v;
        if (au != 0 && av > std::numeric_limits<Int128>::max() / au) {
            ArithmeticOverflow();
        }
        return u * v;
    };
    Int128 v = 0;
    if (op == "+" || op == "-") {
        const Int128 xs = rescale(x, s1, scale);
        const Int128 ys = rescale(y, s2, scale);
        v = op == "+" ? xs + ys : xs - ys;
    } else if (op == "*") {
        v = rescale(checkedMul(x, y), s1 + s2, scale);
    } else if (op == "/" || op == "%") {
        if (y == 0) {
            DivideByZero();
        }
        if (op == "%") {
            if (s1 != 0 || s2 != 0) {
                throw EngineError(
                    403, 16, "Invalid operator for datatype op: % type: " + TypeName(ta) + ".");
            }
            v = x % y;
        } else if (!money && !decimal) {
            v = x / y;
        } else {
            // x/10^s1 / (y/10^s2) = x*10^(scale+s2-s1) / y
            const int shift = scale + s2 - s1;
            Int128 num = shift >= 0 ? rescale(x, 0, shift) : x;
            Int128 den = shift >= 0 ? y : rescale(y, 0, -shift);
            Int128 q = num / den;
            const Int128 rem = num % den;
            if ((rem < 0 ? -rem : rem) * 2 >= (den < 0 ? -den : den)) {
                q += ((num < 0) != (den < 0)) ? -1 : 1;
            }
            v = q;
        }
    }
    if (decimal && !money) {
        if ((v < 0 ? -v : v) >= Pow10(r.type.precision)) {
            ArithmeticOverflow();
        }
        r.value.unscaled = v;
        return r;
    }
    Datum wide;
    wide.type = ColumnType{AseType::Numeric, 0, 38, scale, false};
    wide.value.isNull = false;
    wide.value.unscaled = v;
    try {
        Datum converted = ConvertDatum(wide, r.type, false);
        converted.type = r.type;
        return converted;
    } catch (const EngineError&) {
        ArithmeticOverflow();
    }
}

Datum SessionImpl::EvalFunction(const Expr& e, const RowContext& ctx) {
    const std::string& f = e.name;
    std::vector<Datum> a;
    a.reserve(e.args.size());
    for (const ExprPtr& arg : e.args) {
        a.push_back(Eval(*arg, ctx));
    }
    auto arity = [&](std::size_t lo, std::size_t hi) {
        if (a.size() < lo || a.size() > hi) {
            throw EngineError(14216, 16,
                              "Function '" + e.text + "' was called with " +
                                  std::to_string(a.size()) + " arguments, which is not valid.");
        }
    };
    auto needString = [&](const Datum& d) {
        if (!IsStringType(d.type.type) && !d.value.isNull) {
            throw EngineError(257, 16,
                              "Implicit conversion from datatype '" + TypeName(d.type.type) +
                                  "' to 'VARCHAR' is not allowed.  Use the CONVERT function to "
                                  "run this query.");
        }
    };
    auto intResult = [](const Datum& in, std::int64_t v) {
        Datum r = IntDatum(v, AseType::Int, in.type.nullable);
        r.value.isNull = in.value.isNull;
        return r;
    };
    if (f == "datalength") {
        arity(1, 1);
        return intResult(a[0], a[0].value.isNull ? 0 : DataLength(a[0]));
    }
    if (f == "len" || f == "char_length") {
        arity(1, 1);
        std::string_view s = a[0].value.bytes;
        if (f == "len") {
            while (!s.empty() && s.back() == ' ') {
                s.remove_suffix(1);
            }
        }
        const std::int64_t n = IsBinaryType(a[0].type.type)
                                   ? static_cast<std::int64_t>(s.size())
                                   : static_cast<std::int64_t>(Utf8CharCount(s));
        return intResult(a[0], n);
    }
    if (f == "upper" || f == "lower") {
        arity(1, 1);
        needString(a[0]);
        Datum r = a[0];
        for (char& c : r.value.bytes) {
            if (static_cast<unsigned char>(c) < 0x80) {
                c = static_cast<char>(f == "upper" ? std::toupper(static_cast<unsigned char>(c))
                                                   : std::tolower(static_cast<unsigned char>(c)));
            }
        }
        return r;
    }
    if (f == "replicate") {
        arity(2, 2);
        needString(a[0]);
        Datum r;
        r.type.type = IsUniType(a[0].type.type) ? AseType::UniVarChar : AseType::VarChar;
        r.type.length = kMaxExpressionBytes;
        r.type.nullable = true;
        if (a[0].value.isNull || a[1].value.isNull) {
            return r;
        }
        const Datum n = ConvertDatum(a[1], ColumnType{AseType::BigInt}, true);
        if (n.value.integer < 0) {
            return r;
        }
        r.value.isNull = false;
        std::string out;
        for (std::int64_t i = 0; i < n.value.integer && out.size() < kMaxExpressionBytes; ++i) {
            out += a[0].value.bytes;
        }
        r.value.bytes = CutUtf8Bytes(out, kMaxExpressionBytes);
        return r;
    }
    if (f == "object_id") {
        arity(1, 1);
        needString(a[0]);
        Datum r = NullDatum(ColumnType{AseType::Int});
        if (!a[0].value.isNull) {
            if (auto id = ObjectId(a[0].value.bytes)) {
                r.value.isNull = false;
                r.value.integer = *id;
            }
        }
        return r;
    }
    if (f == "isnull" || f == "coalesce") {
        if (a.empty()) {
            arity(2, 2);
        }
        Datum r = a[0];
        r.type.nullable = true;
        for (const Datum& d : a) {
            if (!d.value.isNull) {
                Datum c = ConvertDatum(d, a[0].type, true);
                c.type = a[0].type;
                c.type.nullable = a.back().type.nullable;
                return c;
            }
        }
        return r;
    }
    if (f == "ltrim" || f == "rtrim") {
        arity(1, 1);
        needString(a[0]);
        Datum r = a[0];
        r.type.nullable = true;
        std::string& s = r.value.bytes;
        if (f == "rtrim") {
            s.erase(s.find_last_not_of(' ') + 1);
        } else {
            s.erase(0, std::min(s.size(), s.find_first_not_of(' ')));
        }
        if (!r.value.isNull && s.empty()) {
            r.value = Value{};
        }
        return r;
    }
    if (f == "substring") {
        arity(3, 3);
        Datum r;
        r.type.type = IsBinaryType(a[0].type.type) ? AseType::VarBinary : AseType::VarChar;
        r.type.length = std::max(1, a[0].type.length);
        r.type.nullable = true;
        if (a[0].value.isNull || a[1].value.isNull || a[2].value.isNull) {
            return r;
        }
        const std::int64_t start =
            ConvertDatum(a[1], ColumnType{AseType::BigInt}, true).value.integer;
        const std::int64_t count =
            ConvertDatum(a[2], ColumnType{AseType::BigInt}, true).value.integer;
        const std::string& s = a[0].value.bytes;
        const std::int64_t from = std::max<std::int64_t>(start, 1) - 1;
        const std::int64_t to = start + count - 1;
        if (count < 0 || to <= from || from >= static_cast<std::int64_t>(s.size())) {
            return r;
        }
        r.value.isNull = false;
        r.value.bytes =
            s.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
        return r;
    }
    if (f == "getdate") {
        arity(0, 0);
        const auto now = std::chrono::system_clock::now();
        const std::int64_t micros =
            std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
        Datum d;
        d.type.type = AseType::BigDateTime;
        d.value.isNull = false;
        d.value.days = 25567 + micros / 86400000000LL;
        d.value.fraction = micros % 86400000000LL;
        return ConvertDatum(d, ColumnType{AseType::DateTime}, true);
    }
    if (f == "db_name") {
        arity(0, 0);
        return StringDatum(current_);
    }
    if (f == "user_name") {
        arity(0, 1);
        if (a.empty()) {
            return StringDatum(user_);
        }
        // user_name(uid): that user of the current database, NULL for an unknown one.
        Datum r = NullDatum(ColumnType{AseType::VarChar, 255, 0, 0, true});
        if (!a[0].value.isNull) {
            const Datum uid = ConvertDatum(a[0], ColumnType{AseType::Int}, true);
            Query q(*Db(current_).db, "SELECT name FROM ase_users WHERE uid = ?");
            q.BindInt(1, uid.value.integer);
            if (q.Step()) {
                r.value = StringDatum(q.Text(0)).value;
            }
        }
        return r;
    }
    if (f == "suser_name") {
        arity(0, 1);
        return StringDatum(login_);
    }
    throw EngineError(14216, 16,
                      "Function '" + e.text +
                          "' not found. If this is a SQLJ function or SQL function, use sp_help "
                          "to check whether the object exists (sp_help may produce lots of "
                          "output).");
}

Datum SessionImpl::Eval(const Expr& e, const RowContext& ctx) {
    switch (e.kind) {
    case ExprKind::Literal:
        return e.literal;
    case ExprKind::Column:
        return EvalColumn(e, ctx);
    case ExprKind::Global:
        return EvalGlobal(e);
    case ExprKind::Negate: {
        Datum a = Eval(*e.args[0], ctx);
        if (!IsNumberType(a.type.type)) {
            throw EngineError(403, 16,
                              "Invalid operator for datatype op: UNARY MINUS type: " +
                                  TypeName(a.type.type) + ".");
        }
        Datum zero = IntDatum(0);
        if (IsApproxType(a.type.type)) {
            Datum r = a;
            r.value.real = -a.value.real;
            return r;
        }
        Datum r = EvalArithmetic("-", zero, a);
        if (!IsDecimalType(a.type.type)) {
            Datum c = r.value.isNull ? r : ConvertDatum(r, a.type, false);
            c.type = a.type;
            return c;
        }
        r.type = a.type;
        return r;
    }
    case ExprKind::Binary: {
        Datum a = Eval(*e.args[0], ctx);
        Datum b = Eval(*e.args[1], ctx);
        // The NULL literal has no type of its own: it takes the other operand's.
        auto isNullLiteral = [](const Expr& x) {
            return x.kind == ExprKind::Literal && x.literal.value.isNull;
        };
        if (isNullLiteral(*e.args[0])) {
            a = NullDatum(b.type);
        } else if (isNullLiteral(*e.args[1])) {
            b = NullDatum(a.type);
        }
        return EvalArithmetic(e.name, a, b);
    }
    case ExprKind::Function: {
        // Only a column's own value has a text pointer, not a function's result.
        Datum d = EvalFunction(e, ctx);
        d.value.textPointer = false;
        return d;
    }
    case ExprKind::Convert: {
        const Datum in = Eval(*e.args[0], ctx);
        int style = 0;
        if (e.args.size() > 1) {
            const Datum s = Eval(*e.args[1], ctx);
            if (!s.value.isNull) {
                style =
                    static_cast<int>(ConvertDatum(s, ColumnType{AseType::Int}, true).value.integer);
            }
        }
        Datum out = ConvertDatum(in, e.targetType, true, style);
        if (IsStringType(out.type.type) && !out.value.isNull && out.value.bytes.empty()) {
            out.value.bytes = " ";
        }
        return out;
    }
    case ExprKind::CountStar:
        if (!ctx.count) {
            throw EngineError(147, 15, "An aggregate may not appear in this context.");
        }
        return IntDatum(*ctx.count);
    default:
        break;
    }
    // A condition used as a value.
    throw EngineError(102, 15, "Incorrect syntax near '" + e.name + "'.");
}

Tri SessionImpl::EvalCondition(const Expr& e, const RowContext& ctx) {
    auto lobCheck = [](const Datum& d) {
        if (IsLargeType(d.type.type)) {
            throw EngineError(306, 16,
                              "TEXT, IMAGE and UNITEXT datatypes may not be used in the WHERE or "
                              "HAVING clause, except with the LIKE expression and the IS NULL "
                              "predicate.");
        }
    };
    auto isNullLiteral = [](const Expr& x) {
        return x.kind == ExprKind::Literal && x.literal.value.isNull;
    };
    auto compare = [&](const std::string& op, const Datum& a, const Datum& b) {
        lobCheck(a);
        lobCheck(b);
        CheckComparable(a.type.type, b.type.type);
        if (a.value.isNull || b.value.isNull) {
            return Tri::Unknown;
        }
        const int c = CompareData(a, b);
        bool r = false;
        if (op == "=") {
            r = c == 0;
        } else if (op == "<>" || op == "!=") {
            r = c != 0;
        } else if (op == "<") {
            r = c < 0;
        } else if (op == ">") {
            r = c > 0;
        } else if (op == "<=" || op == "!>") {
            r = c <= 0;
        } else if (op == ">=" || op == "!<") {
            r = c >= 0;
        }
        return r ? Tri::True : Tri::False;
    };
    switch (e.kind) {
    case ExprKind::And: {
        const Tri a = EvalCondition(*e.args[0], ctx);
        if (a == Tri::False) {
            return Tri::False;
        }
        const Tri b = EvalCondition(*e.args[1], ctx);
        if (b == Tri::False) {
            return Tri::False;
        }
        return (a == Tri::True && b == Tri::True) ? Tri::True : Tri::Unknown;
    }
    case ExprKind::Or: {
        const Tri a = EvalCondition(*e.args[0], ctx);
        if (a == Tri::True) {
            return Tri::True;
        }
        const Tri b = EvalCondition(*e.args[1], ctx);
        if (b == Tri::True) {
            return Tri::True;
        }
        return (a == Tri::False && b == Tri::False) ? Tri::False : Tri::Unknown;
    }
    case ExprKind::Not:
        return Not(EvalCondition(*e.args[0], ctx));
    case ExprKind::Exists: {
        RowSet r = ExecuteSelect(*e.subquery, current_);
        return r.rows.empty() ? Tri::False : Tri::True;
    }
    case ExprKind::IsNull: {
        const Datum a = Eval(*e.args[0], ctx);
        return (a.value.isNull != e.negated) ? Tri::True : Tri::False;
    }
    case ExprKind::Compare: {
        const Datum a = Eval(*e.args[0], ctx);
        const Datum b = Eval(*e.args[1], ctx);
        // Transact-SQL: a comparison with a NULL literal tests for NULL (ansinull off).
        if ((isNullLiteral(*e.args[0]) || isNullLiteral(*e.args[1])) &&
            (e.name == "=" || e.name == "<>" || e.name == "!=")) {
            const Datum& other = isNullLiteral(*e.args[0]) ? b : a;
            const bool isNull = other.value.isNull;
            return (e.name == "=" ? isNull : !isNull) ? Tri::True : Tri::False;
        }
        return compare(e.name, a, b);
    }
    case ExprKind::Like: {
        const Datum a = Eval(*e.args[0], ctx);
        const Datum p = Eval(*e.args[1], ctx);
        if (a.value.isNull || p.value.isNull) {
            return Tri::Unknown;
        }
        if (!IsStringType(a.type.type) || !IsStringType(p.type.type)) {
            const AseType bad = IsStringType(a.type.type) ? p.type.type : a.type.type;
            throw EngineError(257, 16,
                              "Implicit conversion from datatype '" + TypeName(bad) +
                                  "' to 'VARCHAR' is not allowed.  Use the CONVERT function to "
                                  "run this query.");
        }
        const bool m = LikeMatch(a.value.bytes, p.value.bytes);
        return (m != e.negated) ? Tri::True : Tri::False;
    }
    case ExprKind::Between: {
        const Datum a = Eval(*e.args[0], ctx);
        const Tri lo = compare(">=", a, Eval(*e.args[1], ctx));
        const Tri hi = compare("<=", a, Eval(*e.args[2], ctx));
        Tri r = Tri::Unknown;
        if (lo == Tri::False || hi == Tri::False) {
            r = Tri::False;
        } else if (lo == Tri::True && hi == Tri::True) {
            r = Tri::True;
        }
        return e.negated ? Not(r) : r;
    }
    case ExprKind::InList: {
        const Datum a = Eval(*e.args[0], ctx);
        Tri r = Tri::False;
        for (std::size_t i = 1; i < e.args.size(); ++i) {
            const Tri t = compare("=", a, Eval(*e.args[i], ctx));
            if (t == Tri::True) {
                r = Tri::True;
                break;
            }
            if (t == Tri::Unknown) {
                r = Tri::Unknown;
            }
        }
        return e.negated ? Not(r) : r;
    }
    default:
        throw EngineError(4145, 15,
                          "An expression of non-boolean type specified in a context where a "
                          "condition is expected.");
    }
}

} // namespace asetest
