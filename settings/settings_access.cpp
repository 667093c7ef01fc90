#include "settings/settings_access.h"

#include "logging/log.h"
#include "platform/corvo_dir.h"
#include "platform/profile.h"
#include "settings/settings.h"
#include "settings/settings_lock.h"
#include "settings/text.h"

#include <cstdio>
#include <cstring>

std::mutex& settings_field_mutex() {
    static std::mutex m;
    return m;
}

namespace {

void read_trace(Key key, int index, const char* value) {
    char line[kIniReadSize + 96];
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

const char* fixed_value(Key key) {
    switch (key) {
    case Key::Company: return kCompany;
    case Key::Brand: return kBrand;
    case Key::Product: return kProduct;
    case Key::Type: return kType;
    default: return nullptr;
    }
}

// Fits value into the key's field and hands back the text stored, both under the field lock.
void store_field(Key key, int index, const char* value, char (&stored)[kIniReadSize]) {
    std::lock_guard lock(settings_field_mutex());
    FieldRef f = key_field(key, index);
    fit_text(f.data, f.size, value);
    std::memcpy(stored, f.data, f.size);
}

void put_key(Key key, int index, const char* value) {
    char section[64];
    key_section(key, index, section, sizeof section);
    const char* fixed = fixed_value(key);
    ini_put(section, key_name(key), fixed != nullptr ? fixed : value);
}

} // namespace

int ini_get(const char* section, const char* key, char (&buffer)[kIniReadSize]) {
    std::memset(buffer, 0, sizeof buffer);
    profile_get_string(section, key, "", buffer, sizeof buffer, settings_file_path());
    return 0;
}

int ini_put(const char* section, const char* key, const char* value) {
    corvo_dir_ensure();
    profile_write_string(section, key, value, settings_file_path());
    return 0;
}

int ini_read_key(Key key, int index) {
    char section[64];
    key_section(key, index, section, sizeof section);
    char buffer[kIniReadSize];
    ini_get(section, key_name(key), buffer);
    char value[kIniReadSize];
    store_field(key, index, buffer, value);
    read_trace(key, index, value);
    return 0;
}

int ini_write_key(Key key, int index) {
    char value[kIniReadSize];
    {
        std::lock_guard lock(settings_field_mutex());
        FieldRef f = key_field(key, index);
        std::memcpy(value, f.data, f.size);
    }
    put_key(key, index, value);
    return 0;
}

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

void settings_put(Key key, const char* value, int index) {
    // The file gets the value meant here, not the field: the other thread may refresh the field from the file
    // between the two steps, and writing that back would undo this write (a job end's Answer "0" lost that way
    // leaves the notifier busy for good).
    char fitted[kIniReadSize];
    store_field(key, index, value, fitted);
    put_key(key, index, fitted);
}
