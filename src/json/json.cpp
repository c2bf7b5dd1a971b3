#include "json/json.h"

#include "report/report.h"

namespace {

void put_string(wtext& out, const std::optional<wtext>& value) {
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

// One field: `indent` before it and a line end after it in the document,
// nothing in a compact object.
void put_field(wtext& out, const WCHAR* indent, const WCHAR* name, const wtext& value, bool last = false) {
    out += indent;
    out += u'"';
    out += name;
    out += *indent ? TEXT("\": ") : TEXT("\":");
    out += value;
    if (!last) out += u',';
    if (*indent) out += u'\n';
}

wtext string_value(const std::optional<wtext>& value) {
    wtext out;
    put_string(out, value);
    return out;
}

}  // namespace

void put_port(wtext& out, const listed_port& p, bool compact) {
    const WCHAR* indent = compact ? TEXT("") : TEXT("      ");
    const std::string number = p.interface ? std::to_string(*p.interface) : "null";
    out += compact ? TEXT("{") : TEXT("{\n");
    put_field(out, indent, TEXT("port"), string_value(p.port));
    put_field(out, indent, TEXT("vid"), string_value(p.vid));
    put_field(out, indent, TEXT("pid"), string_value(p.pid));
    put_field(out, indent, TEXT("interface"), wtext(number.begin(), number.end()));
    put_field(out, indent, TEXT("instance"), string_value(p.instance));
    put_field(out, indent, TEXT("serial"), string_value(p.serial));
    put_field(out, indent, TEXT("location"), string_value(p.location));
    put_field(out, indent, TEXT("description"), string_value(p.description));
    put_field(out, indent, TEXT("manufacturer"), string_value(p.manufacturer));
    put_field(out, indent, TEXT("product"), string_value(p.product));
    put_field(out, indent, TEXT("interface_name"), string_value(p.interface_name));
    put_field(out, indent, TEXT("revision"), string_value(p.revision), true);
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
