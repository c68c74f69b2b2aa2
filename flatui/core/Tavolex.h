#pragma once
// Identity of the flat control library: type library, class and interface identifiers and the
// public enumerations, as hosts name them. registerClasses() stands in for self-registration.

#include "flatui/core/Export.h"

#include <string_view>

namespace zs::automation {
class ClassRegistry;
}

namespace zs::flatui {

inline constexpr std::string_view kLibraryName = "Tavolex";
inline constexpr std::string_view kLibraryGuid = "{F861FA5E-F87B-4D74-B019-9899A28EBDB8}";
inline constexpr int kLibraryMajor = 1;
inline constexpr int kLibraryMinor = 0;
inline constexpr int kLibraryLocale = 0x409;

struct ClassIdentity {
    std::string_view name;
    std::string_view clsid;
    std::string_view defaultInterfaceId;
    std::string_view eventInterfaceId;
};

inline constexpr ClassIdentity kFlatButtonId{"FlatButton", "{3EBC333B-B16B-444D-BF8A-650E8AD1D9A0}",
                                             "{E55F4C0E-2C97-4E25-B01E-4C2F9E3B63A8}",
                                             "{D96799B3-95C6-4B4A-8D36-8CFC0B368940}"};
inline constexpr ClassIdentity kFlatGridControlId{"FlatGridControl", "{A648507A-8A8C-4B75-A9DF-1B9597D03040}",
                                                  "{C34A782D-EBB9-46B2-BC25-72A05859EAD2}",
                                                  "{90154BD6-AEE3-44CA-876F-DBCF2D2646B7}"};
inline constexpr ClassIdentity kFlatTabControlId{"FlatTabControl", "{EA7F6906-8032-4ACB-A4F8-47A09D92D791}",
                                                 "{8D1A2842-B337-446A-A1F5-BB0D410013CD}",
                                                 "{D49D685F-7E31-403A-8959-895002E3CADA}"};
inline constexpr ClassIdentity kMenuButtonControlId{"MenuButtonControl", "{3D40864E-7E76-446C-A552-B9CA001EE7B8}",
                                                    "{BF8AA227-D1DB-4164-9585-A3ED21D39062}",
                                                    "{F31EA315-7738-49D0-A9F0-D778C6FDD9C9}"};
inline constexpr ClassIdentity kSplashControlId{"SplashControl", "{45F6A1B7-3507-486A-A5BA-5F0215AA2356}",
                                                "{88354E92-2DB3-47B4-AD2D-2F57AD699287}",
                                                "{4ADE6CE6-9F46-463B-9DB0-4C2647092A7B}"};
inline constexpr ClassIdentity kToolTipControlId{"ToolTipControl", "{0BAD5C30-A787-4C05-9256-BE3733299484}",
                                                 "{F2ACCA39-04C9-4F4D-8A78-3546DF2940D4}",
                                                 "{DB882806-BB01-40E2-91CC-5046FE068288}"};

enum class RefreshMode { refreshNormal = 0, refreshMouseMove = 1, refreshClick = 2 };
enum class typeCellFormat {
    flbGeneral = 0,
    flbInteger = 1,
    flbString = 2,
    flbLongDate = 3,
    flbShortDate = 4,
    flbBoolean = 5,
    flbCustom = 6
};
enum class styleEnum { styleCombo = 0, styleMenu = 1 };
enum class stateEnum { statoNormale = 0, statoSelezionato = 1, statoDisabilitato = 2 };
enum class typeApparance { baloon = 0, roundedbox = 1 };

/// The standard events, numbered alike in every control that has them.
namespace ev {
inline constexpr int Click = 1;
inline constexpr int DblClick = 2;
inline constexpr int KeyDown = 3;
inline constexpr int KeyPress = 4;
inline constexpr int KeyUp = 5;
inline constexpr int MouseDown = 6;
inline constexpr int MouseMove = 7;
inline constexpr int MouseUp = 8;
} // namespace ev

/// Adds every class of the library under "Tavolex.<class>" and its CLSID.
TAVOLEX_EXPORT void registerClasses(automation::ClassRegistry& registry);

} // namespace zs::flatui
