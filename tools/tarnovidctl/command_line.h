#pragma once
// The command line: which command, its value and options, or the one-line reason it was not
// understood. Also the --help and --version texts.

#include "input_format.h"

#include <QString>
#include <QStringList>
#include <cstdint>

namespace tarnovid::ctl {

enum class Command { List, Set, Get, Watch, Help, Version };

inline constexpr int kDefaultIntervalMs = 100;

struct Invocation {
    Command command = Command::Help;
    std::uint8_t outputs = 0;            // set
    int intervalMs = kDefaultIntervalMs; // watch
    qint64 count = 0;                    // watch: lines to print; 0 until Ctrl+C
    bool changesOnly = false;            // watch
    Style style = Style::Plain;
    bool all = false; // list
    QString board;    // empty: the first matching board by path, as the window takes
};

struct ParsedCommandLine {
    Invocation invocation;
    QString error; // a usage error when not empty
};

// arguments[0] is the program, as in QCoreApplication::arguments().
ParsedCommandLine parseCommandLine(const QStringList& arguments);

QString helpText();
QString versionText();

} // namespace tarnovid::ctl
