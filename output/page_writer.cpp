#include "output/page_writer.hpp"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/service_voltage.hpp"
#include "core/shade.hpp"
#include "core/words.hpp"
#include "embedded/page_html.hpp"
#include "embedded/page_viewer.hpp"
#include "output/output_file.hpp"

namespace umbrascope {

namespace {

constexpr int page_format = 1;
constexpr std::size_t block_cells = std::size_t{1} << 22;

// A JSON string: quotes, backslashes and control characters escaped; UTF-8 as it is, and "</"
// broken so that no text closes the script element that holds it.
void append_json(std::string& out, std::string_view text)
{
    out += '"';
    char last = 0;
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '/':
            out += last == '<' ? "\\/" : "/";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
        last = c;
    }
    out += '"';
}

std::string exact(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

void append_number(std::string& out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    append_decimal(out, value, 4);
}

std::string colour_text(Colour c)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
    return text;
}

template <class T, class F>
void append_list(std::string& out, const std::vector<T>& values, F&& each)
{
    out += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ',';
        each(values[i]);
    }
    out += ']';
}

// The network, the profile's segments, the controls and the field: what every row shares.
std::string network_json(const PageInput& in)
{
    std::string out = "{\"names\":";
    append_list(out, in.names, [&](const std::string& name) { append_json(out, name); });
    out += ",\"x\":";
    append_list(out, in.x, [&](double v) { append_number(out, v); });
    out += ",\"y\":";
    append_list(out, in.y, [&](double v) { append_number(out, v); });
    out += ",\"connections\":";
    append_list(out, in.connections, [&](const std::pair<int, int>& c) {
        out += std::to_string(c.first) + "," + std::to_string(c.second);
    });
    out += ",\"distance_km\":";
    append_list(out, in.distance_km, [&](double v) { append_number(out, v >= 0 ? v : NAN); });
    out += ",\"segments\":";
    append_list(out, in.segments, [&](const std::pair<int, int>& c) {
        out += std::to_string(c.first) + "," + std::to_string(c.second);
    });
    out += ",\"excursions\":";
    append_list(out, in.excursions, [&](int row) { out += std::to_string(row); });
    out += ",\"worst_row\":" + std::to_string(in.worst_row);
    out += ",\"worst_bus\":";
    append_list(out, in.worst_bus, [&](int bus) { out += std::to_string(bus); });
    out += ",\"own_outside\":";
    append_list(out, in.own_outside, [&](int bus) { out += std::to_string(bus); });
    if (!in.own_outside.empty()) {
        out += ",\"counted\":{\"excursions\":";
        append_list(out, in.excursions_counted, [&](int row) { out += std::to_string(row); });
        out += ",\"worst_row\":" + std::to_string(in.worst_row_counted);
        out += ",\"worst_bus\":";
        append_list(out, in.worst_bus_counted, [&](int bus) { out += std::to_string(bus); });
        out += '}';
    }
    out += ",\"controls\":";
    std::size_t c = 0;
    append_list(out, in.controls, [&](const PageControl& control) {
        out += "{\"kind\":";
        append_json(out, control.kind);
        out += ",\"name\":";
        append_json(out, control.name);
        out += ",\"element\":";
        append_json(out, control.element);
        out += ",\"bus\":" + std::to_string(control.bus);
        // Its state as a list of changes: row, state, ...; row 0 the settle's.
        const auto changes = [&](bool clear) {
            const ControlSeries& series = in.states->controls()[c];
            out += "[0,";
            out += std::to_string(series.state(0, clear));
            for (int row = 1; row <= in.rows; ++row)
                if (series.state(row, clear) != series.state(row - 1, clear)) {
                    out += ',';
                    out += std::to_string(row);
                    out += ',';
                    out += std::to_string(series.state(row, clear));
                }
            out += ']';
        };
        out += ",\"states\":";
        changes(false);
        if (in.states->twin()) {
            out += ",\"clear\":";
            changes(true);
        }
        out += '}';
        ++c;
    });
    if (in.field != nullptr) {
        // Every digit of the numbers the sun table was made with, and each bus's own coordinates
        // as the network file gives them (single precision), so that the page makes the table's
        // very numbers.
        const SkyField& f = *in.field;
        out += ",\"field\":{\"sensor\":[" + exact(f.at_x) + "," + exact(f.at_y) + "]";
        for (const auto& [key, value] : {std::pair{"metres_per_unit", f.metres_per_unit}, std::pair{"speed", f.speed},
                                         std::pair{"from", f.from}, std::pair{"interval", f.interval},
                                         std::pair{"first", f.first}, std::pair{"row_interval", f.row_interval},
                                         std::pair{"scale", f.scale}})
            out += std::string(",\"") + key + "\":" + exact(value);
        out += ",\"series\":";
        append_list(out, f.series, [&](double v) { out += exact(v); });
        out += ",\"row_clear\":";
        append_list(out, f.row_clear, [&](double v) { out += exact(v); });
        out += ",\"net_x\":";
        append_list(out, in.net_x, [&](float v) {
            char text[24];
            std::snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
            out += text;
        });
        out += ",\"net_y\":";
        append_list(out, in.net_y, [&](float v) {
            char text[24];
            std::snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
            out += text;
        });
        out += '}';
    }
    out += ",\"order\":";
    append_list(out, in.order, [&](int b) { out += std::to_string(b); });
    out += ",\"parent\":";
    append_list(out, in.parent, [&](int b) { out += std::to_string(b); });
    out += ",\"mapping\":[";
    for (int i = 0; i < 6; ++i) {
        out += i > 0 ? "," : "";
        append_decimal(out, in.mapping[i], 9);
    }
    out += "],\"c_span\":";
    append_decimal(out, in.c_span, 9);
    out += '}';
    return out;
}

// Each row's clouds: a count of shapes, then each shape's kind and its four numbers, in twips
// rounded to whole ones, as 16-bit words (little-endian).
std::string clouds_bytes(const PageInput& in)
{
    std::string out;
    const auto word = [&](double v) {
        const auto w = static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
        out += static_cast<char>(static_cast<std::uint16_t>(w) & 0xFF);
        out += static_cast<char>(static_cast<std::uint16_t>(w) >> 8);
    };
    for (int row = 0; row < in.rows; ++row) {
        const std::vector<float> none;
        const std::vector<float>& shapes = static_cast<std::size_t>(row) < in.clouds.size() ? in.clouds[static_cast<std::size_t>(row)] : none;
        const std::size_t clouds = shapes.size() / 5;  // five numbers a cloud
        word(static_cast<double>(clouds));
        for (const float v : shapes)
            word(v);
    }
    return out;
}

std::string section(std::string_view id, std::string_view raw)
{
    std::string out = "<script type=\"application/octet-stream\" id=\"u-";
    out += id;
    out += "\" data-size=\"" + std::to_string(raw.size()) + "\">";
    out += base64(gzip(raw));
    out += "</script>\n";
    return out;
}

}  // namespace

std::string base64(std::string_view bytes)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t n = (std::uint32_t{static_cast<std::uint8_t>(bytes[i])} << 16) |
                                (std::uint32_t{static_cast<std::uint8_t>(bytes[i + 1])} << 8) |
                                static_cast<std::uint8_t>(bytes[i + 2]);
        out += alphabet[n >> 18];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += alphabet[n & 63];
    }
    if (const std::size_t left = bytes.size() - i; left > 0) {
        std::uint32_t n = std::uint32_t{static_cast<std::uint8_t>(bytes[i])} << 16;
        if (left == 2)
            n |= std::uint32_t{static_cast<std::uint8_t>(bytes[i + 1])} << 8;
        out += alphabet[n >> 18];
        out += alphabet[(n >> 12) & 63];
        out += left == 2 ? alphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string gzip(std::string_view bytes)
{
    z_stream stream{};
    // 15 bits of window, and 16 more for the gzip wrapper that DecompressionStream("gzip") takes.
    if (deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw WriteError("cannot compress the page: zlib does not start");
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        throw WriteError("cannot compress the page: zlib stopped");
    return out;
}

void append_predicted(std::string& out, const std::int32_t* table, int first, int count, int buses,
                      const std::vector<int>& order, const std::vector<int>& parent)
{
    const auto value = [&](int row, int bus) {
        const std::int32_t v = table[static_cast<std::size_t>(row) * static_cast<std::size_t>(buses) + static_cast<std::size_t>(bus)];
        return v == page_empty ? std::int64_t{0} : std::int64_t{v};
    };
    for (const int b : order) {
        const int p = parent[static_cast<std::size_t>(b)];
        for (int i = 0; i < count; ++i) {
            const int row = first + i;
            const std::int64_t predicted = i == 0 ? (p >= 0 ? value(row, p) : 0)
                                                  : value(row - 1, b) + (p >= 0 ? value(row, p) - value(row - 1, p) : 0);
            const std::int32_t v = table[static_cast<std::size_t>(row) * static_cast<std::size_t>(buses) + static_cast<std::size_t>(b)];
            const std::int64_t step = std::int64_t{v} - predicted;
            if (v != page_empty && step >= -127 && step <= 127) {
                out += static_cast<char>(static_cast<std::int8_t>(step));
            } else {
                out += static_cast<char>(-128);
                const auto u = static_cast<std::uint32_t>(v);
                for (int shift = 0; shift < 32; shift += 8)
                    out += static_cast<char>((u >> shift) & 0xFF);
            }
        }
    }
}

void append_deltas(std::string& out, const std::int32_t* values, std::size_t count, std::size_t stride)
{
    std::int64_t last = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t value = values[i * stride];
        const std::int64_t step = std::int64_t{value} - last;
        if (value != page_empty && step >= -127 && step <= 127) {
            out += static_cast<char>(static_cast<std::int8_t>(step));
        } else {
            out += static_cast<char>(-128);
            const auto u = static_cast<std::uint32_t>(value);
            for (int b = 0; b < 32; b += 8)
                out += static_cast<char>((u >> b) & 0xFF);
        }
        last = value == page_empty ? 0 : value;
    }
}

int page_block_rows(int rows, int buses)
{
    const std::size_t per = std::max<std::size_t>(1, block_cells / static_cast<std::size_t>(std::max(buses, 1)));
    return static_cast<int>(std::clamp<std::size_t>(per, 1, static_cast<std::size_t>(std::max(rows, 1))));
}

std::string page_text(const PageInput& in)
{
    const int block_rows = page_block_rows(in.rows, in.buses);
    const int blocks = in.rows == 0 ? 0 : (in.rows + block_rows - 1) / block_rows;
    const bool voltages = !in.lowest.empty();
    std::string meta = "{\"format\":" + std::to_string(page_format) + ",\"title\":";
    append_json(meta, in.title);
    meta += ",\"rows\":" + std::to_string(in.rows) + ",\"buses\":" + std::to_string(in.buses);
    meta += ",\"row_offset\":" + std::to_string(in.row_offset) + ",\"sky_rows\":" + std::to_string(in.sky_rows);
    meta += ",\"block_rows\":" + std::to_string(block_rows) + ",\"blocks\":" + std::to_string(blocks);
    meta += ",\"colour_by\":";
    append_json(meta, in.colour_by);
    meta += ",\"classes\":";
    append_list(meta, in.classes, [&](const PageClass& c) {
        meta += "{\"colour\":\"" + colour_text(c.colour) + "\",\"text\":";
        append_json(meta, c.text);
        meta += '}';
    });
    meta += ",\"bus_notes\":";
    append_list(meta, in.bus_notes, [&](const std::string& note) { append_json(meta, note); });
    meta += std::string(",\"voltages\":") + (voltages ? "true" : "false");
    meta += std::string(",\"sun\":") + (in.field == nullptr ? "true" : "false");
    meta += ",\"voltage_colours\":[";
    for (int c = 0; c < voltage_classes; ++c)
        meta += std::string(c > 0 ? "," : "") + "\"" + colour_text(class_colour(static_cast<VoltageClass>(c))) + "\"";
    meta += "]";
    meta += std::string(",\"profile\":") + (in.profile && voltages ? "true" : "false");
    meta += std::string(",\"controls\":") + (in.controls.empty() ? "false" : "true");
    meta += std::string(",\"field\":") + (in.field != nullptr ? "true" : "false");
    meta += ",\"spacing\":";
    append_decimal(meta, in.spacing, 3);
    meta += ",\"profile_axes\":[";
    append_decimal(meta, in.profile_axes[0], 6);
    meta += ',';
    append_decimal(meta, in.profile_axes[1], 6);
    meta += "],\"profile_km\":";
    append_decimal(meta, in.profile_axes[2], 6);
    meta += in.distances_in_km ? ",\"distance_unit\":\"km\"" : ",\"distance_unit\":\"network units\"";
    meta += ",\"shade\":[";
    for (int level = 1; level <= shade_levels; ++level)
        meta += std::string(level > 1 ? "," : "") + "\"" + colour_text(shade_colour(level)) + "\"";
    meta += "]";
    meta += ",\"frame\":[";
    for (int i = 0; i < 4; ++i) {
        meta += i > 0 ? "," : "";
        append_decimal(meta, in.frame[i], 3);
    }
    meta += "]}";

    std::string sections = "<script type=\"application/json\" id=\"u-meta\">" + meta + "</script>\n";
    sections += section("network", network_json(in));
    std::string times;
    for (const std::string& time : in.times) {
        times += time;
        times += '\n';
    }
    sections += section("times", times);
    sections += section("clouds", clouds_bytes(in));
    const auto buses = static_cast<std::size_t>(in.buses);
    for (int b = 0; b < blocks; ++b) {
        const int first = b * block_rows;
        const int count = std::min(block_rows, in.rows - first);
        // The classes row by row, each row but the first as the change from the row before.
        std::string classes(static_cast<std::size_t>(count) * buses, '\0');
        for (int r = 0; r < count; ++r)
            for (std::size_t k = 0; k < buses; ++k) {
                const std::size_t at = static_cast<std::size_t>(first + r) * buses + k;
                const std::uint8_t before = r == 0 ? 0 : in.class_of[at - buses];
                classes[static_cast<std::size_t>(r) * buses + k] = static_cast<char>(in.class_of[at] ^ before);
            }
        sections += section("class-" + std::to_string(b), classes);
        // The numbers bus by bus, each down the block's rows: the sun as steps from the row
        // before, the voltages as steps from that plus the step the bus's parent took.
        const auto column_block = [&](const std::vector<std::int32_t>& table, const char* name, bool by_parent) {
            std::string bytes;
            bytes.reserve(static_cast<std::size_t>(count) * buses + 16);
            append_predicted(bytes, table.data(), first, count, in.buses, in.order,
                             by_parent ? in.parent : std::vector<int>(buses, -1));
            sections += section(std::string(name) + "-" + std::to_string(b), bytes);
        };
        if (in.field == nullptr)
            column_block(in.sun, "sun", false);
        if (voltages) {
            column_block(in.lowest, "low", true);
            column_block(in.highest, "high", true);
        }
    }

    std::string page(embedded::page_html);
    std::string title;
    for (const char c : in.title)
        title += c == '<' ? std::string("&lt;") : c == '&' ? std::string("&amp;") : std::string(1, c);
    const auto put = [&](std::string_view mark, const std::string& text) {
        const std::size_t at = page.find(mark);
        if (at != std::string::npos)
            page.replace(at, mark.size(), text);
    };
    put("@TITLE@", title);
    put("<!--@SECTIONS@-->", sections);
    // The viewer's own text, which never holds "</script".
    put("/*@VIEWER@*/", std::string(embedded::page_viewer));
    return page;
}

void write_page(const std::filesystem::path& path, const PageInput& input)
{
    OutputFile file(path);
    file.write(page_text(input));
    file.commit();
}

}  // namespace umbrascope
