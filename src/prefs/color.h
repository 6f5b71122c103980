#pragma once

// A colour as the interface describes it: RGB components 0..1 with an opacity, in the sRGB or
// the calibrated (device-independent generic) RGB space, or the system's secondary label colour,
// which only the backend can resolve (it follows the desktop's own text colours). A plain value;
// the backend converts it to its toolkit's colour.

namespace tovalo {

struct Color {
    enum class Kind {
        sRGB,
        calibratedRGB,
        // Resolved by the backend; the components are unused, the opacity still applies.
        systemSecondaryLabel,
    };

    Kind kind = Kind::sRGB;
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double opacity = 1.0;

    static constexpr Color sRGB(double r, double g, double b, double opacity = 1.0) {
        return Color{Kind::sRGB, r, g, b, opacity};
    }
    // Components given over 255, as design tables write them.
    static constexpr Color sRGB255(double r, double g, double b, double opacity = 1.0) {
        return sRGB(r / 255.0, g / 255.0, b / 255.0, opacity);
    }
    static constexpr Color calibratedRGB(double r, double g, double b, double opacity = 1.0) {
        return Color{Kind::calibratedRGB, r, g, b, opacity};
    }
    static constexpr Color black(double opacity = 1.0) { return sRGB(0.0, 0.0, 0.0, opacity); }
    static constexpr Color white(double opacity = 1.0) { return sRGB(1.0, 1.0, 1.0, opacity); }
    static constexpr Color systemSecondaryLabel() {
        return Color{Kind::systemSecondaryLabel, 0.0, 0.0, 0.0, 1.0};
    }

    // The same colour with its opacity multiplied by `factor` (an opaque colour "at opacity
    // 0.25" is `multiplyingOpacity(0.25)`).
    constexpr Color multiplyingOpacity(double factor) const {
        Color result = *this;
        result.opacity *= factor;
        return result;
    }

    constexpr bool isSemantic() const { return kind == Kind::systemSecondaryLabel; }

    friend constexpr bool operator==(const Color&, const Color&) = default;
};

}  // namespace tovalo
