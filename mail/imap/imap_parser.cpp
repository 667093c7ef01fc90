// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/imap_parser.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

// Lists nested deeper than this are a broken or hostile line, not mail: the reader stops there instead of
// recursing without bound.
constexpr int kMaxDepth = 32;

std::string upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

bool same_text(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::toupper(x) == std::toupper(y);
           });
}

bool is_status_keyword(std::string_view keyword) {
    return keyword == "OK" || keyword == "NO" || keyword == "BAD" || keyword == "BYE" || keyword == "PREAUTH";
}

std::int64_t digits_value(std::string_view text) {
    if (text.empty() || text.size() > 18) {
        return -1;
    }
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// Walks the text of one response line and the literals between its pieces.
class Reader {
public:
    Reader(const std::vector<std::string>& texts, std::vector<ImapValue>& literals)
        : texts_(texts), literals_(literals) {}

    const std::string& first() const { return texts_.front(); }
    void skip_to(std::size_t pos) { pos_ = pos; }

    // The values up to the end of the line.
    bool values(std::vector<ImapValue>& out) {
        for (;;) {
            skip_spaces();
            if (at_end()) {
                return true;
            }
            if (peek() == ')') {
                return false; // a list closed that was never opened
            }
            ImapValue v;
            if (!value(v, 0)) {
                return false;
            }
            out.push_back(std::move(v));
        }
    }

private:
    bool at_segment_end() const { return pos_ >= texts_[segment_].size(); }
    bool at_end() const { return segment_ + 1 == texts_.size() && at_segment_end(); }
    char peek() const { return at_segment_end() ? '\0' : texts_[segment_][pos_]; }

    void skip_spaces() {
        while (!at_segment_end() && peek() == ' ') {
            ++pos_;
        }
    }

    bool value(ImapValue& v, int depth) {
        if (at_segment_end()) {
            // The text stops where a literal was announced: the literal is the value.
            v = std::move(literals_[segment_]);
            ++segment_;
            pos_ = 0;
            return true;
        }
        switch (peek()) {
        case '(':
            return list(v, depth);
        case '"':
            return quoted(v);
        default:
            return atom(v);
        }
    }

    bool list(ImapValue& v, int depth) {
        if (depth >= kMaxDepth) {
            return false;
        }
        v.kind = ImapValue::Kind::list;
        ++pos_;
        for (;;) {
            skip_spaces();
            if (at_end()) {
                return false; // the line ended inside the list
            }
            if (!at_segment_end() && peek() == ')') {
                ++pos_;
                return true;
            }
            ImapValue item;
            if (!value(item, depth + 1)) {
                return false;
            }
            v.items.push_back(std::move(item));
        }
    }

    // A quoted string: a backslash takes the next byte as it is (RFC 3501 4.3).
    bool quoted(ImapValue& v) {
        v.kind = ImapValue::Kind::quoted;
        const std::string& t = texts_[segment_];
        for (++pos_; pos_ < t.size(); ++pos_) {
            char c = t[pos_];
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c == '\\') {
                if (++pos_ == t.size()) {
                    break;
                }
                c = t[pos_];
            }
            v.text += c;
        }
        return false;
    }

    // An atom runs to a space or a parenthesis; brackets keep a section such as BODY[HEADER.FIELDS (FROM)] whole.
    bool atom(ImapValue& v) {
        v.kind = ImapValue::Kind::atom;
        const std::string& t = texts_[segment_];
        int brackets = 0;
        std::size_t start = pos_;
        for (; pos_ < t.size(); ++pos_) {
            char c = t[pos_];
            if (c == '[') {
                ++brackets;
            } else if (c == ']' && brackets > 0) {
                --brackets;
            } else if (brackets == 0 && (c == ' ' || c == '(' || c == ')' || c == '"')) {
                break;
            }
        }
        v.text = t.substr(start, pos_ - start);
        return brackets == 0 && !v.text.empty();
    }

    const std::vector<std::string>& texts_;
    std::vector<ImapValue>& literals_;
    std::size_t segment_ = 0;
    std::size_t pos_ = 0;
};

// The word at pos up to the next space or the end, and pos moved past the space.
std::string_view word(const std::string& text, std::size_t& pos) {
    std::size_t end = text.find(' ', pos);
    if (end == std::string::npos) {
        end = text.size();
    }
    std::string_view w(text.data() + pos, end - pos);
    pos = end < text.size() ? end + 1 : end;
    return w;
}

// "[code] text" of a status response.
void status_text(const std::string& line, std::size_t pos, ImapResponse& r) {
    std::string_view rest(line.data() + pos, line.size() - pos);
    if (!rest.empty() && rest.front() == '[') {
        std::size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            r.malformed = true;
            r.text = std::string(rest);
            return;
        }
        r.code = std::string(rest.substr(1, close - 1));
        rest.remove_prefix(close + 1);
        if (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
    }
    r.text = std::string(rest);
}

void read_response(const std::vector<std::string>& texts, std::vector<ImapValue>& literals, ImapResponse& r) {
    r = ImapResponse{};
    const std::string& line = texts.front();
    if (!line.empty() && line.front() == '+') {
        // Some servers send a bare "+" with no text after it.
        r.kind = ImapResponse::Kind::continuation;
        r.text = line.substr(line.size() > 1 && line[1] == ' ' ? 2 : 1);
        r.malformed = texts.size() > 1;
        return;
    }
    std::size_t pos = 0;
    std::string_view tag = word(line, pos);
    if (tag.empty()) {
        r.malformed = true;
        return;
    }
    r.kind = tag == "*" ? ImapResponse::Kind::untagged : ImapResponse::Kind::tagged;
    if (r.kind == ImapResponse::Kind::tagged) {
        r.tag = std::string(tag);
    }
    std::size_t before = pos;
    std::string_view first = word(line, pos);
    if (r.kind == ImapResponse::Kind::untagged && (r.number = digits_value(first)) >= 0) {
        before = pos;
        first = word(line, pos);
    }
    // A keyword ends at a space, or at the list that follows it without one.
    std::size_t paren = first.find('(');
    if (paren != std::string_view::npos) {
        first = first.substr(0, paren);
        pos = before + paren;
    }
    r.keyword = upper(first);
    if (r.keyword.empty()) {
        r.malformed = true;
        return;
    }
    if (is_status_keyword(r.keyword)) {
        status_text(line, pos, r);
        bool tagged_status = r.keyword == "OK" || r.keyword == "NO" || r.keyword == "BAD";
        r.malformed = r.malformed || texts.size() > 1 || (r.kind == ImapResponse::Kind::tagged && !tagged_status);
        return;
    }
    if (r.kind == ImapResponse::Kind::tagged) {
        r.malformed = true;
        return;
    }
    Reader reader(texts, literals);
    reader.skip_to(pos);
    r.malformed = !reader.values(r.data);
}

} // namespace

bool imap_literal_marker(std::string_view text, std::uint64_t& size, std::size_t& at) {
    if (text.empty() || text.back() != '}') {
        return false;
    }
    std::size_t open = text.rfind('{');
    if (open == std::string_view::npos) {
        return false;
    }
    std::string_view inside = text.substr(open + 1, text.size() - open - 2);
    if (!inside.empty() && inside.back() == '+') {
        inside.remove_suffix(1);
    }
    // 19 digits always fit in 64 bits; a longer count is no size a server can mean.
    if (inside.empty() || inside.size() > 19) {
        return false;
    }
    std::uint64_t value = 0;
    for (char c : inside) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    size = value;
    at = open;
    return true;
}

std::int64_t ImapValue::number() const {
    return kind == Kind::atom ? digits_value(text) : -1;
}

bool ImapResponse::is_status() const {
    return kind != Kind::continuation && is_status_keyword(keyword);
}

void ImapParser::feed(std::string_view bytes) {
    if (!failed_) {
        input_.append(bytes);
    }
}

void ImapParser::reset_response() {
    texts_.assign(1, std::string());
    literals_.clear();
    line_size_ = 0;
    started_ = false;
}

// A line's text grows only up to kImapMaxLine: beyond it the server is broken or hostile.
bool ImapParser::take_line_byte(char byte) {
    if (++line_size_ > kImapMaxLine) {
        return false;
    }
    texts_.back() += byte;
    return true;
}

// The line feed has come: either a literal follows, or the response is whole (returns true).
bool ImapParser::end_of_line() {
    std::string& text = texts_.back();
    if (!text.empty() && text.back() == '\r') {
        text.pop_back(); // a bare LF is taken as a line end too
    }
    std::uint64_t size = 0;
    std::size_t at = 0;
    if (!imap_literal_marker(text, size, at)) {
        return true;
    }
    if (literals_.size() == kImapMaxLiterals) {
        failed_ = true;
        return false;
    }
    text.erase(at);
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    ImapValue literal;
    literal.kind = ImapValue::Kind::literal;
    literals_.push_back(std::move(literal));
    literal_left_ = size;
    in_literal_ = true;
    if (size == 0) {
        in_literal_ = false;
        texts_.emplace_back();
    }
    return false;
}

ImapParser::Result ImapParser::next(ImapResponse& response) {
    if (texts_.empty()) {
        reset_response();
    }
    while (!failed_ && consumed_ < input_.size()) {
        started_ = true;
        if (in_literal_) {
            std::size_t available = input_.size() - consumed_;
            std::size_t n = literal_left_ < available ? static_cast<std::size_t>(literal_left_) : available;
            ImapValue& literal = literals_.back();
            std::size_t room = literal_limit_ > literal.text.size() ? literal_limit_ - literal.text.size() : 0;
            literal.text.append(input_, consumed_, std::min(n, room));
            literal.cut = literal.cut || n > room;
            consumed_ += n;
            literal_left_ -= n;
            if (literal_left_ == 0) {
                in_literal_ = false;
                texts_.emplace_back();
            }
            continue;
        }
        char byte = input_[consumed_++];
        if (byte != '\n') {
            if (!take_line_byte(byte)) {
                failed_ = true;
            }
            continue;
        }
        if (end_of_line()) {
            read_response(texts_, literals_, response);
            reset_response();
            input_.erase(0, consumed_);
            consumed_ = 0;
            return Result::response;
        }
    }
    input_.erase(0, consumed_);
    consumed_ = 0;
    if (failed_) {
        input_.clear();
        input_.shrink_to_fit();
        texts_.clear();
        literals_.clear();
        return Result::failed;
    }
    return Result::more;
}

ImapParser::Result parse_imap_response(std::string_view bytes, ImapResponse& response) {
    ImapParser parser;
    parser.feed(bytes);
    return parser.next(response);
}

std::vector<std::uint32_t> search_numbers(const ImapResponse& response) {
    std::vector<std::uint32_t> numbers;
    if (response.kind != ImapResponse::Kind::untagged || response.keyword != "SEARCH") {
        return numbers;
    }
    for (const ImapValue& v : response.data) {
        std::int64_t n = v.number();
        if (n > 0 && n <= 0xffffffffLL) {
            numbers.push_back(static_cast<std::uint32_t>(n));
        }
    }
    return numbers;
}

bool esearch_count(const ImapResponse& response, std::string_view tag, std::uint32_t& count) {
    if (response.kind != ImapResponse::Kind::untagged || response.keyword != "ESEARCH" || response.data.empty()) {
        return false;
    }
    // The correlator comes first: (TAG "k5"); without it the response answers no command of ours.
    const ImapValue& correlator = response.data.front();
    if (correlator.kind != ImapValue::Kind::list || correlator.items.size() != 2 ||
        upper(correlator.items[0].text) != "TAG" || !correlator.items[1].is_string() ||
        correlator.items[1].text != tag) {
        return false;
    }
    for (std::size_t i = 1; i + 1 < response.data.size(); i += 2) {
        const ImapValue& name = response.data[i];
        if (name.kind == ImapValue::Kind::atom && upper(name.text) == "UID") {
            --i; // UID stands alone
            continue;
        }
        if (name.kind == ImapValue::Kind::atom && upper(name.text) == "COUNT") {
            std::int64_t n = response.data[i + 1].number();
            if (n < 0 || n > 0xffffffffLL) {
                return false;
            }
            count = static_cast<std::uint32_t>(n);
            return true;
        }
    }
    return false;
}

std::vector<std::string> capability_names(const ImapResponse& response) {
    std::vector<std::string> names;
    if (response.kind == ImapResponse::Kind::continuation) {
        return names;
    }
    if (response.keyword == "CAPABILITY" && response.kind == ImapResponse::Kind::untagged) {
        for (const ImapValue& v : response.data) {
            if (v.kind == ImapValue::Kind::atom) {
                names.push_back(upper(v.text));
            }
        }
        return names;
    }
    std::string code = upper(response.code);
    if (!response.is_status() || code.rfind("CAPABILITY ", 0) != 0) {
        return names;
    }
    std::size_t pos = 11;
    while (pos < code.size()) {
        std::string_view w = word(code, pos);
        if (!w.empty()) {
            names.emplace_back(w);
        }
    }
    return names;
}

const ImapValue* fetch_item(const ImapResponse& response, std::string_view name) {
    if (response.kind != ImapResponse::Kind::untagged || response.keyword != "FETCH" || response.data.empty() ||
        response.data.front().kind != ImapValue::Kind::list) {
        return nullptr;
    }
    const std::vector<ImapValue>& items = response.data.front().items;
    for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
        if (items[i].kind == ImapValue::Kind::atom && same_text(items[i].text, name)) {
            const ImapValue& value = items[i + 1];
            const bool nil = value.kind == ImapValue::Kind::atom && same_text(value.text, "NIL");
            return value.kind == ImapValue::Kind::list || nil ? nullptr : &value;
        }
    }
    return nullptr;
}

std::uint32_t fetch_uid(const ImapResponse& response) {
    const ImapValue* uid = fetch_item(response, "UID");
    const std::int64_t n = uid != nullptr ? uid->number() : -1;
    return n > 0 && n <= 0xffffffffLL ? static_cast<std::uint32_t>(n) : 0;
}

bool ListedMailbox::has(std::string_view attribute) const {
    return std::any_of(attributes.begin(), attributes.end(),
                       [attribute](const std::string& a) { return same_text(a, attribute); });
}

namespace {

// A mailbox name: an atom (INBOX is often sent so), a quoted string or a literal.
bool mailbox_name(const ImapValue& v, std::string& name) {
    if (v.kind == ImapValue::Kind::list || v.cut || v.text.empty() ||
        (v.kind == ImapValue::Kind::atom && same_text(v.text, "NIL"))) {
        return false;
    }
    name = v.text;
    return true;
}

// A mod-sequence is up to 63 bits (RFC 7162 7): more digits than a signed number of 18 holds.
std::uint64_t modseq_value(const ImapValue& v) {
    if (v.kind != ImapValue::Kind::atom || v.text.empty() || v.text.size() > 19) {
        return 0;
    }
    std::uint64_t value = 0;
    for (char c : v.text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value <= 0x7fffffffffffffffULL ? value : 0;
}

} // namespace

bool list_mailbox(const ImapResponse& response, ListedMailbox& mailbox) {
    mailbox = ListedMailbox{};
    const std::vector<ImapValue>& d = response.data;
    if (response.kind != ImapResponse::Kind::untagged || response.keyword != "LIST" || response.malformed ||
        d.size() < 3 || d[0].kind != ImapValue::Kind::list) {
        return false;
    }
    for (const ImapValue& a : d[0].items) {
        if (a.kind != ImapValue::Kind::atom) {
            return false;
        }
        mailbox.attributes.push_back(a.text);
    }
    if (d[1].kind == ImapValue::Kind::quoted && d[1].text.size() == 1) {
        mailbox.delimiter = d[1].text;
    } else if (d[1].kind != ImapValue::Kind::atom || !same_text(d[1].text, "NIL")) {
        return false;
    }
    // What may follow the name (RFC 5258 extended data, such as ("CHILDINFO" ("SUBSCRIBED"))) is not needed.
    return mailbox_name(d[2], mailbox.name);
}

bool mailbox_status(const ImapResponse& response, MailboxStatus& answer) {
    answer = MailboxStatus{};
    MailboxStatus status;
    const std::vector<ImapValue>& d = response.data;
    if (response.kind != ImapResponse::Kind::untagged || response.keyword != "STATUS" || response.malformed ||
        d.size() != 2 || d[1].kind != ImapValue::Kind::list || !mailbox_name(d[0], status.name)) {
        return false;
    }
    const std::vector<ImapValue>& items = d[1].items;
    if (items.size() % 2 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < items.size(); i += 2) {
        if (items[i].kind != ImapValue::Kind::atom) {
            return false;
        }
        const std::string item = upper(items[i].text);
        const std::int64_t n = items[i + 1].number();
        if (item == "HIGHESTMODSEQ") {
            status.highestmodseq = modseq_value(items[i + 1]);
            continue;
        }
        if (n < 0 || n > 0xffffffffLL) {
            continue; // an item we do not read, or a number no mailbox has: as if it were not there
        }
        if (item == "MESSAGES") {
            status.messages = n;
        } else if (item == "UNSEEN") {
            status.unseen = n;
        } else if (item == "UIDNEXT") {
            status.uidnext = n;
        } else if (item == "UIDVALIDITY") {
            status.uidvalidity = n;
        }
    }
    answer = std::move(status);
    return true;
}

bool notification_overflow(const ImapResponse& response) {
    return response.is_status() && same_text(response.code, "NOTIFICATIONOVERFLOW");
}
