#pragma once

namespace varnu {

// Screen geometry in points, y counting upwards from the bottom of the main screen.
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

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double minY() const { return y; }
    double midX() const { return x + width / 2; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }

    friend bool operator==(const Rect&, const Rect&) = default;
};

// Whether the mouse location lies in the rectangle, with y counting upwards: the left and top
// edges belong to it, the right and bottom edges do not, so that a point on the line between
// two screens belongs to exactly one of them.
inline bool mouseInRect(Point point, const Rect& rect) {
    return point.x >= rect.minX() && point.x < rect.maxX() && point.y > rect.minY() &&
           point.y <= rect.maxY();
}

} // namespace varnu
