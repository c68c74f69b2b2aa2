// A host that registers the bus controls the plain way (no yield hook, as an outside program
// does) and runs one task: logs in to 127.0.0.1 on the port given, opens a session, runs the
// task named, closes. Exit status 0 when the task succeeded, 1 when it failed, 2 on bad use.
//
//   k8bus_plain_host PORT TASK
#include "Controls.h"

#include "automation/ClassRegistry.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using zs::automation::Dispatchable;
using zs::automation::InvokeKind;
using zs::automation::Variant;

Variant call(Dispatchable& o, int id, InvokeKind kind, std::vector<Variant> args = {})
{
    return o.dispatchTable().invoke(o, id, kind, args).value;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    zs::automation::ClassRegistry registry;
    zs::k8bus::registerClasses(registry);
    auto system = registry.create(zs::k8bus::kSystemProgId);
    auto session = registry.create(zs::k8bus::kSessionProgId);
    if (!system || !session)
        return 2;
    call(*system, 5, InvokeKind::Put, {Variant("127.0.0.1")});
    call(*system, 6, InvokeKind::Put, {Variant(static_cast<std::int32_t>(std::atoi(argv[1])))});
    call(*system, 11, InvokeKind::Method);
    call(*session, 15, InvokeKind::Put, {call(*system, 1, InvokeKind::Get)});
    call(*session, 21, InvokeKind::Method);
    call(*session, 3, InvokeKind::Put, {Variant("A=1")});
    call(*session, 16, InvokeKind::Put, {Variant(argv[2])});
    const bool ok = call(*session, 22, InvokeKind::Method).toBool();
    call(*session, 20, InvokeKind::Method);
    call(*system, 10, InvokeKind::Method);
    return ok ? 0 : 1;
}
