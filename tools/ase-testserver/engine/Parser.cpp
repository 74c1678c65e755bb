#include "Parser.h"

#include <cstdlib>
#include <limits>
#include <set>

namespace asetest {

namespace {

const std::set<std::string>& ReservedWords() {
    static const std::set<std::string> words = {
        "add",        "all",         "alter",      "and",       "any",      "as",
        "asc",        "begin",       "between",    "break",     "by",       "cascade",
        "case",       "check",       "checkpoint", "close",     "commit",   "compute",
        "constraint", "continue",    "convert",    "create",    "cursor",   "database",
        "dbcc",       "declare",     "default",    "delete",    "desc",     "distinct",
        "drop",       "dump",        "else",       "end",       "escape",   "except",
        "exec",       "execute",     "exists",     "exit",      "fetch",    "for",
        "foreign",    "from",        "goto",       "grant",     "group",    "having",
        "holdlock",   "if",          "in",         "index",     "insert",   "intersect",
        "into",       "is",          "isolation",  "key",       "kill",     "like",
        "load",       "not",         "null",       "of",        "off",      "on",
        "open",       "option",      "or",         "order",     "plan",     "prepare",
        "primary",    "print",       "proc",       "procedure", "public",   "raiserror",
        "readtext",   "reconfigure", "references", "return",    "revoke",   "rollback",
        "rowcount",   "rule",        "save",       "select",    "set",      "setuser",
        "shutdown",   "some",        "statistics", "table",     "textsize", "to",
        "tran",       "transaction", "trigger",    "truncate",  "union",    "unique",
        "update",     "use",         "values",     "view",      "waitfor",  "where",
        "while",      "with",        "writetext"};
    return words;
}

const std::set<std::string>& StatementStarts() {
    static const std::set<std::string> words = {
        "select",  "insert", "update", "delete", "truncate", "create",  "drop",
        "use",     "if",     "begin",  "commit", "rollback", "set",     "exec",
        "execute", "print",  "else",   "end",    "while",    "declare", "return"};
    return words;
}

class Parser {
public:
    Parser(std::string_view sql, bool quotedIdentifier)
        : sql_(sql)
        , tokens_(Tokenize(sql, quotedIdentifier)) {}

    std::vector<StatementPtr> Batch() {
        std::vector<StatementPtr> out;
        bool first = true;
        while (true) {
            while (AcceptSymbol(";")) {
            }
            if (Peek().kind == TokenKind::End) {
                break;
            }
            out.push_back(Statement(first));
            first = false;
        }
        return out;
    }

    std::shared_ptr<SelectStmt> SelectOnly() {
        ExpectKeyword("select");
        auto s = Select();
        while (AcceptSymbol(";")) {
        }
        if (Peek().kind != TokenKind::End) {
            Fail(Peek());
        }
        return s;
    }

    bool NameOnly(ObjectName& out) {
        if (!IsIdentifier(Peek())) {
            return false;
        }
        out = Name();
        return Peek().kind == TokenKind::End;
    }

private:
    std::string_view sql_;
    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
    int depth_ = 0;

    // Bounds the recursion of nested statements, conditions and expressions.
    class Nesting {
    public:
        explicit Nesting(int& depth)
            : depth_(depth) {
            if (++depth_ > 200) {
                --depth_;
                throw EngineError(191, 15,
                                  "Some part of your SQL statement is nested too deeply. Rewrite "
                                  "the query or break it up into smaller queries.");
            }
        }
        ~Nesting() { --depth_; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;

    private:
        int& depth_;
    };

    const Token& Peek(std::size_t k = 0) const {
        const std::size_t i = std::min(pos_ + k, tokens_.size() - 1);
        return tokens_[i];
    }
    const Token& Next() {
        const Token& t = tokens_[pos_];
        if (pos_ + 1 < tokens_.size()) {
            ++pos_;
        }
        return t;
    }
    static bool IsKeyword(const Token& t, std::string_view kw) {
        return t.kind == TokenKind::Word && EqualsNoCase(t.value, kw);
    }
    static bool IsReserved(const Token& t) {
        return t.kind == TokenKind::Word && ReservedWords().count(Lower(t.value)) > 0;
    }
    static bool IsIdentifier(const Token& t) {
        return (t.kind == TokenKind::Word && !IsReserved(t)) || t.kind == TokenKind::DelimitedId;
    }
    bool AcceptKeyword(std::string_view kw) {
        if (IsKeyword(Peek(), kw)) {
            Next();
            return true;
        }
        return false;
    }
    void ExpectKeyword(std::string_view kw) {
        if (!AcceptKeyword(kw)) {
            Fail(Peek());
        }
    }
    bool IsSymbol(const Token& t, std::string_view s) const {
        return t.kind == TokenKind::Symbol && t.value == s;
    }
    bool AcceptSymbol(std::string_view s) {
        if (IsSymbol(Peek(), s)) {
            Next();
            return true;
        }
        return false;
    }
    void ExpectSymbol(std::string_view s) {
        if (!AcceptSymbol(s)) {
            Fail(Peek());
        }
    }

    [[noreturn]] void Fail(const Token& at) const {
        const Token* t = &at;
        if (t->kind == TokenKind::End && pos_ > 0) {
            t = &tokens_[tokens_.size() >= 2 ? tokens_.size() - 2 : 0];
        }
        if (IsReserved(*t)) {
            throw EngineError(156, 15,
                              "Incorrect syntax near the keyword '" + Lower(t->value) + "'.");
        }
        throw EngineError(102, 15, "Incorrect syntax near '" + t->text + "'.");
    }

    std::string Identifier() {
        const Token& t = Peek();
        if (!IsIdentifier(t)) {
            Fail(t);
        }
        Next();
        if (t.value.size() > 255) {
            throw EngineError(103, 15,
                              "The identifier that starts with '" + t.value.substr(0, 30) +
                                  "' is too long. Maximum length is 255.");
        }
        return t.value;
    }

    ObjectName Name() {
        std::vector<std::string> parts;
        const std::size_t begin = Peek().begin;
        parts.push_back(Identifier());
        while (IsSymbol(Peek(), ".")) {
            Next();
            if (IsSymbol(Peek(), ".")) {
                parts.emplace_back();
                continue;
            }
            parts.push_back(Identifier());
        }
        if (parts.size() > 3) {
            Fail(tokens_[pos_ - 1]);
        }
        ObjectName n;
        n.name = parts.back();
        if (parts.size() >= 2) {
            n.owner = parts[parts.size() - 2];
        }
        if (parts.size() == 3) {
            n.database = parts[0];
        }
        if (n.name.empty()) {
            Fail(Peek());
        }
        (void)begin;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            n.written += (i ? "." : "") + parts[i];
        }
        return n;
    }

    StatementPtr Statement(bool first) {
        Nesting nesting(depth_);
        const Token& t = Peek();
        auto st = std::make_unique<asetest::Statement>();
        st->text = t.text;
        if (t.kind != TokenKind::Word) {
            Fail(t);
        }
        const std::string kw = Lower(t.value);
        if (kw == "select") {
            Next();
            st->kind = StmtKind::Select;
            st->select = Select();
        } else if (kw == "insert") {
            Next();
            Insert(*st);
        } else if (kw == "update") {
            Next();
            Update(*st);
        } else if (kw == "delete") {
            Next();
            st->kind = StmtKind::Delete;
            AcceptKeyword("from");
            st->target = Name();
            if (AcceptKeyword("where")) {
                st->where = Condition();
            }
        } else if (kw == "truncate") {
            Next();
            ExpectKeyword("table");
            st->kind = StmtKind::Truncate;
            st->target = Name();
        } else if (kw == "create") {
            Next();
            Create(*st);
        } else if (kw == "drop") {
            Next();
            Drop(*st);
        } else if (kw == "use") {
            Next();
            st->kind = StmtKind::Use;
            st->target.name = Identifier();
            st->target.written = st->target.name;
        } else if (kw == "if") {
            Next();
            st->kind = StmtKind::If;
            st->where = Condition();
            st->body.push_back(Statement(false));
            if (AcceptKeyword("else")) {
                st->body.push_back(Statement(false));
            }
        } else if (kw == "begin") {
            Next();
            if (AcceptKeyword("tran") || AcceptKeyword("transaction")) {
                st->kind = StmtKind::BeginTran;
                SkipTranName();
            } else {
                st->kind = StmtKind::Block;
                while (!IsKeyword(Peek(), "end")) {
                    if (Peek().kind == TokenKind::End) {
                        Fail(Peek());
                    }
                    if (AcceptSymbol(";")) {
                        continue;
                    }
                    st->body.push_back(Statement(false));
                }
                Next();
            }
        } else if (kw == "commit" || kw == "rollback") {
            Next();
            st->kind = kw == "commit" ? StmtKind::CommitTran : StmtKind::RollbackTran;
            if (AcceptKeyword("tran") || AcceptKeyword("transaction") || AcceptKeyword("work")) {
                SkipTranName();
            }
        } else if (kw == "set") {
            Next();
            Set(*st);
        } else if (kw == "exec" || kw == "execute") {
            Next();
            if (AcceptSymbol("(")) {
                st->kind = StmtKind::ExecString;
                st->values.push_back(Expression());
                ExpectSymbol(")");
            } else {
                Procedure(*st);
            }
        } else if (kw == "print") {
            Next();
            st->kind = StmtKind::Print;
            st->values.push_back(Expression());
        } else if (first && !IsReserved(t)) {
            Procedure(*st);
        } else {
            Fail(t);
        }
        return st;
    }

    void SkipTranName() {
        if (IsIdentifier(Peek()) && !IsStatementStart(Peek())) {
            Next();
        }
    }

    static bool IsStatementStart(const Token& t) {
        return t.kind == TokenKind::Word && StatementStarts().count(Lower(t.value)) > 0;
    }

    void Procedure(asetest::Statement& st) {
        st.kind = StmtKind::ExecProc;
        st.target = Name();
        auto startsArgument = [&](const Token& t) {
            switch (t.kind) {
            case TokenKind::String:
            case TokenKind::Integer:
            case TokenKind::Decimal:
            case TokenKind::Float:
            case TokenKind::Money:
            case TokenKind::Binary:
            case TokenKind::Local:
            case TokenKind::DelimitedId:
                return true;
            case TokenKind::Word:
                return !IsReserved(t) || IsKeyword(t, "null");
            case TokenKind::Symbol:
                return t.value == "-";
            default:
                return false;
            }
        };
        if (!startsArgument(Peek())) {
            return;
        }
        do {
            ProcArgument arg;
            if (Peek().kind == TokenKind::Local) {
                arg.name = Next().value;
                ExpectSymbol("=");
            }
            const Token& v = Peek();
            if ((v.kind == TokenKind::Word && !IsReserved(v)) || v.kind == TokenKind::DelimitedId) {
                auto e = std::make_unique<Expr>();
                e->kind = ExprKind::Literal;
                e->literal = StringDatum(v.value);
                e->text = v.text;
                arg.value = std::move(e);
                Next();
            } else {
                arg.value = Expression();
            }
            st.procArgs.push_back(std::move(arg));
        } while (AcceptSymbol(","));
    }

    void Set(asetest::Statement& st) {
        st.kind = StmtKind::SetOption;
        const Token& opt = Peek();
        if (opt.kind != TokenKind::Word) {
            Fail(opt);
        }
        st.option = Lower(opt.value);
        Next();
        while (true) {
            const Token& t = Peek();
            if (IsKeyword(t, "on") || IsKeyword(t, "off") || t.kind == TokenKind::Integer ||
                t.kind == TokenKind::String || t.kind == TokenKind::Local) {
                st.optionValue = Lower(t.value);
                Next();
                break;
            }
            if (t.kind == TokenKind::Word && !IsStatementStart(t)) {
                st.optionValue = Lower(t.value);
                Next();
                continue;
            }
            break;
        }
        if (st.option == "textsize" && Peek(0).kind != TokenKind::End && st.optionValue.empty()) {
            Fail(Peek());
        }
    }

    void Insert(asetest::Statement& st) {
        st.kind = StmtKind::Insert;
        AcceptKeyword("into");
        st.target = Name();
        if (IsSymbol(Peek(), "(")) {
            Next();
            do {
                st.columns.push_back(Identifier());
            } while (AcceptSymbol(","));
            ExpectSymbol(")");
        }
        if (AcceptKeyword("values")) {
            ExpectSymbol("(");
            do {
                st.values.push_back(Expression());
            } while (AcceptSymbol(","));
            ExpectSymbol(")");
        } else if (AcceptKeyword("select")) {
            st.select = Select();
        } else {
            Fail(Peek());
        }
    }

    void Update(asetest::Statement& st) {
        st.kind = StmtKind::Update;
        st.target = Name();
        ExpectKeyword("set");
        do {
            std::string column = Identifier();
            while (AcceptSymbol(".")) {
                column = Identifier(); // t.c = ...
            }
            ExpectSymbol("=");
            st.assignments.emplace_back(column, Expression());
        } while (AcceptSymbol(","));
        if (AcceptKeyword("where")) {
            st.where = Condition();
        }
    }

    void Create(asetest::Statement& st) {
        if (AcceptKeyword("table")) {
            st.kind = StmtKind::CreateTable;
            st.target = Name();
            ExpectSymbol("(");
            do {
                ColumnDefinition def;
                def.name = Identifier();
                def.type = Type(false);
                def.type.nullable = false;
                if (AcceptKeyword("null")) {
                    def.type.nullable = true;
                } else if (AcceptKeyword("not")) {
                    ExpectKeyword("null");
                }
                st.definitions.push_back(std::move(def));
            } while (AcceptSymbol(","));
            ExpectSymbol(")");
        } else if (AcceptKeyword("view")) {
            st.kind = StmtKind::CreateView;
            st.target = Name();
            ExpectKeyword("as");
            const std::size_t begin = Peek().begin;
            ExpectKeyword("select");
            st.select = Select();
            st.viewText = std::string(sql_.substr(begin, tokens_[pos_ - 1].end - begin));
        } else if (AcceptKeyword("database")) {
            st.kind = StmtKind::CreateDatabase;
            st.target.name = Identifier();
            st.target.written = st.target.name;
        } else {
            Fail(Peek());
        }
    }

    void Drop(asetest::Statement& st) {
        if (AcceptKeyword("table")) {
            st.kind = StmtKind::DropTable;
        } else if (AcceptKeyword("view")) {
            st.kind = StmtKind::DropView;
        } else if (AcceptKeyword("database")) {
            st.kind = StmtKind::DropDatabase;
            st.target.name = Identifier();
            st.target.written = st.target.name;
            return;
        } else {
            Fail(Peek());
        }
        do {
            st.targets.push_back(Name());
        } while (AcceptSymbol(","));
    }

    static int ParseSmallInt(const Token& t) {
        const long v = std::strtol(t.value.c_str(), nullptr, 10);
        return v > 1000000000L ? 1000000000 : static_cast<int>(v);
    }

    // Declared type; `forConvert` gives char/varchar without a length 30 characters.
    ColumnType Type(bool forConvert) {
        const Token& t = Peek();
        if (t.kind != TokenKind::Word) {
            Fail(t);
        }
        std::string name = Lower(t.value);
        Next();
        if (name == "unsigned") {
            const Token& u = Peek();
            if (u.kind != TokenKind::Word) {
                Fail(u);
            }
            name += " " + Lower(u.value);
            Next();
        } else if (name == "double") {
            if (IsKeyword(Peek(), "precision")) {
                Next();
            }
            name = "double precision";
        } else if ((name == "char" || name == "character") && IsKeyword(Peek(), "varying")) {
            Next();
            name = "varchar";
        }
        std::vector<int> args;
        const Token* argToken = &t;
        if (IsSymbol(Peek(), "(")) {
            Next();
            do {
                const Token& a = Peek();
                if (a.kind != TokenKind::Integer) {
                    Fail(a);
                }
                argToken = &a;
                args.push_back(ParseSmallInt(a));
                Next();
            } while (AcceptSymbol(","));
            ExpectSymbol(")");
        }
        ColumnType ct;
        auto noArgs = [&] {
            if (!args.empty()) {
                Fail(*argToken);
            }
        };
        auto length = [&](int defaultLength, int multiplier) {
            if (args.size() > 1) {
                Fail(*argToken);
            }
            const int n = args.empty() ? defaultLength : args[0];
            if (n < 1) {
                throw EngineError(2716, 16,
                                  "Cannot specify a width of zero or less for the type '" + name +
                                      "'.");
            }
            if (n > 16384) {
                throw EngineError(131, 15,
                                  "The size (" + std::to_string(n) + ") given to the type '" +
                                      name +
                                      "' exceeds the maximum. The largest size allowed "
                                      "is 16384.");
            }
            ct.length = n * multiplier;
        };
        static const std::pair<const char*, AseType> simple[] = {
            {"tinyint", AseType::TinyInt},
            {"smallint", AseType::SmallInt},
            {"int", AseType::Int},
            {"integer", AseType::Int},
            {"bigint", AseType::BigInt},
            {"unsigned smallint", AseType::USmallInt},
            {"unsigned int", AseType::UInt},
            {"unsigned integer", AseType::UInt},
            {"unsigned bigint", AseType::UBigInt},
            {"real", AseType::Real},
            {"double precision", AseType::Float},
            {"money", AseType::Money},
            {"smallmoney", AseType::SmallMoney},
            {"bit", AseType::Bit},
            {"datetime", AseType::DateTime},
            {"smalldatetime", AseType::SmallDateTime},
            {"date", AseType::Date},
            {"time", AseType::Time},
            {"bigdatetime", AseType::BigDateTime},
            {"bigtime", AseType::BigTime},
            {"text", AseType::Text},
            {"unitext", AseType::UniText},
            {"image", AseType::Image},
        };
        for (const auto& [n, type] : simple) {
            if (name == n) {
                noArgs();
                ct.type = type;
                return ct;
            }
        }
        const int defaultLength = forConvert ? 30 : 1;
        if (name == "numeric" || name == "decimal" || name == "dec") {
            ct.type = name == "numeric" ? AseType::Numeric : AseType::Decimal;
            if (args.size() > 2) {
                Fail(*argToken);
            }
            ct.precision = args.empty() ? 18 : args[0];
            ct.scale = args.size() > 1 ? args[1] : 0;
            if (ct.precision < 1 || ct.precision > 38) {
                throw EngineError(2756, 16,
                                  "The precision " + std::to_string(ct.precision) +
                                      " is not valid; it must be between 1 and 38.");
            }
            if (ct.scale < 0 || ct.scale > ct.precision) {
                throw EngineError(2756, 16,
                                  "The scale " + std::to_string(ct.scale) +
                                      " is not valid; it must be between 0 and the precision.");
            }
        } else if (name == "float") {
            if (args.size() > 1) {
                Fail(*argToken);
            }
            ct.type = (!args.empty() && args[0] < 16) ? AseType::Real : AseType::Float;
        } else if (name == "char" || name == "character") {
            ct.type = AseType::Char;
            length(defaultLength, 1);
        } else if (name == "varchar" || name == "sysname") {
            ct.type = AseType::VarChar;
            length(name == "sysname" ? 255 : defaultLength, 1);
        } else if (name == "nchar") {
            ct.type = AseType::Char;
            length(defaultLength, 3);
        } else if (name == "nvarchar") {
            ct.type = AseType::VarChar;
            length(defaultLength, 3);
        } else if (name == "unichar") {
            ct.type = AseType::UniChar;
            length(defaultLength, 1);
        } else if (name == "univarchar") {
            ct.type = AseType::UniVarChar;
            length(defaultLength, 1);
        } else if (name == "binary") {
            ct.type = AseType::Binary;
            length(defaultLength, 1);
        } else if (name == "varbinary") {
            ct.type = AseType::VarBinary;
            length(defaultLength, 1);
        } else {
            throw EngineError(2715, 16, "Can't find type '" + t.value + "'.");
        }
        return ct;
    }

    std::shared_ptr<SelectStmt> Select() {
        auto s = std::make_shared<SelectStmt>();
        if (AcceptKeyword("distinct")) {
            s->distinct = true;
        } else {
            AcceptKeyword("all");
        }
        if (IsKeyword(Peek(), "top") && Peek(1).kind == TokenKind::Integer) {
            Next();
            s->top = std::strtoll(Next().value.c_str(), nullptr, 10);
        }
        do {
            s->items.push_back(SelectListItem());
        } while (AcceptSymbol(","));
        if (AcceptKeyword("from")) {
            s->from = Name();
            if (AcceptKeyword("as")) {
                s->fromAlias = Identifier();
            } else if (IsIdentifier(Peek()) && !IsKeyword(Peek(), "top")) {
                s->fromAlias = Identifier();
            }
        }
        if (AcceptKeyword("where")) {
            s->where = Condition();
        }
        if (AcceptKeyword("order")) {
            ExpectKeyword("by");
            do {
                OrderItem item;
                item.expr = Expression();
                if (AcceptKeyword("desc")) {
                    item.descending = true;
                } else {
                    AcceptKeyword("asc");
                }
                s->orderBy.push_back(std::move(item));
            } while (AcceptSymbol(","));
        }
        return s;
    }

    SelectItem SelectListItem() {
        SelectItem item;
        if (AcceptSymbol("*")) {
            item.star = true;
            return item;
        }
        if (IsIdentifier(Peek()) && IsSymbol(Peek(1), ".") && IsSymbol(Peek(2), "*")) {
            item.star = true;
            item.starQualifier = Next().value;
            Next();
            Next();
            return item;
        }
        const Token& t = Peek();
        if ((IsIdentifier(t) || t.kind == TokenKind::String) && IsSymbol(Peek(1), "=")) {
            item.alias = t.value;
            item.hasAlias = true;
            Next();
            Next();
            item.expr = Expression();
            return item;
        }
        item.expr = Expression();
        if (AcceptKeyword("as")) {
            const Token& a = Peek();
            if (!IsIdentifier(a) && a.kind != TokenKind::String) {
                Fail(a);
            }
            item.alias = a.value;
            item.hasAlias = true;
            Next();
        } else if (IsIdentifier(Peek()) || Peek().kind == TokenKind::String) {
            item.alias = Peek().value;
            item.hasAlias = true;
            Next();
        }
        return item;
    }

    // Conditions ------------------------------------------------------------------------

    ExprPtr MakeNode(ExprKind kind, std::string name = {}) {
        auto e = std::make_unique<Expr>();
        e->kind = kind;
        e->name = std::move(name);
        return e;
    }

    ExprPtr Condition() {
        Nesting nesting(depth_);
        ExprPtr left = AndCondition();
        while (AcceptKeyword("or")) {
            auto node = MakeNode(ExprKind::Or);
            node->args.push_back(std::move(left));
            node->args.push_back(AndCondition());
            left = std::move(node);
        }
        return left;
    }

    ExprPtr AndCondition() {
        ExprPtr left = NotCondition();
        while (AcceptKeyword("and")) {
            auto node = MakeNode(ExprKind::And);
            node->args.push_back(std::move(left));
            node->args.push_back(NotCondition());
            left = std::move(node);
        }
        return left;
    }

    ExprPtr NotCondition() {
        Nesting nesting(depth_);
        if (AcceptKeyword("not")) {
            auto node = MakeNode(ExprKind::Not);
            node->args.push_back(NotCondition());
            return node;
        }
        return Predicate();
    }

    ExprPtr Predicate() {
        if (AcceptKeyword("exists")) {
            ExpectSymbol("(");
            ExpectKeyword("select");
            auto node = MakeNode(ExprKind::Exists);
            node->subquery = Select();
            ExpectSymbol(")");
            return node;
        }
        if (IsSymbol(Peek(), "(")) {
            // Either a parenthesised condition or an expression starting with '('.
            const std::size_t save = pos_;
            try {
                Next();
                ExprPtr inner = Condition();
                ExpectSymbol(")");
                const Token& after = Peek();
                const bool continuesExpression =
                    after.kind == TokenKind::Symbol &&
                    (after.value == "+" || after.value == "-" || after.value == "*" ||
                     after.value == "/" || after.value == "%" || after.value == "=" ||
                     after.value == "<" || after.value == ">" || after.value == "<=" ||
                     after.value == ">=" || after.value == "<>" || after.value == "!=" ||
                     after.value == "!<" || after.value == "!>");
                if (!continuesExpression && !IsKeyword(after, "is") && !IsKeyword(after, "like") &&
                    !IsKeyword(after, "between") && !IsKeyword(after, "in")) {
                    return inner;
                }
            } catch (const EngineError&) {
            }
            pos_ = save;
        }
        ExprPtr left = Expression();
        const Token& t = Peek();
        if (t.kind == TokenKind::Symbol &&
            (t.value == "=" || t.value == "<" || t.value == ">" || t.value == "<=" ||
             t.value == ">=" || t.value == "<>" || t.value == "!=" || t.value == "!<" ||
             t.value == "!>")) {
            auto node = MakeNode(ExprKind::Compare, t.value);
            Next();
            node->args.push_back(std::move(left));
            node->args.push_back(Expression());
            return node;
        }
        if (AcceptKeyword("is")) {
            auto node = MakeNode(ExprKind::IsNull);
            node->negated = AcceptKeyword("not");
            ExpectKeyword("null");
            node->args.push_back(std::move(left));
            return node;
        }
        const bool negated = AcceptKeyword("not");
        if (AcceptKeyword("like")) {
            auto node = MakeNode(ExprKind::Like);
            node->negated = negated;
            node->args.push_back(std::move(left));
            node->args.push_back(Expression());
            return node;
        }
        if (AcceptKeyword("between")) {
            auto node = MakeNode(ExprKind::Between);
            node->negated = negated;
            node->args.push_back(std::move(left));
            node->args.push_back(Expression());
            ExpectKeyword("and");
            node->args.push_back(Expression());
            return node;
        }
        if (AcceptKeyword("in")) {
            auto node = MakeNode(ExprKind::InList);
            node->negated = negated;
            node->args.push_back(std::move(left));
            ExpectSymbol("(");
            do {
                node->args.push_back(Expression());
            } while (AcceptSymbol(","));
            ExpectSymbol(")");
            return node;
        }
        Fail(Peek());
    }

    // Expressions -----------------------------------------------------------------------

    ExprPtr Expression() {
        Nesting nesting(depth_);
        ExprPtr left = Term();
        while (IsSymbol(Peek(), "+") || IsSymbol(Peek(), "-")) {
            auto node = MakeNode(ExprKind::Binary, Next().value);
            node->args.push_back(std::move(left));
            node->args.push_back(Term());
            left = std::move(node);
        }
        return left;
    }

    ExprPtr Term() {
        ExprPtr left = Unary();
        while (IsSymbol(Peek(), "*") || IsSymbol(Peek(), "/") || IsSymbol(Peek(), "%")) {
            auto node = MakeNode(ExprKind::Binary, Next().value);
            node->args.push_back(std::move(left));
            node->args.push_back(Unary());
            left = std::move(node);
        }
        return left;
    }

    ExprPtr Unary() {
        Nesting nesting(depth_);
        if (IsSymbol(Peek(), "-")) {
            Next();
            const Token& t = Peek();
            if (t.kind == TokenKind::Integer || t.kind == TokenKind::Decimal ||
                t.kind == TokenKind::Float || t.kind == TokenKind::Money) {
                Next();
                return NumberLiteral(t, true);
            }
            auto node = MakeNode(ExprKind::Negate);
            node->args.push_back(Unary());
            return node;
        }
        if (IsSymbol(Peek(), "+")) {
            Next();
            return Unary();
        }
        return Primary();
    }

    ExprPtr Literal(Datum d, const Token& t) {
        auto e = MakeNode(ExprKind::Literal);
        e->literal = std::move(d);
        e->text = t.text;
        return e;
    }

    ExprPtr NumberLiteral(const Token& t, bool negative) {
        const std::string text = (negative ? "-" : "") + t.value;
        if (t.kind == TokenKind::Money) {
            Datum d = ConvertDatum(StringDatum(text), ColumnType{AseType::Money}, true);
            return Literal(std::move(d), t);
        }
        if (t.kind == TokenKind::Float) {
            return Literal(FloatDatum(std::strtod(text.c_str(), nullptr)), t);
        }
        std::string digits;
        int scale = 0;
        bool point = false;
        for (char c : t.value) {
            if (c == '.') {
                point = true;
            } else {
                digits += c;
                scale += point ? 1 : 0;
            }
        }
        const std::size_t nz = digits.find_first_not_of('0');
        digits = nz == std::string::npos ? "0" : digits.substr(nz);
        if (digits.size() > 38) {
            return Literal(FloatDatum(std::strtod(text.c_str(), nullptr)), t);
        }
        Int128 v = 0;
        ParseInt128(digits, v);
        if (negative) {
            v = -v;
        }
        if (t.kind == TokenKind::Integer && v >= std::numeric_limits<std::int32_t>::min() &&
            v <= std::numeric_limits<std::int32_t>::max()) {
            return Literal(IntDatum(static_cast<std::int64_t>(v)), t);
        }
        Datum d;
        d.type.type = AseType::Numeric;
        d.type.scale = scale;
        d.type.precision = std::max<int>(static_cast<int>(digits.size()), std::max(scale, 1));
        if (d.type.precision < scale) {
            d.type.precision = scale;
        }
        d.value.isNull = false;
        d.value.unscaled = v;
        return Literal(std::move(d), t);
    }

    ExprPtr Primary() {
        const Token& t = Peek();
        switch (t.kind) {
        case TokenKind::Integer:
        case TokenKind::Decimal:
        case TokenKind::Float:
        case TokenKind::Money:
            Next();
            return NumberLiteral(t, false);
        case TokenKind::String:
            Next();
            return Literal(StringDatum(t.value), t);
        case TokenKind::Binary:
            Next();
            return Literal(BinaryDatum(t.value), t);
        case TokenKind::Global: {
            Next();
            auto e = MakeNode(ExprKind::Global, t.value);
            e->text = t.text;
            return e;
        }
        case TokenKind::Local:
            throw EngineError(137, 15, "Must declare variable '" + t.text + "'.");
        case TokenKind::Symbol:
            if (t.value == "(") {
                Next();
                ExprPtr inner = Expression();
                ExpectSymbol(")");
                return inner;
            }
            Fail(t);
        case TokenKind::DelimitedId:
            return ColumnReference();
        case TokenKind::Word:
            break;
        case TokenKind::End:
            Fail(t);
        }
        const std::string kw = Lower(t.value);
        if (kw == "null") {
            Next();
            Datum d = NullDatum(ColumnType{AseType::Int});
            return Literal(std::move(d), t);
        }
        if (kw == "convert" && IsSymbol(Peek(1), "(")) {
            Next();
            Next();
            auto e = MakeNode(ExprKind::Convert, "convert");
            e->targetType = Type(true);
            ExpectSymbol(",");
            e->args.push_back(Expression());
            if (AcceptSymbol(",")) {
                e->args.push_back(Expression());
            }
            ExpectSymbol(")");
            return e;
        }
        if (IsReserved(t)) {
            Fail(t);
        }
        if (IsSymbol(Peek(1), "(")) {
            Next();
            Next();
            if (kw == "cast") {
                auto e = MakeNode(ExprKind::Convert, "cast");
                e->args.push_back(Expression());
                ExpectKeyword("as");
                e->targetType = Type(true);
                ExpectSymbol(")");
                return e;
            }
            if (kw == "count" && AcceptSymbol("*")) {
                ExpectSymbol(")");
                auto e = MakeNode(ExprKind::CountStar, "count");
                return e;
            }
            auto e = MakeNode(ExprKind::Function, kw);
            e->text = t.value;
            if (!IsSymbol(Peek(), ")")) {
                do {
                    e->args.push_back(Expression());
                } while (AcceptSymbol(","));
            }
            ExpectSymbol(")");
            return e;
        }
        return ColumnReference();
    }

    ExprPtr ColumnReference() {
        auto e = MakeNode(ExprKind::Column);
        e->parts.push_back(Identifier());
        while (IsSymbol(Peek(), ".") && IsIdentifier(Peek(1))) {
            Next();
            e->parts.push_back(Identifier());
        }
        e->text = e->parts.back();
        return e;
    }
};

} // namespace

std::vector<StatementPtr> ParseBatch(std::string_view sql, bool quotedIdentifier) {
    Parser p(sql, quotedIdentifier);
    return p.Batch();
}

std::shared_ptr<SelectStmt> ParseSelectText(std::string_view text) {
    Parser p(text, false);
    return p.SelectOnly();
}

bool ParseObjectNameText(std::string_view text, ObjectName& out) {
    try {
        Parser p(text, false);
        return p.NameOnly(out);
    } catch (const EngineError&) {
        return false;
    }
}

bool IsReservedWord(std::string_view word) {
    return ReservedWords().count(Lower(word)) > 0;
}

} // namespace asetest
