#pragma once

#include <QString>

#include <functional>

// One line to the system log (syslog(3), identity "leafhaul"), for the
// diagnostic lines that are not meant for standard output.
void systemLog(const QString &line);

// Tests watch the lines through an observer; it is called for every line
// after it has been logged. Pass an empty function to remove it.
void setSystemLogObserver(std::function<void(const QString &)> observer);
