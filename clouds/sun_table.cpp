#include "clouds/sun_table.hpp"

#include "core/close_guard.hpp"
#include "core/scan.hpp"

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
