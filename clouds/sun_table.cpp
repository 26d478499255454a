#include "clouds/sun_table.hpp"

#include "core/close_guard.hpp"
#include "core/scan.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <future>
#include <new>
#include <span>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

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

// A character's code, for lines of bytes and of characters alike: a byte past ASCII is no blank,
// digit, sign, point or delimiter of the fast paths.
template <class Char>
char32_t code(Char c)
{
    return static_cast<char32_t>(static_cast<std::make_unsigned_t<Char>>(c));
}

bool is_blank(char32_t c) { return c == U' ' || c == U'\t'; }
bool is_digit(char32_t c) { return c >= U'0' && c <= U'9'; }

// A plain decimal of at most 7 digits between blanks, from `i` up to a delimiter or the end of the
// line: its value and the index where it stops, as text_to_single and find_delim would find them.
constexpr float decimal_powers[] = {1e0F, 1e1F, 1e2F, 1e3F, 1e4F, 1e5F, 1e6F, 1e7F};

template <class Char>
bool plain_field(std::basic_string_view<Char> line, std::size_t& i, char32_t delim, Single& value)
{
    const std::size_t n = line.size();
    while (i < n && is_blank(code(line[i])))
        ++i;
    bool negative = false;
    if (i < n && (code(line[i]) == U'-' || code(line[i]) == U'+'))
        negative = code(line[i++]) == U'-';
    std::uint32_t digits = 0;
    int count = 0;
    int decimals = -1;
    for (; i < n; ++i) {
        const char32_t c = code(line[i]);
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
    while (i < n && is_blank(code(line[i])))
        ++i;
    if (count == 0 || (i < n && code(line[i]) != delim))
        return false;
    const float magnitude = static_cast<float>(digits) / decimal_powers[std::max(decimals, 0)];
    value = negative ? -magnitude : magnitude;
    return true;
}

bool is_plain_delim(char32_t delim)
{
    return !is_blank(delim) && !is_digit(delim) && delim != U'.' && delim != U'-' && delim != U'+';
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
    if (n >= static_cast<std::size_t>(integer_max) || st.i_time > st.time_val.upper() || !is_plain_delim(delim))
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


// Rows read many at a time: a block of whole lines is taken from the input slot, the rows in which
// every field is a plain decimal are converted on two threads, and then every row is stored in file
// order, each as read_data_row would store it; a row of any other kind is read by read_data_row
// itself, in its place, so its errors and state are those of the row-by-row reading.
constexpr std::size_t block_bytes = std::size_t{1} << 20;
constexpr std::size_t two_thread_bytes = std::size_t{256} << 10;  // smaller blocks stay on one thread

struct BlockRow {
    std::string_view line;       // without its line end
    std::size_t length = 0;      // with its line end
    std::size_t fields = 0;      // 0 when read_data_row must read it
    std::size_t last_start = 0;  // where its last field starts
    Single time = 0.0F;
    std::vector<Cell> cells;     // the row's cells from column 0, which stays empty
};

// The field of the file's usual form, digits with at most one point and nothing around them, at
// `p`: its value as plain_field gives it and where it stops, or null for a field of another form.
const char* bare_decimal(const char* p, const char* end, char delim, Single& value)
{
    std::uint32_t digits = 0;
    int count = 0;
    const char* point = nullptr;
    for (; p != end; ++p) {
        const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (digit < 10) {
            digits = digits * 10 + digit;
            ++count;
        } else if (*p == '.' && point == nullptr) {
            point = p;
        } else {
            break;
        }
    }
    if (count == 0 || count > 7 || (p != end && *p != delim))
        return nullptr;
    value = static_cast<float>(digits) / decimal_powers[point == nullptr ? 0 : p - point - 1];
    return p;
}

// Converts each row of at least two fields, all plain decimals, and at most `max_fields` fields,
// with every position within the Integer range, into its time and cells. `values` holds a row's
// values while it is converted: room for `max_fields` of them, or for as many as a row can hold.
void convert_rows(std::span<BlockRow> rows, char32_t delim, std::size_t max_fields, std::vector<Single>& values)
{
    const auto byte_delim = static_cast<char>(delim);
    for (BlockRow& row : rows) {
        row.fields = 0;
        const std::string_view line = row.line;
        if (line.size() >= static_cast<std::size_t>(integer_max))
            continue;
        const char* const end = line.data() + line.size();
        const char* start = line.data();
        Single* const first = values.data();
        Single* value = first;
        for (;; ++value) {
            const char* stop = value == first + max_fields ? nullptr : bare_decimal(start, end, byte_delim, *value);
            if (stop == nullptr && value != first + max_fields) {
                auto at = static_cast<std::size_t>(start - line.data());
                stop = plain_field(line, at, delim, *value) ? line.data() + at : nullptr;
            }
            if (stop == nullptr) {
                value = first;
                break;
            }
            if (stop == end)
                break;
            start = stop + 1;
        }
        const auto fields = static_cast<std::size_t>(value - first) + 1;
        if (value == first)
            continue;
        try {
            row.cells.assign(fields, Cell());
        } catch (const std::bad_alloc&) {  // read_data_row reads it, failing as the table fails
            continue;
        }
        for (std::size_t field = 2; field <= fields; ++field)
            row.cells[field - 1] = Cell(first[field - 1]);
        row.time = first[0];
        row.fields = fields;
        row.last_start = static_cast<std::size_t>(start - line.data());
    }
}

void read_rows_in_block(Pass& pass, std::vector<BlockRow>& rows, std::array<std::vector<Single>, 2>& values)
{
    RunState& st = pass.st;
    const std::string_view block = pass.input.peek_lines(block_bytes);
    if (block.empty() || st.delim > 0x7F || !is_plain_delim(st.delim)) {
        read_data_row(pass);
        return;
    }
    std::size_t count = 0;
    std::size_t longest = 0;
    for (std::size_t start = 0; start < block.size(); ++count) {
        std::size_t end = block.find('\n', start);
        end = end == std::string_view::npos ? block.size() : end;
        std::string_view line = block.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (count == rows.size())
            rows.emplace_back();
        rows[count].line = line;
        rows[count].length = std::min(end + 1, block.size()) - start;
        longest = std::max(longest, line.size());
        start = end + 1;
    }

    // A field takes at least a digit, and all but the last a delimiter too.
    const std::size_t max_fields = static_cast<std::size_t>(st.sun_table.column_upper()) + 1;
    const std::size_t most_values = std::min(max_fields, longest / 2 + 1);
    const bool two_threads = block.size() >= two_thread_bytes;
    for (std::size_t thread = 0; thread < (two_threads ? 2U : 1U); ++thread) {
        if (values[thread].size() < most_values)
            values[thread].resize(most_values);
    }
    const std::span<BlockRow> block_rows = std::span(rows).first(count);
    // Both threads take rows a few at a time, so that neither waits long for the other.
    std::atomic<std::size_t> next{0};
    const auto convert_taken_rows = [&next, block_rows, max_fields, delim = st.delim](std::vector<Single>& scratch) {
        constexpr std::size_t rows_taken = 4;
        for (std::size_t first = next.fetch_add(rows_taken); first < block_rows.size(); first = next.fetch_add(rows_taken))
            convert_rows(block_rows.subspan(first, std::min(rows_taken, block_rows.size() - first)), delim, max_fields, scratch);
    };
    std::future<void> second;
    if (two_threads) {
        try {
            second = std::async(std::launch::async, convert_taken_rows, std::ref(values[1]));
        } catch (const std::system_error&) {  // no thread to be had: this one converts them all
        }
    }
    convert_taken_rows(values[0]);
    if (second.valid())
        second.get();

    const BlockRow* last_stored = nullptr;
    for (BlockRow& row : block_rows) {
        if (row.fields == 0 || st.i_time < 1 || st.i_time >= st.time_val.upper()) {
            read_data_row(pass);  // the first row, which is echoed, a row of another kind, or no room
            last_stored = nullptr;
            continue;
        }
        const Integer i_time(static_cast<std::int16_t>(st.i_time.value() + 1));
        const Single last_value = row.cells.back().value();
        if (!st.sun_table.adopt_row(i_time, row.cells)) {
            read_data_row(pass);
            last_stored = nullptr;
            continue;
        }
        pass.input.skip_line(row.length);
        st.i_time = i_time;
        st.time_val(st.i_time) = Cell(row.time);
        st.pos_start = small(row.last_start);
        st.pos = Integer{0};
        st.col = small(row.fields);
        st.ncol = st.col;
        st.cell_val = last_value;
        last_stored = &row;
    }
    if (last_stored != nullptr)
        decode_utf8(last_stored->line, st.text_line);
}

}  // namespace

void read_sun_table(Pass& pass, RowReading reading)
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
    std::vector<BlockRow> rows;
    std::array<std::vector<Single>, 2> values;
    while (!input.at_end(sun_table_file_name)) {
        if (reading == RowReading::in_blocks)
            read_rows_in_block(pass, rows, values);
        else
            read_data_row(pass);
    }
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
