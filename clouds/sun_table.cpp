#include "clouds/sun_table.hpp"

#include "core/close_guard.hpp"
#include "core/scan.hpp"

#include <algorithm>
#include <cstdint>

namespace umbrascope {

namespace {

constexpr int header_lines = 6;

// Stores the converted field `col` of the current row: field 1 is the time, field j the intensity
// of bus index j - 1; the last field of a row without any delimiter lands in column 0.
void store_field(RunState& st, bool time_field, const Site& site)
{
    const int max_rows = st.time_val.upper();
    if (st.i_time > max_rows)
        fail(ErrorKind::bounds, describe(site) + ": a " + std::to_string(max_rows + 1) +
                                    "st data row; the sun table holds at most " + std::to_string(max_rows) +
                                    " rows (run with --large for bigger inputs)");
    if (time_field) {
        st.time_val(st.i_time) = Cell(st.cell_val);
        return;
    }
    const int max_fields = st.sun_table.column_upper() + 1;  // the time and an intensity per column from 1
    if (st.col > max_fields)
        fail(ErrorKind::bounds, describe(site) + ": a " + std::to_string(st.col.value()) + "th field; a row holds at most " +
                                    std::to_string(max_fields) + " fields, the time and " +
                                    std::to_string(max_fields - 1) + " intensities");
    st.sun_table(st.i_time, difference(st.col, Integer{1}, "the column index")) = Cell(st.cell_val);
}

Integer small(std::size_t n) { return Integer(static_cast<std::int16_t>(n)); }

bool is_blank(char32_t c) { return c == U' ' || c == U'\t'; }
bool is_digit(char32_t c) { return c >= U'0' && c <= U'9'; }

// A plain decimal of at most 7 digits between blanks, from `i` up to a delimiter or the end of the
// line: its value and the index where it stops, as text_to_single and find_delim would find them.
bool plain_field(TextView line, std::size_t& i, char32_t delim, Single& value)
{
    static constexpr float powers[] = {1e0F, 1e1F, 1e2F, 1e3F, 1e4F, 1e5F, 1e6F, 1e7F};
    const std::size_t n = line.size();
    while (i < n && is_blank(line[i]))
        ++i;
    bool negative = false;
    if (i < n && (line[i] == U'-' || line[i] == U'+'))
        negative = line[i++] == U'-';
    std::uint32_t digits = 0;
    int count = 0;
    int decimals = -1;
    for (; i < n; ++i) {
        const char32_t c = line[i];
        if (is_digit(c)) {
            if (++count > 7)
                return false;
            digits = digits * 10 + (c - U'0');
            decimals += decimals >= 0 ? 1 : 0;
        } else if (c == U'.' && decimals < 0) {
            decimals = 0;
        } else {
            break;
        }
    }
    while (i < n && is_blank(line[i]))
        ++i;
    if (count == 0 || (i < n && line[i] != delim))
        return false;
    const float magnitude = static_cast<float>(digits) / powers[std::max(decimals, 0)];
    value = negative ? -magnitude : magnitude;
    return true;
}

// The usual row, read in one sweep with the outcome of the field-by-field scan below: a line short
// enough that no position passes 32767, in a row that fits the table, with fields in the order of
// the file. A field that is not a plain decimal is converted as the scan converts it, with the scan's
// state set first, so that the first bad field in file order fails as it would there. False when
// the row is not of this kind; the scan then reads it from its start, storing the same cells again.
bool read_row_in_one_sweep(RunState& st, Site& site)
{
    const TextView line = st.text_line;
    const std::size_t n = line.size();
    const char32_t delim = st.delim;
    const bool plain_delim = !is_blank(delim) && !is_digit(delim) && delim != U'.' && delim != U'-' && delim != U'+';
    if (n >= static_cast<std::size_t>(integer_max) || st.i_time > st.time_val.upper() || !plain_delim)
        return false;
    const auto max_fields = static_cast<std::size_t>(st.sun_table.column_upper()) + 1;

    std::size_t start = 0;  // of the current field, and the position of the delimiter before it
    for (std::size_t field = 1;; ++field) {
        if (field > max_fields) {
            st.pos = Integer{0};
            st.col = Integer{0};
            return false;
        }
        std::size_t end = start;
        Single value = 0.0F;
        if (!plain_field(line, end, delim, value)) {
            end = line.find(delim, start);
            end = end == TextView::npos ? n : end;
            st.pos_start = small(start);
            st.pos = end < n ? small(end + 1) : Integer{0};
            st.col = small(field);
            site.field = static_cast<int>(field);
            value = text_to_single(line.substr(start, end - start), site);
        }
        st.cell_val = value;
        const bool last = end == n;
        if (field == 1 && !last)
            st.time_val(st.i_time) = Cell(value);
        else
            st.sun_table(st.i_time, small(last && field == 1 ? 0 : field - 1)) = Cell(value);
        if (last) {
            st.pos_start = small(start);
            st.pos = Integer{0};
            st.col = small(field);
            st.ncol = st.col;
            return true;
        }
        start = end + 1;
    }
}

void read_data_row(Pass& pass)
{
    RunState& st = pass.st;
    InputSlot& input = pass.input;
    st.pos = Integer{0};
    input.read_line(st.text_line, sun_table_file_name);
    st.i_time = sum(st.i_time, 1, "the row count i_time");
    st.col = Integer{0};
    if (st.i_time == 1)
        pass.controls.append_item(ListBox::Info_Listbox, st.text_line);
    Site site{sun_table_file_name, input.line_number()};
    if (read_row_in_one_sweep(st, site))
        return;
    for (;;) {
        st.pos_start = st.pos;
        site.field = st.col.value() + 1;
        st.pos = find_delim(st.text_line, st.pos_start, st.delim, site);
        st.col = sum(st.col, 1, "the field count col");
        if (st.pos == 0)
            break;
        st.cell_val = text_to_single(cut_field(st.text_line, st.pos_start, st.pos, site, "field"), site);
        store_field(st, st.col == 1, site);
    }
    // The last field runs to the end of the line, and goes to column col - 1 even when col is 1.
    st.cell_val = text_to_single(rest_of_line(st.text_line, st.pos_start, site), site);
    store_field(st, false, site);
    st.ncol = st.col;
}

}  // namespace

void read_sun_table(Pass& pass)
{
    RunState& st = pass.st;
    InputSlot& input = pass.input;
    input.open(sun_table_file_name);
    const CloseOnExit close(input);

    for (st.k = Integer{1}; st.k <= header_lines; st.k = sum(st.k, 1, "the header loop index k")) {
        input.read_line(st.text_line, sun_table_file_name);
        pass.controls.append_item(ListBox::Info_Listbox, st.text_line);
    }
    st.i_time = Integer{0};
    st.ncol = Integer{-9999};
    while (!input.at_end(sun_table_file_name))
        read_data_row(pass);
    input.close();

    // The last line read, then the last row rebuilt from what was stored.
    pass.controls.append_item(ListBox::Info_Listbox, st.text_line);
    st.text_line = cell_text(st.time_val(st.i_time));
    const Integer last_col = st.ncol;
    for (st.col = Integer{2}; st.col <= last_col; st.col = sum(st.col, 1, "the column loop index col")) {
        st.text_line += st.delim;
        const Cell& cell = st.sun_table(st.i_time, difference(st.col, Integer{1}, "the column index"));
        if (cell.filled())
            append_single_text(st.text_line, cell.value());
    }
    pass.controls.append_item(ListBox::Info_Listbox, st.text_line);

    st.n_time = st.i_time;
    st.i_time = Integer{1};
}

}  // namespace umbrascope
