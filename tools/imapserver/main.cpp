// SPDX-License-Identifier: GPL-3.0-or-later
// kd5lite-imapserver: serves one IMAP folder per user on a loopback port, scripted to misbehave on request.

#include "tools/imapserver/imap_server.h"
#include "tools/pop3server/pop3_message.h"
#include "tools/serverbase/server_program.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr char kUsage[] = R"(Usage: kd5lite-imapserver [options]
Serves IMAP folders until SIGINT or SIGTERM. The first line on standard output is the port.

  --host ADDR            numeric address to listen on (default 127.0.0.1; ::1 for IPv6)
  --port N               port to listen on (default 0: a free port)
  --port-file PATH       also write the port to PATH (written beside it, then renamed into place)
  --user NAME:PASSWORD   add an account; the message options after it fill its folder
  --mailbox NAME[=ATTRS] add a folder to the last --user, LIST showing ATTRS for it (e.g. '\Junk'); the --from
                         options after it fill that folder
  --from TEXT            add an unread message whose From: line is TEXT, e.g. 'Taro <taro@example.com>'
  --transcript FILE      append every command received to FILE
  --greeting TEXT        greeting line instead of the usual one
  --capability TEXT      what CAPABILITY names (default "IMAP4rev1 AUTH=PLAIN SASL-IR IDLE")
                         AUTH=OAUTHBEARER and AUTH=XOAUTH2 take the account's PASSWORD as the one good token,
                         after the empty continuation unless SASL-IR is named too
  --clear-capability TEXT  what CAPABILITY names before TLS, when not the same
  --idle-text TEXT       the continuation that answers IDLE (default "+ idling")
  --idle-poll MS         changes reach a client in IDLE only MS milliseconds after they happen
  --folder NAME          the folder of the messages before any --mailbox, as clients must name it (default INBOX)
  --parallel yes         serve every connection at once, each on a thread of its own
  --connection-limit N   refuse the login of a user who has N connections logged in already, as Gmail does
                         (and serve in parallel)
  --reply NAME=TEXT      answer command NAME with TEXT; %TAG% stands for the command's tag
  --fault KIND[@EVENT]   misbehave at EVENT, a command name, GREETING (default), TLS or DONE. KIND is one of
                         mute, close, reset, bye (answer, --fault-delay MS later "* BYE" and close),
                         endless_literal, endless_line, delay (answer --fault-delay MS late),
                         flood (--flood-line again and again, --flood-pause MS apart, instead of the answer, or
                         after it for GREETING and IDLE)
  --fault-delay MS       see bye and delay (default 150)
  --flood-line TEXT      see flood (default "* OK still here")
  --flood-pause MS       see flood (default 0)
  --pieces N:MS          send every answer in pieces of N bytes, MS milliseconds apart
  --tls MODE             implicit: TLS from the first byte (as on port 993); starttls: plain until STARTTLS
  --cert FILE            with --tls: the server certificate (PEM), then any intermediate authorities
  --key FILE             with --tls: its private key (PEM)
Texts take the escapes \r \n \t \\ \0 \xHH; greeting and reply lines get CR LF added.
)";

struct Options {
    ServerProgramOptions program;
    std::map<std::string, ImapMailbox> mailboxes;
    ImapScript script;
};

const ServerCommandLine kCommandLine{"kd5lite-imapserver", kUsage};

[[noreturn]] void usage_error(const std::string& what) {
    kCommandLine.error(what);
}

int to_number(const std::string& text, const char* option) {
    return kCommandLine.number(text, option);
}

ImapFault to_fault(const std::string& kind) {
    const std::pair<const char*, ImapFault> kinds[] = {
        {"mute", ImapFault::mute},
        {"close", ImapFault::close},
        {"reset", ImapFault::reset},
        {"bye", ImapFault::bye},
        {"endless_literal", ImapFault::endless_literal},
        {"endless_line", ImapFault::endless_line},
        {"delay", ImapFault::delay},
        {"flood", ImapFault::flood},
    };
    for (const auto& [name, fault] : kinds) {
        if (kind == name) {
            return fault;
        }
    }
    usage_error("unknown fault: " + kind);
}

std::string line_of(const std::string& text) {
    return unescape(text) + "\r\n";
}

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// NAME:VALUE or NAME=VALUE split at the first separator; the name may not be empty.
std::pair<std::string, std::string> split(const std::string& value, char separator, const char* option) {
    std::size_t at = value.find(separator);
    if (at == std::string::npos || at == 0) {
        usage_error(std::string(option) + " takes NAME" + separator + "VALUE");
    }
    return {value.substr(0, at), value.substr(at + 1)};
}

Options parse(int argc, char** argv) {
    Options o;
    ImapMailbox* last = nullptr;
    std::vector<ImapMessage>* filling = nullptr;
    kCommandLine.parse(argc, argv, o.program, [&](const std::string& option, const std::string& value) {
        if (option == "--user") {
            auto [name, password] = split(value, ':', "--user");
            last = &o.mailboxes[name];
            last->password = password;
            filling = &last->messages;
        } else if (option == "--mailbox") {
            if (last == nullptr) {
                usage_error("--mailbox needs a --user before it");
            }
            const std::size_t at = value.find('=');
            last->folders.push_back({value.substr(0, at), at == std::string::npos ? "" : value.substr(at + 1), {}});
            filling = &last->folders.back().messages;
        } else if (option == "--from") {
            if (filling == nullptr) {
                usage_error("--from needs a --user before it");
            }
            std::string subject = "Message " + std::to_string(filling->size() + 1);
            filling->push_back({make_message(unescape(value), "user@kd5lite.test", subject), false});
        } else if (option == "--parallel") {
            if (value != "yes") {
                usage_error("--parallel takes yes");
            }
            o.script.parallel = true;
        } else if (option == "--connection-limit") {
            o.script.connection_limit = to_number(value, "--connection-limit");
            o.script.parallel = true;
        } else if (option == "--greeting") {
            o.script.greeting = line_of(value);
        } else if (option == "--capability") {
            o.script.capabilities = value;
        } else if (option == "--clear-capability") {
            o.script.clear_capabilities = value;
        } else if (option == "--idle-text") {
            o.script.idle_text = unescape(value);
        } else if (option == "--idle-poll") {
            o.script.idle_poll_ms = to_number(value, "--idle-poll");
        } else if (option == "--flood-line") {
            o.script.flood_line = unescape(value);
        } else if (option == "--flood-pause") {
            o.script.flood_pause_ms = to_number(value, "--flood-pause");
        } else if (option == "--folder") {
            o.script.folder = value;
        } else if (option == "--reply") {
            auto [name, text] = split(value, '=', "--reply");
            o.script.replies[upper(name)] = line_of(text);
        } else if (option == "--fault") {
            std::size_t at = value.find('@');
            o.script.fault = to_fault(value.substr(0, at));
            o.script.fault_at = at == std::string::npos ? "GREETING" : upper(value.substr(at + 1));
        } else if (option == "--fault-delay") {
            o.script.fault_delay_ms = to_number(value, "--fault-delay");
        } else if (option == "--pieces") {
            auto [bytes, ms] = split(value, ':', "--pieces");
            o.script.piece_bytes = static_cast<std::size_t>(to_number(bytes, "--pieces"));
            o.script.piece_pause_ms = to_number(ms, "--pieces");
        } else if (option == "--tls") {
            if (value != "implicit" && value != "starttls") {
                usage_error("unknown TLS mode: " + value);
            }
            o.script.tls = value == "implicit" ? ImapTls::implicit : ImapTls::starttls;
        } else if (option == "--cert") {
            o.script.certificate_file = value;
        } else if (option == "--key") {
            o.script.key_file = value;
        } else {
            return false;
        }
        return true;
    });
    if (o.script.tls != ImapTls::none && (o.script.certificate_file.empty() || o.script.key_file.empty())) {
        usage_error("--tls needs --cert and --key");
    }
    return o;
}

} // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    ImapServer server(std::move(o.mailboxes), std::move(o.script));
    return serve_until_signalled(server, o.program, "kd5lite-imapserver");
}
