// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings_access.h"

#include "logging/log.h"
#include "platform/corvo_dir.h"
#include "platform/profile.h"
#include "platform/profile_text.h"
#include "platform/secret.h"
#include "platform/text.h"
#include "settings/settings.h"
#include "settings/settings_lock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

std::mutex& settings_field_mutex() {
    static std::mutex m;
    return m;
}

namespace {

std::atomic<int> g_write_failures{0};
std::atomic<WriteFailure> g_last_failure{WriteFailure::none};
std::atomic<int> g_last_failure_errno{0};
std::atomic<bool> g_read_failing{false};

// A failure's error line: written, or handed back in report to the log writer that asked through its gate (the
// day markers, settings/log_markers.cpp), which writes it in its turn.
void report_failure(std::string* report, const std::string& line) {
    if (report != nullptr) {
        *report = line;
    } else {
        write_error_log(line.c_str());
    }
}

// The whole settings file, for the keys of one call. A file that cannot be read is reported once, not at every
// poll of the command keys, until a read succeeds again.
bool read_settings_file(std::string& text, std::string* report = nullptr) {
    if (corvo_dir_trusted() && profile_read(settings_file_path(), text)) {
        g_read_failing = false;
        return true;
    }
    int error = errno;
    text.clear();
    if (!g_read_failing.exchange(true)) {
        report_failure(report, format_text("INI operation ---> Reading abnormality[error: %d]", error));
    }
    return false;
}

// One line per failed write. The log writers move their day markers through here with a report to fill, so a
// failure met while a line is written does not come back into the writer: no guard against a loop is needed.
int write_failed(ProfileWrite result, int error, std::string* report) {
    g_last_failure = result == ProfileWrite::lock_busy    ? WriteFailure::lock_busy
                     : result == ProfileWrite::unreadable ? WriteFailure::unreadable
                                                          : WriteFailure::other;
    g_last_failure_errno = error;
    ++g_write_failures;
    std::string line;
    switch (result) {
    case ProfileWrite::lock_busy: line = format_text("INI operation ---> Lock abnormality[error: %d]", error); break;
    case ProfileWrite::unreadable:
        line = format_text("INI operation ---> Writing abnormality [unreadable file][error: %d]", error);
        break;
    default: line = format_text("INI operation ---> Writing abnormality[error: %d]", error); break;
    }
    report_failure(report, line);
    return -1;
}

// Mailbox keys that only the notifier writes and whose failed write is kept to be written again: an Answer "1"
// never taken back because a stopped program held the lock would leave the notifier busy for good. Oldest first,
// one entry per key.
std::mutex g_pending_mutex;
std::vector<ProfileEntry> g_pending;

bool kept_when_failed(const ProfileEntry& e) {
    if (e.section != kSectionSystem) {
        return false;
    }
    for (Key key : {Key::Answer, Key::State, Key::Error, Key::Job}) {
        if (e.key == key_name(key)) {
            return true;
        }
    }
    return false;
}

bool same_entry(const ProfileEntry& a, const ProfileEntry& b) {
    return a.section == b.section && a.key == b.key && a.value == b.value;
}

void note_outcome(const std::vector<ProfileEntry>& retried, const std::vector<ProfileEntry>& entries, bool written) {
    std::lock_guard lock(g_pending_mutex);
    if (written) {
        // A retried entry that another thread replaced meanwhile stays for that thread's value.
        std::erase_if(g_pending, [&](const ProfileEntry& p) {
            return std::any_of(retried.begin(), retried.end(), [&](const ProfileEntry& r) { return same_entry(p, r); });
        });
        return;
    }
    for (const ProfileEntry& e : entries) {
        if (kept_when_failed(e)) {
            std::erase_if(g_pending, [&](const ProfileEntry& p) { return p.section == e.section && p.key == e.key; });
            g_pending.push_back(e);
        }
    }
}

// Writes the kept entries first and the new ones after them, so a newer value of a key wins.
int put_entries(const std::vector<ProfileEntry>& entries, std::string* report = nullptr) {
    std::vector<ProfileEntry> retried;
    {
        std::lock_guard lock(g_pending_mutex);
        retried = g_pending;
    }
    if (entries.empty() && retried.empty()) {
        return 0;
    }
    std::vector<ProfileEntry> all = retried;
    all.insert(all.end(), entries.begin(), entries.end());
    ProfileWrite result = corvo_dir_ensure() ? profile_write_entries(all, settings_file_path()) : ProfileWrite::failed;
    int error = errno;
    note_outcome(retried, entries, result == ProfileWrite::done);
    if (result == ProfileWrite::done) {
        return 0;
    }
    // A retry alone that fails again was reported when it first failed; at every poll it would flood the log.
    return entries.empty() ? -1 : write_failed(result, error, report);
}

void read_trace(Key key, int index, const char* value) {
    char line[kWidestField + 96];
    switch (key_group(key)) {
    case KeyGroup::Command:
        std::snprintf(line, sizeof line, "recv(ini) command.%s ( %s )", key_name(key), value);
        break;
    case KeyGroup::Account:
        std::snprintf(line, sizeof line, "recv(ini) corvo.user[%d].%s ( %s )", index, key_name(key), value);
        break;
    default: std::snprintf(line, sizeof line, "recv(ini) corvo.%s ( %s )", key_name(key), value); break;
    }
    write_trace(LogKind::reg, 0, line);
}

// The identity keys are the maker's: written as the key table has them, whatever the record holds.
const char* fixed_value(Key key) { return key_group(key) == KeyGroup::Identity ? key_row(key).fill : nullptr; }

// Fits value into the key's field and hands back the text stored, both under the field lock.
void store_field(Key key, int index, const char* value, char (&stored)[kWidestField]) {
    std::lock_guard lock(settings_field_mutex());
    FieldRef f = key_field(key, index);
    fit_text(f.data, f.size, value);
    std::memcpy(stored, f.data, f.size);
}

ProfileEntry entry_of(Key key, int index, const char* value) {
    char section[64];
    key_section(key, index, section, sizeof section);
    const char* fixed = fixed_value(key);
    return {section, key_name(key), fixed != nullptr ? fixed : value};
}

int put_key(Key key, int index, const char* value, std::string* report = nullptr) {
    return put_entries({entry_of(key, index, value)}, report);
}

int get_into(const char* section, const char* key, char (&buffer)[kIniReadSize], std::string* report) {
    std::memset(buffer, 0, sizeof buffer);
    std::string text;
    if (!read_settings_file(text, report)) {
        return -1;
    }
    if (auto value = profile_find(text, section, key)) {
        std::snprintf(buffer, sizeof buffer, "%s", value->c_str());
    }
    return 0;
}

int put_value(Key key, const char* value, int index, std::string* report) {
    // The file gets the value meant here, not the field: the other thread may refresh the field from the file
    // between the two steps, and writing that back would undo this write (a job end's Answer "0" lost that way
    // leaves the notifier busy for good).
    char fitted[kWidestField];
    store_field(key, index, value, fitted);
    return put_key(key, index, fitted, report);
}

} // namespace

int ini_get(const char* section, const char* key, char (&buffer)[kIniReadSize]) {
    return get_into(section, key, buffer, nullptr);
}

int ini_get_reporting(const char* section, const char* key, char (&buffer)[kIniReadSize], std::string& report) {
    return get_into(section, key, buffer, &report);
}

int ini_get_text(const char* section, const char* key, std::string& value) {
    value.clear();
    std::string text;
    if (!read_settings_file(text)) {
        return -1;
    }
    if (auto found = profile_find(text, section, key)) {
        value = std::move(*found);
    }
    wipe_secret(text); // it holds the scrambled secrets
    return 0;
}

int ini_put_texts(const char* section, std::initializer_list<std::pair<const char*, std::string>> values) {
    std::vector<ProfileEntry> entries;
    for (const auto& [key, value] : values) {
        entries.push_back({section, key, value});
    }
    return put_entries(entries);
}

int ini_put(const char* section, const char* key, const char* value) {
    return put_entries({{section, key, value != nullptr ? value : ""}});
}

int ini_read_key(Key key, int index) { return ini_read_keys({key}, index); }

int ini_read_keys(std::initializer_list<Key> keys, int index) {
    std::string text;
    if (!read_settings_file(text)) {
        return -1;
    }
    for (Key key : keys) {
        char section[64];
        key_section(key, index, section, sizeof section);
        // Whole into the field, however wide the key: the field alone cuts the value.
        const std::optional<std::string> found = profile_find(text, section, key_name(key));
        char value[kWidestField];
        store_field(key, index, found ? found->c_str() : "", value);
        read_trace(key, index, value);
    }
    return 0;
}

int ini_write_key(Key key, int index) { return ini_write_keys({key}, index); }

int ini_write_keys(std::initializer_list<Key> keys, int index) {
    return ini_write_keys(std::vector<Key>(keys), index);
}

int ini_write_keys(const std::vector<Key>& keys, int index) {
    std::vector<ProfileEntry> entries;
    for (Key key : keys) {
        char value[kWidestField];
        {
            std::lock_guard lock(settings_field_mutex());
            FieldRef f = key_field(key, index);
            std::memcpy(value, f.data, f.size);
        }
        entries.push_back(entry_of(key, index, value));
    }
    return put_entries(entries);
}

int settings_write_failures() { return g_write_failures; }

WriteFailure settings_last_write_failure(int* error) {
    if (error != nullptr) {
        *error = g_last_failure_errno;
    }
    return g_last_failure;
}

int settings_retry_writes() { return put_entries({}); }

std::string settings_get(Key key, int index) {
    std::lock_guard lock(settings_field_mutex());
    return key_field(key, index).data;
}

void settings_get_into(Key key, char* out, std::size_t size, int index) {
    std::lock_guard lock(settings_field_mutex());
    fit_text(out, size, key_field(key, index).data);
}

int settings_number(Key key, int index) {
    std::lock_guard lock(settings_field_mutex());
    return text_to_int(key_field(key, index).data);
}

void settings_set(Key key, const char* value, int index) {
    std::lock_guard lock(settings_field_mutex());
    FieldRef f = key_field(key, index);
    fit_text(f.data, f.size, value);
}

int settings_put(Key key, const char* value, int index) { return put_value(key, value, index, nullptr); }

int settings_put_reporting(Key key, const char* value, std::string& report, int index) {
    return put_value(key, value, index, &report);
}
