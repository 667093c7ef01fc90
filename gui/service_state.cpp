#include "gui/service_state.h"

#include "settings/settings_access.h"
#include "settings/text.h"

const char* service_state_text(const char* state) {
    switch (text_to_int(state)) {
    case 0:
        return "wait ...";
    case 1:
        return "工作中（邮件检查中）";
    case 2:
        return "停止中";
    default:
        return "故障中";
    }
}

const char* read_service_state() {
    ini_read_key(Key::State);
    return service_state_text(settings_get(Key::State).c_str());
}

void write_request(const char* request) {
    settings_put(Key::Request, request);
}
