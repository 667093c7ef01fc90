// SPDX-License-Identifier: GPL-3.0-or-later
// The session's one exchange: every response, whoever waits for it, is read here, and the rules every response
// passes (a stop asked for, a flood, the deadline, the server's goodbye) are kept in one place.
#include "mail/imap/imap_command.h"

#include "logging/log.h"
#include "platform/secret.h"
#include "platform/timing.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// What a check makes of a step's line.
CheckFailure failure_of(const ImapStep& step, const char* form, int error) {
    if (form == kRefused) {
        return step.check == CheckStep::login ? CheckFailure::refused_login : CheckFailure::refused;
    }
    if (error == EMSGSIZE) {
        return CheckFailure::flood;
    }
    return form == kBroken ? CheckFailure::protocol_broken : CheckFailure::unreachable;
}

} // namespace

std::string ImapSession::next_tag() {
    return std::string("k").append(std::to_string(++tag_number_));
}

ImapSession::Result ImapSession::fail_line(CheckStep step, CheckFailure failure, const char* line, int error) {
    write_failure_line(outcome_, step, failure, error, format_text(line, index_, error));
    close();
    return Result::failed;
}

// Writes the step's line (form kSendFailed, kReceiveFailed, kRefused, kBye or kBroken), closes the connection,
// and says what the check makes of it.
ImapSession::Result ImapSession::fail(const Step& step, const char* form, int error) {
    write_failure_line(outcome_, step.check, failure_of(step, form, error), error,
                       format_text(form, step.name, index_, error));
    close();
    return form == kRefused ? Result::refused : Result::failed;
}

void ImapSession::note_refusal(const ImapResponse& r) {
    refusal_code_ = r.code.substr(0, r.code.find(' '));
    std::transform(refusal_code_.begin(), refusal_code_.end(), refusal_code_.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
}

// What the server told on its own, kept for take_changes(); a server that names more folders than any account
// watches has told of everything.
void ImapSession::note_change(const ImapResponse& r, std::string_view owned) {
    constexpr std::size_t kMaxStatuses = 10000;
    if (r.kind != ImapResponse::Kind::untagged ||
        owned.find(std::string(" ").append(r.keyword).append(" ")) != std::string_view::npos) {
        return;
    }
    if (notification_overflow(r)) {
        changes_.everything = true;
        return;
    }
    MailboxStatus status;
    if (mailbox_status(r, status)) {
        status.name = folder_name(status.name);
        auto same = std::find_if(changes_.statuses.begin(), changes_.statuses.end(),
                                 [&status](const MailboxStatus& s) { return s.name == status.name; });
        if (same != changes_.statuses.end()) {
            *same = std::move(status); // the last word on a folder is the one that counts
        } else if (changes_.statuses.size() < kMaxStatuses) {
            changes_.statuses.push_back(std::move(status));
        } else {
            changes_.everything = true;
        }
        return;
    }
    if (r.number >= 0 &&
        (r.keyword == "EXISTS" || r.keyword == "EXPUNGE" || r.keyword == "FETCH" || r.keyword == "RECENT")) {
        changes_.selected = true;
    }
}

ImapSession::Changes ImapSession::take_changes() {
    return std::exchange(changes_, Changes{});
}

bool ImapSession::take_capabilities(const ImapResponse& r) {
    std::vector<std::string> names = capability_names(r);
    if (names.empty()) {
        return false;
    }
    capabilities_ = std::move(names);
    return true;
}

// The next whole response, its lines and literals read as the parser asks for them, all before the exchange's
// deadline and within its bytes.
ImapSession::Result ImapSession::read_response(ImapResponse& r, ImapExchange& x) {
    const Step& step = *x.step;
    for (;;) {
        switch (parser_.next(r)) {
        case ImapParser::Result::response:
            return Result::ok;
        case ImapParser::Result::failed:
            return fail(step, kBroken, EPROTO);
        case ImapParser::Result::more:
            break;
        }
        if (stop_due_ != nullptr) {
            if (Result waited = wait_or_stop(x.deadline, step); waited != Result::ok) {
                return waited;
            }
        }
        int rc;
        std::size_t got = 0;
        if (std::uint64_t left = parser_.literal_left(); left > 0) {
            // Taken in pieces: the parser keeps only the first kHeaderLimit bytes of a literal however long it is.
            char chunk[16 * 1024];
            std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof chunk));
            rc = connection_.receive_exact(chunk, size, remaining_ms(x.deadline));
            if (rc == 0) {
                parser_.feed(std::string_view(chunk, size));
                got = size;
            }
        } else {
            std::string line;
            rc = connection_.receive_line(line, kImapMaxLine + 2, remaining_ms(x.deadline));
            if (rc == 0 && x.first_line != nullptr && x.first_line->empty()) {
                *x.first_line = line;
            }
            parser_.feed(line);
            got = line.size();
        }
        if (rc != 0 && errno == ECANCELED) {
            return cancelled(step);
        }
        if (rc != 0 && x.goodbye) {
            close(); // the goodbye's answer is awaited no longer: the connection ends all the same, without a line
            return Result::failed;
        }
        if (rc != 0) {
            return fail(step, kReceiveFailed, errno);
        }
        if (got > x.bytes_left) {
            return fail(step, kReceiveFailed, EMSGSIZE); // more than any sound answer to the command
        }
        x.bytes_left -= got;
    }
}

// Waits for data until the deadline, looking at the stop request meanwhile: a server that says nothing must not
// keep a stop waiting. Ok when data (or the end) is there or the time is up: the receive says which.
ImapSession::Result ImapSession::wait_or_stop(Clock::time_point deadline, const Step& step) {
    for (;;) {
        const int left = remaining_ms(deadline);
        if (connection_.wait_readable(std::min(left, timing().stop_poll_ms)) != 0 || left == 0) {
            return Result::ok;
        }
        if (stop_due_()) {
            return stop_check(step);
        }
    }
}

// Whether the responses in IDLE come faster than any mailbox changes: kIdleFloodLines within one window.
bool ImapSession::flooded() {
    const Clock::time_point now = Clock::now();
    if (now - flood_window_ >= std::chrono::milliseconds(timing().idle_flood_window_ms)) {
        flood_window_ = now;
        flood_lines_ = 0;
    }
    return ++flood_lines_ > kIdleFloodLines;
}

// The rules every response passes before anyone takes it: a stop asked for meanwhile ends the check; in IDLE, more
// responses than any mailbox changes make a broken server; an untagged response past the deadline means that the
// answer never came, however much else did; BYE ends the connection.
ImapSession::Result ImapSession::screen(const ImapResponse& r, const ImapExchange& x) {
    const Step& step = *x.step;
    if (stop_due_ != nullptr && stop_due_()) {
        return stop_check(step);
    }
    if (r.kind == ImapResponse::Kind::continuation) {
        return Result::ok;
    }
    if (x.counts_flood && flooded()) {
        return fail(step, kBroken, EMSGSIZE);
    }
    if (r.kind == ImapResponse::Kind::untagged && !x.goodbye) {
        if (x.answer_due && Clock::now() >= x.deadline) {
            return fail(step, kReceiveFailed, ETIMEDOUT);
        }
        if (r.keyword == "BYE") {
            return fail(step, kBye, ECONNRESET);
        }
    }
    return Result::ok;
}

// The cancel signal was raised while a command waited (a push watcher's stop, or a change of the network): the
// command is left where it is, no failure and no line; the connection stays open for the goodbye, which is said
// once the signal is no longer listened to.
ImapSession::Result ImapSession::cancelled(const Step& step) {
    outcome_ = CheckOutcome{step.check, CheckFailure::stopped, 0, {}};
    return Result::stopped;
}

// A stop asked for while the check runs: the server is told goodbye, its answer awaited no longer than the stop
// request is looked at, and the check ends without a count.
ImapSession::Result ImapSession::stop_check(const Step& step) {
    stop_due_ = nullptr;
    logout(timing().stop_poll_ms);
    outcome_ = CheckOutcome{step.check, CheckFailure::stopped, 0, {}};
    return Result::stopped;
}

// The tagged answer as most commands take it: OK goes on, anything else is the step's refusal.
ImapSession::Result ImapSession::answered(const Step& step, const ImapResponse& r, bool ours,
                                          bool learns_capabilities) {
    if (!ours) {
        return fail(step, kBroken, EPROTO);
    }
    if (r.keyword != "OK") {
        note_refusal(r);
        return fail(step, kRefused, 0);
    }
    if (learns_capabilities) {
        take_capabilities(r);
    }
    return Result::ok;
}

ImapSession::Result ImapSession::command(const Step& step, std::vector<std::string> pieces, const Untagged& untagged,
                                         std::size_t byte_budget) {
    ImapCommand c{.step = &step, .pieces = std::move(pieces), .byte_budget = byte_budget};
    if (untagged) {
        c.on_untagged = [&untagged](const ImapResponse& r, const std::string&) {
            untagged(r);
            return ImapTurn::go_on;
        };
    }
    return command(c);
}

ImapSession::Result ImapSession::command(ImapCommand& c) {
    const Step& step = *c.step;
    if (!connection_.is_open()) {
        return c.goodbye ? Result::ok : fail(step, kSendFailed, ENOTCONN);
    }
    std::string first;
    if (!c.follows) {
        c.tag = next_tag();
        first.reserve(c.tag.size() + 1 + c.pieces.front().size());
        first.append(c.tag).append(" ");
    }
    first.append(c.pieces.front());
    const int sent = connection_.send(first.data(), static_cast<int>(first.size()));
    wipe_secret(first); // it may hold the password
    if (sent != 0) {
        return c.goodbye ? Result::ok : errno == ECANCELED ? cancelled(step) : fail(step, kSendFailed, errno);
    }
    ImapExchange x{.step = &step,
                   .deadline = Clock::now() + std::chrono::milliseconds(std::max(0, c.timeout_ms)),
                   .bytes_left = c.byte_budget,
                   .counts_flood = c.counts_flood,
                   .goodbye = c.goodbye};
    std::size_t next = 1;
    for (;;) {
        if (c.goodbye && remaining_ms(x.deadline) == 0) {
            return Result::ok; // the goodbye's answer is awaited no longer
        }
        ImapResponse r;
        if (Result read = read_response(r, x); read != Result::ok) {
            return read;
        }
        if (Result screened = screen(r, x); screened != Result::ok) {
            return screened;
        }
        if (r.kind == ImapResponse::Kind::continuation) {
            if (c.goodbye) {
                continue;
            }
            std::string answer;
            const std::string* out = next < c.pieces.size() ? &c.pieces[next++] : &answer;
            ImapTurn turn = out != &answer      ? ImapTurn::go_on
                            : c.on_continuation ? c.on_continuation(r, answer)
                                                : ImapTurn::broken;
            if (turn != ImapTurn::go_on) {
                wipe_secret(answer);
                return turn == ImapTurn::done ? Result::ok : fail(step, kBroken, EPROTO);
            }
            if (out == &answer) {
                answer += "\r\n";
            }
            const int rc = connection_.send(out->data(), static_cast<int>(out->size()));
            wipe_secret(answer);
            if (rc != 0) {
                return fail(step, kSendFailed, errno);
            }
            continue;
        }
        if (r.kind == ImapResponse::Kind::untagged) {
            if (c.goodbye) {
                continue;
            }
            if (c.learns_capabilities) {
                take_capabilities(r);
            }
            note_change(r, c.owns);
            if (c.on_untagged && c.on_untagged(r, c.tag) == ImapTurn::broken) {
                return fail(step, kBroken, EPROTO);
            }
            continue;
        }
        if (c.goodbye) {
            if (r.tag != c.tag) {
                continue; // the answer to a command a stop cut short, or to the IDLE the goodbye ended
            }
            return Result::ok;
        }
        const bool ours = r.tag == c.tag && !r.malformed;
        return c.on_tagged ? c.on_tagged(r, ours) : answered(step, r, ours, c.learns_capabilities);
    }
}
