#pragma once
// The syslog collector connection over Winsock: a non-blocking TCP socket,
// so every wait is a bounded select() and the sending thread can stop.

#include <memory>

#include "syslog/forwarder.h"

namespace tarnwick {

std::unique_ptr<SyslogConnection> make_windows_syslog_connection();

// The computer's DNS name, else its NetBIOS name, else "-".
std::string windows_syslog_hostname();

}  // namespace tarnwick
