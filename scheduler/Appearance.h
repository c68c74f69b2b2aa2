#pragma once
// The scheduler control's appearance properties, their defaults and their persistence in the
// container's property bag. The Qt layer hands the values on to its child widgets.

#include "automation/Variant.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zs::automation {
class PropertyBag;
}

namespace zs::cadenzo {

/// A font as hosts pass it by reference through the Font property.
class FontObject : public automation::AutomationObject {
  public:
    std::string name = "MS Sans Serif";
    double size = 8.25;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikethrough = false;
};

inline constexpr std::uint32_t kButtonFace = 0x8000000F;
inline constexpr std::uint32_t kWindowBackground = 0x80000005;
inline constexpr std::uint32_t kButtonText = 0x80000012;

struct AppearanceProps {
    std::int16_t appearance = 1;
    std::uint32_t backColor = kButtonFace;
    bool enabled = true;
    // Stored files used black as the "leave out" value but read the window background back;
    // one default for both sides makes a saved form come back as it was.
    std::uint32_t fillColor = kWindowBackground;
    std::shared_ptr<FontObject> font; ///< shared with the host that set it by reference
    std::uint32_t foreColor = kButtonText;
    automation::Variant style{std::int16_t{0}};
};

/// Reads every property (missing ones take their default). `ambientFont` stands for a font
/// left out of the bag.
AppearanceProps readAppearance(const automation::PropertyBag& bag, std::shared_ptr<FontObject> ambientFont);
/// Writes every property, leaving out those equal to their default.
void writeAppearance(automation::PropertyBag& bag, const AppearanceProps& props,
                     const std::shared_ptr<FontObject>& ambientFont);

} // namespace zs::cadenzo
