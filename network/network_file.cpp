#include "network/network_file.hpp"

#include "core/close_guard.hpp"
#include "core/scan.hpp"

namespace umbrascope {

namespace {

constexpr const char* bigger_inputs = " (run with --large for bigger inputs)";

void read_coordinate_line(Pass& pass, const Site& line_site)
{
    RunState& st = pass.st;
    Site site = line_site;

    site.field = 1;
    st.pos_start = Integer{0};
    st.pos = find_delim(st.text_line, st.pos_start, st.delim, site);
    st.bus_val = text_to_integer(cut_field(st.text_line, st.pos_start, st.pos, site, "\",\" before the bus name"), site);
    // Only consecutive repeats of a bus number are dropped; last_bus starts at 0.
    if (st.bus_val == st.last_bus)
        return;
    st.last_bus = st.bus_val;
    st.nbus = sum(st.nbus, 1, "the bus count nbus");
    st.bus_num(st.nbus) = st.bus_val;

    site.field = 2;
    st.pos_start = st.pos;
    st.pos = find_delim(st.text_line, st.pos_start, st.delim, site);
    st.name_field = cut_field(st.text_line, st.pos_start, st.pos, site, "\",\" before the x coordinate");
    st.bus_name(st.nbus) = st.name_field;

    site.field = 3;
    st.pos_start = st.pos;
    st.pos = find_delim(st.text_line, st.pos_start, st.delim, site);
    st.x_val = text_to_single(cut_field(st.text_line, st.pos_start, st.pos, site, "\",\" before the y coordinate"), site);
    st.xc(st.nbus) = st.x_val;

    // The y field runs to the end of the line, further delimiters included.
    site.field = 4;
    st.pos_start = st.pos;
    st.pos = line_end_position(st.text_line, site);
    st.y_val = text_to_single(cut_field(st.text_line, st.pos_start, st.pos, site, "y coordinate"), site);
    if (st.nbus > st.yc.upper())  // the y table is the shortest
        fail(ErrorKind::bounds, describe(line_site) + ": a " + std::to_string(st.nbus.value()) +
                                    "th bus; the network holds at most " + std::to_string(st.yc.upper()) + " buses" +
                                    bigger_inputs);
    st.yc(st.nbus) = st.y_val;

    st.text_line = integer_text(st.bus_val);
    st.text_line += st.delim;
    st.text_line += st.bus_name(st.nbus);
    st.text_line += st.delim;
    append_single_text(st.text_line, st.xc(st.nbus));
    st.text_line += st.delim;
    append_single_text(st.text_line, st.yc(st.nbus));
    pass.controls.append_item(ListBox::Coordinates_Repeated_Listbox, st.text_line);
}

void read_connection_line(Pass& pass, const Site& site)
{
    RunState& st = pass.st;
    st.pos_start = find_delim(st.text_line, Integer{0}, st.delim, site);
    const TextView from_field = cut_field(st.text_line, Integer{0}, st.pos_start, site,
                                          "\",\" between the two bus indexes of a connection");
    const TextView to_field = rest_of_line(st.text_line, st.pos_start, site);
    st.nconn = sum(st.nconn, 1, "the connection count nconn");
    if (st.nconn > st.from_bus.upper())
        fail(ErrorKind::bounds, describe(site) + ": a " + std::to_string(st.nconn.value()) +
                                    "st connection; the network holds at most " + std::to_string(st.from_bus.upper()) +
                                    " connections" + bigger_inputs);
    st.from_bus(st.nconn) = text_to_integer(from_field, Site{site.file, site.line, 1});
    st.to_bus(st.nconn) = text_to_integer(to_field, Site{site.file, site.line, 2});

    st.text_line = integer_text(st.nconn);
    st.text_line += st.delim;
    st.text_line += integer_text(st.from_bus(st.nconn));
    st.text_line += st.delim;
    st.text_line += integer_text(st.to_bus(st.nconn));
    pass.controls.append_item(ListBox::Coordinates_Repeated_Listbox, st.text_line);
}

}  // namespace

void read_network_file(Pass& pass)
{
    RunState& st = pass.st;
    InputSlot& input = pass.input;
    st.delim = U',';
    st.nbus = Integer{0};
    st.last_bus = Integer{0};
    st.nconn = Integer{0};
    input.open(network_file_name);
    const CloseOnExit close(input);

    // The coordinate section; "bus_coordinates" is tested before "bus_connections".
    while (!input.at_end(network_file_name)) {
        input.read_line(st.text_line, network_file_name);
        pass.controls.append_item(ListBox::Coordinates_Listbox, st.text_line);
        if (contains(st.text_line, U"bus_coordinates"))
            continue;
        if (contains(st.text_line, U"bus_connections")) {
            st.connections_line = input.line_number();
            break;
        }
        read_coordinate_line(pass, Site{network_file_name, input.line_number()});
    }

    while (!input.at_end(network_file_name)) {
        input.read_line(st.text_line, network_file_name);
        pass.controls.append_item(ListBox::Coordinates_Listbox, st.text_line);
        read_connection_line(pass, Site{network_file_name, input.line_number()});
    }
}

}  // namespace umbrascope
