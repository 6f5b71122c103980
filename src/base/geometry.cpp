#include "base/geometry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <system_error>

namespace tovalo {

bool Rect::contains(Point p) const {
    return !isEmpty() && p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
}

bool Rect::contains(const Rect& other) const {
    return !isEmpty() && !other.isEmpty() && other.minX() >= minX() && other.maxX() <= maxX() &&
           other.minY() >= minY() && other.maxY() <= maxY();
}

Rect Rect::offsetBy(double dx, double dy) const {
    return {origin.x + dx, origin.y + dy, width(), height()};
}

Rect Rect::insetBy(double dx, double dy) const {
    const double w = size.width - 2 * dx;
    const double h = size.height - 2 * dy;
    if (w < 0 || h < 0) {
        return {};
    }
    return {origin.x + dx, origin.y + dy, w, h};
}

Rect Rect::unionWith(const Rect& other) const {
    if (isEmpty()) {
        return other.isEmpty() ? Rect{} : other;
    }
    if (other.isEmpty()) {
        return *this;
    }
    const double x = std::min(minX(), other.minX());
    const double y = std::min(minY(), other.minY());
    return {x, y, std::max(maxX(), other.maxX()) - x, std::max(maxY(), other.maxY()) - y};
}

Rect intersection(const Rect& a, const Rect& b) {
    if (a.isEmpty() || b.isEmpty()) {
        return {};
    }
    const double x = std::max(a.minX(), b.minX());
    const double y = std::max(a.minY(), b.minY());
    const double right = std::min(a.maxX(), b.maxX());
    const double bottom = std::min(a.maxY(), b.maxY());
    if (!(right > x) || !(bottom > y)) {
        return {};
    }
    return {x, y, right - x, bottom - y};
}

bool intersects(const Rect& a, const Rect& b) {
    return !intersection(a, b).isEmpty();
}

namespace {

void appendNumber(std::string& out, double value) {
    if (value == 0) {
        out += '0';  // also for -0, which would otherwise print as "-0"
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// A cursor over the rectangle text; every read skips the whitespace before its token.
class RectReader {
  public:
    explicit RectReader(std::string_view text) : text_(text) {}

    bool expect(char c) {
        skipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    std::optional<double> number() {
        skipSpace();
        const char* begin = text_.data() + pos_;
        const char* end = text_.data() + text_.size();
        double value = 0;
        const auto result = std::from_chars(begin, end, value);
        // from_chars accepts "nan" and "inf"; neither is a usable coordinate.
        if (result.ec != std::errc{} || !std::isfinite(value)) {
            return std::nullopt;
        }
        pos_ += static_cast<std::size_t>(result.ptr - begin);
        return value;
    }

    bool atEnd() {
        skipSpace();
        return pos_ == text_.size();
    }

  private:
    void skipSpace() {
        while (pos_ < text_.size() && isSpace(text_[pos_])) {
            ++pos_;
        }
    }

    static bool isSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

// Reads "{a, b}".
std::optional<std::pair<double, double>> readPair(RectReader& reader) {
    if (!reader.expect('{')) {
        return std::nullopt;
    }
    const auto first = reader.number();
    if (!first || !reader.expect(',')) {
        return std::nullopt;
    }
    const auto second = reader.number();
    if (!second || !reader.expect('}')) {
        return std::nullopt;
    }
    return std::pair{*first, *second};
}

}  // namespace

std::string rectToString(const Rect& rect) {
    std::string out = "{{";
    appendNumber(out, rect.origin.x);
    out += ", ";
    appendNumber(out, rect.origin.y);
    out += "}, {";
    appendNumber(out, rect.size.width);
    out += ", ";
    appendNumber(out, rect.size.height);
    out += "}}";
    return out;
}

Rect rectFromString(std::string_view text) {
    RectReader reader(text);
    if (!reader.expect('{')) {
        return {};
    }
    const auto origin = readPair(reader);
    if (!origin || !reader.expect(',')) {
        return {};
    }
    const auto size = readPair(reader);
    if (!size || !reader.expect('}') || !reader.atEnd()) {
        return {};
    }
    return {origin->first, origin->second, size->first, size->second};
}

}  // namespace tovalo
