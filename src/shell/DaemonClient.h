// DaemonClient: what kestrix config asks a running kestrix run, over the daemon's HTTP API
// (GET and POST /api/settings, with its token). It connects to loopback addresses only and
// every wait is bounded: a daemon that does not answer within the bound is reported so,
// never waited for. Any thread; nothing is kept between calls. (Implemented beside the
// server in HttpServer.cpp, the one place that compiles the HTTP library.)
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "shell/DaemonRecord.h"

namespace kestrix::shell {

struct DaemonReply {
    enum class Kind {
        Done,      // settings filled for a read
        Refused,   // the daemon refused the value: message says why
        Failed,    // the daemon answered with another error: message
        NoAnswer,  // no answer as that daemon (no connection, time-out, wrong token, garbage)
    };
    Kind kind = Kind::NoAnswer;
    std::string message;
    std::vector<std::pair<std::string, std::string>> settings;  // name, value as config list prints them
};

DaemonReply ReadDaemonSettings(const DaemonRecord& daemon);
DaemonReply ChangeDaemonSetting(const DaemonRecord& daemon, const std::string& name, const std::string& value);

}  // namespace kestrix::shell
