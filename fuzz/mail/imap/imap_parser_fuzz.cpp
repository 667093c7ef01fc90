// SPDX-License-Identifier: GPL-3.0-or-later
// The IMAP response reader on whatever a server sends, with what the helpers (SEARCH, ESEARCH, FETCH's header and
// UID, LIST, STATUS and NOTIFY's overflow) make of each response. The same bytes are read three ways, whole, one byte
// at a time and in pieces of a size taken from the input, and must give the same responses: a reader that fed in pieces
// sees something else than fed whole would misread real servers, whose replies arrive cut at any byte.

#include "fuzz/fuzz_check.h"
#include "mail/imap/imap_parser.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Small enough that inputs reach it, so that cut literals are read too.
constexpr std::size_t kLiteralLimit = 100;

void describe(const ImapValue& v, std::string& out) {
    FUZZ_CHECK(v.kind != ImapValue::Kind::literal || v.text.size() <= kLiteralLimit);
    FUZZ_CHECK(v.kind == ImapValue::Kind::list || v.items.empty());
    out += "v" + std::to_string(static_cast<int>(v.kind)) + (v.cut ? "c" : "") + "[" + v.text + "]";
    out += std::to_string(v.number());
    for (const ImapValue& item : v.items) {
        out += "(";
        describe(item, out);
        out += ")";
    }
}

// Everything a response holds in one text, with what the helpers make of it.
std::string describe(const ImapResponse& r) {
    std::string out = std::to_string(static_cast<int>(r.kind)) + "|" + r.tag + "|" + std::to_string(r.number) + "|" +
                      r.keyword + "|" + r.code + "|" + r.text + "|" + (r.malformed ? "m" : "") + "|";
    for (const ImapValue& v : r.data) {
        describe(v, out);
    }
    for (std::uint32_t n : search_numbers(r)) {
        FUZZ_CHECK(n > 0);
        out += " s" + std::to_string(n);
    }
    for (const std::string& name : capability_names(r)) {
        out += " c" + name;
    }
    if (std::uint32_t count = 0; esearch_count(r, "k5", count)) {
        out += " e" + std::to_string(count);
    }
    if (const ImapValue* header = fetch_item(r, "BODY[HEADER]")) {
        FUZZ_CHECK(header->kind != ImapValue::Kind::list);
        out += " h" + header->text;
    }
    if (const std::uint32_t uid = fetch_uid(r); uid != 0) {
        FUZZ_CHECK(r.keyword == "FETCH");
        out += " u" + std::to_string(uid);
    }
    if (ListedMailbox m; list_mailbox(r, m)) {
        FUZZ_CHECK(!m.name.empty() && m.delimiter.size() <= 1 && r.keyword == "LIST");
        out += " l" + m.name + "|" + m.delimiter + "|" + std::to_string(m.attributes.size());
    }
    if (MailboxStatus st; mailbox_status(r, st)) {
        FUZZ_CHECK(!st.name.empty() && st.unseen >= -1 && st.unseen <= 0xffffffffLL && st.messages >= -1 &&
                   st.highestmodseq <= 0x7fffffffffffffffULL);
        out += " t" + st.name + "|" + std::to_string(st.unseen) + "|" + std::to_string(st.highestmodseq);
    } else {
        FUZZ_CHECK(st.name.empty() && st.unseen == -1); // a refused one leaves nothing behind
    }
    if (notification_overflow(r)) {
        FUZZ_CHECK(r.is_status());
        out += " o";
    }
    return out;
}

// The responses of the bytes fed in pieces of at most piece bytes, and how the reader ended.
std::vector<std::string> read_all(std::string_view bytes, std::size_t piece) {
    ImapParser parser(kLiteralLimit);
    std::vector<std::string> out;
    bool failed = false;
    for (std::size_t at = 0; at < bytes.size() && !failed; at += piece) {
        parser.feed(bytes.substr(at, piece));
        ImapResponse r;
        ImapParser::Result result;
        while ((result = parser.next(r)) == ImapParser::Result::response) {
            out.push_back(describe(r));
        }
        failed = result == ImapParser::Result::failed;
        FUZZ_CHECK(failed == parser.failed());
    }
    if (failed) {
        // Once failed, it stays failed and gives nothing more.
        parser.feed("* OK\r\n");
        ImapResponse r;
        FUZZ_CHECK(parser.next(r) == ImapParser::Result::failed);
        out.push_back("failed");
    } else if (parser.holds_bytes()) {
        out.push_back("more");
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> whole = read_all(bytes, bytes.size() + 1);
    FUZZ_CHECK(read_all(bytes, 1) == whole);
    FUZZ_CHECK(read_all(bytes, 2 + size % 61) == whole);

    ImapResponse first;
    ImapParser::Result result = parse_imap_response(bytes, first);
    FUZZ_CHECK(result != ImapParser::Result::response || !whole.empty());

    std::uint64_t literal = 0;
    std::size_t at = 0;
    if (imap_literal_marker(bytes, literal, at)) {
        FUZZ_CHECK(at < size && bytes[at] == '{' && bytes.back() == '}');
    }
    return 0;
}
