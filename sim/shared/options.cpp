#include "options.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "korvan_framework_lib.h"
#include "sim_script.h"

namespace kvn_sim {

std::string usage_text() {
    return "usage: korvan-sim [--script FILE] [--shots DIR] [--trace FILE] [--time-divisor N] "
           "[--quiet]\n"
           "                  [--app NAME=PATH]... [--window | --no-window] [--record FILE]\n"
           "                  [--web [ADDRESS:]PORT] [--stored-shots DIR] [--update-shots]\n"
           "       korvan-sim --help | --version\n"
           "  Without --script, commands are read from standard input, one a line.  With a\n"
           "  display and no script, the player is shown live in a window (--window) whose\n"
           "  keyboard is the remote; --record FILE writes the keys pressed there as a script.\n"
           "  --web serves the same as a web page (on 127.0.0.1 unless ADDRESS is given).\n"
           "  --app runs the shared object PATH (see korvan_sim_app.h) as the application NAME.\n"
           "  expect-shot compares the screen with a picture in --stored-shots (default: for\n"
           "  the script DIR/NAME.kvs, DIR/NAME); --update-shots stores the screen instead.\n";
}

bool parse_options(const std::vector<std::string> &args, Options &o, bool &help,
                   std::string &error) {
    help = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto value = [&](std::string &out) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = a + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--script") {
            if (!value(o.script)) return false;
        } else if (a == "--shots") {
            if (!value(o.shots)) return false;
        } else if (a == "--stored-shots") {
            if (!value(o.stored_shots)) return false;
        } else if (a == "--update-shots") {
            o.update_shots = true;
        } else if (a == "--trace") {
            if (!value(o.trace)) return false;
        } else if (a == "--record") {
            if (!value(o.record)) return false;
        } else if (a == "--time-divisor") {
            if (!value(v)) return false;
            char *end = nullptr;
            unsigned long n = strtoul(v.c_str(), &end, 10);
            if (*end != '\0' || v[0] == '-' || n < 1 || n > 1000) {
                error = "--time-divisor needs a number from 1 to 1000";
                return false;
            }
            o.divisor = static_cast<unsigned>(n);
        } else if (a == "--app") {
            if (!value(v)) return false;
            size_t eq = v.find('=');
            AppOption app;
            app.window_id = eq == std::string::npos ? -1 : app_from_name(v.substr(0, eq));
            if (app.window_id < 0 || eq + 1 >= v.size()) {
                error =
                    "--app needs NAME=PATH with NAME one of window_id_str (BROWSER, PHOTO_PLAYER, "
                    "...): \"" +
                    v + "\"";
                return false;
            }
            app.path = v.substr(eq + 1);
            for (const AppOption &other : o.apps)
                if (other.window_id == app.window_id) {
                    error = "--app " + v.substr(0, eq) + " is given twice";
                    return false;
                }
            o.apps.push_back(app);
        } else if (a == "--web") {
            std::string address;
            int port = 0;
            if (!value(o.web)) return false;
            if (!parse_web_address(o.web, address, port)) {
                error =
                    "--web needs [ADDRESS:]PORT, an IPv4 address and a port from 0 to 65535: \"" +
                    o.web + "\"";
                return false;
            }
        } else if (a == "--window") {
            o.window = Options::Window::On;
        } else if (a == "--no-window") {
            o.window = Options::Window::Off;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--version") {
            o.version = true;
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    if (!o.record.empty() && o.window == Options::Window::Off && o.web.empty()) {
        error = "--record writes the keys pressed in the live window: it needs --window or --web";
        return false;
    }
    // Faster menus and countdowns would close before a person at the window
    // can answer them; the recorded script replays at any divisor.
    if (!o.record.empty() && o.divisor != 1) {
        error =
            "--record runs the window at the player's own timing: leave out --time-divisor "
            "(the recorded script replays with it)";
        return false;
    }
    return true;
}

bool parse_web_address(const std::string &text, std::string &address, int &port) {
    size_t colon = text.rfind(':');
    std::string digits = colon == std::string::npos ? text : text.substr(colon + 1);
    address = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
    if (address == "localhost") address = "127.0.0.1";
    struct in_addr parsed;
    char *end = nullptr;
    long number = strtol(digits.c_str(), &end, 10);
    if (digits.empty() || digits.size() > 5 || *end != '\0' ||
        !isdigit(static_cast<unsigned char>(digits[0])) || number > 65535 ||
        inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        return false;
    port = static_cast<int>(number);
    return true;
}

std::string stored_shots_folder(const Options &o) {
    if (!o.stored_shots.empty()) return absolute_path(o.stored_shots);
    if (o.script.empty()) return {};
    std::string script = absolute_path(o.script);
    size_t slash = script.rfind('/');
    if (script.size() > slash + 5 && script.compare(script.size() - 4, 4, ".kvs") == 0)
        return script.substr(0, script.size() - 4);
    return script + ".shots";
}

std::string absolute_path(const std::string &path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return path;
    std::string base = cwd;
    if (path == ".") return base;
    return (base == "/" ? "" : base) + "/" +
           (path.compare(0, 2, "./") == 0 ? path.substr(2) : path);
}

std::string folder_of(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool lies_in(const std::string &dir, const std::string &tree) {
    return dir == tree || tree == "/" || dir.compare(0, tree.size() + 1, tree + "/") == 0;
}

std::vector<std::string> to_arguments(const Options &o) {
    std::vector<std::string> args;
    auto add = [&](const char *name, const std::string &value) {
        if (value.empty()) return;
        args.push_back(name);
        args.push_back(absolute_path(value));
    };
    add("--script", o.script);
    add("--shots", o.shots);
    add("--trace", o.trace);
    add("--record", o.record);
    add("--stored-shots", o.stored_shots);
    if (o.update_shots) args.push_back("--update-shots");
    if (!o.web.empty()) args.insert(args.end(), {"--web", o.web});
    for (const AppOption &app : o.apps) {
        args.push_back("--app");
        args.push_back(std::string(window_id_str[app.window_id]) + "=" + absolute_path(app.path));
    }
    if (o.divisor != 1) {
        args.push_back("--time-divisor");
        args.push_back(std::to_string(o.divisor));
    }
    if (o.quiet) args.push_back("--quiet");
    if (o.window == Options::Window::On) args.push_back("--window");
    if (o.window == Options::Window::Off) args.push_back("--no-window");
    return args;
}

}  // namespace kvn_sim
