#include "import/elements.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <queue>
#include <set>
#include <unordered_map>

#include "core/csv.hpp"

namespace umbrascope::import {

namespace {

constexpr int unreached = -1;

}  // namespace

std::vector<int> nearest_drawn(const Circuit& circuit, const Network& network)
{
    const std::size_t buses = circuit.buses.size();
    // Each circuit bus's drawn bus, by its index in the coordinate file; unreached for the others.
    std::unordered_map<std::string, int> drawn_index;
    for (std::size_t i = 0; i < network.buses.size(); ++i)
        drawn_index.try_emplace(network.buses[i].key, static_cast<int>(i));
    std::vector<int> drawn(buses, unreached);
    for (std::size_t b = 0; b < buses; ++b)
        if (const auto found = drawn_index.find(circuit.buses[b]); found != drawn_index.end())
            drawn[b] = found->second;

    // The elements at each bus, packed.
    std::vector<std::size_t> first(buses + 1, 0);
    for (const std::vector<int>& element : circuit.elements)
        for (const int bus : element)
            ++first[static_cast<std::size_t>(bus) + 1];
    for (std::size_t b = 0; b < buses; ++b)
        first[b + 1] += first[b];
    std::vector<std::size_t> at_bus(first.back());
    std::vector<std::size_t> filled(first.begin(), first.end() - 1);
    for (std::size_t e = 0; e < circuit.elements.size(); ++e)
        for (const int bus : circuit.elements[e])
            at_bus[filled[static_cast<std::size_t>(bus)]++] = e;

    // Outward from every drawn bus at once, one hop a round, through buses that are not drawn; a
    // bus reached by several in the same round takes the earliest in the coordinate file.
    std::vector<int> nearest = drawn;
    std::vector<int> hops(buses, unreached);
    std::vector<int> round;
    for (std::size_t b = 0; b < buses; ++b)
        if (drawn[b] != unreached) {
            hops[b] = 0;
            round.push_back(static_cast<int>(b));
        }
    std::vector<int> next;
    for (int hop = 1; !round.empty(); ++hop) {
        next.clear();
        for (const int from : round) {
            const auto f = static_cast<std::size_t>(from);
            for (std::size_t k = first[f]; k < first[f + 1]; ++k)
                for (const int to : circuit.elements[at_bus[k]]) {
                    const auto t = static_cast<std::size_t>(to);
                    if (drawn[t] != unreached)
                        continue;
                    if (hops[t] == unreached) {
                        hops[t] = hop;
                        nearest[t] = nearest[f];
                        next.push_back(to);
                    } else if (hops[t] == hop) {
                        nearest[t] = std::min(nearest[t], nearest[f]);
                    }
                }
        }
        round.swap(next);
    }
    return nearest;
}

std::vector<StandIn> stand_ins(const Circuit& circuit, const Network& network)
{
    const std::vector<int> nearest = nearest_drawn(circuit, network);
    std::vector<StandIn> out;
    out.reserve(circuit.power_elements.size());
    for (const PowerElement& element : circuit.power_elements) {
        StandIn row{element.name, {}, {}};
        if (element.bus >= 0) {
            const auto b = static_cast<std::size_t>(element.bus);
            row.bus = circuit.buses[b];
            if (nearest[b] >= 0)
                row.drawn_bus = network.buses[static_cast<std::size_t>(nearest[b])].name;
        }
        out.push_back(std::move(row));
    }
    return out;
}

CircuitRecord circuit_record(const Circuit& circuit, const Network& network, const std::filesystem::path& entry)
{
    CircuitRecord out;
    out.entry = entry;
    out.circuit = circuit.name;
    out.source_bus = circuit.source_bus;
    out.control_mode = circuit.control_mode;
    for (const Span& span : circuit.spans)
        out.lines_without_units += span.unitless ? 1 : 0;
    const std::vector<int> nearest = nearest_drawn(circuit, network);
    for (std::size_t b = 0; b < circuit.buses.size(); ++b)
        if (circuit.buses[b] == circuit.source_bus && nearest[b] >= 0)
            out.source_drawn_bus = network.buses[static_cast<std::size_t>(nearest[b])].name;
    // What one network unit is by the lengths of the lines between drawn buses: the median of
    // their length over the straight distance (a line runs as far as its buses lie apart, or
    // further along a street).
    std::unordered_map<std::string, std::size_t> placed;
    for (std::size_t i = 0; i < network.buses.size(); ++i)
        placed.emplace(network.buses[i].key, i);
    std::vector<double> ratios;
    for (const LineLength& line : circuit.lengths) {
        const auto a = placed.find(circuit.buses[static_cast<std::size_t>(line.from)]);
        const auto b = placed.find(circuit.buses[static_cast<std::size_t>(line.to)]);
        if (a == placed.end() || b == placed.end())
            continue;
        const Bus& p = network.buses[a->second];
        const Bus& q = network.buses[b->second];
        const double apart = std::hypot(p.x - q.x, p.y - q.y);
        if (apart > 0)
            ratios.push_back(line.metres / apart);
    }
    if (ratios.size() >= 3) {
        std::nth_element(ratios.begin(), ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2), ratios.end());
        out.metres_per_unit_by_lines = ratios[ratios.size() / 2];
    }
    return out;
}

namespace {

// The buses reached from the source by more than one path along the spans: those whose shortest
// way runs, somewhere, along a span that is no bridge (a span in a loop has another way round), and
// everything beyond them. `metres` is each bus's shortest distance, below 0 where unreached.
std::vector<bool> reached_more_than_one_way(const Circuit& circuit, const std::vector<double>& metres)
{
    const std::size_t buses = circuit.buses.size();
    const std::size_t spans = circuit.spans.size();
    // Spans between the same two buses are one way, whatever their number: a bank of single-phase
    // regulators, or a line a phase, is no loop.
    std::vector<std::vector<std::pair<int, std::size_t>>> next(buses);  // bus, span
    std::set<std::pair<int, int>> joined;
    for (std::size_t e = 0; e < spans; ++e) {
        const Span& span = circuit.spans[e];
        if (span.from == span.to || !joined.insert(std::minmax(span.from, span.to)).second)
            continue;
        next[static_cast<std::size_t>(span.from)].emplace_back(span.to, e);
        next[static_cast<std::size_t>(span.to)].emplace_back(span.from, e);
    }
    // Bridges, by depth-first search without recursion (a feeder is thousands of buses deep).
    std::vector<int> order(buses, -1), low(buses, 0);
    std::vector<bool> bridge(spans, false);
    int counter = 0;
    struct Frame {
        int bus;
        std::size_t via;   // the span it was reached by; spans for the root
        std::size_t edge;  // the next of its spans to look at
    };
    for (std::size_t root = 0; root < buses; ++root) {
        if (order[root] >= 0)
            continue;
        std::vector<Frame> stack{{static_cast<int>(root), spans, 0}};
        order[root] = low[root] = counter++;
        while (!stack.empty()) {
            Frame& top = stack.back();
            const auto at = static_cast<std::size_t>(top.bus);
            if (top.edge < next[at].size()) {
                const auto [to, e] = next[at][top.edge++];
                if (e == top.via)
                    continue;
                const auto t = static_cast<std::size_t>(to);
                if (order[t] < 0) {
                    order[t] = low[t] = counter++;
                    stack.push_back({to, e, 0});
                } else {
                    low[at] = std::min(low[at], order[t]);
                }
                continue;
            }
            const Frame done = top;
            stack.pop_back();
            if (!stack.empty()) {
                const auto parent = static_cast<std::size_t>(stack.back().bus);
                low[parent] = std::min(low[parent], low[at]);
                if (low[at] > order[parent])
                    bridge[done.via] = true;
            }
        }
    }
    // Along the shortest ways, nearest first: a bus is reached more than one way where the span
    // that reaches it is no bridge, or the bus it comes from is.
    std::vector<std::size_t> by_distance;
    for (std::size_t b = 0; b < buses; ++b)
        if (metres[b] >= 0)
            by_distance.push_back(b);
    std::sort(by_distance.begin(), by_distance.end(), [&](std::size_t a, std::size_t b) { return metres[a] < metres[b]; });
    std::vector<bool> meshed(buses, false);
    // Again until nothing changes: spans of no length (transformers) tie buses' distances.
    for (bool changed = true; changed;) {
        changed = false;
        for (const std::size_t b : by_distance) {
            if (meshed[b])
                continue;
            for (const auto& [from, e] : next[b]) {
                const auto f = static_cast<std::size_t>(from);
                const double length = circuit.spans[e].metres;
                if (metres[f] >= 0 && std::fabs(metres[f] + length - metres[b]) < 1e-6 && (meshed[f] || !bridge[e])) {
                    meshed[b] = true;
                    changed = true;
                    break;
                }
            }
        }
    }
    return meshed;
}

}  // namespace

std::vector<DrawnDistance> distances_along_lines(const Circuit& circuit, const Network& network)
{
    const std::size_t buses = circuit.buses.size();
    std::vector<std::vector<std::pair<int, double>>> next(buses);
    for (const Span& span : circuit.spans) {
        next[static_cast<std::size_t>(span.from)].emplace_back(span.to, span.metres);
        next[static_cast<std::size_t>(span.to)].emplace_back(span.from, span.metres);
    }
    std::vector<double> metres(buses, -1);
    std::unordered_map<std::string, int> index;
    for (std::size_t b = 0; b < buses; ++b)
        index.emplace(circuit.buses[b], static_cast<int>(b));
    if (const auto source = index.find(circuit.source_bus); source != index.end()) {
        using Reached = std::pair<double, int>;
        std::priority_queue<Reached, std::vector<Reached>, std::greater<>> queue;
        metres[static_cast<std::size_t>(source->second)] = 0;
        queue.emplace(0, source->second);
        while (!queue.empty()) {
            const auto [d, at] = queue.top();
            queue.pop();
            if (d > metres[static_cast<std::size_t>(at)])
                continue;
            for (const auto& [to, length] : next[static_cast<std::size_t>(at)]) {
                double& best = metres[static_cast<std::size_t>(to)];
                if (best < 0 || d + length < best) {
                    best = d + length;
                    queue.emplace(best, to);
                }
            }
        }
    }
    const std::vector<bool> meshed = reached_more_than_one_way(circuit, metres);
    std::vector<DrawnDistance> out;
    out.reserve(network.buses.size());
    for (const Bus& bus : network.buses) {
        DrawnDistance row{bus.name, std::nullopt, false};
        if (const auto found = index.find(bus.key); found != index.end() && metres[static_cast<std::size_t>(found->second)] >= 0) {
            row.km = metres[static_cast<std::size_t>(found->second)] / 1000;
            row.meshed = meshed[static_cast<std::size_t>(found->second)];
        }
        out.push_back(std::move(row));
    }
    return out;
}

}  // namespace umbrascope::import
