// SPDX-License-Identifier: GPL-3.0-or-later
// kd5lite-pop3server: serves POP3 maildrops on a loopback port for demos and end-to-end tests.

#include "tools/pop3server/pop3_message.h"
#include "tools/pop3server/pop3_server.h"
#include "tools/serverbase/server_program.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr char kUsage[] = R"(Usage: kd5lite-pop3server [options]
Serves POP3 maildrops until SIGINT or SIGTERM. The first line on standard output is the port.

  --host ADDR            numeric address to listen on (default 127.0.0.1; ::1 for IPv6)
  --port N               port to listen on (default 0: a free port)
  --port-file PATH       also write the port to PATH (written beside it, then renamed into place)
  --user NAME:PASSWORD   add an account; the message options after it fill its maildrop
  --from TEXT            add a message whose From: line is TEXT, e.g. 'Taro <taro@example.com>'
  --message FILE         add the message in FILE
  --maildir DIR          the account's messages are the files in DIR, read afresh at each login
  --transcript FILE      append every command line received to FILE
  --greeting TEXT        greeting line instead of the usual one
  --reply VERB=TEXT      answer VERB with TEXT instead of the normal reply, e.g. 'PASS=-ERR bad password';
                         'UIDL=-ERR not supported' plays a server without unique ids
  --fault KIND[@EVENT]   misbehave at EVENT, a command verb, GREETING (default) or TLS (the handshake).
                         KIND is one of
                         mute: never answer it or anything after it;  close: answer, then close;
                         reset: reset the connection instead of answering;
                         late_reset: answer, then reset after --fault-delay MS (default 150);
                         endless: answer "+OK " and bytes without a line feed until the client goes;
                         delay: answer --fault-delay MS late;
                         truncate: answer, then close without the TLS closing alert;
                         inject: answer in clear even under TLS;
                         tickets: answer, then send TLS records without data every --fault-delay MS;
                         renegotiate: TLS 1.2 only; answer, then ask the client for a new handshake
  --fault-delay MS       see late_reset, delay and tickets
  --slow MS              send every answer one byte per MS milliseconds
  --piece N              with --slow: N bytes per MS milliseconds instead of one
  --capa TEXT            the lines of the CAPA listing instead of 'TOP\r\nUSER\r\nUIDL', e.g.
                         'TOP\r\nUIDL\r\nPIPELINING'; an empty TEXT makes CAPA an unknown command
  --top-status TEXT      TOP status line instead of "+OK <octets> octets"
  --top-extra N          put N bytes more into every TOP block than its status line announces
  --tls MODE             implicit: TLS from the first byte (as on port 995); stls: plain until STLS
  --cert FILE            with --tls: the server certificate (PEM), then any intermediate authorities
  --key FILE             with --tls: its private key (PEM)
Texts take the escapes \r \n \t \\ \0 \xHH; greeting, reply and status lines get CR LF added.
)";

struct Options {
    ServerProgramOptions program;
    std::map<std::string, Pop3Mailbox> mailboxes;
    Pop3Script script;
};

const ServerCommandLine kCommandLine{"kd5lite-pop3server", kUsage};

[[noreturn]] void usage_error(const std::string& what) {
    kCommandLine.error(what);
}

int to_number(const std::string& text, const char* option) {
    return kCommandLine.number(text, option);
}

Pop3Tls to_tls(const std::string& mode) {
    if (mode == "implicit") {
        return Pop3Tls::implicit;
    }
    if (mode == "stls") {
        return Pop3Tls::stls;
    }
    usage_error("unknown TLS mode: " + mode);
}

Pop3Fault to_fault(const std::string& kind) {
    if (kind == "mute") {
        return Pop3Fault::mute;
    }
    if (kind == "close") {
        return Pop3Fault::close;
    }
    if (kind == "reset") {
        return Pop3Fault::reset;
    }
    if (kind == "late_reset") {
        return Pop3Fault::late_reset;
    }
    if (kind == "endless") {
        return Pop3Fault::endless;
    }
    if (kind == "delay") {
        return Pop3Fault::delay;
    }
    if (kind == "truncate") {
        return Pop3Fault::truncate;
    }
    if (kind == "inject") {
        return Pop3Fault::inject;
    }
    if (kind == "tickets") {
        return Pop3Fault::tickets;
    }
    if (kind == "renegotiate") {
        return Pop3Fault::renegotiate;
    }
    usage_error("unknown fault: " + kind);
}

std::string line_of(const std::string& text) {
    return unescape(text) + "\r\n";
}

Options parse(int argc, char** argv) {
    Options o;
    Pop3Mailbox* last = nullptr;
    auto account = [&](const char* option) -> Pop3Mailbox& {
        if (last == nullptr) {
            usage_error(std::string(option) + " needs a --user before it");
        }
        return *last;
    };
    kCommandLine.parse(argc, argv, o.program, [&](const std::string& option, const std::string& value) {
        if (option == "--user") {
            std::size_t colon = value.find(':');
            if (colon == std::string::npos || colon == 0) {
                usage_error("--user takes NAME:PASSWORD");
            }
            last = &o.mailboxes[value.substr(0, colon)];
            last->password = value.substr(colon + 1);
        } else if (option == "--from") {
            Pop3Mailbox& box = account("--from");
            std::string subject = "Message " + std::to_string(box.messages.size() + 1);
            box.messages.push_back(make_message(unescape(value), "user@kd5lite.test", subject));
        } else if (option == "--message") {
            std::ifstream in(value, std::ios::binary);
            if (!in) {
                usage_error("cannot read " + value);
            }
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            account("--message").messages.push_back(with_crlf(text));
        } else if (option == "--maildir") {
            account("--maildir").maildir = value;
        } else if (option == "--greeting") {
            o.script.greeting = line_of(value);
        } else if (option == "--reply") {
            std::size_t equals = value.find('=');
            if (equals == std::string::npos || equals == 0) {
                usage_error("--reply takes VERB=TEXT");
            }
            std::string verb = value.substr(0, equals);
            for (char& c : verb) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            o.script.replies[verb] = line_of(value.substr(equals + 1));
        } else if (option == "--fault") {
            std::size_t at = value.find('@');
            o.script.fault = to_fault(value.substr(0, at));
            o.script.fault_at = at == std::string::npos ? "GREETING" : value.substr(at + 1);
        } else if (option == "--fault-delay") {
            o.script.fault_delay_ms = to_number(value, "--fault-delay");
        } else if (option == "--slow") {
            o.script.byte_pause_ms = to_number(value, "--slow");
        } else if (option == "--piece") {
            o.script.piece_bytes = static_cast<std::size_t>(std::max(1, to_number(value, "--piece")));
        } else if (option == "--capa") {
            o.script.capabilities = value.empty() ? "" : line_of(value);
        } else if (option == "--top-status") {
            o.script.top_status = line_of(value);
        } else if (option == "--top-extra") {
            o.script.top_extra = static_cast<std::size_t>(to_number(value, "--top-extra"));
        } else if (option == "--tls") {
            o.script.tls = to_tls(value);
        } else if (option == "--cert") {
            o.script.certificate_file = value;
        } else if (option == "--key") {
            o.script.key_file = value;
        } else {
            return false;
        }
        return true;
    });
    if (o.script.tls != Pop3Tls::none && (o.script.certificate_file.empty() || o.script.key_file.empty())) {
        usage_error("--tls needs --cert and --key");
    }
    return o;
}

} // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    Pop3Server server(std::move(o.mailboxes), std::move(o.script));
    return serve_until_signalled(server, o.program, "kd5lite-pop3server");
}
