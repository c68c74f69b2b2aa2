// libFuzzer target: any bytes as an XML data file for the streaming reader, read in small
// pieces so every token can fall on a piece's edge. It must end in EndOfDocument or Error.

#include "engine/XmlPullReader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const int fd = memfd_create("xml", 0);
    if (fd < 0)
        return 0;
    if (write(fd, data, size) == static_cast<ssize_t>(size)) {
        zs::engine::XmlPullReader reader(64);
        if (reader.open("/proc/self/fd/" + std::to_string(fd))) {
            for (;;) {
                const auto e = reader.next();
                if (e == zs::engine::XmlPullReader::Event::EndOfDocument ||
                    e == zs::engine::XmlPullReader::Event::Error)
                    break;
            }
        }
    }
    close(fd);
    return 0;
}
