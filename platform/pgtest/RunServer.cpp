// zs_pgtest_server: starts (`start FILE`) or stops (`stop FILE`) the PostgreSQL server a whole
// test run shares. CTest runs it as the setup and cleanup of the `zs_pg` fixture; a server
// whose cleanup never comes stops when CTest ends.

#include "pgtest/PgServer.h"

#include <filesystem>
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
    if (std::string_view(argv[1]) == "stop") {
        if (zs::pgtest::stopRunServer(argv[2], error))
            return 0;
        std::cerr << error << "\n";
        return 1;
    }
    // A server that cannot start must not keep the run's other tests from running: without the
    // server file each PostgreSQL test tries a server of its own and reports why it failed.
    std::error_code ec;
    std::filesystem::remove(argv[2], ec);
    if (!zs::pgtest::startRunServer(argv[2], static_cast<int>(::getppid()), error))
        std::cerr << "no shared PostgreSQL server for this run: " << error << "\n";
    return 0;
}
