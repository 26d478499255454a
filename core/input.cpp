#include "core/input.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/errors.hpp"

namespace umbrascope {

namespace {
constexpr std::size_t chunk = std::size_t{64} * 1024;
}

InputSlot::InputSlot(std::filesystem::path folder)
    : folder_(std::move(folder)), buffer_(std::make_unique_for_overwrite<char[]>(chunk)), capacity_(chunk)
{
}

InputSlot::~InputSlot() { close(); }

void InputSlot::open(std::string_view name)
{
    if (file_ != nullptr)
        fail(ErrorKind::file, "cannot open " + std::string(name) + ": " + name_ + " is still open in the input slot");
    const std::filesystem::path path = folder_ / std::string(name);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        const int error = errno;
        const std::string where = folder_ == "." ? "the working folder" : "the folder " + folder_.string();
        fail(ErrorKind::file, "cannot open " + std::string(name) + " in " + where + ": " +
                                  (error == ENOENT ? "file not found" : std::strerror(error)));
    }
    file_ = file;
    name_ = std::string(name);
    read_base_ = 0;
    begin_ = end_ = 0;
    eof_ = false;
    line_number_ = 0;
    holding_ = false;
    // Skip a UTF-8 byte-order mark.
    if (fill() && end_ - begin_ < 3)
        fill();
    if (end_ - begin_ >= 3 && std::memcmp(buffer_.get() + begin_, "\xEF\xBB\xBF", 3) == 0)
        begin_ += 3;
}

void InputSlot::open_at(std::string_view name, std::uint64_t offset, long line)
{
    open(name);
    if (offset == read_base_ + begin_ && line == 0)
        return;
    if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) {
        const int error = errno;
        close();
        fail(ErrorKind::file, "cannot read " + std::string(name) + " from byte " + std::to_string(offset) + ": " +
                                  std::strerror(error));
    }
    read_base_ = offset;
    begin_ = end_ = 0;
    eof_ = false;
    line_number_ = line;
}

bool InputSlot::fill()
{
    if (eof_)
        return false;
    if (begin_ > 0) {
        read_base_ += begin_;
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == capacity_) {
        auto larger = std::make_unique_for_overwrite<char[]>(capacity_ * 2);
        std::memcpy(larger.get(), buffer_.get(), end_);
        buffer_ = std::move(larger);
        capacity_ *= 2;
    }
    const std::size_t got = std::fread(buffer_.get() + end_, 1, capacity_ - end_, file_);
    end_ += got;
    if (got == 0)
        eof_ = true;
    return got > 0;
}

bool InputSlot::at_end(std::string_view expected)
{
    if (file_ == nullptr)
        fail_not_open(expected, "test for its end");
    if (holding_)
        return false;
    while (begin_ == end_) {
        if (!fill())
            return true;
    }
    return false;
}

void InputSlot::read_line(Text& into, std::string_view expected)
{
    if (file_ == nullptr)
        fail_not_open(expected, "read a line from it");
    if (holding_) {
        into = held_;
        holding_ = false;
        return;
    }
    if (at_end(expected))
        fail(ErrorKind::file, line_number_ == 0 ? name_ + " is empty: the pass needs a line from it"
                                                : name_ + ": read past the end of the file, which ends after line " +
                                                      std::to_string(line_number_));
    std::size_t scanned = begin_;
    for (;;) {
        const char* start = buffer_.get() + scanned;
        const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - scanned));
        if (newline != nullptr) {
            const auto at = static_cast<std::size_t>(newline - buffer_.get());
            std::size_t stop = at;
            if (stop > begin_ && buffer_[stop - 1] == '\r')
                --stop;
            decode_utf8(std::string_view(buffer_.get() + begin_, stop - begin_), into);
            begin_ = at + 1;
            break;
        }
        const std::size_t seen = end_ - begin_;
        if (!fill()) {  // the last line, without a line end
            decode_utf8(std::string_view(buffer_.get() + begin_, end_ - begin_), into);
            begin_ = end_;
            break;
        }
        scanned = begin_ + seen;
    }
    ++line_number_;
}

std::string_view InputSlot::peek_lines(std::size_t wanted)
{
    if (file_ == nullptr || holding_)
        return {};
    while (end_ - begin_ < wanted && fill()) {  // the buffer grows only while the file holds more
    }
    const std::string_view bytes(buffer_.get() + begin_, end_ - begin_);
    if (eof_)
        return bytes;
    const std::size_t last_end = bytes.rfind('\n');
    return last_end == std::string_view::npos ? std::string_view{} : bytes.substr(0, last_end + 1);
}

void InputSlot::skip_line(std::size_t length)
{
    begin_ += length;
    ++line_number_;
}

void InputSlot::close()
{
    if (file_ == nullptr)
        return;
    std::fclose(file_);
    file_ = nullptr;
    closed_.push_back(name_);
    begin_ = end_ = 0;
    eof_ = false;
    holding_ = false;
}

void InputSlot::hold_line(TextView line)
{
    held_.assign(line);
    holding_ = true;
}

void InputSlot::fail_not_open(std::string_view expected, std::string_view operation) const
{
    const bool was_closed = std::find(closed_.begin(), closed_.end(), expected) != closed_.end();
    fail(ErrorKind::file,
         std::string(expected) + " is not open, so the pass cannot " + std::string(operation) +
             (was_closed ? ": the run has ended (its file was closed after the last row); " + restart_hint_
                         : ": the first pass failed before it could open the file; mend the input, then " +
                               restart_hint_));
}

}  // namespace umbrascope
