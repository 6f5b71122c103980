#pragma once

// Plain value types for points, sizes and rectangles in points, as window frames, display
// frames and stored window positions use them, plus the rectangle text form kept in preferences
// and diagnostics. No coordinate system is implied: callers know whether y grows up or down.

#include <string>
#include <string_view>

namespace tovalo {

struct Point {
    double x = 0;
    double y = 0;

    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0;
    double height = 0;

    friend bool operator==(const Size&, const Size&) = default;
};

// A rectangle with its origin at the minimum corner. Sizes are taken as given, never normalised:
// a rect whose width or height is not positive is empty, contains nothing and overlaps nothing.
struct Rect {
    Point origin;
    Size size;

    Rect() = default;
    Rect(Point o, Size s) : origin(o), size(s) {}
    Rect(double x, double y, double width, double height) : origin{x, y}, size{width, height} {}

    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    double midX() const { return origin.x + size.width / 2; }
    double midY() const { return origin.y + size.height / 2; }
    double width() const { return size.width; }
    double height() const { return size.height; }

    bool isEmpty() const { return !(size.width > 0) || !(size.height > 0); }

    // Half-open: the min edges belong to the rect, the max edges do not, so a point on the
    // border shared by two adjacent rects belongs to exactly one of them.
    bool contains(Point p) const;
    // True when `other` lies wholly inside (edges may touch); false if either rect is empty.
    bool contains(const Rect& other) const;

    Rect offsetBy(double dx, double dy) const;
    // Moves every edge inwards (outwards for negative amounts); insetting past the middle
    // leaves nothing and gives the zero rect.
    Rect insetBy(double dx, double dy) const;
    // The smallest rect holding both; an empty operand is ignored, two give the zero rect.
    Rect unionWith(const Rect& other) const;

    friend bool operator==(const Rect&, const Rect&) = default;
};

// The overlapping part of two rects; the zero rect Rect{} when they share no area (rects that
// only touch along an edge or at a corner do not overlap).
Rect intersection(const Rect& a, const Rect& b);
// True when the rects share some area; touching edges do not count.
bool intersects(const Rect& a, const Rect& b);

// The rectangle text form "{{x, y}, {w, h}}", e.g. "{{10.5, -20}, {800, 600}}". Each number is
// the shortest text that reads back to the same double, so rectFromString(rectToString(r)) == r
// for every finite rect; negative zero is written as "0".
std::string rectToString(const Rect& rect);
// Reads the form above, allowing any whitespace between tokens. Anything unreadable (empty
// text, a missing or non-finite number, extra text) gives the zero rect, as preference readers
// expect. Negative sizes are kept; the caller decides what they mean.
Rect rectFromString(std::string_view text);

}  // namespace tovalo
