#include "Profile.h"

#include "ErrorLog.h"
#include "TraceLog.h"

#include "registry/IniFile.h"
#include "registry/UserRegistry.h"

#include <cstdlib>
#include <mutex>

namespace zs::k8bus {
namespace {

struct ProcessSettings {
    bool decided = false;
    bool keyFound = false;
    bool useProfileFile = false;
    bool useEnvironment = true;
    std::string profilePath;
};

std::mutex g_lock; // two threads making their first lookup at once decide only once
ProcessSettings g_settings;

std::string fullKeyName()
{
    return std::string("HKEY_CURRENT_USER\\") + kKorviBaseKey + "\\";
}

// -1 when the key or the value cannot be read (also when the value does not fit `size`).
int regQueryProfileValue(const std::string& section, const std::string& key, std::string& out, std::size_t size,
                         std::string* description)
{
    std::string keyPath = kKorviBaseKey;
    if (!section.empty())
        keyPath += "\\" + section;
    if (description)
        *description = "HKEY_CURRENT_USER\\" + keyPath + "\\" + key;
    const registry::UserRegistry hive;
    if (!hive.hasKey(keyPath))
        return -1;
    auto v = hive.value(keyPath, key);
    if (!v || v->size() + 1 > size) {
        out.clear();
        return -1;
    }
    out = *v;
    return static_cast<int>(out.size());
}

void setRegKey(ProcessSettings& s)
{
    const registry::UserRegistry hive;
    s.keyFound = hive.hasKey(kKorviBaseKey);
    const char* word = "using";
    if (!s.keyFound) {
        s.useProfileFile = true;
        s.useEnvironment = true;
        word = "NOT FOUND --";
    }
    std::string line = std::string("setRegKey: ") + word + " global registry key '" + fullKeyName() + "'\n";
    errorOutput(line.c_str()); // also traces it
    if (!s.keyFound)
        return;
    auto flag = [&](const char* name) {
        auto v = hive.value(kKorviBaseKey, name);
        bool on = !(v && !v->empty() && (v->front() == 'n' || v->front() == 'N'));
        if (!on) {
            std::string off = "setRegKey: " + fullKeyName() + name + "=" + *v + "\n";
            errorOutput(off.c_str());
        }
        return on;
    };
    s.useProfileFile = flag("UseGlobalIniFile");
    s.useEnvironment = flag("UseEnvironment");
}

ProcessSettings settings()
{
    std::lock_guard lock(g_lock);
    if (!g_settings.decided) {
        g_settings.decided = true;
        setRegKey(g_settings);
    }
    return g_settings;
}

} // namespace

std::string getDefaultIniPath()
{
    std::string path;
    {
        std::lock_guard lock(g_lock);
        if (g_settings.profilePath.empty()) {
            const char* win = std::getenv("WINDIR");
            std::string folder = (win && *win) ? win : "/etc";
            if (folder.back() != '/' && folder.back() != '\\')
                folder += '/';
            g_settings.profilePath = folder + "kor8.ini";
        }
        path = g_settings.profilePath;
    }
    std::string line = "getDefaultIniPath: '" + path + "'\n";
    errorOutput(line.c_str());
    return path;
}

int GetKorviProfileString(const char* section, const char* key, const char* def, std::string& out, std::size_t size)
{
    ProcessSettings s = settings();
    out.clear();
    std::string description;
    bool found = false;
    int length = 0;
    if (section && s.keyFound) {
        int r = regQueryProfileValue(section, key ? key : "", out, size, &description);
        if (r >= 0) {
            found = true;
            length = r;
        }
    }
    if (!found && s.useProfileFile && section && *section) {
        std::string path = getDefaultIniPath();
        description = path + " [" + section + "] " + (key ? key : "");
        auto v = registry::IniFile::load(path).value(section, key ? key : "");
        if (v && !v->empty()) {
            out = v->substr(0, size > 0 ? size - 1 : 0);
            found = !out.empty();
            length = static_cast<int>(out.size());
        }
    }
    if (!found) {
        out = def ? def : "";
        length = 0;
    }
    if (logIsOn()) {
        std::string line =
            "GetKorviProfileString: " + description + " = '" + out + "'" + (found ? "" : " -- not found") + "\n";
        logWrite(line);
    }
    return length;
}

std::optional<std::string> getprofile(const char* name)
{
    ProcessSettings s = settings();
    if (s.useEnvironment) {
        const char* v = std::getenv(name);
        if (v && *v)
            return std::string(v);
    }
    std::string buffer;
    if (GetKorviProfileString("Environment", name, "", buffer, 256) > 0)
        return buffer;
    return std::nullopt;
}

void profileResetForTests()
{
    std::lock_guard lock(g_lock);
    g_settings = ProcessSettings{};
}

} // namespace zs::k8bus
