#include "dialogs/core/OpzioniLayout.h"

#include "engine/EngineStrings.h"

#include <cmath>
#include <filesystem>

namespace zs::dialogs {

std::string windowLayoutTag(double width, double height)
{
    return program::windowTag(std::lround(width), std::lround(height));
}

std::string controlLayoutTag(const std::string& tag, const Geometry& g)
{
    return program::appendGeometry(tag, std::lround(g.left), std::lround(g.top), std::lround(g.width),
                                   std::lround(g.height));
}

std::optional<Geometry> applyLayout(const std::string& controlTag, const std::string& windowTag, double currentWidth,
                                    double currentHeight, const Geometry& current)
{
    return program::layoutControl(windowTag, controlTag, current, currentWidth, currentHeight);
}

std::string settingsFileName(const std::string& chosenPath, const std::string& programFolder)
{
    namespace stdfs = std::filesystem;
    const stdfs::path chosen(chosenPath);
    auto norm = [](const stdfs::path& p) {
        std::string s = p.lexically_normal().generic_string();
        while (s.size() > 1 && s.back() == '/')
            s.pop_back();
        return engine::lower(s);
    };
    if (!programFolder.empty() && norm(chosen.parent_path()) == norm(stdfs::path(programFolder)))
        return chosen.filename().string();
    return chosenPath;
}

} // namespace zs::dialogs
