#include "TagExpression.h"

#include "../DateCalc.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace fieldsmith::engine::dbase {

namespace {

constexpr int kMaxCharacterKey = 100;

enum class Op { Field, Literal, Upper, Dtos, Str, Left, Substr, Concat };

// A value while a key is evaluated.
struct Result {
    char type = 'C';
    std::string bytes;    //!< 'C'
    std::string text;     //!< 'N': the decimal text
    std::int64_t day = 0; //!< 'D': day number, 0 for blank
};

std::string trimmed(std::string_view s) {
    std::size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\0'))
        ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\0'))
        --b;
    return std::string(s.substr(a, b - a));
}

std::int64_t dayOfText(std::string_view t) {
    if (t.size() != 8) return 0;
    int v[3] = {0, 0, 0};
    const int width[3] = {4, 2, 2};
    std::size_t at = 0;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < width[k]; ++i, ++at) {
            if (!std::isdigit(static_cast<unsigned char>(t[at]))) return 0;
            v[k] = v[k] * 10 + (t[at] - '0');
        }
    if (v[0] < 1 || !isValidDate(v[0], v[1], v[2])) return 0;
    return dayNumber(v[0], v[1], v[2]);
}

} // namespace

struct TagExpression::Node {
    Op op = Op::Field;
    char type = 'C';
    int length = 0; //!< 'C': bytes of the result
    FieldDesc field;
    int fieldIndex = -1;
    std::string literal;
    int a = 0, b = 0; //!< STR width/decimals, LEFT count, SUBSTR start/count
    std::vector<std::unique_ptr<Node>> args;
};

namespace {

// A small recursive-descent parser: term ('+' term)*, where a term is a field, a quoted
// literal or NAME(args).
class Parser {
public:
    Parser(const std::string& text, const std::vector<FieldDesc>& fields)
        : text_(text), fields_(fields) {}

    std::unique_ptr<TagExpression::Node> parse(std::string& error) {
        try {
            auto n = sum();
            skip();
            if (at_ != text_.size()) fail("unexpected '" + text_.substr(at_) + "'");
            return n;
        } catch (const std::string& e) {
            error = e;
            return nullptr;
        }
    }

private:
    using NodePtr = std::unique_ptr<TagExpression::Node>;

    [[noreturn]] void fail(const std::string& why) { throw why; }

    void skip() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_])))
            ++at_;
    }
    bool take(char c) {
        skip();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void expect(char c) {
        if (!take(c)) fail(std::string("'") + c + "' expected");
    }
    int number() {
        skip();
        const std::size_t start = at_;
        while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_])))
            ++at_;
        if (start == at_ || at_ - start > 4) fail("a number expected");
        return std::stoi(text_.substr(start, at_ - start));
    }

    NodePtr sum() {
        NodePtr first = term();
        if (!take('+')) return first;
        auto n = std::make_unique<TagExpression::Node>();
        n->op = Op::Concat;
        n->type = 'C';
        n->args.push_back(std::move(first));
        do
            n->args.push_back(term());
        while (take('+'));
        for (const auto& a : n->args) {
            if (a->type != 'C') fail("only character values can be joined with '+'");
            n->length += a->length;
        }
        return n;
    }

    NodePtr term() {
        skip();
        if (at_ >= text_.size()) fail("the expression ends too early");
        const char c = text_[at_];
        if (c == '"' || c == '\'') {
            const std::size_t end = text_.find(c, at_ + 1);
            if (end == std::string::npos) fail("a quote is not closed");
            auto n = std::make_unique<TagExpression::Node>();
            n->op = Op::Literal;
            n->literal = text_.substr(at_ + 1, end - at_ - 1);
            n->length = static_cast<int>(n->literal.size());
            at_ = end + 1;
            return n;
        }
        if (c == '(') {
            ++at_;
            NodePtr inner = sum();
            expect(')');
            return inner;
        }
        const std::size_t start = at_;
        while (at_ < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_'))
            ++at_;
        if (start == at_) fail(std::string("unexpected '") + c + "'");
        std::string name = upperAscii(text_.substr(start, at_ - start));
        if (take('(')) return call(name);
        // A field, perhaps written with its table's alias (CUSTOMER->NAME).
        skip();
        if (text_.compare(at_, 2, "->") == 0) {
            at_ += 2;
            skip();
            const std::size_t s2 = at_;
            while (at_ < text_.size() &&
                   (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_'))
                ++at_;
            name = upperAscii(text_.substr(s2, at_ - s2));
        }
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            const FieldDesc& f = fields_[i];
            if (f.hidden || !sameName(f.name, name)) continue;
            auto n = std::make_unique<TagExpression::Node>();
            n->op = Op::Field;
            n->field = f;
            n->fieldIndex = static_cast<int>(i);
            switch (f.type) {
            case 'C':
                n->type = 'C';
                n->length = f.length;
                break;
            case 'N':
            case 'F':
                n->type = 'N';
                break;
            case 'D':
                n->type = 'D';
                break;
            default:
                fail("field " + name + " of type " + std::string(1, f.type) +
                     " cannot be part of a key");
            }
            return n;
        }
        fail("no field " + name);
    }

    NodePtr call(const std::string& name) {
        auto n = std::make_unique<TagExpression::Node>();
        n->args.push_back(sum());
        const TagExpression::Node& arg = *n->args.front();
        if (name == "UPPER") {
            if (arg.type != 'C') fail("UPPER() needs a character value");
            n->op = Op::Upper;
            n->length = arg.length;
        } else if (name == "DTOS") {
            if (arg.type != 'D') fail("DTOS() needs a date");
            n->op = Op::Dtos;
            n->length = 8;
        } else if (name == "STR") {
            if (arg.type != 'N') fail("STR() needs a number");
            n->op = Op::Str;
            n->a = take(',') ? number() : 10;
            n->b = take(',') ? number() : 0;
            if (n->a < 1 || n->a > 20 || n->b > 15) fail("STR() width or decimals out of range");
            n->length = n->a;
        } else if (name == "LEFT") {
            if (arg.type != 'C') fail("LEFT() needs a character value");
            expect(',');
            n->op = Op::Left;
            n->a = number();
            n->length = std::min(n->a, arg.length);
        } else if (name == "SUBSTR") {
            if (arg.type != 'C') fail("SUBSTR() needs a character value");
            expect(',');
            n->op = Op::Substr;
            n->a = number();
            n->b = take(',') ? number() : arg.length;
            if (n->a < 1) fail("SUBSTR() starts at 1");
            n->length = std::max(0, std::min(n->b, arg.length - n->a + 1));
        } else {
            fail("the function " + name + "() is not supported");
        }
        expect(')');
        n->type = 'C';
        return n;
    }

    const std::string& text_;
    const std::vector<FieldDesc>& fields_;
    std::size_t at_ = 0;
};

void collectFields(const TagExpression::Node& n, std::vector<int>& out) {
    if (n.op == Op::Field && std::find(out.begin(), out.end(), n.fieldIndex) == out.end())
        out.push_back(n.fieldIndex);
    for (const auto& a : n.args)
        collectFields(*a, out);
}

std::string padded(std::string s, int length) {
    s.resize(static_cast<std::size_t>(std::max(length, 0)), ' ');
    return s;
}

Result evaluate(const TagExpression::Node& n, const std::uint8_t* record,
                const std::array<std::uint8_t, 256>& upper) {
    Result r;
    r.type = n.type;
    switch (n.op) {
    case Op::Field: {
        const char* p = reinterpret_cast<const char*>(record + n.field.offset);
        const std::string_view raw(p, static_cast<std::size_t>(n.field.length));
        if (n.type == 'C')
            r.bytes.assign(raw);
        else if (n.type == 'N')
            r.text = trimmed(raw);
        else
            r.day = dayOfText(raw);
        return r;
    }
    case Op::Literal:
        r.bytes = n.literal;
        return r;
    case Op::Upper:
        r.bytes = evaluate(*n.args[0], record, upper).bytes;
        for (char& c : r.bytes)
            c = static_cast<char>(upper[static_cast<std::uint8_t>(c)]);
        return r;
    case Op::Dtos: {
        const std::int64_t day = evaluate(*n.args[0], record, upper).day;
        if (day == 0) {
            r.bytes.assign(8, ' ');
        } else {
            const CivilDate d = civilFromDayNumber(day);
            char buf[16];
            std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year, d.month, d.day);
            r.bytes = buf;
        }
        return r;
    }
    case Op::Str: {
        const std::string text = evaluate(*n.args[0], record, upper).text;
        const double v = text.empty() ? 0.0 : std::strtod(text.c_str(), nullptr);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%*.*f", n.a, n.b, v);
        r.bytes = buf;
        if (static_cast<int>(r.bytes.size()) > n.a)
            r.bytes.assign(static_cast<std::size_t>(n.a), '*');
        return r;
    }
    case Op::Left:
        r.bytes =
            evaluate(*n.args[0], record, upper).bytes.substr(0, static_cast<std::size_t>(n.length));
        return r;
    case Op::Substr: {
        const std::string s = evaluate(*n.args[0], record, upper).bytes;
        const auto from = static_cast<std::size_t>(n.a - 1);
        r.bytes =
            from < s.size() ? s.substr(from, static_cast<std::size_t>(n.length)) : std::string();
        r.bytes = padded(r.bytes, n.length);
        return r;
    }
    case Op::Concat:
        for (const auto& a : n.args)
            r.bytes += padded(evaluate(*a, record, upper).bytes, a->length);
        return r;
    }
    return r;
}

// The value of a numeric key: sign, the decimal exponent and the digits.
long double numericValue(const std::string& key) {
    if (key.size() < 12) return 0;
    const auto* k = reinterpret_cast<const std::uint8_t*>(key.data());
    long double v = 0, scale = 0.1L;
    for (int i = 2; i < 12; ++i) {
        v += scale * (k[i] >> 4);
        scale /= 10;
        v += scale * (k[i] & 15);
        scale /= 10;
    }
    v *= std::pow(10.0L, static_cast<int>(k[0]) - 52);
    return (k[1] & 0x80) ? -v : v;
}

} // namespace

TagExpression::TagExpression(TagExpression&&) noexcept = default;
TagExpression& TagExpression::operator=(TagExpression&&) noexcept = default;
TagExpression::~TagExpression() = default;

std::optional<TagExpression> TagExpression::parse(const std::string& text,
                                                  const std::vector<FieldDesc>& fields,
                                                  std::string& error) {
    Parser p(text, fields);
    auto root = p.parse(error);
    if (!root) return std::nullopt;
    if (root->type == 'C' && (root->length < 1 || root->length > kMaxCharacterKey)) {
        error = "the key is " + std::to_string(root->length) + " bytes long (at most 100)";
        return std::nullopt;
    }
    TagExpression e;
    e.keyType_ = root->type;
    collectFields(*root, e.referenced_);
    e.root_ = std::move(root);
    e.upper_ = upperCaseMap(1252);
    return e;
}

int TagExpression::keyLength() const {
    if (keyType_ == 'N') return 12;
    if (keyType_ == 'D') return 8;
    return root_->length;
}

bool TagExpression::asFieldList(std::vector<int>& fields, bool& caseInsensitive) const {
    fields.clear();
    int upperTerms = 0, characterTerms = 0;
    // A term of the list: a field, UPPER() of fields, or DTOS() of a date field.
    auto term = [&](const Node& n, auto&& self) -> bool {
        if (n.op == Op::Field) {
            fields.push_back(n.fieldIndex);
            if (n.type == 'C') ++characterTerms;
            return true;
        }
        if (n.op == Op::Dtos)
            return n.args[0]->op == Op::Field && (fields.push_back(n.args[0]->fieldIndex), true);
        if (n.op == Op::Upper) {
            const Node& inner = *n.args[0];
            const std::vector<const Node*> parts =
                inner.op == Op::Concat ? [&] {
                    std::vector<const Node*> v;
                    for (const auto& a : inner.args) v.push_back(a.get());
                    return v;
                }()
                                       : std::vector<const Node*>{&inner};
            for (const Node* p : parts) {
                if (p->op != Op::Field) return false;
                fields.push_back(p->fieldIndex);
                ++upperTerms;
                ++characterTerms;
            }
            return true;
        }
        (void)self;
        return false;
    };
    bool ok = true;
    if (root_->op == Op::Concat) {
        for (const auto& a : root_->args)
            ok = ok && term(*a, term);
    } else {
        ok = term(*root_, term);
    }
    if (!ok || (upperTerms > 0 && upperTerms != characterTerms)) {
        fields.clear();
        return false;
    }
    caseInsensitive = upperTerms > 0;
    return true;
}

std::string TagExpression::key(const std::uint8_t* record) const {
    const Result r = evaluate(*root_, record, upper_);
    if (keyType_ == 'N') return numericKey(r.text);
    if (keyType_ == 'D') return dateKey(r.day);
    return padded(r.bytes, root_->length);
}

long double TagExpression::keyValue(const std::string& key) const {
    if (keyType_ == 'N') return numericValue(key);
    double d = 0;
    if (key.size() >= 8) std::memcpy(&d, key.data(), 8);
    return d;
}

int TagExpression::compareKeys(const std::string& a, const std::string& b) const {
    if (keyType_ == 'C') return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
    const long double x = keyValue(a), y = keyValue(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

std::string numericKey(const std::string& decimalText) {
    std::string key(12, '\0');
    std::string t = trimmed(decimalText);
    bool negative = false;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        negative = t[0] == '-';
        t.erase(0, 1);
    }
    std::string intPart = t, fracPart;
    const std::size_t point = t.find_first_of(".,");
    if (point != std::string::npos) {
        intPart = t.substr(0, point);
        fracPart = t.substr(point + 1);
    }
    std::string digits = intPart + fracPart;
    int exponent = static_cast<int>(intPart.size());
    std::size_t lead = 0;
    while (lead < digits.size() && digits[lead] == '0')
        ++lead;
    digits.erase(0, lead);
    exponent -= static_cast<int>(lead);
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c))) digits.clear();
    if (digits.empty()) {
        key[0] = 0x34;
        key[1] = 0x01;
        return key;
    }
    digits.resize(std::min<std::size_t>(digits.size(), 20));
    key[0] = static_cast<char>(52 + exponent);
    key[1] = static_cast<char>(0x29 | (negative ? 0x80 : 0));
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const auto d = static_cast<std::uint8_t>(digits[i] - '0');
        auto& byte = reinterpret_cast<std::uint8_t&>(key[2 + i / 2]);
        byte = static_cast<std::uint8_t>(byte | (i % 2 == 0 ? d << 4 : d));
    }
    return key;
}

std::string dateKey(std::int64_t day) {
    const double julian = day == 0 ? 0.0 : static_cast<double>(day + 1721425);
    std::string key(8, '\0');
    std::memcpy(key.data(), &julian, 8);
    return key;
}

std::array<std::uint8_t, 256> upperCaseMap(int codePage) {
    std::array<std::uint8_t, 256> m{};
    for (int c = 0; c < 256; ++c) {
        int u = c;
        if (c >= 'a' && c <= 'z') u = c - 32;
        if (codePage == 1252) {
            if (c >= 0xE0 && c <= 0xFE && c != 0xF7) u = c - 32;
            if (c == 0x9A || c == 0x9C || c == 0x9E) u = c - 16;
            if (c == 0xFF) u = 0x9F;
        }
        m[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(u);
    }
    return m;
}

} // namespace fieldsmith::engine::dbase
