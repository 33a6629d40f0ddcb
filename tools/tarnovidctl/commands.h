#pragma once
// The four commands, through the C library (tarnovid.h) on the link the window uses, with the
// window's match settings, framing and read time-out. Results go to one stream, each error as one
// line to the other; the exit code says what happened.

#include "command_line.h"

#include <QStringList>
#include <QTextStream>
#include <functional>

namespace tarnovid::ctl {

struct Environment {
    QTextStream& out; // results only
    QTextStream& err; // errors, one line each
    // A watch calls the first as it starts and then ends at its next chance once the second
    // says Ctrl+C was pressed.
    std::function<void()> catchInterrupts;
    std::function<bool()> interrupted;
};

// The whole program after its start: arguments[0] is the program.
int runCommandLine(const QStringList& arguments, const Environment& env);

int runInvocation(const Invocation& run, const Environment& env);

} // namespace tarnovid::ctl
