#pragma once
// The daemon's side of well-behaved calls whose replies name the task they answer (WHO=<task>),
// so that a reply handed to the wrong request shows.

#include "DaemonDouble.h"

#include <string>
#include <utility>

namespace zs::k8bus::test {

/// The task name of an execute request (its third parameter).
inline std::string taskOf(const k8test::Request& r)
{
    return r.params.size() > 2 ? r.params[2] : std::string();
}

inline k8test::Reply answerFor(const std::string& task)
{
    return std::move(k8test::Reply(0).info(1, 0, 4).num(0).num(0).num(0).list({{"WHO", task}}));
}

/// Answers every request on the connection well (execute: WHO=<task>) until the client leaves.
inline void serveWell(k8test::DaemonConnection& c)
{
    while (auto r = c.next(8000)) {
        if (r->type == 0)
            c.send(k8test::Reply(2).info(1, 0, 4));
        else if (r->type == 1)
            c.send(answerFor(taskOf(*r)));
        else
            c.send(k8test::Reply(1).info(1, 0, 4).num(0));
    }
}

} // namespace zs::k8bus::test
