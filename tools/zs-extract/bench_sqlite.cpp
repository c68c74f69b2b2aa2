// zs-bench-sqlite <database> <sql>: runs one SQL text straight through libsqlite3 and prints
// the seconds it took, the baseline the extraction benchmark compares the engine against.

#include <sqlite3.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "uso: zs-bench-sqlite <database> <sql>\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", db ? sqlite3_errmsg(db) : "open failed");
        sqlite3_close(db);
        return 1;
    }
    char* error = nullptr;
    const int rc = sqlite3_exec(db, argv[2], nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", error ? error : "exec failed");
        sqlite3_free(error);
    }
    sqlite3_close(db);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.6f\n", s);
    return rc == SQLITE_OK ? 0 : 1;
}
