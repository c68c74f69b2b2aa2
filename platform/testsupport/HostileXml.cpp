#include "testsupport/HostileXml.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zs::test {

namespace {

std::string utf16le(std::string_view ascii)
{
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

} // namespace

std::vector<HostileXml> hostileXmlFiles(std::string_view rootName, std::string_view body)
{
    const std::string root(rootName);
    const std::string open = "<" + root + ">";
    const std::string close = "</" + root + ">";
    const std::string valid = "<?xml version=\"1.0\"?>" + open + std::string(body) + close;

    std::vector<HostileXml> files;

    std::string deep = open + std::string(body);
    deep.reserve(deep.size() + static_cast<std::size_t>(kHostileDepth) * 7 + close.size());
    for (int i = 0; i < kHostileDepth; ++i)
        deep += "<a>";
    deep += "x";
    for (int i = 0; i < kHostileDepth; ++i)
        deep += "</a>";
    files.push_back({"deep", deep + close});

    // Unclosed deep nesting: the parser must give up, not the stack.
    std::string unclosed = open;
    for (int i = 0; i < kHostileDepth; ++i)
        unclosed += "<b x=\"1\">";
    files.push_back({"deep_unclosed", unclosed});

    std::string huge = open + std::string(body) + "<testo>";
    huge.append(kHostileTextBytes, 'A');
    files.push_back({"huge", huge + "</testo>" + close});

    std::string nul = valid;
    nul.insert(valid.size() / 2, 1, '\0');
    files.push_back({"nul", nul});

    files.push_back({"truncated", valid.substr(0, valid.size() / 2)});
    files.push_back({"utf16", utf16le(valid)});
    files.push_back({"latin1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + open + "<nota>citt\xE0</nota>" +
                                   std::string(body) + close});
    files.push_back({"bad_utf8", open + "\xC3\x28\xFF\xFE" + std::string(body) + close});
    files.push_back({"empty", ""});
    files.push_back({"not_xml", "\x7F"
                                "ELF\x02\x01\x01 {[(<<<&&&;;]]]}"});
    return files;
}

} // namespace zs::test

namespace zs::test {

std::vector<std::string> hostileNonRegularKinds()
{
    return {"fifo", "directory", "dev_zero", "oversized"};
}

void plantNonRegular(const std::string& kind, const std::filesystem::path& file)
{
    std::error_code ec;
    std::filesystem::remove_all(file, ec);
    if (kind == "fifo") {
        (void)::mkfifo(file.c_str(), 0600);
    } else if (kind == "directory") {
        std::filesystem::create_directories(file);
    } else if (kind == "dev_zero") {
        std::filesystem::create_symlink("/dev/zero", file);
    } else if (kind == "oversized") {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            (void)::ftruncate(fd, kHostileOversizedBytes);
            ::close(fd);
        }
    }
}

std::string describeEntry(const std::filesystem::path& file)
{
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0)
        return "nothing";
    std::error_code ec;
    if (S_ISLNK(st.st_mode))
        return "link to " + std::filesystem::read_symlink(file, ec).string();
    if (S_ISFIFO(st.st_mode))
        return "fifo";
    if (S_ISDIR(st.st_mode))
        return "directory";
    return "file of " + std::to_string(st.st_size) + " bytes, mode " + std::to_string(st.st_mode & 0777);
}

long long childrenPeakMemory()
{
    struct rusage ru {};
    ::getrusage(RUSAGE_CHILDREN, &ru);
    return static_cast<long long>(ru.ru_maxrss) * 1024;
}

} // namespace zs::test
