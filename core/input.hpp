#pragma once
// The one input slot through which the passes read their files, one at a time: open a file by
// name in the working folder, read a line, test for the end of the file, close. LF and CRLF both
// end a line; a line end after the last line does not start an empty line. A UTF-8 byte-order
// mark at the very start of a file is not part of its first line.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.hpp"

namespace umbrascope {

class InputSlot {
public:
    explicit InputSlot(std::filesystem::path folder = ".");
    InputSlot(const InputSlot&) = delete;
    InputSlot& operator=(const InputSlot&) = delete;
    ~InputSlot();

    void open(std::string_view name);
    // Opens `name` at byte `offset`, as if its first `line` lines had been read: for a run that
    // picks up a file where an earlier reading of it stood.
    void open_at(std::string_view name, std::uint64_t offset, long line);
    // The byte of the file where the next line starts (a held line is already past).
    [[nodiscard]] std::uint64_t offset() const { return read_base_ + begin_; }
    // `expected` names the file the caller means to use, for the message when none is open.
    [[nodiscard]] bool at_end(std::string_view expected);
    void read_line(Text& into, std::string_view expected);
    void close();  // closing when nothing is open does nothing; a held line is dropped

    // For readers that take many lines at once: the bytes of whole lines from the next line on,
    // without reading them, at least `wanted` bytes where the file holds that many (the last line
    // of the file counts as whole without a line end). Empty when the next line alone is longer
    // than `wanted`, at the end, and while a line is held. The bytes stay valid while the slot reads
    // or skips the lines they hold, up to the next peek_lines, or a read or test past them.
    [[nodiscard]] std::string_view peek_lines(std::size_t wanted);
    // Passes over the next line, `length` bytes with its line end, as read_line would read it.
    void skip_line(std::size_t length);

    // Keeps `line`, the line read last, for the next read: that read gives it again, with the same
    // line number, before the file reads on. The end-of-file test is false while a line is held.
    void hold_line(TextView line);

    [[nodiscard]] bool is_open() const { return file_ != nullptr; }
    [[nodiscard]] const std::string& file_name() const { return name_; }
    [[nodiscard]] long line_number() const { return line_number_; }  // of the line read last

    // How a user starts the run anew, for messages about a file that is no longer open.
    void set_restart_hint(std::string hint) { restart_hint_ = std::move(hint); }

private:
    [[noreturn]] void fail_not_open(std::string_view expected, std::string_view operation) const;
    bool fill();  // reads more bytes; false at the end of the file

    std::filesystem::path folder_;
    std::FILE* file_ = nullptr;
    std::string name_;
    std::vector<std::string> closed_;  // names of the files opened and closed so far
    std::unique_ptr<char[]> buffer_;  // left uncleared: only the bytes read are ever looked at
    std::size_t capacity_;
    std::uint64_t read_base_ = 0;  // the file's byte at buffer_[0]
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
    long line_number_ = 0;
    std::string restart_hint_ = "start Umbrascope again to run anew";
    Text held_;
    bool holding_ = false;
};

}  // namespace umbrascope
