#pragma once
// How the windows show the settings and give them back: a settings value read from the file
// goes into the cube window, the options dialog and the main window; a save collects the cube
// window's OLAP fields and cube list. The shell and zs-extract connect their settings store to
// their windows through it; the store itself knows no window.

#include "program/Settings.h"

namespace zs::xml {
class Element;
}

namespace zs::program {
class CubeWindow;
class MainWindow;
class OptionsDialog;
class SettingsStore;
class YieldHook;
} // namespace zs::program

namespace zs::dialogs {

struct SettingsWindows {
    program::CubeWindow* cubes = nullptr;
    program::OptionsDialog* options = nullptr;
    program::MainWindow* main = nullptr;
    program::YieldHook* yield = nullptr;

    /// Shows a value read from the file: the cube window's OLAP server, its database (whose cubes
    /// it lists anew) and the stored choices of the cubes it lists; the Bus & Task log-in; with
    /// `startup`, the start-with-the-desktop entry as the field says.
    void apply(const program::Settings& value, bool startup) const;
    /// The cube window's settings for a save into `root`; nothing without a cube window. With
    /// `live`, an OLAP server or database other than the one `root` holds lists the cubes anew
    /// first (every choice back to the full one), and pending window events run.
    std::optional<program::CubeSettings> collect(const xml::Element& root, bool live) const;
    /// Makes `store` show what it reads through these windows and save what they hold.
    void connect(program::SettingsStore& store) const;
};

} // namespace zs::dialogs
