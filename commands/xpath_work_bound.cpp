#include "commands/xpath_work_bound.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Page XPath runs on the GUI thread, and pugixml can neither budget an evaluation nor stop
// one: a query is evaluated only when its work is known beforehand to stay below this many
// units (a unit is a node visited or a byte copied, a few nanoseconds each).
constexpr quint64 kQueryWorkBudget = 100000000;

// The shape of an XPath expression that pugixml has accepted. A step on the child, attribute
// or self axis, "//" opening a path from the document, a predicate or function argument that
// looks only below the node it tests, a comparison of a node set with a value and a function
// that reads its arguments once each meet a node at most once. Everything else (other axes,
// "//" within a path, an absolute path inside a predicate, node set against node set, id(),
// lang(), a translate() without a table) may meet every node once for each other node: each
// such place raises the degree of the work by one.
class XPathShape {
  public:
    explicit XPathShape(const QByteArray& expression) : tokens_(scan(expression)) {}

    // Whether the expression could be measured; false for what pugixml would not run either,
    // and for variables.
    bool measure() {
        orExpr(Scope::Top);
        return !refused_ && at(0).kind == Kind::End;
    }
    // The work is bounded by the profile's size to this power.
    quint64 degree() const { return degree_ + 1; }
    // The paths and function calls in it: each may take the string value of nodes, that is
    // copy the text below them.
    quint64 stringValueSites() const { return sites_; }

  private:
    enum class Kind {
        End,
        Literal,
        Number,
        Name,
        Star,
        Slash,
        DoubleSlash,
        Pipe,
        Plus,
        Minus,
        Equality,
        Relational,
        LParen,
        RParen,
        LBracket,
        RBracket,
        Comma,
        At,
        DoubleColon,
        Dot,
        DoubleDot,
        Other
    };
    struct Token {
        Kind kind;
        QByteArray text;
    };
    // Top: evaluated once, from the document. Predicate: evaluated once per node tested.
    enum class Scope { Top, Predicate };

    static bool isNameStart(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
               static_cast<unsigned char>(c) >= 0x80;
    }
    static bool isNameChar(char c) {
        return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
    }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    static std::vector<Token> scan(const QByteArray& text) {
        std::vector<Token> tokens;
        const int size = text.size();
        int i = 0;
        auto peek = [&](int ahead) { return i + ahead < size ? text.at(i + ahead) : '\0'; };
        auto add = [&](Kind kind, int length) {
            tokens.push_back({kind, text.mid(i, length)});
            i += length;
        };
        while (i < size) {
            const char c = text.at(i);
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                ++i;
            } else if (c == '\'' || c == '"') {
                const int close = text.indexOf(c, i + 1);
                if (close < 0)
                    return {{Kind::Other, QByteArray()}};
                tokens.push_back({Kind::Literal, text.mid(i + 1, close - i - 1)});
                i = close + 1;
            } else if (isDigit(c) || (c == '.' && isDigit(peek(1)))) {
                int end = i;
                while (end < size && (isDigit(text.at(end)) || text.at(end) == '.'))
                    ++end;
                add(Kind::Number, end - i);
            } else if (isNameStart(c)) {
                int end = i;
                while (end < size && isNameChar(text.at(end)))
                    ++end;
                // A prefixed name or "prefix:*"; "::" ends an axis name instead.
                if (end + 1 < size && text.at(end) == ':' && text.at(end + 1) != ':') {
                    ++end;
                    if (text.at(end) == '*')
                        ++end;
                    while (end < size && isNameChar(text.at(end)))
                        ++end;
                }
                add(Kind::Name, end - i);
            } else if (c == '/') {
                peek(1) == '/' ? add(Kind::DoubleSlash, 2) : add(Kind::Slash, 1);
            } else if (c == '.') {
                peek(1) == '.' ? add(Kind::DoubleDot, 2) : add(Kind::Dot, 1);
            } else if (c == ':' && peek(1) == ':') {
                add(Kind::DoubleColon, 2);
            } else if (c == '!' && peek(1) == '=') {
                add(Kind::Equality, 2);
            } else if (c == '<' || c == '>') {
                add(Kind::Relational, peek(1) == '=' ? 2 : 1);
            } else {
                const char* const singles = "*|+-=()[],@";
                const Kind kinds[] = {Kind::Star,     Kind::Pipe,   Kind::Plus,   Kind::Minus,
                                      Kind::Equality, Kind::LParen, Kind::RParen, Kind::LBracket,
                                      Kind::RBracket, Kind::Comma,  Kind::At};
                const char* found = c != '\0' ? std::strchr(singles, c) : nullptr;
                // Anything else, the "$" of a variable among it (pages pass none), is refused.
                add(found ? kinds[found - singles] : Kind::Other, 1);
            }
        }
        return tokens;
    }

    const Token& at(size_t ahead) const {
        static const Token end{Kind::End, QByteArray()};
        return pos_ + ahead < tokens_.size() ? tokens_[pos_ + ahead] : end;
    }
    void next() { ++pos_; }
    bool isName(const char* name) const { return at(0).kind == Kind::Name && at(0).text == name; }
    // Ends the walk: every token from here on reads as the end.
    void refuse() {
        refused_ = true;
        pos_ = tokens_.size();
    }
    void expect(Kind kind) {
        if (at(0).kind != kind)
            refuse();
        next();
    }

    // Each returns whether the expression it read yields a node set.
    bool orExpr(Scope scope) {
        bool nodeSet = andExpr(scope);
        while (isName("or")) {
            next();
            andExpr(scope);
            nodeSet = false;
        }
        return nodeSet;
    }
    bool andExpr(Scope scope) {
        bool nodeSet = equalityExpr(scope);
        while (isName("and")) {
            next();
            equalityExpr(scope);
            nodeSet = false;
        }
        return nodeSet;
    }
    // pugixml compares two node sets pair by pair.
    bool equalityExpr(Scope scope) {
        bool nodeSet = relationalExpr(scope);
        while (at(0).kind == Kind::Equality) {
            next();
            if (relationalExpr(scope) && nodeSet)
                ++degree_;
            nodeSet = false;
        }
        return nodeSet;
    }
    bool relationalExpr(Scope scope) {
        bool nodeSet = additiveExpr(scope);
        while (at(0).kind == Kind::Relational) {
            next();
            if (additiveExpr(scope) && nodeSet)
                ++degree_;
            nodeSet = false;
        }
        return nodeSet;
    }
    bool additiveExpr(Scope scope) {
        bool nodeSet = multiplicativeExpr(scope);
        while (at(0).kind == Kind::Plus || at(0).kind == Kind::Minus) {
            next();
            multiplicativeExpr(scope);
            nodeSet = false;
        }
        return nodeSet;
    }
    bool multiplicativeExpr(Scope scope) {
        bool nodeSet = unaryExpr(scope);
        while (at(0).kind == Kind::Star || isName("div") || isName("mod")) {
            next();
            unaryExpr(scope);
            nodeSet = false;
        }
        return nodeSet;
    }
    bool unaryExpr(Scope scope) {
        bool negated = false;
        for (; at(0).kind == Kind::Minus; next())
            negated = true;
        const bool nodeSet = unionExpr(scope);
        return nodeSet && !negated;
    }
    bool unionExpr(Scope scope) {
        bool nodeSet = pathExpr(scope);
        while (at(0).kind == Kind::Pipe) {
            next();
            pathExpr(scope);
            nodeSet = true;
        }
        return nodeSet;
    }

    bool startsPrimary() const {
        switch (at(0).kind) {
            case Kind::Literal:
            case Kind::Number:
            case Kind::LParen:
            case Kind::Other:
                return true;
            case Kind::Name:
                return at(1).kind == Kind::LParen && !isNodeType(at(0).text);
            default:
                return false;
        }
    }
    static bool isNodeType(const QByteArray& name) {
        return name == "node" || name == "text" || name == "comment" ||
               name == "processing-instruction";
    }
    bool startsStep() const {
        switch (at(0).kind) {
            case Kind::Name:
            case Kind::Star:
            case Kind::At:
            case Kind::Dot:
            case Kind::DoubleDot:
                return true;
            default:
                return false;
        }
    }

    bool pathExpr(Scope scope) {
        const Kind opening = at(0).kind;
        if (opening == Kind::Slash || opening == Kind::DoubleSlash) {
            // Below a predicate an absolute path walks the profile once per node tested.
            if (scope != Scope::Top)
                ++degree_;
            next();
            ++sites_;
            if (opening == Kind::DoubleSlash || startsStep())
                relativePath();
            return true;
        }
        if (startsPrimary()) {
            const bool nodeSet = primaryExpr(scope);
            while (at(0).kind == Kind::LBracket)
                predicate();
            if (at(0).kind != Kind::Slash && at(0).kind != Kind::DoubleSlash)
                return nodeSet;
            if (at(0).kind == Kind::DoubleSlash)
                ++degree_;
            next();
            relativePath();
            return true;
        }
        ++sites_;
        relativePath();
        return true;
    }
    void relativePath() {
        step();
        while (at(0).kind == Kind::Slash || at(0).kind == Kind::DoubleSlash) {
            // Within a path "//" walks below every node reached so far, again and again where
            // they nest.
            if (at(0).kind == Kind::DoubleSlash)
                ++degree_;
            next();
            step();
        }
    }
    void step() {
        if (at(0).kind == Kind::Dot) {
            next();
        } else if (at(0).kind == Kind::At) {
            next();
            nodeTest();
        } else if (at(0).kind == Kind::Name && at(1).kind == Kind::DoubleColon) {
            // The parent, ancestor, descendant, sibling, following and preceding axes meet a
            // node once for each of many others.
            const QByteArray& axis = at(0).text;
            if (axis != "child" && axis != "attribute" && axis != "self")
                ++degree_;
            next();
            next();
            nodeTest();
        } else if (at(0).kind == Kind::DoubleDot) {
            next();
            ++degree_;
        } else {
            nodeTest();
        }
        while (at(0).kind == Kind::LBracket)
            predicate();
    }
    void nodeTest() {
        if (at(0).kind == Kind::Star) {
            next();
            return;
        }
        if (at(0).kind != Kind::Name) {
            refuse();
            return;
        }
        const bool typed = at(1).kind == Kind::LParen;
        next();
        if (!typed)
            return;
        next();
        if (at(0).kind == Kind::Literal)
            next();
        expect(Kind::RParen);
    }
    void predicate() {
        next();
        orExpr(Scope::Predicate);
        expect(Kind::RBracket);
    }

    bool primaryExpr(Scope scope) {
        switch (at(0).kind) {
            case Kind::Literal:
            case Kind::Number:
                next();
                return false;
            case Kind::LParen: {
                next();
                const bool nodeSet = orExpr(scope);
                expect(Kind::RParen);
                return nodeSet;
            }
            case Kind::Name:
                functionCall(scope);
                return false;
            default:
                refuse();
                return false;
        }
    }
    // id() and lang() search the profile or the node's ancestors, namespace-uri() the
    // ancestors' attributes, each time they are called.
    static bool isLinearFunction(const QByteArray& name) {
        static const char* const names[] = {"last",          "position",
                                            "count",         "local-name",
                                            "name",          "string",
                                            "concat",        "starts-with",
                                            "contains",      "substring-before",
                                            "substring",     "substring-after",
                                            "string-length", "normalize-space",
                                            "translate",     "boolean",
                                            "not",           "true",
                                            "false",         "number",
                                            "sum",           "floor",
                                            "ceiling",       "round"};
        return std::any_of(std::begin(names), std::end(names),
                           [&](const char* known) { return name == known; });
    }
    static bool isAscii(const QByteArray& text) {
        return std::all_of(text.begin(), text.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    }
    void functionCall(Scope scope) {
        const QByteArray name = at(0).text;
        if (!isLinearFunction(name))
            ++degree_;
        ++sites_;
        next();
        next();
        for (int index = 0; at(0).kind != Kind::RParen && at(0).kind != Kind::End; ++index) {
            if (index > 0)
                expect(Kind::Comma);
            // pugixml translates in one pass only with a table it builds from ASCII literals;
            // otherwise it searches the second argument for every character.
            const bool table = at(0).kind == Kind::Literal && isAscii(at(0).text) &&
                               (at(1).kind == Kind::Comma || at(1).kind == Kind::RParen);
            if (name == "translate" && index > 0 && !table)
                ++degree_;
            orExpr(scope);
        }
        expect(Kind::RParen);
    }

    std::vector<Token> tokens_;
    size_t pos_ = 0;
    bool refused_ = false;
    quint64 degree_ = 0;
    quint64 sites_ = 0;
};

// What a query on the profile below `root` can touch: its nodes and attributes (`items`),
// and the bytes that copying every node with each enclosing one costs (`copied`), as string
// values and printed subtrees do, the indentation included. The walk stops where `copied`
// reaches `cap`.
struct ProfileWeight {
    quint64 items = 0;
    quint64 copied = 0;
};

ProfileWeight weighProfile(const pugi::xml_node& root, quint64 cap) {
    ProfileWeight weight;
    auto add = [cap](quint64& total, quint64 amount) { total = std::min(cap, total + amount); };
    auto copyCost = [](quint64 depth, const char* name, const char* value) {
        return depth * (depth + 1 + std::strlen(name) + std::strlen(value));
    };
    quint64 depth = 1;
    // Past the cap the query is refused, whatever the rest of the profile holds.
    for (pugi::xml_node node = root.first_child(); node && weight.copied < cap;) {
        add(weight.items, 1);
        add(weight.copied, copyCost(depth, node.name(), node.value()));
        for (const pugi::xml_attribute& attribute : node.attributes()) {
            add(weight.items, 1);
            add(weight.copied, copyCost(depth, attribute.name(), attribute.value()));
        }
        if (node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        while (!node.next_sibling()) {
            node = node.parent();
            --depth;
            if (node == root)
                return weight;
        }
        node = node.next_sibling();
    }
    return weight;
}

quint64 saturatingProduct(quint64 a, quint64 b) {
    return a != 0 && b > std::numeric_limits<quint64>::max() / a
               ? std::numeric_limits<quint64>::max()
               : a * b;
}

quint64 saturatingPower(quint64 base, quint64 exponent) {
    quint64 result = 1;
    for (quint64 i = 0; i < exponent && result <= kQueryWorkBudget; ++i)
        result = saturatingProduct(result, base);
    return result;
}

}  // namespace

// Every byte of the expression may meet every node and attribute once per degree of its shape,
// and every string-value site and the printing may copy the whole profile once per degree
// beyond the first.
bool withinXPathWorkBudget(const pugi::xml_node& root, const QByteArray& expression) {
    XPathShape shape(expression);
    if (!shape.measure())
        return false;
    const ProfileWeight weight = weighProfile(root.root(), kQueryWorkBudget + 1);
    const quint64 items = std::max<quint64>(1, weight.items);
    const quint64 bytes = std::max<quint64>(1, quint64(expression.size()));
    const quint64 sites = shape.stringValueSites() + 1;
    const quint64 repeats = saturatingPower(items, shape.degree() - 1);
    const quint64 visits = saturatingProduct(bytes, saturatingProduct(items, repeats));
    const quint64 copies = saturatingProduct(sites, saturatingProduct(weight.copied, repeats));
    return visits <= kQueryWorkBudget && copies <= kQueryWorkBudget &&
           visits + copies <= kQueryWorkBudget;
}
