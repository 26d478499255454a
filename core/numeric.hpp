#pragma once
// The numeric vocabulary of a pass: the 16-bit Integer whose every stored sum, difference and
// conversion is range-tested, the Single (float) that formulas are rounded to when stored, the
// Cell that is empty or holds a Single, and fixed tables with inclusive index ranges.

#include <array>
#include <compare>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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

class Cell {
public:
    constexpr Cell() = default;
    constexpr explicit Cell(Single value) : value_(value), filled_(true) {}
    [[nodiscard]] constexpr bool filled() const { return filled_; }
    // An empty cell compares as 0.
    [[nodiscard]] constexpr Single value() const { return filled_ ? value_ : 0.0F; }
    friend constexpr bool operator==(const Cell&, const Cell&) = default;

private:
    Single value_ = 0.0F;
    bool filled_ = false;
};

[[noreturn]] void fail_index(const char* table, int index, int lo, int hi, const std::string& context);
[[noreturn]] void fail_index2(const char* table, int row, int col, int rlo, int rhi, int clo, int chi);

// A table indexed lo..hi inclusive; an index outside is the bounds error.
template <class T, int Lo, int Hi>
class Table {
public:
    explicit Table(const char* name) : name_(name) {}

    T& operator()(Integer i) { return data_[slot(i)]; }
    const T& operator()(Integer i) const { return data_[slot(i)]; }
    // As operator(), with `context()` (called only on failure) opening the bounds message.
    template <class F>
    const T& at(Integer i, F&& context) const
    {
        if (i.value() < Lo || i.value() > Hi)
            fail_index(name_, i.value(), Lo, Hi, context());
        return data_[static_cast<std::size_t>(i.value() - Lo)];
    }

private:
    [[nodiscard]] std::size_t slot(Integer i) const
    {
        if (i.value() < Lo || i.value() > Hi)
            fail_index(name_, i.value(), Lo, Hi, {});
        return static_cast<std::size_t>(i.value() - Lo);
    }
    const char* name_;
    std::array<T, Hi - Lo + 1> data_{};
};

template <class T, int RLo, int RHi, int CLo, int CHi>
class Table2 {
public:
    explicit Table2(const char* name) : name_(name), data_(std::make_unique<Storage>()) {}

    T& operator()(Integer r, Integer c) { return (*data_)[slot(r, c)]; }
    const T& operator()(Integer r, Integer c) const { return (*data_)[slot(r, c)]; }

private:
    static constexpr int cols = CHi - CLo + 1;
    using Storage = std::array<T, static_cast<std::size_t>(RHi - RLo + 1) * cols>;
    [[nodiscard]] std::size_t slot(Integer r, Integer c) const
    {
        if (r.value() < RLo || r.value() > RHi || c.value() < CLo || c.value() > CHi)
            fail_index2(name_, r.value(), c.value(), RLo, RHi, CLo, CHi);
        return static_cast<std::size_t>(r.value() - RLo) * cols + static_cast<std::size_t>(c.value() - CLo);
    }
    const char* name_;
    std::unique_ptr<Storage> data_;
};

}  // namespace umbrascope
