#include "main/commands.h"

#include <cstdio>

#include "fileio/fileio.h"

namespace tarnwick {

namespace {

void line(std::ostream& stream, const std::string& text) {
  const std::string with_newline = text + "\n";
  stream.write(with_newline.data(), static_cast<std::streamsize>(with_newline.size()));
  stream.flush();
}

const std::string kOpenScmFailed = "OpenSCManager failed \u2014 run this elevated (Administrator).";

void install(CommandEnv& env) {
  const ExecutablePath exe = env.scm.own_path();
  if (!exe.path) {
    line(env.err, "Cannot find own path: " +
                      os_error(exe.error_text, static_cast<uint32_t>(exe.error_code)));
    return;
  }
  const std::string command_line = service_command_line(path_to_utf8(*exe.path));
  if (!env.scm.open_manager()) {
    line(env.err, kOpenScmFailed);
    return;
  }
  if (auto code = env.scm.create_service(kServiceName, kServiceDisplayName, command_line)) {
    line(env.err, "CreateService failed: " + create_service_error(env.scm.error_message(*code), *code) +
                      ". (Already installed? Run uninstall first.)");
    return;
  }
  // Before the start, so that the service's first events have their text.
  env.scm.add_event_source(*exe.path);
  env.scm.start_service();
  line(env.out, "Installed and started service '" + std::string(kServiceName) +
                    "'. It will start at boot.");
}

void uninstall(CommandEnv& env) {
  if (!env.scm.open_manager()) {
    line(env.err, kOpenScmFailed);
    return;
  }
  if (auto code = env.scm.open_service(kServiceName)) {
    if (*code == kErrorServiceDoesNotExist) {
      env.scm.remove_event_source();
      line(env.err, "Service '" + std::string(kServiceName) + "' is not installed.");
    } else {
      line(env.err, "OpenService failed.");
    }
    return;
  }
  env.scm.stop_service();
  if (env.scm.delete_service()) {
    env.scm.remove_event_source();
    line(env.out, "Service '" + std::string(kServiceName) + "' removed.");
  } else {
    line(env.err, "DeleteService failed.");
  }
}

}  // namespace

std::string win32_code_as_hresult(uint32_t code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", 0x80070000u | (code & 0xFFFFu));
  return buf;
}

std::string create_service_error(std::string_view message, uint32_t code) {
  if (message.empty()) return win32_code_as_hresult(code);
  return std::string(message) + " (" + win32_code_as_hresult(code) + ")";
}

std::string os_error(std::string_view message, uint32_t code) {
  return std::string(message) + " (os error " + std::to_string(code) + ")";
}

std::string service_command_line(std::string_view exe) {
  return "\"" + std::string(exe) + "\" service";
}

int run_command(std::string_view word, CommandEnv& env) {
  if (word == "status") {
    if (env.show_status) env.show_status(!env.arguments.empty() && env.arguments.front() == "--json");
  } else if (word == "install") {
    install(env);
  } else if (word == "uninstall") {
    uninstall(env);
  } else if (word == "toast") {
    // Started in a person's session by the service, or typed to try toasts.
    if (env.arguments.size() != 2) {
      line(env.err, "Usage: tarnwick toast HEADING BODY");
      return 1;
    }
    return env.show_toast && env.show_toast(env.arguments[0], env.arguments[1]) ? 0 : 1;
  } else if (word == "service") {
    if (!env.dispatch_service()) {
      line(env.err, "Not started by the SCM. Use 'tarnwick run' for foreground mode.");
    }
  } else {
    env.run_foreground();
  }
  return 0;
}

}  // namespace tarnwick
