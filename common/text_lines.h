// A text file held as one buffer and read line by line: the lines are views
// into the buffer, found on demand, so that a file of millions of short lines
// costs little more than its own bytes. Lines end as a plain text read ends
// them (LF, CR LF or a CR alone, no extra empty line after a final line end,
// a UTF-8 byte-order mark dropped), exactly as SplitLines splits them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qrv {

class LinedText {
  public:
    LinedText() = default;

    // Takes the text of a file.
    explicit LinedText(std::string text) : text_(std::move(text)) {
        static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
        std::size_t start = std::string_view(text_).starts_with(kByteOrderMark) ? 3 : 0;
        first_ = start;
        while (start < text_.size()) {
            if (count_ % kStride == 0) marks_.push_back(start);
            ++count_;
            start = Next(start).second;
        }
    }

    // Lines given one by one (tests, generated files); a line may hold any
    // byte, line ends included.
    static LinedText FromLines(const std::vector<std::string>& lines) {
        LinedText t;
        std::size_t total = 0;
        for (const std::string& line : lines) total += line.size();
        t.text_.reserve(total);
        t.starts_.reserve(lines.size() + 1);
        for (const std::string& line : lines) {
            t.starts_.push_back(t.text_.size());
            t.text_ += line;
        }
        t.starts_.push_back(t.text_.size());
        t.count_ = lines.size();
        return t;
    }

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }

    // Line i without its line end; any index past the last line reads as an
    // empty line. Reading on to the next line or back to the one before is
    // cheap; any other line is found from the nearest of every 64th line.
    std::string_view operator[](std::size_t i) const {
        if (i >= count_) return {};
        if (!starts_.empty()) return View(starts_[i], starts_[i + 1]);
        if (i != cached_) {
            if (cached_ != kNone && i == cached_ + 1) {
                cachedStart_ = cachedNext_;
            } else if (cached_ != kNone && i + 1 == cached_) {
                cachedStart_ = PreviousStart(cachedStart_);
            } else {
                cachedStart_ = marks_[i / kStride];
                for (std::size_t k = i / kStride * kStride; k < i; ++k)
                    cachedStart_ = Next(cachedStart_).second;
            }
            const auto [end, next] = Next(cachedStart_);
            cachedEnd_ = end;
            cachedNext_ = next;
            cached_ = i;
        }
        return View(cachedStart_, cachedEnd_);
    }

    // The whole text as it was given (byte-order mark included).
    const std::string& Text() const { return text_; }

  private:
    static constexpr std::size_t kStride = 64;
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    std::string_view View(std::size_t from, std::size_t to) const {
        return std::string_view(text_).substr(from, to - from);
    }

    // The end of the line that starts at `start`, and the start of the next.
    std::pair<std::size_t, std::size_t> Next(std::size_t start) const {
        const std::size_t stop = text_.find_first_of("\r\n", start);
        if (stop == std::string::npos) return {text_.size(), text_.size()};
        std::size_t next = stop + 1;
        if (text_[stop] == '\r' && next < text_.size() && text_[next] == '\n') ++next;
        return {stop, next};
    }

    // The start of the line before the one that starts at `start`.
    std::size_t PreviousStart(std::size_t start) const {
        // The line end before `start`: LF, CR LF or CR.
        std::size_t end = start - 1;
        if (text_[end] == '\n' && end > first_ && text_[end - 1] == '\r') --end;
        std::size_t from = end;
        while (from > first_ && text_[from - 1] != '\n' && text_[from - 1] != '\r') --from;
        return from;
    }

    std::string text_;
    std::size_t first_ = 0;  // after a byte-order mark
    std::size_t count_ = 0;
    std::vector<std::size_t> marks_;   // start of every kStride-th line
    std::vector<std::size_t> starts_;  // lines given one by one: every start, and the end
    // The line read last: its number, start, end and the start of the next.
    mutable std::size_t cached_ = kNone, cachedStart_ = 0, cachedEnd_ = 0, cachedNext_ = 0;
};

}  // namespace qrv
