#pragma once
// The numeric vocabulary of a pass: the 16-bit Integer whose every stored sum, difference and
// conversion is range-tested, the Single (float) that formulas are rounded to when stored, the
// Cell that is empty or holds a Single, and tables with inclusive index ranges.

#include <algorithm>
#include <bit>
#include <compare>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.hpp"

namespace umbrascope {

using Single = float;

class Integer {
public:
    constexpr Integer() = default;
    constexpr explicit Integer(std::int16_t value) : value_(value) {}

    [[nodiscard]] constexpr int value() const { return value_; }
    friend constexpr auto operator<=>(Integer, Integer) = default;
    friend constexpr bool operator==(Integer, Integer) = default;
    friend constexpr bool operator==(Integer a, int b) { return a.value_ == b; }
    friend constexpr auto operator<=>(Integer a, int b) { return int{a.value_} <=> b; }

private:
    std::int16_t value_ = 0;
};

inline constexpr int integer_min = -32768;
inline constexpr int integer_max = 32767;

// `what` names the quantity for the overflow message, e.g. "the pass counter num_pass".
[[nodiscard]] Integer sum(Integer a, int b, std::string_view what);
[[nodiscard]] Integer difference(Integer a, Integer b, std::string_view what);
// Rounds to the nearest whole number, halves to the even neighbour, then tests the range.
// A NaN is a floating-point fault.
[[nodiscard]] Integer to_integer(double x, std::string_view what);

// Rounds a formula evaluated in double to the Single it is stored as. An infinite or NaN result,
// or one beyond the Single range, is a floating-point fault.
[[nodiscard]] Single to_single(double x, std::string_view what);

// Four bytes: a Single, or the empty mark, a NaN that no conversion or formula stores (every NaN
// result is a floating-point fault before it reaches a cell).
class Cell {
public:
    constexpr Cell() = default;
    constexpr explicit Cell(Single value) : bits_(std::bit_cast<std::uint32_t>(value)) {}
    [[nodiscard]] constexpr bool filled() const { return bits_ != empty_bits; }
    // An empty cell compares as 0.
    [[nodiscard]] constexpr Single value() const { return filled() ? std::bit_cast<Single>(bits_) : 0.0F; }
    friend constexpr bool operator==(const Cell& a, const Cell& b)
    {
        return a.filled() == b.filled() && a.value() == b.value();
    }

private:
    static constexpr std::uint32_t empty_bits = 0x7FC5'E11DU;
    std::uint32_t bits_ = empty_bits;
};
static_assert(sizeof(Cell) == 4);

[[noreturn]] void fail_index(const char* table, int index, int lo, int hi, const std::string& context);
[[noreturn]] void fail_index2(const char* table, int row, int col, int rlo, int rhi, int clo, int chi);
// A table that cannot grow to hold `entries` entries: the bounds error, as for an index it cannot reach.
[[noreturn]] void fail_memory(const char* table, std::size_t entries);

namespace detail {

// Grows `data` to hold slot `slot`: at least doubling, at most to `limit` entries, new entries
// value-initialised.
template <class T>
void grow(std::vector<T>& data, std::size_t slot, std::size_t limit, const char* name)
{
    const std::size_t wanted = std::min(limit, std::max(slot + 1, data.size() * 2));
    try {
        data.resize(wanted);
    } catch (const std::bad_alloc&) {
        fail_memory(name, wanted);
    } catch (const std::length_error&) {
        fail_memory(name, wanted);
    }
}

template <class T>
const T& empty_value()
{
    static const T empty{};
    return empty;
}

}  // namespace detail

// A table indexed Lo..Hi inclusive, or Lo..`hi` when the run lifts the upper bound; an index
// outside is the bounds error. Storage grows with the highest index written: an entry never
// written reads as the zero or empty value.
template <class T, int Lo, int Hi>
class Table {
public:
    explicit Table(const char* name, int hi = Hi) : name_(name), hi_(hi) {}

    [[nodiscard]] int upper() const { return hi_; }

    T& operator()(Integer i)
    {
        const std::size_t s = slot(i);
        if (s >= data_.size())
            detail::grow(data_, s, static_cast<std::size_t>(hi_) - static_cast<std::size_t>(Lo) + 1, name_);
        return data_[s];
    }
    const T& operator()(Integer i) const { return read(slot(i)); }
    // As operator(), with `context()` (called only on failure) opening the bounds message.
    template <class F>
    const T& at(Integer i, F&& context) const
    {
        if (i.value() < Lo || i.value() > hi_)
            fail_index(name_, i.value(), Lo, hi_, context());
        return read(static_cast<std::size_t>(i.value() - Lo));
    }

private:
    [[nodiscard]] std::size_t slot(Integer i) const
    {
        if (i.value() < Lo || i.value() > hi_)
            fail_index(name_, i.value(), Lo, hi_, {});
        return static_cast<std::size_t>(i.value() - Lo);
    }
    const T& read(std::size_t s) const { return s < data_.size() ? data_[s] : detail::empty_value<T>(); }
    const char* name_;
    int hi_;
    std::vector<T> data_;
};

// A table indexed RLo..RHi by CLo..CHi inclusive, or up to `row_hi` by `col_hi` when the run lifts
// the upper bounds. Each row holds the columns written so far, as wide as the widest row yet.
template <class T, int RLo, int RHi, int CLo, int CHi>
class Table2 {
public:
    explicit Table2(const char* name, int row_hi = RHi, int col_hi = CHi) : name_(name), rhi_(row_hi), chi_(col_hi) {}

    [[nodiscard]] int row_upper() const { return rhi_; }
    [[nodiscard]] int column_upper() const { return chi_; }

    T& operator()(Integer r, Integer c)
    {
        check(r, c);
        const auto row = static_cast<std::size_t>(r.value() - RLo);
        const auto col = static_cast<std::size_t>(c.value() - CLo);
        if (row >= rows_.size())
            detail::grow(rows_, row, static_cast<std::size_t>(rhi_) - static_cast<std::size_t>(RLo) + 1, name_);
        std::vector<T>& cells = rows_[row];
        if (col >= cells.size()) {
            const auto limit = static_cast<std::size_t>(chi_) - static_cast<std::size_t>(CLo) + 1;
            if (cells.empty())  // a new row: as wide as the widest so far, in one allocation
                detail::grow(cells, std::max(col, widest_ == 0 ? col : widest_ - 1), limit, name_);
            else
                detail::grow(cells, col, limit, name_);
            widest_ = std::max(widest_, cells.size());
        }
        return cells[col];
    }
    // Takes `cells` as row `r` from column CLo on, when that row holds nothing yet: reads then find
    // what writes of the same cells would leave, though the row is no wider than `cells`. False,
    // taking nothing, when the row holds cells already or `cells` reaches past the last column.
    bool adopt_row(Integer r, std::vector<T>& cells)
    {
        if (cells.empty() || cells.size() > static_cast<std::size_t>(chi_) - static_cast<std::size_t>(CLo) + 1)
            return false;
        check(r, Integer(static_cast<std::int16_t>(CLo)));
        const auto row = static_cast<std::size_t>(r.value() - RLo);
        if (row >= rows_.size())
            detail::grow(rows_, row, static_cast<std::size_t>(rhi_) - static_cast<std::size_t>(RLo) + 1, name_);
        if (!rows_[row].empty())
            return false;
        rows_[row] = std::move(cells);
        widest_ = std::max(widest_, rows_[row].size());
        return true;
    }
    // The last column of row `r` that holds a value, from column 1 (0 when none does).
    [[nodiscard]] int filled_width(Integer r) const
    {
        const auto row = static_cast<std::size_t>(r.value() - RLo);
        if (row >= rows_.size())
            return 0;
        const std::vector<T>& cells = rows_[row];
        for (std::size_t col = cells.size(); col > 0; --col)
            if (cells[col - 1] != detail::empty_value<T>() && static_cast<int>(col - 1) + CLo >= 1)
                return static_cast<int>(col - 1) + CLo;
        return 0;
    }
    const T& operator()(Integer r, Integer c) const
    {
        check(r, c);
        const auto row = static_cast<std::size_t>(r.value() - RLo);
        const auto col = static_cast<std::size_t>(c.value() - CLo);
        if (row >= rows_.size() || col >= rows_[row].size())
            return detail::empty_value<T>();
        return rows_[row][col];
    }

private:
    void check(Integer r, Integer c) const
    {
        if (r.value() < RLo || r.value() > rhi_ || c.value() < CLo || c.value() > chi_)
            fail_index2(name_, r.value(), c.value(), RLo, rhi_, CLo, chi_);
    }
    const char* name_;
    int rhi_;
    int chi_;
    std::vector<std::vector<T>> rows_;
    std::size_t widest_ = 0;
};

}  // namespace umbrascope
