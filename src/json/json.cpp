#include "json/json.h"

#include "report/report.h"

namespace {

// A string, or null for none.
void put_string(wtext& out, const wtext* value) {
    if (!value) {
        out += TEXT("null");
        return;
    }
    out += u'"';
    const wtext& text = *value;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Characters that stand as themselves go in runs.
        std::size_t plain = i;
        while (plain < text.size() && text[plain] >= 0x20 && text[plain] != u'"' && text[plain] != u'\\' &&
               (text[plain] < 0xD800 || text[plain] > 0xDFFF))
            ++plain;
        if (plain > i) {
            out.append(text, i, plain - i);
            i = plain - 1;
            continue;
        }
        const WCHAR c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out += c;
            out += text[++i];
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out += static_cast<WCHAR>(0xFFFD);
        } else if (c == u'"' || c == u'\\') {
            out += u'\\';
            out += c;
        } else if (c == u'\n') {
            out += TEXT("\\n");
        } else if (c == u'\r') {
            out += TEXT("\\r");
        } else if (c == u'\t') {
            out += TEXT("\\t");
        } else {
            out += TEXT("\\u00");
            out += static_cast<WCHAR>(u"0123456789abcdef"[c >> 4]);
            out += static_cast<WCHAR>(u"0123456789abcdef"[c & 0xF]);
        }
    }
    out += u'"';
}

// One field, written in place: `indent` before it and a line end after it
// in the document, nothing in a compact object.
void put_field(wtext& out, const WCHAR* indent, const WCHAR* name, const wtext* value, bool last = false) {
    out += indent;
    out += u'"';
    out += name;
    out += *indent ? TEXT("\": ") : TEXT("\":");
    put_string(out, value);
    if (!last) out += u',';
    if (*indent) out += u'\n';
}

const wtext* maybe(const std::optional<wtext>& value) { return value ? &*value : nullptr; }

}  // namespace

void put_port(wtext& out, const listed_port& p, bool compact) {
    const WCHAR* indent = compact ? TEXT("") : TEXT("      ");
    out += compact ? TEXT("{") : TEXT("{\n");
    put_field(out, indent, TEXT("port"), &p.port);
    put_field(out, indent, TEXT("vid"), &p.vid);
    put_field(out, indent, TEXT("pid"), &p.pid);
    // A number, or null.
    out += indent;
    out += *indent ? TEXT("\"interface\": ") : TEXT("\"interface\":");
    const std::string number = p.interface ? std::to_string(*p.interface) : "null";
    out.append(number.begin(), number.end());
    out += *indent ? TEXT(",\n") : TEXT(",");
    put_field(out, indent, TEXT("instance"), &p.instance);
    put_field(out, indent, TEXT("serial"), maybe(p.serial));
    put_field(out, indent, TEXT("location"), maybe(p.location));
    put_field(out, indent, TEXT("description"), maybe(p.description));
    put_field(out, indent, TEXT("manufacturer"), maybe(p.manufacturer));
    put_field(out, indent, TEXT("product"), maybe(p.product));
    put_field(out, indent, TEXT("interface_name"), maybe(p.interface_name));
    put_field(out, indent, TEXT("revision"), maybe(p.revision), true);
    out += compact ? TEXT("}") : TEXT("    }");
}

void write_document(const std::vector<listed_port>& ports) {
    // Written a port at a time: the document of a thousand ports need not
    // be held whole.
    wtext out = TEXT("{\n  \"version\": 1,\n  \"ports\": [");
    for (std::size_t i = 0; i < ports.size(); ++i) {
        out += i ? TEXT(",\n    ") : TEXT("\n    ");
        put_port(out, ports[i], false);
        put_text(out_stream::standard_output, out.data(), out.size());
        out.clear();
    }
    out += ports.empty() ? TEXT("]\n}\n") : TEXT("\n  ]\n}\n");
    put_text(out_stream::standard_output, out.data(), out.size());
}
