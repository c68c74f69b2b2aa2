// A host that registers the bus controls the plain way (no yield hook, as an outside program
// does) and runs one task: logs in to 127.0.0.1 on the port given, opens a session, runs the
// task named, closes. Exit status 0 when the task succeeded, 1 when it failed, 2 on bad use.
//
//   k8bus_plain_host PORT TASK
#include "ProgramControls.h"

#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    zs::k8bus::test::ProgramControls controls(std::atoi(argv[1]), false);
    controls.open();
    return controls.exec(argv[2]).first ? 0 : 1;
}
