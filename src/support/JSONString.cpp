#include "support/JSONString.h"

#include <glib.h>

#include <cstdio>
#include <memory>

std::string jsonString(const std::string& text) {
    std::unique_ptr<gchar, decltype(&g_free)> valid(g_utf8_make_valid(text.data(), gssize(text.size())), g_free);
    std::string quoted = "\"";
    for (const char* c = valid.get(); *c; ++c) {
        const unsigned char byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            quoted += '\\';
            quoted += char(byte);
        } else if (byte < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            quoted += escaped;
        } else {
            quoted += char(byte);
        }
    }
    return quoted + "\"";
}
