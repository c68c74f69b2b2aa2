// zs_pgtest_server: starts (`start FILE`) or stops (`stop FILE`) the PostgreSQL server a whole
// test run shares. CTest runs it as the setup and cleanup of the `zs_pg` fixture; a server
// whose cleanup never comes stops when CTest ends.

#include "pgtest/PgServer.h"

#include <iostream>
#include <string_view>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 3 || (std::string_view(argv[1]) != "start" && std::string_view(argv[1]) != "stop")) {
        std::cerr << "usage: zs_pgtest_server start|stop SERVER-FILE\n";
        return 2;
    }
    std::string error;
    const bool ok = std::string_view(argv[1]) == "start"
                        ? zs::pgtest::startRunServer(argv[2], static_cast<int>(::getppid()), error)
                        : zs::pgtest::stopRunServer(argv[2], error);
    if (!ok) {
        std::cerr << error << "\n";
        return 1;
    }
    return 0;
}
