#include "engine/basekit/xmlitem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <iconv.h>
#include <pugixml.hpp>

namespace {

// ---- Spelling of names and values -------------------------------------
//
// An item is an element.  Its name is the tag when it is a plain ASCII XML
// name; otherwise the tag is "_" and the name stands in attribute "n".  Its
// value is the element's text when it has no children, else attribute "v".
// A name or value that XML cannot carry (bytes that are not UTF-8, control
// characters) goes into "nx" / "vx" as hex digits instead.

const char* const kOtherTag = "_";

bool is_plain_name(std::string_view s)
{
    if (s.empty())
        return false;
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (!letter(s[0]))
        return false;
    for (char c : s)
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.')
            return false;
    return true;
}

// True when every byte sequence is UTF-8 for a character XML 1.0 allows.
bool is_xml_text(std::string_view s)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        unsigned c = *p;
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                return false;
            ++p;
            continue;
        }
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
        if (extra < 0 || c > 0xF4 || end - p <= extra)
            return false;
        unsigned code = c & (0x3F >> extra);
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        static const unsigned least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
            code == 0xFFFF)
            return false;
        p += extra + 1;
    }
    return true;
}

void append_hex(std::string& out, std::string_view s)
{
    static const char digits[] = "0123456789abcdef";
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
}

std::string from_hex(std::string_view hex)
{
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    if (hex.size() % 2 != 0)
        throw std::runtime_error("odd hex text");
    std::string out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
        if (hi < 0 || lo < 0)
            throw std::runtime_error("bad hex text");
        out += static_cast<char>(hi << 4 | lo);
    }
    return out;
}

// Markup characters become entities.  A carriage return becomes a
// reference, so that line-end normalisation leaves it alone; in attribute
// values tab and line feed do too, since raw ones would turn into spaces.
void append_escaped(std::string& out, std::string_view s, bool attribute)
{
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\r': out += "&#13;"; break;
        case '"': out += attribute ? "&quot;" : "\""; break;
        case '\t': out += attribute ? "&#9;" : "\t"; break;
        case '\n': out += attribute ? "&#10;" : "\n"; break;
        default: out += c;
        }
    }
}

void append_attribute(std::string& out, const char* name, std::string_view value, bool hex)
{
    out += ' ';
    out += name;
    out += "=\"";
    if (hex)
        append_hex(out, value);
    else
        append_escaped(out, value, true);
    out += '"';
}

// Writes the start tag; returns the tag for the end tag.
std::string_view open_element(std::string& out, const xmlitem& item, bool has_children)
{
    std::string_view tag = is_plain_name(item.first) ? std::string_view(item.first) : kOtherTag;
    out += '<';
    out += tag;
    if (tag.data() != item.first.data())
        append_attribute(out, is_xml_text(item.first) ? "n" : "nx", item.first, !is_xml_text(item.first));
    bool value_as_text = !has_children && is_xml_text(item.second);
    if (!value_as_text && !item.second.empty())
        append_attribute(out, is_xml_text(item.second) ? "v" : "vx", item.second, !is_xml_text(item.second));
    if (has_children) {
        out += ">\n";
    } else if (value_as_text && !item.second.empty()) {
        out += '>';
        append_escaped(out, item.second, false);
        out += "</";
        out += tag;
        out += ">\n";
    } else {
        out += "/>\n";
    }
    return tag;
}

// ---- Encodings ---------------------------------------------------------

// The encoding named in the XML declaration at the start of the text, or
// empty when there is none.
std::string declared_encoding(std::string_view text)
{
    if (text.size() < 6 || text.substr(0, 5) != "<?xml" ||
        !(text[5] == ' ' || text[5] == '\t' || text[5] == '\r' || text[5] == '\n'))
        return {};
    std::size_t close = text.find("?>");
    if (close == std::string_view::npos)
        return {};
    std::string_view decl = text.substr(0, close);
    std::size_t at = decl.find("encoding");
    if (at == std::string_view::npos)
        return {};
    at += 8;
    auto skip_space = [&] {
        while (at < decl.size() && (decl[at] == ' ' || decl[at] == '\t' || decl[at] == '\r' || decl[at] == '\n'))
            ++at;
    };
    skip_space();
    if (at >= decl.size() || decl[at] != '=')
        return {};
    ++at;
    skip_space();
    if (at >= decl.size() || (decl[at] != '"' && decl[at] != '\''))
        return {};
    char quote = decl[at++];
    std::size_t end = decl.find(quote, at);
    if (end == std::string_view::npos)
        return {};
    return std::string(decl.substr(at, end - at));
}

std::string upper(std::string name)
{
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}

// The encoding the bytes are in: from a byte-order mark or the layout of
// "<?" in UTF-16/32, else from the declaration; UTF-8 when nothing says.
std::string detect_encoding(std::string_view text, std::size_t& skip)
{
    skip = 0;
    auto starts = [&](std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; };
    using namespace std::string_view_literals;
    if (starts("\xEF\xBB\xBF"sv)) {
        skip = 3;
        return "UTF-8";
    }
    if (starts("\x00\x00\xFE\xFF"sv) || starts("\xFF\xFE\x00\x00"sv) || starts("\x00\x00\x00<"sv) ||
        starts("<\x00\x00\x00"sv))
        return starts("<"sv) ? "UTF-32LE" : starts("\x00\x00\x00<"sv) ? "UTF-32BE" : "UTF-32";
    if (starts("\xFE\xFF"sv) || starts("\xFF\xFE"sv))
        return "UTF-16";
    if (starts("<\x00"sv))
        return "UTF-16LE";
    if (starts("\x00<"sv))
        return "UTF-16BE";
    std::string declared = upper(declared_encoding(text));
    if (declared.empty() || declared == "UTF-8" || declared == "UTF8")
        return "UTF-8";
    return declared;
}

// Converts a text in a declared legacy encoding to UTF-8.  Bytes the
// encoding leaves undefined become U+FFFD.
std::string to_utf8(std::string_view text, const std::string& encoding)
{
    iconv_t cd = ::iconv_open("UTF-8", encoding.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("unsupported encoding " + encoding);
    std::string out;
    out.resize(text.size() * 4 + 16);
    char* in = const_cast<char*>(text.data());
    std::size_t in_left = text.size();
    char* dst = out.data();
    std::size_t dst_left = out.size();
    auto grow = [&] {
        std::size_t done = static_cast<std::size_t>(dst - out.data());
        out.resize(out.size() * 2);
        dst = out.data() + done;
        dst_left = out.size() - done;
    };
    while (in_left > 0) {
        if (::iconv(cd, &in, &in_left, &dst, &dst_left) != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG) {
            grow();
            continue;
        }
        // EILSEQ or EINVAL: an undefined or cut-off sequence.
        if (dst_left < 3)
            grow();
        std::memcpy(dst, "\xEF\xBF\xBD", 3);
        dst += 3;
        dst_left -= 3;
        ++in;
        --in_left;
    }
    ::iconv_close(cd);
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return out;
}

// ---- Reading -----------------------------------------------------------

// Checks one reference starting at text[i] == '&'; returns the index after
// it.  Only the five predefined entities and references to characters XML
// allows are accepted: a document type declaration is refused, so no other
// entity can exist, and the parser would leave unknown ones in the text as
// they stand, silently changing values.
std::size_t check_reference(std::string_view text, std::size_t i)
{
    std::size_t semi = text.find(';', i);
    if (semi == std::string_view::npos || semi - i > 40)
        throw std::runtime_error("XML: bad reference at offset " + std::to_string(i));
    std::string_view ref = text.substr(i + 1, semi - i - 1);
    if (ref == "amp" || ref == "lt" || ref == "gt" || ref == "quot" || ref == "apos")
        return semi + 1;
    bool hex = ref.size() > 1 && ref[0] == '#' && ref[1] == 'x';
    std::size_t from = hex ? 2 : 1;
    if (ref.empty() || ref[0] != '#' || ref.size() <= from)
        throw std::runtime_error("XML: undefined entity at offset " + std::to_string(i));
    unsigned long code = 0;
    for (std::size_t k = from; k < ref.size(); ++k) {
        char c = ref[k];
        int digit = c >= '0' && c <= '9'             ? c - '0'
                    : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                  : -1;
        if (digit < 0)
            throw std::runtime_error("XML: bad character reference at offset " + std::to_string(i));
        // Saturates, so that leading zeros are harmless and huge numbers
        // cannot wrap around into allowed ones.
        code = std::min(code * (hex ? 16 : 10) + static_cast<unsigned long>(digit), 0x110000ul);
    }
    bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
                   (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
    if (!allowed)
        throw std::runtime_error("XML: reference to a character XML does not allow at offset " + std::to_string(i));
    return semi + 1;
}

// What the parser is lenient about and we are not: references (above), a
// document type declaration, and text outside the elements.  The parser
// still checks everything else; this walk only has to stay in bounds.
void check_strict(std::string_view text)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t i = 0;
    long depth = 0;
    auto skip_past = [&](std::string_view end) {
        std::size_t at = text.find(end, i);
        i = at == std::string_view::npos ? text.size() : at + end.size();
    };
    while (i < text.size()) {
        char c = text[i];
        if (c == '&') {
            i = check_reference(text, i);
            continue;
        }
        if (c != '<') {
            if (depth <= 0 && !blank(c))
                throw std::runtime_error("XML: text outside the elements at offset " + std::to_string(i));
            ++i;
            continue;
        }
        std::string_view rest = text.substr(i);
        if (rest.substr(0, 4) == "<!--") {
            skip_past("-->");
        } else if (rest.substr(0, 9) == "<![CDATA[") {
            skip_past("]]>");
        } else if (rest.substr(0, 2) == "<?") {
            skip_past("?>");
        } else if (rest.substr(0, 2) == "<!") {
            throw std::runtime_error("XML: document type declarations are not accepted");
        } else if (rest.substr(0, 2) == "</") {
            skip_past(">");
            --depth;
        } else {
            // A start tag; quoted attribute values may hold '>' and references.
            ++i;
            char quote = 0;
            while (i < text.size() && (quote != 0 || text[i] != '>')) {
                if (quote != 0 && text[i] == '&') {
                    i = check_reference(text, i);
                    continue;
                }
                if (text[i] == '"' || text[i] == '\'')
                    quote = quote == 0 ? text[i] : quote == text[i] ? 0 : quote;
                ++i;
            }
            if (i < text.size() && text[i - 1] != '/')
                ++depth;
            ++i;
        }
    }
}

bool is_blank(const char* s)
{
    for (; *s; ++s)
        if (*s != ' ' && *s != '\t' && *s != '\r' && *s != '\n')
            return false;
    return true;
}

xmlitem item_of(const pugi::xml_node& e)
{
    xmlitem item;
    if (pugi::xml_attribute a = e.attribute("nx"))
        item.first = from_hex(a.value());
    else if (pugi::xml_attribute a = e.attribute("n"))
        item.first = a.value();
    else
        item.first = e.name();

    bool has_elements = false;
    for (pugi::xml_node c = e.first_child(); c && !has_elements; c = c.next_sibling())
        has_elements = c.type() == pugi::node_element;

    if (pugi::xml_attribute a = e.attribute("vx")) {
        item.second = from_hex(a.value());
    } else if (pugi::xml_attribute a = e.attribute("v")) {
        item.second = a.value();
    } else if (!has_elements) {
        for (pugi::xml_node c = e.first_child(); c; c = c.next_sibling())
            if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
                item.second += c.value();
    }
    return item;
}

const char* describe(pugi::xml_parse_status status)
{
    pugi::xml_parse_result r;
    r.status = status;
    return r.description();
}

} // namespace

void xmlparse(const char* text, long length, xmlitem_tree& tree)
{
    if (text == nullptr || length <= 0)
        throw std::runtime_error("no XML text");
    std::string_view view(text, static_cast<std::size_t>(length));

    std::size_t skip = 0;
    std::string encoding = detect_encoding(view, skip);
    view.remove_prefix(skip);
    std::string converted;
    if (encoding != "UTF-8") {
        converted = to_utf8(view, encoding);
        view = converted;
    }
    check_strict(view);

    const unsigned options = pugi::parse_escapes | pugi::parse_eol | pugi::parse_cdata | pugi::parse_ws_pcdata_single |
                             pugi::parse_doctype | pugi::parse_declaration;
    pugi::xml_document doc;
    pugi::xml_parse_result result = doc.load_buffer(view.data(), view.size(), options, pugi::encoding_utf8);
    if (!result)
        throw std::runtime_error(std::string("XML: ") + result.description() + " at offset " +
                                 std::to_string(result.offset));

    xmlitem_tree parsed;
    // Each step copies one element; the stack holds where its children go.
    std::vector<std::pair<pugi::xml_node, xmlitem_tree::iterator>> todo;
    for (pugi::xml_node top = doc.first_child(); top; top = top.next_sibling()) {
        switch (top.type()) {
        case pugi::node_element:
            todo.emplace_back(top, parsed.end());
            break;
        case pugi::node_declaration:
            break;
        case pugi::node_doctype:
            throw std::runtime_error("XML: document type declarations are not accepted");
        default:
            if (!is_blank(top.value()))
                throw std::runtime_error("XML: text outside the elements");
        }
    }
    if (todo.empty())
        throw std::runtime_error(std::string("XML: ") + describe(pugi::status_no_document_element));
    // Top-level elements were pushed in order; take them the same way.
    std::vector<std::pair<pugi::xml_node, xmlitem_tree::iterator>> tops;
    tops.swap(todo);
    for (auto& [top, where] : tops) {
        todo.emplace_back(top, parsed.end());
        while (!todo.empty()) {
            auto [e, into] = todo.back();
            todo.pop_back();
            xmlitem_tree::iterator made = parsed.insert(into, item_of(e));
            // Children are pushed last to first so they are inserted in order.
            for (pugi::xml_node c = e.last_child(); c; c = c.previous_sibling())
                if (c.type() == pugi::node_element)
                    todo.emplace_back(c, made.child_end());
        }
    }

    if (tree.empty()) {
        tree = std::move(parsed);
    } else {
        for (auto it = parsed.begin(); it != parsed.end(); ++it)
            tree.insert_copy(tree.end(), it);
    }
}

namespace {

// Indentation stops growing at some depth, so that a deep tree does not
// make a text of quadratic size.
std::size_t indent(std::size_t depth)
{
    return 2 * (depth < 32 ? depth : 32);
}

} // namespace

void xmlsave(std::string& out, const xmlitem_tree& tree)
{
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    std::vector<std::pair<xmlitem_tree::const_iterator, std::string_view>> open; // parent, its tag
    xmlitem_tree::const_iterator it = tree.begin();
    xmlitem_tree::const_iterator end = tree.end();
    for (;;) {
        if (it == (open.empty() ? end : open.back().first.child_end())) {
            if (open.empty())
                break;
            out.append(indent(open.size() - 1), ' ');
            out += "</";
            out += open.back().second;
            out += ">\n";
            it = open.back().first;
            open.pop_back();
            ++it;
            continue;
        }
        out.append(indent(open.size()), ' ');
        bool parent = it.has_children();
        std::string_view tag = open_element(out, *it, parent);
        if (parent) {
            open.emplace_back(it, tag);
            it = it.child_begin();
        } else {
            ++it;
        }
    }
}
