// Lexing: one source line into tokens, and the names the lexer reserves.
#include "asm_internal.h"

#include <cstdio>

namespace asm_impl {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

static bool is_ident_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
static bool is_ident_char(char c) { return is_ident_start(c) || (c >= '0' && c <= '9'); }
static bool is_digit(char c) { return c >= '0' && c <= '9'; }

static int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 99;
}

// Decodes one escape or plain character starting at text[i]; advances i.
bool decode_char(std::string_view text, size_t& i, char& out) {
    char c = text[i++];
    if (c != '\\') {
        out = c;
        return true;
    }
    if (i >= text.size()) return false;
    char e = text[i++];
    switch (e) {
    case 'n': out = '\n'; return true;
    case 'r': out = '\r'; return true;
    case 't': out = '\t'; return true;
    case '0': out = '\0'; return true;
    case '\\': out = '\\'; return true;
    case '\'': out = '\''; return true;
    case '"': out = '"'; return true;
    case 'x': {
        if (i + 2 > text.size()) return false;
        int hi = digit_value(text[i]), lo = digit_value(text[i + 1]);
        if (hi > 15 || lo > 15) return false;
        out = static_cast<char>(hi * 16 + lo);
        i += 2;
        return true;
    }
    default: return false;
    }
}

static bool lex_number(std::string_view line, size_t& i, Token& tok, LexError& err) {
    size_t start = i;
    int base = 10;
    if (line[i] == '0' && i + 1 < line.size() && (line[i + 1] == 'x' || line[i + 1] == 'X'))
        base = 16, i += 2;
    else if (line[i] == '0' && i + 1 < line.size() && (line[i + 1] == 'b' || line[i + 1] == 'B'))
        base = 2, i += 2;
    uint64_t value = 0;
    int digits = 0;
    bool overflow = false;
    for (; i < line.size(); ++i) {
        char c = line[i];
        if (c == '_') continue;
        int d = digit_value(c);
        if (!is_ident_char(c)) break;
        if (d >= base) {
            err = {static_cast<uint32_t>(start + 1),
                   "malformed number '" + std::string(line.substr(start, i + 1 - start)) + "'"};
            return false;
        }
        if (value >
            (static_cast<uint64_t>(INT64_MAX) - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base))
            overflow = true;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        ++digits;
    }
    if (digits == 0) {
        err = {static_cast<uint32_t>(start + 1),
               "malformed number '" + std::string(line.substr(start, i - start)) + "'"};
        return false;
    }
    if (overflow) {
        err = {static_cast<uint32_t>(start + 1), "number too large"};
        return false;
    }
    tok.kind = Tok::Number;
    tok.value = static_cast<int64_t>(value);
    tok.text = line.substr(start, i - start);
    return true;
}

// Splits one line into tokens; a ';' ends it. Fails on the first bad character.
bool lex_line(std::string_view line, std::vector<Token>& toks, LexError& err) {
    toks.clear();
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
            ++i;
            continue;
        }
        if (c == ';') break;
        Token tok;
        tok.col = static_cast<uint32_t>(i + 1);
        if (is_ident_start(c) || (c == '.' && i + 1 < line.size() && is_ident_start(line[i + 1]))) {
            size_t start = i++;
            while (i < line.size() && (is_ident_char(line[i]) || (line[i] == '.' && i + 1 < line.size() &&
                                                                  is_ident_start(line[i + 1]))))
                ++i;
            tok.kind = Tok::Ident;
            tok.text = line.substr(start, i - start);
        } else if (is_digit(c)) {
            if (!lex_number(line, i, tok, err)) return false;
        } else if (c == '\'') {
            size_t j = i + 1;
            char value = 0;
            if (j >= line.size() || line[j] == '\'' || !decode_char(line, j, value) || j >= line.size() ||
                line[j] != '\'') {
                err = {tok.col, "malformed character literal"};
                return false;
            }
            tok.kind = Tok::Number;
            tok.value = static_cast<uint8_t>(value);
            i = j + 1;
        } else if (c == '"') {
            size_t j = i + 1;
            while (j < line.size() && line[j] != '"') j += (line[j] == '\\' && j + 1 < line.size()) ? 2 : 1;
            if (j >= line.size()) {
                err = {tok.col, "unterminated string"};
                return false;
            }
            tok.kind = Tok::String;
            tok.text = line.substr(i + 1, j - i - 1);
            i = j + 1;
        } else {
            static constexpr std::array<std::string_view, 8> two_char_ops = {
                "<<", ">>", "<=", ">=", "==", "!=", "&&", "||"};
            std::string_view rest = line.substr(i);
            bool matched = false;
            for (std::string_view op : two_char_ops) {
                if (rest.substr(0, 2) == op) {
                    tok.kind = Tok::Op;
                    tok.text = rest.substr(0, 2);
                    i += 2;
                    matched = true;
                    break;
                }
            }
            if (!matched) {
                ++i;
                tok.text = rest.substr(0, 1);
                switch (c) {
                case '$': tok.kind = Tok::Dollar; break;
                case '(': tok.kind = Tok::LParen; break;
                case ')': tok.kind = Tok::RParen; break;
                case '[': tok.kind = Tok::LBracket; break;
                case ']': tok.kind = Tok::RBracket; break;
                case ',': tok.kind = Tok::Comma; break;
                case ':': tok.kind = Tok::Colon; break;
                case '=': tok.kind = Tok::Assign; break;
                case '+':
                case '-':
                case '*':
                case '/':
                case '%':
                case '&':
                case '|':
                case '^':
                case '~':
                case '!':
                case '<':
                case '>': tok.kind = Tok::Op; break;
                default: {
                    char shown[16];
                    std::snprintf(shown, sizeof shown, (c >= 0x20 && c < 0x7F) ? "'%c'" : "0x%02X",
                                  static_cast<unsigned char>(c));
                    err = {tok.col, std::string("unexpected character ") + shown};
                    return false;
                }
                }
            }
        }
        toks.push_back(tok);
    }
    Token end;
    end.kind = Tok::End;
    end.col = static_cast<uint32_t>(line.size() + 1);
    toks.push_back(end);
    return true;
}

RegKind register_name(std::string_view name, int64_t& number) {
    if (iequals(name, "flags")) return number = FLAGS, RegKind::Reg;
    if (iequals(name, "pc")) return number = PAIR_PC, RegKind::Pair;
    if (iequals(name, "sp")) return number = PAIR_SP, RegKind::Pair;
    if (name.size() < 2 || name.size() > 12) return RegKind::None;
    char first = lower(name[0]);
    if (first != 'r' && first != 'p') return RegKind::None;
    int64_t n = 0;
    for (size_t i = 1; i < name.size(); ++i) {
        if (!is_digit(name[i])) return RegKind::None;
        n = n * 10 + (name[i] - '0');
    }
    number = n;
    return first == 'r' ? RegKind::Reg : RegKind::Pair;
}

bool is_reserved(std::string_view name) {
    int64_t unused = 0;
    return register_name(name, unused) != RegKind::None || iequals(name, "r") || iequals(name, "p") ||
           iequals(name, "hi") || iequals(name, "lo") || iequals(name, "bank");
}

} // namespace asm_impl
